// The dispatcher on real UDP sockets under what the internet sends a node:
// a station is connected from 127.0.0.60 and talking while EchoLib's crash
// packet and thousands of malformed control and audio packets come from two
// hundred other loopback addresses, and one address floods. The station
// stays connected and heard; every bad packet is dropped and counted; the
// log gets one line an address and minute, at most ten a minute, and one
// line for the rest. The dispatcher's clock is the test's.

#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QUdpSocket>
#include <QtTest>

#include "node/echolink/protocol/dispatcher.h"

using namespace mirelva::echolink;

namespace {

const QHostAddress kNode(QStringLiteral("127.0.0.1"));
const QHostAddress kStation(QStringLiteral("127.0.0.60"));

quint16 freePortPair()
{
    for (int i = 0; i < 50; ++i) {
        QUdpSocket probe;
        if (!probe.bind(kNode, 0) || probe.localPort() > 65000)
            continue;
        const quint16 p = probe.localPort();
        probe.close();
        QUdpSocket a, b, c, d;
        if (a.bind(kNode, p) && b.bind(kNode, p + 1) && c.bind(kStation, p) && d.bind(kStation, p + 1))
            return p;
    }
    return 0;
}

// Bad packets of every kind the readers refuse, control (true) or audio.
QList<QPair<bool, QByteArray>> malformedPackets()
{
    const QByteArray rr = QByteArray::fromHex("c0c9000100000000");
    const QByteArray gsm(kGsmPayloadBytes, 'g');
    return {
        {true, QByteArray::fromHex("c0c9000100000000c0caffff00000000")},   // EchoLib's crash
        {true, rr + QByteArray::fromHex("c1ca00020000000002ff4b31")},       // item past its end
        {true, buildSdes("K1ABC", "x").left(40)},
        {true, buildSdes("K1ABC", "x").mid(8)},                           // no report first
        {true, QByteArray("\xc0")},
        {true, rr},
        {false, buildAudio(1, gsm).left(100)},
        {false, QByteArray::fromHex("c0960001") + QByteArray(40, 's')},
        {false, QByteArray("oNDATAno terminator")},
        {false, QByteArray("\x05\x06\x07")},
    };
}

} // namespace

class TestEchoLinkFlood : public QObject {
    Q_OBJECT

private slots:
    void aConnectedStationOutlastsAFlood()
    {
        const quint16 base = freePortPair();
        QVERIFY(base != 0);
        qint64 now = 1000000;
        Dispatcher d({kNode, base}, [&now] { return now; });
        QString why;
        QVERIFY2(d.open(&why), qPrintable(why));
        QStringList notes;
        connect(&d, &Dispatcher::note, this, [&notes](const QString &l) { notes << l; });
        QPointer<Qso> qso;
        int heard = 0;
        connect(&d, &Dispatcher::incomingConnection, this, [&](const QHostAddress &from, const ControlPacket &sdes) {
            QCOMPARE(sdes.callsign, QStringLiteral("K1ABC"));
            qso = d.createQso(from, {"N0CALL-L", "Test", "Test node"});
            connect(qso, &Qso::audioReceived, this, [&heard] { ++heard; });
            qso->accept(now);
        });

        // The station: its ports are the node's numbers, on its own address.
        QUdpSocket stationCtrl, stationAudio;
        QVERIFY(stationCtrl.bind(kStation, base + 1) && stationAudio.bind(kStation, base));
        int sdesIn = 0;
        connect(&stationCtrl, &QUdpSocket::readyRead, this, [&] {
            while (stationCtrl.hasPendingDatagrams()) {
                const QByteArray b = stationCtrl.receiveDatagram().data();
                const std::optional<ControlPacket> p = parseControl(b.constData(), b.size());
                sdesIn += p && p->kind == ControlPacket::Sdes;
            }
        });
        stationCtrl.writeDatagram(buildSdes("K1ABC", "Jo"), kNode, base + 1);
        QTRY_VERIFY(qso && qso->state() == Qso::State::Connected);
        QTRY_COMPARE(sdesIn, 1);

        // EchoLib's crash packet; two hundred addresses, twenty bad packets
        // each, the station's audio between them; one address sends 200 at
        // once.
        const QList<QPair<bool, QByteArray>> bad = malformedPackets();
        QUdpSocket crasher;
        QVERIFY(crasher.bind(QHostAddress(QStringLiteral("127.0.0.61")), 0));
        crasher.writeDatagram(bad[0].second, kNode, base + 1);
        quint64 sent = d.counters().received + 1;
        QTRY_COMPARE(d.counters().received, sent);
        QCOMPARE(notes, QStringList{"dropped 1 packet from 127.0.0.61: 1 control subpacket longer than the packet"});
        quint16 seq = 0;
        for (int a = 0; a < 200; ++a) {
            QUdpSocket from;
            QVERIFY(from.bind(QHostAddress(QStringLiteral("127.0.1.%1").arg(a + 1)), 0));
            for (int i = 0; i < 20; ++i) {
                const auto &[control, bytes] = bad[(a + i) % bad.size()];
                from.writeDatagram(bytes, kNode, control ? base + 1 : base);
            }
            stationAudio.writeDatagram(buildAudio(seq++, QByteArray(kGsmPayloadBytes, 'a')), kNode, base);
            sent += 21;
            QTRY_COMPARE(d.counters().received, sent);
            now += 80;   // the station's packets come 80 ms apart
        }
        QUdpSocket flooder;
        QVERIFY(flooder.bind(QHostAddress(QStringLiteral("127.0.2.1")), 0));
        for (int i = 0; i < 200; ++i) {
            flooder.writeDatagram(bad[6].second, kNode, base);
            if (i % 50 == 49) {
                sent += 50;
                QTRY_COMPARE(d.counters().received, sent);
            }
        }

        QCOMPARE(qso->state(), Qso::State::Connected);
        QCOMPARE(heard, 200);
        // Each address's burst allowance is 80 packets: the flooder's last
        // 120 were over the rate, the rest malformed.
        QCOMPARE(d.counters().malformed, quint64(1 + 200 * 20 + 80));
        QCOMPARE(d.counters().rateLimited, quint64(120));
        QCOMPARE(d.counters().unknownSource, quint64(0));
        // Ten lines this minute: the first ten addresses' first drops.
        QCOMPARE(notes.size(), Dispatcher::kDropLinesPerMinute);
        QVERIFY2(notes[1].startsWith("dropped 1 packet from 127.0.1.1: 1 "), qPrintable(notes[1]));
        QVERIFY2(notes[9].startsWith("dropped 1 packet from 127.0.1.9: 1 "), qPrintable(notes[9]));

        // The station's keep-alive 40 s after its audio; 20 s later the
        // node's own go on, and the minute's drops are told in one line.
        now += 40000;
        stationCtrl.writeDatagram(buildSdes("K1ABC", "Jo"), kNode, base + 1);
        QTRY_COMPARE(d.counters().received, sent + 1);
        now += 20000;
        d.tick();
        QCOMPARE(qso->state(), Qso::State::Connected);
        QTRY_VERIFY(sdesIn >= 2);
        QCOMPARE(notes.size(), Dispatcher::kDropLinesPerMinute + 1);
        QCOMPARE(notes.last(), "dropped 4191 packets from 201 addresses in the last minute, besides those told one by one");
    }
};

QTEST_GUILESS_MAIN(TestEchoLinkFlood)
#include "test_echolink_flood.moc"
