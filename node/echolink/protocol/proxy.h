#pragma once

#include <optional>

#include <QHostAddress>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

#include "node/echolink/protocol/transport.h"

namespace mirelva::echolink {

// An EchoLink proxy's messages after the log-in: type (1 byte), IPv4 address
// (4, first octet first), payload length (4, little-endian), payload.
struct ProxyFrame {
    enum Type : quint8 { TcpOpen = 1, TcpData, TcpClose, TcpStatus, UdpData, UdpControl, System };
    Type type = TcpData;
    quint32 address = 0;
    QByteArray payload;
};

// Far below 2^31: a datagram is under 64 KB, and the proxy passes the
// directory's stream in pieces of a few KB.
constexpr quint32 kMaxProxyPayload = 1024 * 1024;

// Takes the stream as it comes and hands out whole messages; a message of an
// unknown type, a length beyond the bound, or a size its type does not have,
// breaks the stream (the client then starts over).
class ProxyReader {
public:
    // False once the stream is broken; why() says how.
    bool feed(const char *data, qsizetype size);
    std::optional<ProxyFrame> next();
    const char *why() const { return m_why; }
    qsizetype buffered() const { return m_buf.size() - m_at; }

private:
    QByteArray m_buf;
    qsizetype m_at = 0;
    const char *m_why = nullptr;
};

QByteArray buildProxyFrame(ProxyFrame::Type type, quint32 address, const QByteArray &payload = QByteArray());
// The answer to the proxy's 8-byte nonce: CALLSIGN LF and the 16 bytes of
// MD5(upper-case password + nonce); no password is "PUBLIC".
QByteArray proxyLogin(const QString &callsign, const QString &password, const QByteArray &nonce);

// The client: logs in to the proxy, carries EchoLink's datagrams both ways
// and one tunnelled TCP connection (the directory's), and starts over every
// 10 s while it cannot.
class Proxy : public QObject {
    Q_OBJECT
public:
    static constexpr int kNonceBytes = 8;
    static constexpr int kRetryMs = 10 * 1000;
    static constexpr int kNonceWaitMs = 10 * 1000;

    Proxy(QString host, quint16 port, QString callsign, QString password, QObject *parent = nullptr);
    ~Proxy() override;
    void start();
    bool ready() const { return m_state == State::Ready; }
    // One datagram for a station's audio (false) or control (true) port.
    void sendUdp(bool control, const QHostAddress &to, const QByteArray &datagram);
    TcpLink *tcpLink();
    // For tests: a stream as the proxy would send it.
    void receive(const QByteArray &bytes);

signals:
    void readyChanged(bool ready, const QString &why);
    void udpReceived(bool control, const QHostAddress &from, const QByteArray &datagram);

private:
    enum class State { Idle, Connecting, WaitingNonce, Ready };
    friend class ProxyTcpLink;
    void connectNow();
    void fail(const QString &why);
    void frame(const ProxyFrame &f);
    void write(const QByteArray &bytes);

    QString m_host;
    quint16 m_port;
    QString m_callsign, m_password;
    QTcpSocket m_socket;
    QTimer m_retry;
    QTimer m_nonceWait;
    State m_state = State::Idle;
    QByteArray m_nonce;
    ProxyReader m_reader;
    class ProxyTcpLink *m_tcp = nullptr;
};

} // namespace mirelva::echolink
