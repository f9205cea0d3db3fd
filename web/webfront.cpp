#include "web/webfront.h"

#include <sys/socket.h>

#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <QWebSocket>
#include <QWebSocketServer>

#include "core/clock.h"
#include "ui/vbtimer.h"

namespace mirelva {

// ---- the head -------------------------------------------------------------------

namespace {

bool isToken(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
           || QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

bool allToken(QByteArrayView s)
{
    if (s.isEmpty())
        return false;
    for (char c : s)
        if (!isToken(c))
            return false;
    return true;
}

// A header value: visible characters, spaces and tabs, nothing that could end
// a line or a string.
bool plainValue(QByteArrayView s)
{
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && u != '\t') || u == 0x7f)
            return false;
    }
    return true;
}

const char *reason(HttpStatus s)
{
    switch (s) {
    case HttpStatus::Ok: return "OK";
    case HttpStatus::Accepted: return "Accepted";
    case HttpStatus::NoContent: return "No Content";
    case HttpStatus::SeeOther: return "See Other";
    case HttpStatus::BadRequest: return "Bad Request";
    case HttpStatus::Unauthorized: return "Unauthorized";
    case HttpStatus::Forbidden: return "Forbidden";
    case HttpStatus::NotFound: return "Not Found";
    case HttpStatus::MethodNotAllowed: return "Method Not Allowed";
    case HttpStatus::RequestTimeout: return "Request Timeout";
    case HttpStatus::LengthRequired: return "Length Required";
    case HttpStatus::PayloadTooLarge: return "Payload Too Large";
    case HttpStatus::TooManyRequests: return "Too Many Requests";
    case HttpStatus::RequestHeaderFieldsTooLarge: return "Request Header Fields Too Large";
    case HttpStatus::ServiceUnavailable: return "Service Unavailable";
    }
    return "Unknown";
}

} // namespace

QByteArray HttpHead::header(const QByteArray &name) const
{
    for (const auto &h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    return {};
}

bool HttpHead::has(const QByteArray &name) const
{
    for (const auto &h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QString HttpHead::path() const { return QUrl(QString::fromLatin1(target)).path(); }

std::optional<HttpHead> parseHttpHead(const QByteArray &head)
{
    if (!head.endsWith("\r\n\r\n"))
        return std::nullopt;
    // Lines end in CR LF; a lone CR or LF anywhere is refused below as a
    // control character.
    QList<QByteArray> lines;
    const QByteArray text = head.first(head.size() - 4);
    for (qsizetype from = 0;;) {
        const qsizetype end = text.indexOf("\r\n", from);
        lines.append(text.mid(from, end < 0 ? -1 : end - from));
        if (end < 0)
            break;
        from = end + 2;
    }
    HttpHead h;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray &line = lines[i];
        if (i == 0) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() != 3 || !allToken(parts[0]) || !parts[1].startsWith('/') || !plainValue(parts[1]))
                return std::nullopt;
            if (parts[2] == "HTTP/1.0")
                h.http10 = true;
            else if (parts[2] != "HTTP/1.1")
                return std::nullopt;
            h.method = parts[0];
            h.target = parts[1];
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || !allToken(line.first(colon)))
            return std::nullopt;
        const QByteArray value = line.mid(colon + 1);
        if (!plainValue(value))
            return std::nullopt;
        h.headers.append({line.first(colon), value.trimmed()});
    }
    return h;
}

// ---- the listening socket ----------------------------------------------------------

// Takes each connection as it comes, so that its time runs from the first
// moment, a TLS handshake included.
class WebFront::Listener : public QTcpServer {
public:
    explicit Listener(WebFront *front) : QTcpServer(front), m_front(front) {}
    std::optional<QSslConfiguration> tls;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        QTcpSocket *socket = nullptr;
        if (tls) {
            auto *ssl = new QSslSocket(this);
            if (!ssl->setSocketDescriptor(descriptor)) {
                delete ssl;
                return;
            }
            ssl->setSslConfiguration(*tls);
            ssl->startServerEncryption();
            socket = ssl;
        } else {
            socket = new QTcpSocket(this);
            if (!socket->setSocketDescriptor(descriptor)) {
                delete socket;
                return;
            }
        }
        m_front->accepted(socket);
    }

private:
    WebFront *m_front;
};

WebFront::WebFront(QObject *parent)
    : QObject(parent),
      m_listener(new Listener(this)),
      m_webSockets(new QWebSocketServer(QStringLiteral("mirelva"), QWebSocketServer::NonSecureMode, this)),
      m_sweep(new VbTimer(this, QStringLiteral("WebFrontSweep"), 1000, false))
{
    m_webSockets->setHandshakeTimeout(std::chrono::seconds(kHeadSeconds));
    connect(m_webSockets, &QWebSocketServer::newConnection, this, [this] {
        while (m_webSockets->hasPendingConnections())
            emit webSocket(m_webSockets->nextPendingConnection());
    });
    connect(m_sweep, &VbTimer::Timer, this, &WebFront::sweep);
}

WebFront::~WebFront()
{
    for (auto &[id, c] : m_connections) {
        c.socket->disconnect(this);
        c.socket->abort();
    }
}

bool WebFront::listen(const QHostAddress &address, quint16 port, const std::optional<QSslConfiguration> &tls)
{
    m_listener->tls = tls;
    return m_listener->listen(address, port);
}

quint16 WebFront::port() const { return m_listener->serverPort(); }

qint64 WebFront::nowMs() { return Clock::now().toMSecsSinceEpoch(); }

bool WebFront::idle(const Connection &c) const
{
    // Waiting for a head with nothing come yet, in Qt's buffer or the
    // kernel's: a request that has arrived is answered, never dropped.
    if (c.phase != Phase::Head || c.refused || c.socket->bytesAvailable() > 0)
        return false;
    char byte;
    const qintptr fd = c.socket->socketDescriptor();
    return fd < 0 || ::recv(int(fd), &byte, 1, MSG_PEEK | MSG_DONTWAIT) <= 0;
}

void WebFront::accepted(QTcpSocket *socket)
{
    bool refused = false;
    if (int(m_connections.size()) - m_refused >= kMaxConnections) {
        // The connection waiting longest for its head gives way: a crowd of
        // silent ones cannot keep a browser out. When every one is being
        // answered, one waiting answer is cut short to make room, else the
        // new one is answered 503 once its head is in.
        auto oldestIdle = [this] {
            auto oldest = m_connections.end();
            for (auto it = m_connections.begin(); it != m_connections.end(); ++it)
                if (idle(it->second) && (oldest == m_connections.end() || it->second.opened < oldest->second.opened))
                    oldest = it;
            return oldest;
        };
        auto oldest = oldestIdle();
        if (oldest == m_connections.end() && makeRoom())
            oldest = oldestIdle();
        if (oldest != m_connections.end()) {
            drop(oldest->first);
        } else if (m_refused >= kMostRefused) {
            socket->abort();
            socket->deleteLater();
            return;
        } else {
            refused = true;
        }
    }
    const quint64 id = m_nextId++;
    Connection &c = m_connections[id];
    c.socket = socket;
    c.refused = refused;
    m_refused += refused ? 1 : 0;
    c.opened = nowMs();
    c.deadline = c.opened + kHeadSeconds * 1000;
    // Qt's own buffer holds no more than a head; the rest waits in the
    // kernel until it is read.
    socket->setReadBufferSize(kMaxHeadBytes);
    connect(socket, &QTcpSocket::readyRead, this, [this, id] { readable(id); });
    connect(socket, &QTcpSocket::bytesWritten, this, [this, id] { written(id); });
    connect(socket, &QTcpSocket::disconnected, this, [this, id] { drop(id); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, id](QAbstractSocket::SocketError e) {
        if (e != QAbstractSocket::RemoteHostClosedError)
            drop(id);
    });
    if (auto *ssl = qobject_cast<QSslSocket *>(socket))
        connect(ssl, &QSslSocket::sslErrors, this, [this, id] { drop(id); });
    m_sweep->setEnabled(true);
    if (socket->bytesAvailable() > 0)
        readable(id);
}

void WebFront::readable(quint64 id)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    Connection &c = it->second;
    if (c.phase == Phase::Head)
        readHead(id, c);
    else if (c.phase == Phase::Body)
        readBody(id, c);
    // While an answer is being made, what comes next waits in the buffers.
}

void WebFront::readHead(quint64 id, Connection &c)
{
    const QByteArray seen = c.socket->peek(kMaxHeadBytes);
    const qsizetype end = seen.indexOf("\r\n\r\n");
    if (end < 0) {
        if (seen.size() >= kMaxHeadBytes)
            refuse(id, HttpStatus::RequestHeaderFieldsTooLarge, "request head too long\n");
        return;
    }
    std::optional<HttpHead> head = parseHttpHead(seen.first(end + 4));
    if (!head) {
        refuse(id, HttpStatus::BadRequest, "bad request\n");
        return;
    }
    if (c.refused) {
        c.socket->read(end + 4);
        refuse(id, HttpStatus::ServiceUnavailable, "too many connections; try again in a moment\n", {{"Retry-After", "1"}});
        return;
    }
    c.request = HttpRequest{};
    static_cast<HttpHead &>(c.request) = std::move(*head);
    c.request.peer = c.socket->peerAddress();
    const QByteArray connection = c.request.header("Connection").toLower();
    c.closeAfter = c.request.http10 ? !connection.contains("keep-alive") : connection.contains("close");

    if (c.request.header("Upgrade").compare("websocket", Qt::CaseInsensitive) == 0) {
        if (!admitWebSocket(c.request)) {
            c.socket->read(end + 4);
            c.closeAfter = true;
            answer(id, HttpStatus::Forbidden, "text/plain", "log in first\n", {});
            return;
        }
        // Qt's WebSocket server reads the head again itself, and owns the
        // connection from here.
        QTcpSocket *socket = c.socket;
        socket->disconnect(this);
        socket->setReadBufferSize(0);
        m_connections.erase(id);
        m_webSockets->handleConnection(socket);
        return;
    }
    c.socket->read(end + 4);
    if (c.request.has("Transfer-Encoding")) {
        refuse(id, HttpStatus::LengthRequired, "a body needs a Content-Length\n");
        return;
    }
    // Two lengths that differ leave the body's end to whoever reads it
    // (request smuggling); the same one twice is the same request.
    const QByteArray length = c.request.header("Content-Length");
    for (const auto &h : c.request.headers)
        if (h.first.compare("Content-Length", Qt::CaseInsensitive) == 0 && h.second != length) {
            refuse(id, HttpStatus::BadRequest, "two different Content-Length headers\n");
            return;
        }
    qint64 n = 0;
    if (!length.isEmpty()) {
        bool ok = length.size() <= 18;
        for (char ch : length)
            ok = ok && ch >= '0' && ch <= '9';
        n = ok ? length.toLongLong(&ok) : -1;
        if (!ok || n < 0) {
            refuse(id, HttpStatus::BadRequest, "bad Content-Length\n");
            return;
        }
    }
    if (n > bodyLimit(c.request)) {
        refuse(id, HttpStatus::PayloadTooLarge, "request body too long\n");
        return;
    }
    c.bodyLength = n;
    c.request.body.reserve(n);
    c.phase = Phase::Body;
    c.deadline = nowMs() + kBodySeconds * 1000;
    readBody(id, c);
}

void WebFront::readBody(quint64 id, Connection &c)
{
    const qint64 want = c.bodyLength - c.request.body.size();
    if (want > 0)
        c.request.body += c.socket->read(want);
    if (c.request.body.size() < c.bodyLength)
        return;
    dispatch(id, c);
}

void WebFront::dispatch(quint64 id, Connection &c)
{
    c.phase = Phase::Answering;
    c.deadline = 0;
    const HttpRequest request = std::move(c.request);
    c.request = HttpRequest{};
    if (onRequest)
        onRequest(request, HttpReply(this, id));
    else
        answer(id, HttpStatus::NotFound, "text/plain", "not found\n", {});
}

void WebFront::answer(quint64 id, HttpStatus status, const QByteArray &type, const QByteArray &body,
                      const HttpHeaders &extra)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    Connection &c = it->second;
    QByteArray out = "HTTP/1.1 " + QByteArray::number(int(status)) + ' ' + reason(status) + "\r\n";
    auto add = [&out](const QByteArray &name, const QByteArray &value) {
        // Nothing the program puts in a header may end it early.
        if (plainValue(value))
            out += name + ": " + value + "\r\n";
    };
    add("Content-Type", type);
    add("Content-Length", QByteArray::number(body.size()));
    add("Connection", c.closeAfter ? "close" : "keep-alive");
    for (const auto &h : commonHeaders)
        add(h.first, h.second);
    for (const auto &h : extra)
        add(h.first, h.second);
    out += "\r\n";
    out += body;
    c.socket->write(out);
    if (c.closeAfter) {
        c.socket->disconnectFromHost();
        c.deadline = nowMs() + kHeadSeconds * 1000;   // a peer that never reads is let go
        c.phase = Phase::Head;
        c.socket->disconnect(this, nullptr);
        QTcpSocket *socket = c.socket;
        connect(socket, &QTcpSocket::disconnected, this, [this, id] { drop(id); });
        return;
    }
    if (c.socket->bytesToWrite() > kMostUnsentBytes) {
        // The client is not reading its answers: its next requests wait
        // until it does, and it is let go when it reads nothing for a while.
        c.phase = Phase::Sending;
        c.deadline = nowMs() + kBodySeconds * 1000;
        return;
    }
    c.phase = Phase::Head;
    c.deadline = nowMs() + kHeadSeconds * 1000;
    // The next pipelined request at the next turn: one a turn, so a stream
    // of them lets every timer and socket have its turn in between.
    if (c.socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, [this, id] { readable(id); }, Qt::QueuedConnection);
}

void WebFront::written(quint64 id)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end() || it->second.phase != Phase::Sending)
        return;
    Connection &c = it->second;
    // Read again once half is taken, not at every packet the client takes.
    if (c.socket->bytesToWrite() > kMostUnsentBytes / 2) {
        c.deadline = nowMs() + kBodySeconds * 1000;
        return;
    }
    c.phase = Phase::Head;
    c.deadline = nowMs() + kHeadSeconds * 1000;
    if (c.socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, [this, id] { readable(id); }, Qt::QueuedConnection);
}

int WebFront::waitingForClients() const
{
    return int(std::count_if(m_connections.begin(), m_connections.end(),
                             [](const auto &e) { return e.second.phase == Phase::Sending; }));
}

qint64 WebFront::unsentBytes() const
{
    qint64 total = 0;
    for (const auto &[id, c] : m_connections)
        total += c.socket->bytesToWrite();
    return total;
}

void WebFront::refuse(quint64 id, HttpStatus status, const QByteArray &why, const HttpHeaders &extra)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    it->second.closeAfter = true;
    answer(id, status, "text/plain", why, extra);
}

void WebFront::drop(quint64 id)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    QTcpSocket *socket = it->second.socket;
    m_refused -= it->second.refused ? 1 : 0;
    m_connections.erase(it);
    socket->disconnect(this);
    // An answer just made (a waiting check told to come back later) still
    // reaches the kernel; whatever else is pending goes with the connection.
    socket->flush();
    socket->abort();
    socket->deleteLater();
    if (m_connections.empty())
        m_sweep->setEnabled(false);
}

void WebFront::sweep()
{
    const qint64 now = nowMs();
    std::vector<quint64> late;
    for (const auto &[id, c] : m_connections)
        if (c.deadline != 0 && now >= c.deadline)
            late.push_back(id);
    for (quint64 id : late)
        drop(id);
}

void HttpReply::send(HttpStatus status, const QByteArray &type, const QByteArray &body, const HttpHeaders &extra)
{
    if (m_front)
        m_front->answer(m_id, status, type, body, extra);
    m_front = nullptr;
}

} // namespace mirelva
