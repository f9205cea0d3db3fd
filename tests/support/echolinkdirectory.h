#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QVector>

namespace mirelva::test {

// An EchoLink directory server of the test's own, speaking the directory's
// text protocol on TCP (one connection per command):
//   login  "l" CALL 0xAC 0xAC PASSWORD CR STATUS+VERSION CR LOCATION CR -> "OK"
//   list   "s" -> "@@@" LF COUNT LF, per station CALL LF DESCRIPTION [ST hh:mm] LF
//          NODE LF IP LF, then "+++"
// A station that logs in is listed at the address it came from, with its
// status, until it logs in as OFF; stations added by the test are listed
// always.
class EchoLinkDirectory : public QObject {
public:
    struct Login {
        QString callsign, password;
        QString status;        // "ONLINE", "BUSY" or "OFF"
        QString version;       // what followed the status, e.g. "3.38(19:08)"
        QString location;
        QHostAddress from;
    };
    struct Station {
        QString callsign, description, status;   // status "ON", "BUSY"
        int node = 0;
        QHostAddress address;
    };

    bool listen(QString *why, const QHostAddress &address = QHostAddress(QStringLiteral("127.0.0.1")),
                quint16 port = 5200);
    void addStation(const Station &s) { m_fixed.push_back(s); }

    // Every login in order of arrival, and how many lists were asked for.
    QVector<Login> logins;
    int listRequests = 0;
    // Bytes that were neither a login nor a list request (should stay empty).
    QByteArrayList strayCommands;

    // The status the callsign last logged in with ("" when it never did).
    QString status(const QString &callsign) const;
    // The statuses the callsign logged in with, in order, repeats folded:
    // {"ONLINE", "BUSY", "ONLINE"}.
    QStringList statusChanges(const QString &callsign) const;
    QVector<Station> stations() const;

private:
    void serve(class QTcpSocket *s);
    bool answer(QTcpSocket *s, QByteArray &buf);
    QTcpServer m_server;
    QVector<Station> m_fixed;
};

} // namespace mirelva::test
