#include <QNetworkDatagram>
#include <QTest>
#include <QUdpSocket>

#include "node/echolink/protocol/arrival.h"

using namespace mirelva::echolink;

// A packet's arrival is taken from the kernel's receive stamp, so the time it
// waited in the socket while the node's thread was busy is not learnt as the
// network's jitter; a stamp not to be believed is not used.
class TestEchoLinkTiming : public QObject {
    Q_OBJECT
private slots:
    void arrival_data()
    {
        QTest::addColumn<qint64>("ageNs");
        QTest::addColumn<qint64>("arrival");   // at now = 100000 ms
        QTest::newRow("no stamp") << qint64(-1) << qint64(100000);
        QTest::newRow("read at once") << qint64(0) << qint64(100000);
        QTest::newRow("under a millisecond") << qint64(999999) << qint64(100000);
        QTest::newRow("waited 30 ms") << qint64(30000000) << qint64(99970);
        QTest::newRow("waited just under 5 s") << qint64(4999999999) << qint64(95001);
        QTest::newRow("5 s: the wall clock was set") << qint64(5000000000) << qint64(100000);
        QTest::newRow("from the future: the wall clock was set") << qint64(-30000000) << qint64(100000);
    }
    void arrival()
    {
        QFETCH(qint64, ageNs);
        QFETCH(qint64, arrival);
        QCOMPARE(arrivalMs(100000, ageNs), arrival);
    }

    // A real socket: the first ask turns stamping on, the next datagram
    // read has a stamp from just now; no socket, no stamp.
    void kernelStamps()
    {
        QCOMPARE(receiveAgeNs(-1), qint64(-1));
        QUdpSocket in, out;
        QVERIFY(in.bind(QHostAddress::LocalHost, 0));
        receiveAgeNs(in.socketDescriptor());
        out.writeDatagram("a", QHostAddress::LocalHost, in.localPort());
        QTRY_VERIFY(in.hasPendingDatagrams());
        QCOMPARE(in.receiveDatagram().data(), QByteArray("a"));
        const qint64 age = receiveAgeNs(in.socketDescriptor());
        QVERIFY2(age >= 0 && age < 1000000000, qPrintable(QString::number(age)));
    }
};

QTEST_GUILESS_MAIN(TestEchoLinkTiming)
#include "test_echolink_timing.moc"
