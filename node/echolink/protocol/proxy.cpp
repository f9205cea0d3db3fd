#include "node/echolink/protocol/proxy.h"

#include <QCryptographicHash>
#include <QtEndian>

namespace mirelva::echolink {

namespace {

constexpr int kFrameHeader = 9;

QHostAddress fromProxy(quint32 address) { return QHostAddress(address); }

} // namespace

// ---- the messages ----------------------------------------------------------------------

bool ProxyReader::feed(const char *data, qsizetype size)
{
    if (m_why)
        return false;
    // What was taken is dropped before the buffer grows.
    if (m_at > 0) {
        m_buf.remove(0, m_at);
        m_at = 0;
    }
    m_buf.append(data, size);
    return true;
}

std::optional<ProxyFrame> ProxyReader::next()
{
    if (m_why || m_buf.size() - m_at < kFrameHeader)
        return std::nullopt;
    const char *h = m_buf.constData() + m_at;
    const quint8 type = quint8(h[0]);
    const quint32 length = qFromLittleEndian<quint32>(h + 5);
    if (type < ProxyFrame::TcpOpen || type > ProxyFrame::System) {
        m_why = "a proxy message of an unknown type";
        return std::nullopt;
    }
    if (length > kMaxProxyPayload) {
        m_why = "a proxy message longer than any it sends";
        return std::nullopt;
    }
    if ((type == ProxyFrame::TcpStatus && length != 4) || (type == ProxyFrame::System && length != 1) ||
        ((type == ProxyFrame::TcpOpen || type == ProxyFrame::TcpClose) && length != 0)) {
        m_why = "a proxy message of the wrong size for its type";
        return std::nullopt;
    }
    if (qsizetype(length) > m_buf.size() - m_at - kFrameHeader)
        return std::nullopt;
    ProxyFrame f;
    f.type = ProxyFrame::Type(type);
    f.address = qFromBigEndian<quint32>(h + 1);
    f.payload = QByteArray(h + kFrameHeader, qsizetype(length));
    m_at += kFrameHeader + qsizetype(length);
    return f;
}

QByteArray buildProxyFrame(ProxyFrame::Type type, quint32 address, const QByteArray &payload)
{
    QByteArray f(kFrameHeader, '\0');
    f[0] = char(type);
    qToBigEndian<quint32>(address, f.data() + 1);
    qToLittleEndian<quint32>(quint32(payload.size()), f.data() + 5);
    return f + payload;
}

QByteArray proxyLogin(const QString &callsign, const QString &password, const QByteArray &nonce)
{
    const QByteArray pw = password.isEmpty() ? QByteArrayLiteral("PUBLIC") : password.toUpper().toUtf8();
    return callsign.toUpper().toUtf8() + '\n' + QCryptographicHash::hash(pw + nonce, QCryptographicHash::Md5);
}

// ---- the tunnelled TCP connection --------------------------------------------------------

class ProxyTcpLink : public TcpLink {
public:
    explicit ProxyTcpLink(Proxy *proxy) : TcpLink(proxy), m_proxy(proxy) {}

    void open(const QHostAddress &address, quint16) override
    {
        // The proxy reaches the directory's port only.
        close();
        m_open = true;
        m_connected = false;
        m_address = address.toIPv4Address();
        m_waiting.clear();
        m_proxy->write(buildProxyFrame(ProxyFrame::TcpOpen, m_address));
    }
    void send(const QByteArray &bytes) override
    {
        if (!m_open)
            return;
        if (m_connected)
            m_proxy->write(buildProxyFrame(ProxyFrame::TcpData, m_address, bytes));
        else
            m_waiting += bytes;
    }
    void close() override
    {
        if (!m_open)
            return;
        m_open = false;
        // The proxy confirms a close with a close of its own; that one is
        // not the next connection's.
        ++m_confirmations;
        m_proxy->write(buildProxyFrame(ProxyFrame::TcpClose, m_address));
    }
    bool usable() const override { return m_proxy->ready(); }

    void frame(const ProxyFrame &f)
    {
        if (f.type == ProxyFrame::TcpClose) {
            if (m_confirmations > 0) {
                --m_confirmations;
                return;
            }
            if (m_open) {
                m_open = false;
                emit closed(QString());
            }
        } else if (f.type == ProxyFrame::TcpStatus && m_open && !m_connected) {
            const quint32 status = qFromLittleEndian<quint32>(f.payload.constData());
            if (status != 0) {
                m_open = false;
                emit closed(QStringLiteral("the proxy could not reach it (status %1)").arg(status));
                return;
            }
            m_connected = true;
            emit opened();
            if (!m_waiting.isEmpty())
                send(std::exchange(m_waiting, QByteArray()));
        } else if (f.type == ProxyFrame::TcpData && m_open && m_connected) {
            emit received(f.payload);
        }
    }
    // The proxy went away: so did the tunnel.
    void lost(const QString &why)
    {
        m_confirmations = 0;
        if (m_open) {
            m_open = false;
            emit closed(why);
        }
    }

private:
    Proxy *m_proxy;
    bool m_open = false;
    bool m_connected = false;
    int m_confirmations = 0;
    quint32 m_address = 0;
    QByteArray m_waiting;
};

// ---- the client -------------------------------------------------------------------------

Proxy::Proxy(QString host, quint16 port, QString callsign, QString password, QObject *parent)
    : QObject(parent), m_host(std::move(host)), m_port(port), m_callsign(std::move(callsign)),
      m_password(std::move(password))
{
    m_tcp = new ProxyTcpLink(this);
    m_retry.setSingleShot(true);
    m_retry.setInterval(kRetryMs);
    connect(&m_retry, &QTimer::timeout, this, &Proxy::connectNow);
    m_nonceWait.setSingleShot(true);
    m_nonceWait.setInterval(kNonceWaitMs);
    connect(&m_nonceWait, &QTimer::timeout, this, [this] { fail(QStringLiteral("no greeting from the proxy")); });
    connect(&m_socket, &QTcpSocket::connected, this, [this] {
        m_state = State::WaitingNonce;
        m_nonceWait.start();
    });
    connect(&m_socket, &QTcpSocket::readyRead, this, [this] { receive(m_socket.readAll()); });
    connect(&m_socket, &QTcpSocket::disconnected, this, [this] { fail(QStringLiteral("the proxy closed the connection")); });
    connect(&m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (e != QAbstractSocket::RemoteHostClosedError)
            fail(m_socket.errorString());
    });
}

Proxy::~Proxy() { m_socket.disconnect(this); }

TcpLink *Proxy::tcpLink() { return m_tcp; }

void Proxy::start() { connectNow(); }

void Proxy::connectNow()
{
    m_retry.stop();
    m_reader = ProxyReader();
    m_nonce.clear();
    m_state = State::Connecting;
    m_socket.abort();
    m_socket.connectToHost(m_host, m_port);
}

void Proxy::fail(const QString &why)
{
    if (m_state == State::Idle)
        return;
    m_state = State::Idle;
    m_nonceWait.stop();
    m_socket.abort();
    m_tcp->lost(QStringLiteral("proxy: ") + why);
    emit readyChanged(false, QStringLiteral("%1 (trying again in %2 s)").arg(why).arg(kRetryMs / 1000));
    m_retry.start();
}

void Proxy::write(const QByteArray &bytes)
{
    if (m_state == State::Ready)
        m_socket.write(bytes);
}

void Proxy::sendUdp(bool control, const QHostAddress &to, const QByteArray &datagram)
{
    write(buildProxyFrame(control ? ProxyFrame::UdpControl : ProxyFrame::UdpData, to.toIPv4Address(), datagram));
}

void Proxy::receive(const QByteArray &bytes)
{
    QByteArray in = bytes;
    if (m_state == State::WaitingNonce) {
        m_nonce += in.left(kNonceBytes - m_nonce.size());
        in.remove(0, qMin(in.size(), qsizetype(kNonceBytes)));
        if (m_nonce.size() < kNonceBytes)
            return;
        m_nonceWait.stop();
        m_state = State::Ready;
        m_socket.write(proxyLogin(m_callsign, m_password, m_nonce));
        emit readyChanged(true, QString());
    }
    if (m_state != State::Ready)
        return;
    m_reader.feed(in.constData(), in.size());
    while (std::optional<ProxyFrame> f = m_reader.next()) {
        frame(*f);
        if (m_state != State::Ready)
            return;
    }
    if (m_reader.why())
        fail(QLatin1String(m_reader.why()));
}

void Proxy::frame(const ProxyFrame &f)
{
    switch (f.type) {
    case ProxyFrame::UdpData:
    case ProxyFrame::UdpControl:
        emit udpReceived(f.type == ProxyFrame::UdpControl, fromProxy(f.address), f.payload);
        break;
    case ProxyFrame::System: {
        const quint8 code = quint8(f.payload[0]);
        fail(code == 1 ? QStringLiteral("the proxy refused the password")
                       : code == 2 ? QStringLiteral("the proxy denied access") : QStringLiteral("the proxy said %1").arg(code));
        break;
    }
    case ProxyFrame::TcpOpen:
        fail(QStringLiteral("the proxy sent what only a client sends"));
        break;
    default:
        m_tcp->frame(f);
        break;
    }
}

} // namespace mirelva::echolink
