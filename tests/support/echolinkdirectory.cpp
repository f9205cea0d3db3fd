#include "support/echolinkdirectory.h"

#include <QTcpSocket>
#include <QTime>

namespace mirelva::test {

bool EchoLinkDirectory::listen(QString *why, const QHostAddress &address, quint16 port)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *s = m_server.nextPendingConnection())
            serve(s);
    });
    if (m_server.listen(address, port))
        return true;
    *why = QStringLiteral("cannot listen on %1:%2 (%3)").arg(address.toString()).arg(port).arg(m_server.errorString());
    return false;
}

void EchoLinkDirectory::serve(QTcpSocket *s)
{
    auto buf = std::make_shared<QByteArray>();
    connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
    connect(s, &QTcpSocket::readyRead, this, [this, s, buf] {
        *buf += s->readAll();
        if (answer(s, *buf))
            s->disconnectFromHost();
    });
}

// True once the command is complete and answered (or refused).
bool EchoLinkDirectory::answer(QTcpSocket *s, QByteArray &buf)
{
    if (buf.startsWith('s')) {
        ++listRequests;
        const QVector<Station> list = stations();
        QByteArray out = "@@@\n" + QByteArray::number(list.size()) + '\n';
        const QByteArray time = QTime::currentTime().toString(QStringLiteral("HH:mm")).toLatin1();
        for (const Station &st : list) {
            out += st.callsign.toLatin1() + '\n';
            out += st.description.toLatin1() + " [" + st.status.toLatin1() + ' ' + time + "]\n";
            out += QByteArray::number(st.node) + '\n';
            out += st.address.toString().toLatin1() + '\n';
        }
        out += "+++";
        s->write(out);
        return true;
    }
    if (buf.startsWith('l')) {
        const qsizetype marks = buf.indexOf("\xAC\xAC");
        if (marks < 0 || buf.count('\r') < 3)
            return false;   // more to come
        const QList<QByteArray> rest = buf.mid(marks + 2).split('\r');
        Login l;
        l.callsign = QString::fromLatin1(buf.mid(1, marks - 1));
        l.password = QString::fromLatin1(rest.value(0));
        const QString statusLine = QString::fromLatin1(rest.value(1));
        for (const char *st : {"ONLINE", "BUSY", "OFF"})
            if (statusLine.startsWith(QLatin1String(st)))
                l.status = QLatin1String(st);
        l.version = statusLine.mid(l.status.size());
        l.location = QString::fromLatin1(rest.value(2));
        l.from = s->peerAddress();
        logins.push_back(l);
        s->write("OK");
        return true;
    }
    if (!buf.isEmpty())
        strayCommands << buf;
    return true;
}

QString EchoLinkDirectory::status(const QString &callsign) const
{
    const QStringList changes = statusChanges(callsign);
    return changes.isEmpty() ? QString() : changes.last();
}

QStringList EchoLinkDirectory::statusChanges(const QString &callsign) const
{
    QStringList l;
    for (const Login &login : logins)
        if (login.callsign == callsign && (l.isEmpty() || l.last() != login.status))
            l << login.status;
    return l;
}

QVector<EchoLinkDirectory::Station> EchoLinkDirectory::stations() const
{
    QVector<Station> list = m_fixed;
    QStringList seen;
    // The newest login of each station decides; its number is its place.
    for (qsizetype i = logins.size() - 1; i >= 0; --i) {
        const Login &l = logins[i];
        if (seen.contains(l.callsign))
            continue;
        seen << l.callsign;
        if (l.status == QLatin1String("OFF"))
            continue;
        const int node = 100000 + int(std::find_if(logins.begin(), logins.end(), [&](const Login &x) {
                                          return x.callsign == l.callsign;
                                      }) - logins.begin());
        list.push_back({l.callsign, l.location, l.status == QLatin1String("BUSY") ? QStringLiteral("BUSY")
                                                                                    : QStringLiteral("ON"),
                        node, l.from});
    }
    return list;
}

} // namespace mirelva::test
