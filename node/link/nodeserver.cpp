#include "node/link/nodeserver.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMetaObject>
#include <QQueue>
#include <QScopedValueRollback>
#include <QTcpServer>
#include <QTcpSocket>
#include <QCoreApplication>
#include <QTimer>

#include "core/onairlog.h"
#include "node/link/nodetoken.h"

namespace mirelva {

using namespace nodelink;

struct NodeServer::Client {
    int id = 0;
    QIODevice *socket = nullptr;
    QTimer *helloTimer = nullptr;   // owned by the socket
    LineReader reader;
    bool greeted = false;
    bool dead = false;
    bool keyed = false;   // its last SetPTT asked for the transmitter keyed
    QSet<QString> unknownOps;
    QQueue<LineReader::Item> lines;   // read, not yet handled
    bool reading = false;             // its lines are being handled
    bool gone = false;                // it hung up; drop it once its lines are handled
};

namespace {

qint64 pendingBytes(QIODevice *s) { return s->bytesToWrite(); }

// Lines handled for one client in one go before the event loop gets a turn,
// so one client that floods the node cannot starve the others.
constexpr int kLinesPerTurn = 200;

void pushOut(QIODevice *s)
{
    if (auto *l = qobject_cast<QLocalSocket *>(s))
        l->flush();
    else if (auto *t = qobject_cast<QTcpSocket *>(s))
        t->flush();
}

void cut(QIODevice *s)
{
    if (auto *l = qobject_cast<QLocalSocket *>(s))
        l->abort();
    else if (auto *t = qobject_cast<QTcpSocket *>(s))
        t->abort();
}

QString userName(uid_t uid)
{
    struct passwd pw, *found = nullptr;
    char buf[4096];
    if (::getpwuid_r(uid, &pw, buf, sizeof buf, &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QStringLiteral("#%1").arg(uid);
}

// Who is at the other end of a Unix socket, as the kernel saw them connect:
// nothing when they may drive the node, else why not.
std::optional<QString> peerRefusal(qintptr fd, const QStringList &groups)
{
    struct ucred cred = {};
    socklen_t len = sizeof cred;
    if (::getsockopt(int(fd), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0)
        return QStringLiteral("cannot tell who it is (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
    if (cred.uid == 0 || cred.uid == ::geteuid())
        return std::nullopt;
    if (!groups.isEmpty()) {
        gid_t theirs[256];
        socklen_t glen = sizeof theirs;
        int count = 0;
        if (::getsockopt(int(fd), SOL_SOCKET, SO_PEERGROUPS, theirs, &glen) == 0)
            count = int(glen / sizeof(gid_t));
        for (const QString &name : groups) {
            struct group gr, *found = nullptr;
            char buf[8192];
            if (::getgrnam_r(QFile::encodeName(name.trimmed()).constData(), &gr, buf, sizeof buf, &found) != 0 || !found)
                continue;
            if (cred.gid == found->gr_gid || std::find(theirs, theirs + count, found->gr_gid) != theirs + count)
                return std::nullopt;
        }
    }
    return QStringLiteral("user %1 may not drive this node").arg(userName(cred.uid));
}

} // namespace

NodeServer::NodeServer(NodeBackend *node, QObject *parent) : QObject(parent), m_node(node)
{
    if (!node)
        return;
    m_sentState = node->state();
    connect(node, &NodeBackend::stateChanged, this, &NodeServer::syncState);
    forEachNodeEvent(node, this, [this](const NodeEvent &e) { event(e); });
}

NodeServer::~NodeServer() { close(); }

bool NodeServer::listen(const NodeAddress &address, bool allowRemote, QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    close();
    if (address.kind == NodeAddress::Unix) {
        struct stat st;
        if (::lstat(QFile::encodeName(address.path).constData(), &st) == 0) {
            // Only a socket that nobody answers on is taken over; anything
            // else at that path is left alone.
            if (!S_ISSOCK(st.st_mode))
                return fail(QStringLiteral("%1 exists and is not a socket").arg(address.path));
            QLocalSocket probe;
            probe.connectToServer(address.path);
            if (probe.waitForConnected(500)) {
                probe.abort();
                return fail(QStringLiteral("a node already listens on %1").arg(address.path));
            }
            QLocalServer::removeServer(address.path);
        }
        auto *server = new QLocalServer(this);
        // The node is the station's transmitter: only its own user may drive
        // it, unless groups are named; then the peer check alone decides.
        server->setSocketOptions(m_groups.isEmpty() ? QLocalServer::UserAccessOption : QLocalServer::WorldAccessOption);
        if (!server->listen(address.path)) {
            const QString why = server->errorString();
            delete server;
            return fail(QStringLiteral("cannot listen on %1: %2").arg(address.path, why));
        }
        connect(server, &QLocalServer::newConnection, this, [this, server] {
            while (QLocalSocket *s = server->nextPendingConnection())
                accept(s);
        });
        m_local = server;
        m_address = address;
        return true;
    }

    if (!allowRemote && !address.isLoopback())
        return fail(QStringLiteral("%1 is not a loopback address; a node listens on this machine only "
                                   "unless told --allow-remote")
                        .arg(address.host));
    const QString tokenFile = m_tokenFile.isEmpty() ? nodeTokenFile() : m_tokenFile;
    const std::optional<QByteArray> token = loadOrCreateToken(tokenFile, error);
    if (!token)
        return false;
    m_token = *token;
    QHostAddress host;
    if (address.host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        host = QHostAddress(QHostAddress::LocalHost);
    else if (!host.setAddress(address.host))
        return fail(QStringLiteral("\"%1\" is not an IP address").arg(address.host));
    auto *server = new QTcpServer(this);
    if (!server->listen(host, address.port)) {
        const QString why = server->errorString();
        delete server;
        return fail(QStringLiteral("cannot listen on %1: %2").arg(address.toString(), why));
    }
    connect(server, &QTcpServer::newConnection, this, [this, server] {
        while (QTcpSocket *s = server->nextPendingConnection()) {
            s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            accept(s);
        }
    });
    m_tcp = server;
    m_address = address;
    m_address.port = server->serverPort();
    return true;
}

void NodeServer::close()
{
    for (auto &c : m_clients) {
        if (c->dead)
            continue;
        c->dead = true;
        c->socket->disconnect(this);
        cut(c->socket);
        c->socket->deleteLater();
    }
    m_clients.clear();
    delete m_local;   // removes the socket file
    m_local = nullptr;
    delete m_tcp;
    m_tcp = nullptr;
}

bool NodeServer::isListening() const { return (m_local && m_local->isListening()) || (m_tcp && m_tcp->isListening()); }

int NodeServer::clientCount() const
{
    int n = 0;
    for (const auto &c : m_clients)
        n += c->dead ? 0 : 1;
    return n;
}

int NodeServer::greetedClientCount() const
{
    int n = 0;
    for (const auto &c : m_clients)
        n += (!c->dead && c->greeted) ? 1 : 0;
    return n;
}

void NodeServer::refuse(QIODevice *socket, const QString &why)
{
    OnAirLog::note(QStringLiteral("node: connection refused: %1").arg(why));
    socket->setParent(this);
    cut(socket);
    socket->deleteLater();
}

void NodeServer::accept(QIODevice *socket)
{
    if (greetedClientCount() >= kMaxClients) {
        refuse(socket, QStringLiteral("%1 clients are attached already").arg(kMaxClients));
        return;
    }
    if (auto *l = qobject_cast<QLocalSocket *>(socket)) {
        if (const std::optional<QString> why = peerRefusal(l->socketDescriptor(), m_groups)) {
            refuse(socket, *why);
            return;
        }
    }
    // A connection holds a place only once its hello has admitted it. Those
    // still waiting for theirs are limited apart, the oldest giving way, so
    // silent connections made again as soon as they are dropped never keep
    // the rightful client out: it says hello at once, as the newest.
    std::vector<Client *> waiting;
    for (const auto &o : m_clients)
        if (!o->dead && !o->greeted)
            waiting.push_back(o.get());
    if (int(waiting.size()) >= kMaxWaiting)
        dropClient(waiting.front(), QStringLiteral("no hello before %1 newer connections came").arg(kMaxWaiting));
    auto client = std::make_unique<Client>();
    Client *c = client.get();
    c->id = m_nextId++;
    c->socket = socket;
    socket->setParent(this);
    m_clients.push_back(std::move(client));
    c->helloTimer = new QTimer(socket);
    c->helloTimer->setSingleShot(true);
    connect(c->helloTimer, &QTimer::timeout, this, [this, c] {
        if (!c->greeted)
            dropClient(c, QStringLiteral("no hello within %1 ms").arg(m_helloTimeoutMs));
    });
    c->helloTimer->start(m_helloTimeoutMs);
    connect(socket, &QIODevice::readyRead, this, [this, c] { onReadyRead(c); });
    if (auto *l = qobject_cast<QLocalSocket *>(socket))
        connect(l, &QLocalSocket::disconnected, this, [this, c] { hungUp(c); });
    else if (auto *t = qobject_cast<QTcpSocket *>(socket))
        connect(t, &QTcpSocket::disconnected, this, [this, c] { hungUp(c); });
    emit clientAttached();
    if (socket->bytesAvailable() > 0)
        onReadyRead(c);
}

void NodeServer::dropClient(Client *c, const QString &why)
{
    if (c->dead)
        return;
    c->dead = true;
    c->socket->disconnect(this);
    cut(c->socket);
    c->socket->deleteLater();
    OnAirLog::note(why.isEmpty()   ? QStringLiteral("node: client %1 detached").arg(c->id)
                   : c->greeted ? QStringLiteral("node: client %1 cut off: %2").arg(c->id).arg(why)
                                : QStringLiteral("node: client %1 refused: %2").arg(c->id).arg(why));
    // A client that is gone can never unkey: what it keyed is released,
    // unless another client still holds the transmitter keyed.
    if (c->keyed && m_node) {
        c->keyed = false;
        const bool heldElsewhere = std::any_of(m_clients.begin(), m_clients.end(),
                                               [](const std::unique_ptr<Client> &o) { return !o->dead && o->keyed; });
        if (!heldElsewhere) {
            OnAirLog::note(QStringLiteral("node: client %1 left the transmitter keyed; released").arg(c->id));
            m_node->submit(NodeRequest::setPTT(false));
        }
    }
    // The client may be in the middle of being served further up the stack.
    if (!m_purgeQueued) {
        m_purgeQueued = true;
        QMetaObject::invokeMethod(this, &NodeServer::purge, Qt::QueuedConnection);
    }
    emit clientDetached();
}

void NodeServer::purge()
{
    m_purgeQueued = false;
    std::erase_if(m_clients, [](const std::unique_ptr<Client> &c) { return c->dead; });
}

// Qt says nothing more about data that arrives while a readyRead handler
// still runs, so the lines of a client are read until its socket is empty,
// not just once per readyRead. A call that comes while the client's lines are
// already being handled (from a handler that let waiting events run) declines
// and queues a turn, so nothing waits for the client to send more.
void NodeServer::onReadyRead(Client *c)
{
    if (c->dead)
        return;
    if (c->reading) {
        serveLater(c);
        return;
    }
    const QScopedValueRollback<bool> busy(c->reading, true);
    int handled = 0;
    while (!c->dead) {
        if (c->lines.isEmpty()) {
            if (!readMore(c))
                break;
            continue;
        }
        if (handled == kLinesPerTurn) {
            serveLater(c);
            return;
        }
        handleLine(c, c->lines.dequeue());
        ++handled;
    }
    if (c->gone && !c->dead)
        dropClient(c, QString());
}

bool NodeServer::readMore(Client *c)
{
    if (c->socket->bytesAvailable() <= 0)
        return false;
    const QByteArray bytes = c->socket->read(kMaxLineBytes + 1);
    if (bytes.isEmpty())
        return false;
    for (LineReader::Item &item : c->reader.feed(bytes))
        c->lines.enqueue(std::move(item));
    return true;
}

void NodeServer::serveLater(Client *c)
{
    // By number: the client may be gone and purged before the turn comes.
    const int id = c->id;
    QMetaObject::invokeMethod(
        this,
        [this, id] {
            for (size_t i = 0; i < m_clients.size(); ++i)
                if (m_clients[i]->id == id && !m_clients[i]->dead && !m_clients[i]->reading)
                    onReadyRead(m_clients[i].get());
        },
        Qt::QueuedConnection);
}

// A client that hangs up has its last requests (its releases) handled before
// it is dropped.
void NodeServer::hungUp(Client *c)
{
    if (c->dead)
        return;
    c->gone = true;
    if (!c->reading)
        onReadyRead(c);
}

void NodeServer::handleLine(Client *c, const LineReader::Item &item)
{
    auto drop = [c](const QString &why) {
        OnAirLog::note(QStringLiteral("node: dropped a line from client %1: %2").arg(c->id).arg(why));
    };
    if (item.overlong && c->greeted) {
        drop(QStringLiteral("longer than %1 bytes").arg(kMaxLineBytes));
        return;
    }
    if (!item.overlong && item.line.trimmed().isEmpty())
        return;
    if (!c->greeted) {
        // Nothing from a peer is used before its hello has admitted it.
        const Admission a = admitFirstLine(item, m_tcp ? m_token : QByteArray());
        if (!a.admitted) {
            dropClient(c, a.why);
            return;
        }
    }
    const ParsedRequest p = parseRequest(item.line);
    if (p.status == ParseStatus::UnknownName) {
        const QString key = p.name.left(200);
        if (c->unknownOps.contains(key))
            return;
        if (c->unknownOps.size() < 256)
            c->unknownOps.insert(key);
        OnAirLog::note(QStringLiteral("node: ignoring unknown op \"%1\" from client %2").arg(excerpt(p.name.toUtf8())).arg(c->id));
        return;
    }
    if (p.status != ParseStatus::Ok) {
        drop(p.error + QStringLiteral(": ") + excerpt(item.line));
        return;
    }
    if (p.isHello) {
        if (!c->greeted && greetedClientCount() >= kMaxClients) {
            dropClient(c, QStringLiteral("%1 clients are attached already").arg(kMaxClients));
            return;
        }
        if (p.hello.protocol < kOldestProtocolVersion || p.hello.protocol > kProtocolVersion)
            OnAirLog::note(QStringLiteral("node: client %1 asks for protocol %2; this node speaks up to %3")
                               .arg(c->id)
                               .arg(p.hello.protocol)
                               .arg(kProtocolVersion));
        const QString who = QStringList{p.hello.client, p.hello.version}.join(QLatin1Char(' ')).trimmed();
        OnAirLog::note(QStringLiteral("node: client %1 attached").arg(c->id) + (who.isEmpty() ? QString() : QStringLiteral(": ") + who));
        if (c->helloTimer)
            c->helloTimer->stop();
        // A trace shows the hello, never the secret in it.
        QByteArray shown = item.line;
        if (!p.hello.token.isEmpty())
            shown.replace(p.hello.token.toUtf8(), QByteArrayLiteral("(token)"));
        emit received(shown);
        emit helloReceived(p.hello);
        // Everyone already greeted hears of any change first, so that the
        // state every greeted client holds is m_sentState.
        syncState();
        c->greeted = true;
        const QByteArray full = NodeEvent::stateLine(StatePatch::full(m_sentState)).toLine();
        sendTo(c, full);
        emit sent(full);
        return;
    }
    if (p.request.op == NodeOp::SetPTT)
        c->keyed = p.request.fields.value(QLatin1String("on")).toBool();
    emit received(item.line);
    emit requestReceived(p.request);
    const NodeOp op = p.request.op;
    if (op == NodeOp::SetPTT || op == NodeOp::SetRTS || op == NodeOp::SetDTR || op == NodeOp::SetBusy) {
        QString &last = m_lastSetting[nameOf(op)];
        const QString text = p.request.toText();
        if (text != last)
            OnAirLog::request(p.request);
        last = text;
    } else {
        OnAirLog::request(p.request);
    }
    if (m_node)
        m_node->submit(p.request);
}

void NodeServer::sendTo(Client *c, const QByteArray &line)
{
    if (c->dead)
        return;
    c->socket->write(line);
    pushOut(c->socket);
    if (pendingBytes(c->socket) > kMaxPendingBytes)
        dropClient(c, QStringLiteral("it reads nothing (%1 bytes waiting)").arg(pendingBytes(c->socket)));
}

void NodeServer::broadcast(const QByteArray &line)
{
    // Indexed: a client may be cut off on the way, but none is removed
    // before purge() runs from the event loop.
    for (size_t i = 0; i < m_clients.size(); ++i) {
        Client *c = m_clients[i].get();
        if (!c->dead && c->greeted)
            sendTo(c, line);
    }
    emit sent(line);
}

void NodeServer::syncState()
{
    if (!m_node)
        return;
    const NodeState now = m_node->state();
    const StatePatch patch = StatePatch::diff(m_sentState, now);
    if (patch.isEmpty())
        return;
    m_sentState = now;
    broadcast(NodeEvent::stateLine(patch).toLine());
}

void NodeServer::event(const NodeEvent &e)
{
    syncState();
    broadcast(e.toLine());
}

void NodeServer::quitOnceClientsLeave(int waitMs)
{
    auto finish = [this] {
        flush(2000);
        QCoreApplication::quit();
    };
    connect(this, &NodeServer::clientDetached, this, [this, finish] {
        if (clientCount() == 0)
            finish();
    });
    QTimer::singleShot(waitMs, this, finish);
    if (clientCount() == 0)
        QTimer::singleShot(0, this, finish);
}

bool NodeServer::flush(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (size_t i = 0; i < m_clients.size(); ++i) {
        Client *c = m_clients[i].get();
        while (!c->dead && pendingBytes(c->socket) > 0 && !deadline.hasExpired()) {
            if (!c->socket->waitForBytesWritten(int(std::max<qint64>(1, deadline.remainingTime()))))
                break;
        }
    }
    for (const auto &c : m_clients)
        if (!c->dead && pendingBytes(c->socket) > 0)
            return false;
    return true;
}

void printTraceLine(const char *what, QByteArray line)
{
    if (line.endsWith('\n'))
        line.chop(1);
    const QByteArray out = what + line + '\n';
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    std::fflush(stdout);
}

void printTraffic(NodeServer *server)
{
    QObject::connect(server, &NodeServer::received, server, [](const QByteArray &l) { printTraceLine("request ", l); });
    QObject::connect(server, &NodeServer::sent, server, [](const QByteArray &l) { printTraceLine("event ", l); });
}

} // namespace mirelva
