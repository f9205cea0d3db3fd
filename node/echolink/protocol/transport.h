#pragma once

#include <QHostAddress>
#include <QObject>
#include <QTcpSocket>

namespace mirelva::echolink {

// One outgoing TCP connection at a time, as the directory needs it: straight
// from this machine, or tunnelled through an EchoLink proxy.
class TcpLink : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // A new connection; an open one is dropped first.
    virtual void open(const QHostAddress &address, quint16 port) = 0;
    virtual void send(const QByteArray &bytes) = 0;
    // Drops the connection; closed() is not raised for it.
    virtual void close() = 0;
    // False while the link cannot open anything (a proxy not yet ready).
    virtual bool usable() const { return true; }

signals:
    void opened();
    void received(const QByteArray &bytes);
    // The far end closed (why empty) or the connection failed (why says it).
    void closed(const QString &why);
};

class SocketTcpLink : public TcpLink {
    Q_OBJECT
public:
    explicit SocketTcpLink(QHostAddress bind = QHostAddress(), QObject *parent = nullptr);
    void open(const QHostAddress &address, quint16 port) override;
    void send(const QByteArray &bytes) override;
    void close() override;

private:
    void dropSocket();
    QHostAddress m_bind;
    QTcpSocket *m_socket = nullptr;
};

} // namespace mirelva::echolink
