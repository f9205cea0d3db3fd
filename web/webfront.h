#pragma once

#include <functional>
#include <map>
#include <optional>

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QSslConfiguration>

class QTcpSocket;
class QWebSocket;
class QWebSocketServer;

namespace mirelva {

class VbTimer;
class WebFront;

using HttpHeaders = QList<QPair<QByteArray, QByteArray>>;

// A request head as it came: "METHOD TARGET HTTP/1.x", then its header
// lines. parseHttpHead takes the bytes up to and including the empty line and
// refuses anything that is not plainly that.
struct HttpHead {
    QByteArray method;
    QByteArray target;
    bool http10 = false;
    HttpHeaders headers;

    QByteArray header(const QByteArray &name) const;
    bool has(const QByteArray &name) const;
    QString path() const;
};
std::optional<HttpHead> parseHttpHead(const QByteArray &head);

// A whole request, its body read to the end and no further than allowed.
struct HttpRequest : HttpHead {
    QByteArray body;
    QHostAddress peer;
    bool isGet() const { return method == "GET"; }
    bool isPost() const { return method == "POST"; }
};

enum class HttpStatus {
    Ok = 200,
    Accepted = 202,
    NoContent = 204,
    SeeOther = 303,
    BadRequest = 400,
    Unauthorized = 401,
    Forbidden = 403,
    NotFound = 404,
    MethodNotAllowed = 405,
    RequestTimeout = 408,
    LengthRequired = 411,
    PayloadTooLarge = 413,
    TooManyRequests = 429,
    RequestHeaderFieldsTooLarge = 431,
    ServiceUnavailable = 503,
};

// The way back to the browser that sent one request: answered once, now or
// later (a password check answers after it ran). When the connection has
// gone meanwhile, the answer goes nowhere.
class HttpReply {
public:
    HttpReply() = default;
    void send(HttpStatus status, const QByteArray &type, const QByteArray &body, const HttpHeaders &extra = {});

private:
    friend class WebFront;
    HttpReply(WebFront *front, quint64 id) : m_front(front), m_id(id) {}
    QPointer<WebFront> m_front;
    quint64 m_id = 0;
};

// The console's front door: its own listening socket, which reads each
// request's head and body itself and bounds both before anything else sees
// them. A body longer than the request may have is refused by its
// Content-Length before a byte of it is read; a body of no stated length is
// refused; a head that does not end within its limit is refused. A
// connection must send a whole head within 10 s of opening (or of its last
// answer) and its body within 10 s after; at most kMaxConnections are open,
// the oldest idle one giving way to a new one. A connection that has sent
// something is not idle: when none can give way, the new one is answered 503
// once its head has come (at most kMostRefused such at once). Answers a client
// does not read stop its next requests being read: past kMostUnsentBytes
// unsent, the connection waits for the client, and is closed when it reads
// nothing for kBodySeconds. Pipelined requests are read one per turn of the
// event loop, so a stream of them never holds a timer back. Two differing
// Content-Length headers are refused (400). A WebSocket upgrade the console
// admits goes on to Qt's WebSocket server with its head untouched.
class WebFront : public QObject {
    Q_OBJECT
public:
    explicit WebFront(QObject *parent = nullptr);
    ~WebFront() override;

    // The bytes a request's body may have, decided from its head.
    std::function<qint64(const HttpRequest &head)> bodyLimit = [](const HttpRequest &) { return 0; };
    std::function<void(const HttpRequest &request, HttpReply reply)> onRequest;
    // Whether a WebSocket upgrade with this head is taken on; refused with 403 else.
    std::function<bool(const HttpRequest &head)> admitWebSocket = [](const HttpRequest &) { return false; };
    // Called when every connection is being answered and a new one comes:
    // true when an answer was cut short (a waiting password check told to
    // come back later), so that its connection may give way.
    std::function<bool()> makeRoom = [] { return false; };
    // Headers every answer carries (the console's policy headers).
    HttpHeaders commonHeaders;

    bool listen(const QHostAddress &address, quint16 port, const std::optional<QSslConfiguration> &tls);
    quint16 port() const;
    int connectionCount() const { return int(m_connections.size()); }
    // The bytes answered but not yet taken by the clients, all connections,
    // and the connections waiting for their clients to read.
    qint64 unsentBytes() const;
    int waitingForClients() const;

    // Once a second (and from tests, with Clock set): closes every
    // connection past its time.
    void sweep();

    static constexpr int kMaxHeadBytes = 8192;
    static constexpr int kMaxConnections = 64;
    static constexpr int kHeadSeconds = 10;
    static constexpr int kBodySeconds = 10;
    static constexpr qint64 kMostUnsentBytes = 256 * 1024;
    static constexpr int kMostRefused = 256;

signals:
    void webSocket(QWebSocket *socket);

private:
    friend class HttpReply;
    class Listener;
    // Sending: the answers made wait for the client to read them.
    enum class Phase { Head, Body, Answering, Sending };
    struct Connection {
        QTcpSocket *socket = nullptr;
        Phase phase = Phase::Head;
        qint64 deadline = 0;         // ms on the clock; 0: none (an answer is being made)
        qint64 opened = 0;
        HttpRequest request;
        qint64 bodyLength = 0;
        bool closeAfter = false;
        bool refused = false;        // came beyond the limit: answered 503
    };

    void accepted(QTcpSocket *socket);
    void readable(quint64 id);
    void written(quint64 id);
    bool idle(const Connection &c) const;
    void readHead(quint64 id, Connection &c);
    void readBody(quint64 id, Connection &c);
    void dispatch(quint64 id, Connection &c);
    void answer(quint64 id, HttpStatus status, const QByteArray &type, const QByteArray &body,
                const HttpHeaders &extra);
    void refuse(quint64 id, HttpStatus status, const QByteArray &why, const HttpHeaders &extra = {});
    void drop(quint64 id);
    static qint64 nowMs();

    Listener *m_listener = nullptr;
    QWebSocketServer *m_webSockets = nullptr;
    VbTimer *m_sweep = nullptr;
    std::map<quint64, Connection> m_connections;
    quint64 m_nextId = 1;
    int m_refused = 0;               // connections in m_connections answered 503
};

} // namespace mirelva
