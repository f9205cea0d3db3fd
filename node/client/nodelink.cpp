#include "node/client/nodelink.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QScopedValueRollback>
#include <QTcpSocket>

#include "core/clock.h"
#include "core/onairlog.h"
#include "ui/program.h"
#include "core/version.h"
#include "node/link/nodetoken.h"

namespace mirelva {

using namespace nodelink;

namespace {

// Qt keeps what the socket delivers in its own buffer; this caps it, so a
// node that floods us is read at our pace instead of filling memory.
constexpr qint64 kReadBufferBytes = 256 * 1024;

// Read from the socket per step: a whole line at most, so the lines waiting
// for their handlers stay few whatever the node sends.
constexpr qint64 kReadChunkBytes = kMaxLineBytes + 1;

// Lines handled in one go before the event loop gets a turn: a node that
// floods us must not starve the clock and the window.
constexpr int kLinesPerTurn = 200;

} // namespace

NodeLinkClient::NodeLinkClient(const NodeAddress &address, QObject *parent) : NodeBackend(parent), m_address(address)
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &NodeLinkClient::connectNow);
    // Held chat is told at the first turn after its second, even when the
    // node sends nothing more; through pump(), so never inside a handler.
    m_chatHeld.setSingleShot(true);
    m_chatHeld.setInterval(1000);
    connect(&m_chatHeld, &QTimer::timeout, this, [this] {
        // Started in an earlier second, it may come in the second that holds
        // lines now: those are told after theirs.
        if (Clock::nowMs() / 1000 == m_chatSecond) {
            m_chatHeld.start();
            return;
        }
        m_chatHeldDue = true;
        pumpLater();
    });
    m_connectTimeout.setSingleShot(true);
    connect(&m_connectTimeout, &QTimer::timeout, this, [this] {
        if (m_socket && !m_connected)
            onDown(m_socket, QStringLiteral("no answer in %1 ms").arg(m_connectTimeoutMs));
    });
    if (auto *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] { flush(); });
}

NodeLinkClient::~NodeLinkClient()
{
    flush();
    if (m_socket) {
        m_socket->disconnect(this);
        delete m_socket.data();
    }
}

void NodeLinkClient::setRetryPauses(int firstMs, int maxMs)
{
    m_firstPauseMs = std::max(1, firstMs);
    m_maxPauseMs = std::max(m_firstPauseMs, maxMs);
    m_pauseMs = m_firstPauseMs;
}

void NodeLinkClient::start()
{
    if (!m_socket && !m_retry.isActive())
        connectNow();
}

void NodeLinkClient::connectNow()
{
    if (m_socket)
        return;
    m_connected = false;
    m_reader.reset();
    ++m_connection;
    QIODevice *socket = nullptr;
    if (m_address.kind == NodeAddress::Unix) {
        auto *s = new QLocalSocket(this);
        s->setReadBufferSize(kReadBufferBytes);
        connect(s, &QLocalSocket::connected, this, [this, s] { onConnected(s); });
        connect(s, &QLocalSocket::disconnected, this, [this, s] { onDown(s, QStringLiteral("connection closed")); });
        connect(s, &QLocalSocket::errorOccurred, this, [this, s] { onDown(s, s->errorString()); });
        socket = s;
    } else {
        auto *s = new QTcpSocket(this);
        s->setReadBufferSize(kReadBufferBytes);
        connect(s, &QTcpSocket::connected, this, [this, s] {
            // Requests are small and must not wait for more to join them.
            s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            onConnected(s);
        });
        connect(s, &QTcpSocket::disconnected, this, [this, s] { onDown(s, QStringLiteral("connection closed")); });
        connect(s, &QTcpSocket::errorOccurred, this, [this, s] { onDown(s, s->errorString()); });
        socket = s;
    }
    connect(socket, &QIODevice::readyRead, this, [this, socket] {
        if (socket == m_socket && m_connected)
            pump();
    });
    m_socket = socket;
    m_connectTimeout.start(m_connectTimeoutMs);
    // Either call may report a failure at once, through onDown.
    if (auto *s = qobject_cast<QLocalSocket *>(socket))
        s->connectToServer(m_address.path);
    else
        static_cast<QTcpSocket *>(socket)->connectToHost(m_address.host, m_address.port);
}

void NodeLinkClient::onConnected(QIODevice *socket)
{
    if (socket != m_socket || m_connected)
        return;
    m_connectTimeout.stop();
    m_connected = true;
    m_reportedTrouble = false;
    OnAirLog::note(QStringLiteral("node link: connected to %1").arg(describe()));
    QByteArray token;
    if (m_address.kind == NodeAddress::Tcp) {
        // Without its token the node closes the connection; the reason is
        // ours to tell, once.
        QString why;
        const std::optional<QByteArray> t = readToken(m_tokenFile.isEmpty() ? defaultTokenFile() : m_tokenFile, &why);
        if (t)
            token = *t;
        if (why != m_tokenTrouble && !why.isEmpty())
            OnAirLog::note(QStringLiteral("node link: %1; the node will refuse us").arg(why));
        m_tokenTrouble = why;
    }
    write(helloLine(QStringLiteral("mirelva"), versionText(), token));
    emit linkUp();
    // Lines that came with the connection.
    if (m_socket == socket && socket->bytesAvailable() > 0)
        pump();
}

void NodeLinkClient::onDown(QIODevice *socket, const QString &why)
{
    if (socket != m_socket)
        return;
    m_connectTimeout.stop();
    // What the node said before it went (its closing, say) still counts:
    // the lines still unread are taken now and handled after the drop.
    if (m_connected)
        while (readMore()) {
        }
    socket->disconnect(this);
    socket->deleteLater();
    m_socket = nullptr;
    m_reader.reset();
    const bool wasConnected = m_connected;
    m_connected = false;
    if (wasConnected) {
        OnAirLog::note(QStringLiteral("node link: lost %1 (%2); trying again").arg(describe(), why));
    } else if (!m_reportedTrouble) {
        // One line per outage, not one per attempt.
        OnAirLog::note(QStringLiteral("node link: cannot reach %1 (%2); trying again").arg(describe(), why));
    }
    m_reportedTrouble = true;
    goOffline();
    if (wasConnected)
        emit linkDown();
    m_retry.start(m_pauseMs);
    m_pauseMs = std::min(m_pauseMs * 2, m_maxPauseMs);
    if (!m_queue.isEmpty())
        pumpLater();
}

void NodeLinkClient::goOffline()
{
    if (!m_online)
        return;
    m_online = false;
    setState(NodeState());
    emit onlineChanged(false);
}

// The one reader of the node's lines. Qt does not announce data again
// (readyRead) while a readyRead handler is still running, and our handlers
// can run for minutes (a keyed announcement) and let waiting events run
// meanwhile: whatever arrives then sits in the socket with nothing to say so.
// So after every line the reader looks at the socket again itself, and goes
// on until it is empty; nothing is left waiting for the node to send more.
//
// It never runs nested. A handler that lets waiting events run may bring us
// back here; starting on the next line then would handle it out of turn, and
// a storm of events during announcements would nest without bound. The
// nested call declines and queues a turn of its own, so the lines are handled
// as soon as the running handler returns, even if nothing else arrives.
//
// While the node's events are held (the windows are loading) the lines wait
// where they are, state lines too, so everything keeps the node's order; the
// release takes them up again.
void NodeLinkClient::pump()
{
    if (eventsHeld())
        return;
    if (m_handling) {
        pumpLater();
        return;
    }
    if (m_chatHeldDue && Clock::nowMs() / 1000 != m_chatSecond) {
        const QScopedValueRollback<bool> busy(m_handling, true);
        tellHeldChat();
    }
    int handled = 0;
    while (!Program::ended()) {
        if (m_queue.isEmpty()) {
            if (!readMore())
                return;
            continue;
        }
        if (handled == kLinesPerTurn) {
            pumpLater();
            return;
        }
        const Pending p = m_queue.dequeue();
        {
            const QScopedValueRollback<bool> busy(m_handling, true);
            handle(p);
        }
        ++handled;
        // The first state line makes the link online. Whoever waits for
        // that (start-up, before the windows listen) gets a turn before the
        // events that came with it are raised.
        if (std::exchange(m_yieldAfterOnline, false)) {
            pumpLater();
            return;
        }
    }
}

void NodeLinkClient::pumpLater()
{
    if (m_pumpQueued)
        return;
    m_pumpQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_pumpQueued = false;
            pump();
        },
        Qt::QueuedConnection);
}

// Takes the next bytes from the socket into the queue of lines; false when
// there were none.
bool NodeLinkClient::readMore()
{
    if (!m_socket || !m_connected || m_socket->bytesAvailable() <= 0)
        return false;
    const QByteArray bytes = m_socket->read(kReadChunkBytes);
    if (bytes.isEmpty())
        return false;
    for (auto &item : m_reader.feed(bytes))
        m_queue.enqueue({std::move(item), m_connection});
    return true;
}

void NodeLinkClient::drop(const QString &why)
{
    ++m_droppedLines;
    OnAirLog::note(QStringLiteral("node link: dropped a line from the node: ") + why);
}

void NodeLinkClient::handle(const Pending &pending)
{
    const LineReader::Item &item = pending.item;
    if (item.overlong) {
        drop(QStringLiteral("longer than %1 bytes").arg(kMaxLineBytes));
        return;
    }
    if (item.line.trimmed().isEmpty())
        return;   // a blank line carries nothing; not worth a log line
    const ParsedEvent p = parseEvent(item.line);
    if (p.status == ParseStatus::UnknownName) {
        // A newer node may send events this version does not know: told
        // once per name. Past a few hundred names (a node gone wrong rather
        // than a newer one) every such line is told again.
        ++m_droppedLines;
        const QString key = p.name.left(200);
        if (m_unknownEvents.contains(key))
            return;
        if (m_unknownEvents.size() < 256)
            m_unknownEvents.insert(key);
        OnAirLog::note(QStringLiteral("node link: ignoring unknown event \"%1\"").arg(excerpt(p.name.toUtf8())));
        return;
    }
    if (p.status != ParseStatus::Ok) {
        drop(p.error + QStringLiteral(": ") + excerpt(item.line));
        return;
    }
    const NodeEvent &e = p.event;
    switch (e.kind) {
    case NodeEvent::State: {
        // A state from a connection that is gone describes nothing now.
        if (pending.connection != m_connection || !m_connected)
            break;
        NodeState s = m_state;
        e.state.applyTo(s);
        if (!m_online) {
            // Online before the mirror changes, so whoever redraws on
            // stateChanged already sees the link as up.
            m_online = true;
            m_pauseMs = m_firstPauseMs;
            setState(s);
            emit onlineChanged(true);
            repeatReleases();
            m_yieldAfterOnline = true;
        } else {
            setState(s);
        }
        break;
    }
    case NodeEvent::Chat:
        passChat(e.text);
        break;
    default:
        emitNodeEvent(this, e);
        break;
    }
}

// A station pasting a page or a script looping can send lines faster than
// the windows take them (a line in the message box, the filters, the
// commands): the link falls behind, and everything after the flood, a
// "/ver/" from another station, a connect, waits behind it. While behind,
// what passes is bounded per sender and in all, so the rest comes through,
// and the windows hear how many lines were held.
void NodeLinkClient::passChat(const QString &text)
{
    const qint64 second = Clock::nowMs() / 1000;
    if (second != m_chatSecond) {
        tellHeldChat();
        m_chatSecond = second;
    }
    const qsizetype mark = text.indexOf(QLatin1Char('>'));
    QString sender = mark > 0 && mark <= 32 ? text.left(mark) : QString();
    if (!m_chatBySender.count(sender) && m_chatBySender.size() >= size_t(kChatSenders))
        sender = QStringLiteral("*");
    ChatCount &count = m_chatBySender[sender];
    const bool behind = m_socket && m_socket->bytesAvailable() >= kChatBehindBytes;
    if (!behind || (count.passed < kChatPerSender && m_chatPassed < kChatPerSecond)) {
        ++count.passed;
        ++m_chatPassed;
        emit ChatTextReceived(text);
        return;
    }
    ++count.held;
    if (!m_chatHeld.isActive())
        m_chatHeld.start();
}

void NodeLinkClient::tellHeldChat()
{
    m_chatHeldDue = false;
    const std::map<QString, ChatCount> counts = std::exchange(m_chatBySender, {});
    m_chatPassed = 0;
    for (const auto &[sender, count] : counts)
        if (count.held > 0)
            emit ChatTextReceived((sender.isEmpty() ? QString() : sender + QLatin1Char('>'))
                                  + QStringLiteral("(%1 more chat lines in a second, not shown)").arg(count.held));
}

void NodeLinkClient::request(const NodeRequest &r)
{
    if (r.op == NodeOp::SetPTT || r.op == NodeOp::SetDTR || r.op == NodeOp::SetRTS)
        m_lastLineRequests[r.op] = r;
    if (!m_online) {
        OnAirLog::note(QStringLiteral("node offline, dropped: ") + r.toText());
        return;
    }
    write(requestLine(r));
}

// A release asked for while the node could not hear it (the start-up
// releases when the node comes up late, or an unkey during an outage) is
// made again as soon as it can hear it, so the transmitter and the fan line
// never stay up on the node's side because of a gap in the link. Keying is
// never repeated: a late key-up would go out with nothing to say.
void NodeLinkClient::repeatReleases()
{
    for (const NodeOp op : {NodeOp::SetPTT, NodeOp::SetDTR, NodeOp::SetRTS}) {
        const auto it = m_lastLineRequests.constFind(op);
        if (it == m_lastLineRequests.cend() || it->fields.value(QLatin1String("on")).toBool())
            continue;
        OnAirLog::note(QStringLiteral("node online, again: ") + it->toText());
        write(requestLine(*it));
    }
}

void NodeLinkClient::write(const QByteArray &line)
{
    if (!m_socket)
        return;
    m_socket->write(line);
    // Straight onto the socket: a request must not wait in our buffer for
    // the event loop, which may never run again if the program is ending.
    if (auto *s = qobject_cast<QLocalSocket *>(m_socket.data()))
        s->flush();
    else if (auto *t = qobject_cast<QTcpSocket *>(m_socket.data()))
        t->flush();
}

bool NodeLinkClient::flush(int timeoutMs)
{
    if (!m_socket || !m_connected)
        return true;
    QDeadlineTimer deadline(timeoutMs);
    while (m_socket && m_socket->bytesToWrite() > 0) {
        if (deadline.hasExpired() || !m_socket->waitForBytesWritten(int(std::max<qint64>(1, deadline.remainingTime()))))
            break;
    }
    return !m_socket || m_socket->bytesToWrite() == 0;
}

} // namespace mirelva
