// The node's own EchoLink packets against Debian's EchoLib, byte for byte:
// tests/oracle/echolib_oracle (EchoLib on its own event loop, no Qt) logs in
// to a directory this test stands in for and connects to a station it
// stands in for; the bytes it sends must be the ones the node's builders
// make from the same callsign, password, location and name. So the
// directory servers on the internet, which cannot be reached from here, see
// from the node exactly what they see from EchoLib.

#include <QNetworkDatagram>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTime>
#include <QUdpSocket>
#include <QtTest>

#include "node/echolink/protocol/directory.h"
#include "node/echolink/protocol/packets.h"

using namespace mirelva::echolink;

namespace {

const QHostAddress kDirectory(QStringLiteral("127.0.0.77"));
const QHostAddress kOracle(QStringLiteral("127.0.0.78"));
const QHostAddress kStation(QStringLiteral("127.0.0.79"));

quint16 freePortPair(const QHostAddress &a, const QHostAddress &b)
{
    for (int i = 0; i < 50; ++i) {
        QUdpSocket probe;
        if (!probe.bind(a, 0) || probe.localPort() > 65000)
            continue;
        const quint16 p = probe.localPort();
        probe.close();
        QUdpSocket s1, s2, s3;
        if (s1.bind(a, p) && s2.bind(a, p + 1) && s3.bind(b, p + 1))
            return p;
    }
    return 0;
}

} // namespace

class TestEchoLinkOracle : public QObject {
    Q_OBJECT

private slots:
    void ourPacketsAreEchoLibsByteForByte_data()
    {
        QTest::addColumn<QString>("callsign");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("name");
        QTest::newRow("link") << "N0CALL-L" << "Secr3t" << "Test location" << "Test Op";
        QTest::newRow("long location, lower-case call") << "k1abc-r" << "pw with spaces" << "A town with a very long name, FN42"
                                                        << "Repeater K1ABC";
        QTest::newRow("portable callsign, no location or name") << "VK2ABCDE/P-L" << "x" << "" << "";
    }
    void ourPacketsAreEchoLibsByteForByte()
    {
        QFETCH(QString, callsign);
        QFETCH(QString, password);
        QFETCH(QString, location);
        QFETCH(QString, name);
        const QString oracle = qEnvironmentVariable("MIRELVA_BIN_DIR") + "/tests/echolib_oracle";
        if (!QFile::exists(oracle))
            QSKIP("tests/echolib_oracle was not built (libasynccpp-dev or libecholib-dev missing)");

        QTcpServer directory;
        QVERIFY2(directory.listen(kDirectory, 5200), qPrintable(directory.errorString()));
        QByteArray login;
        connect(&directory, &QTcpServer::newConnection, this, [&] {
            QTcpSocket *s = directory.nextPendingConnection();
            connect(s, &QTcpSocket::readyRead, s, [s, &login] {
                login += s->readAll();
                if (login.count('\r') >= 3) {
                    s->write("OK");
                    s->disconnectFromHost();
                }
            });
        });
        const quint16 base = freePortPair(kOracle, kStation);
        QVERIFY(base != 0);
        QUdpSocket station;
        QVERIFY(station.bind(kStation, base + 1));
        QByteArrayList control;
        connect(&station, &QUdpSocket::readyRead, this, [&] {
            while (station.hasPendingDatagrams())
                control << station.receiveDatagram().data();
        });

        const QTime before = QTime::currentTime();
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(oracle, {kDirectory.toString(), kStation.toString(), kOracle.toString(), QString::number(base), callsign,
                         password, location, name});
        QVERIFY(p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(p.state() == QProcess::NotRunning, 10000);
        QCOMPARE(p.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(login.count('\r') >= 3, 5000);
        const QTime after = QTime::currentTime();

        // The login carries the local time: the minute may have turned.
        const QByteArray ours = buildLogin(callsign, password, DirectoryStatus::Online, location, before);
        const QByteArray oursLater = buildLogin(callsign, password, DirectoryStatus::Online, location, after);
        QVERIFY2(login == ours || login == oursLater, qPrintable(login.toHex(' ') + "\n" + ours.toHex(' ')));

        // The connect's SDES (GSM only: no PRIV) and the BYE, in that order.
        QTRY_COMPARE_WITH_TIMEOUT(control.size(), 2, 5000);
        QCOMPARE(control[0].toHex(' '), buildSdes(callsign, name).toHex(' '));
        QCOMPARE(control[1].toHex(' '), buildBye().toHex(' '));
    }
};

QTEST_GUILESS_MAIN(TestEchoLinkOracle)
#include "test_echolink_oracle.moc"
