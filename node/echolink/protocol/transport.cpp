#include "node/echolink/protocol/transport.h"

namespace mirelva::echolink {

SocketTcpLink::SocketTcpLink(QHostAddress bind, QObject *parent) : TcpLink(parent), m_bind(std::move(bind)) {}

void SocketTcpLink::dropSocket()
{
    if (!m_socket)
        return;
    m_socket->disconnect(this);
    m_socket->abort();
    m_socket->deleteLater();
    m_socket = nullptr;
}

void SocketTcpLink::open(const QHostAddress &address, quint16 port)
{
    dropSocket();
    m_socket = new QTcpSocket(this);
    QTcpSocket *s = m_socket;
    connect(s, &QTcpSocket::connected, this, &TcpLink::opened);
    connect(s, &QTcpSocket::readyRead, this, [this, s] { emit received(s->readAll()); });
    connect(s, &QTcpSocket::disconnected, this, [this, s] {
        if (s != m_socket)
            return;
        // What came with the close is read first.
        if (s->bytesAvailable() > 0)
            emit received(s->readAll());
        dropSocket();
        emit closed(QString());
    });
    connect(s, &QTcpSocket::errorOccurred, this, [this, s](QAbstractSocket::SocketError e) {
        if (s != m_socket || e == QAbstractSocket::RemoteHostClosedError)
            return;
        const QString why = s->errorString();
        dropSocket();
        emit closed(why);
    });
    if (!m_bind.isNull() && !s->bind(m_bind)) {
        const QString why = QStringLiteral("cannot bind to %1: %2").arg(m_bind.toString(), s->errorString());
        dropSocket();
        QMetaObject::invokeMethod(this, [this, why] { emit closed(why); }, Qt::QueuedConnection);
        return;
    }
    s->connectToHost(address, port);
}

void SocketTcpLink::send(const QByteArray &bytes)
{
    if (m_socket)
        m_socket->write(bytes);
}

void SocketTcpLink::close() { dropSocket(); }

} // namespace mirelva::echolink
