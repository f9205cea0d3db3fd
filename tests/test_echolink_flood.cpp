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

    // What one connected station, or a crowd of made-up addresses, sends
    // for a simulated minute and more, packet by packet on the test's
    // clock: every packet is raised, held back or dropped (and counted), the
    // station stays connected, the log gains a few lines a minute, and a
    // station calling in meanwhile is heard.
    void floodsAreBounded_data()
    {
        QTest::addColumn<QString>("flood");
        QTest::addColumn<int>("perSecond");
        QTest::addColumn<int>("maxRaised");   // texts raised over the whole flood
        QTest::addColumn<int>("maxNotes");    // log lines a minute
        // The QSO's texts: a burst of five, then two a second for the 70 s
        // the flood lasts but the last moment.
        const int texts = int(Qso::kTextBurst + Qso::kTextsPerSecond * 70) - 1;
        QTest::newRow("chat") << "chat" << 1000 << texts << 4;
        QTest::newRow("info") << "info" << 1000 << texts << 4;
        QTest::newRow("SDES") << "sdes" << 1000 << 0 << 4;
        // Audio five times as fast as any station's: its keep-alives pass.
        QTest::newRow("audio") << "audio" << 500 << 0 << 4;
        // One packet from each of 4,200 addresses, again every 30 s.
        QTest::newRow("forged addresses") << "forged" << 4200 << 0 << Dispatcher::kDropLinesPerMinute + 3;
    }
    void floodsAreBounded()
    {
        QFETCH(QString, flood);
        QFETCH(int, perSecond);
        QFETCH(int, maxRaised);
        QFETCH(int, maxNotes);
        const qint64 start = 1000000;
        qint64 now = start;
        Dispatcher d({kNode, 5198}, [&now] { return now; });
        QStringList notes;
        connect(&d, &Dispatcher::note, this, [&notes](const QString &l) { notes << l; });
        QList<QHostAddress> callers;
        connect(&d, &Dispatcher::incomingConnection, this, [&callers](const QHostAddress &from) { callers << from; });
        Qso *qso = d.createQso(kStation, {"N0CALL-L", "Test", ""});
        qso->accept(now);
        int raised = 0, held = 0;
        connect(qso, &Qso::chatReceived, this, [&raised] { ++raised; });
        connect(qso, &Qso::infoReceived, this, [&raised] { ++raised; });
        connect(qso, &Qso::textsHeld, this, [&held](int n) { held += n; });
        const QByteArray sdes = buildSdes("K1ABC", "Jo");
        const QByteArray junk("\x05", 1);
        quint64 sent = 0;
        const QHostAddress fresh("10.99.0.1");
        for (int second = 0; second < 70; ++second) {
            for (int i = 0; i < perSecond; ++i) {
                now += 1;
                if (i % 1000 == 0)
                    now += 1000 - std::min(perSecond, 1000);   // the rest of the second, spread
                ++sent;
                if (flood == "chat") {
                    const QByteArray t = "oNDATAK1ABC>line " + QByteArray::number(i) + "\r\n" + '\0';
                    d.datagram(false, kStation, t.constData(), t.size());
                } else if (flood == "info") {
                    const QByteArray t = "oNDATA\rK1ABC " + QByteArray::number(second * perSecond + i) + '\0';
                    d.datagram(false, kStation, t.constData(), t.size());
                } else if (flood == "sdes")
                    d.datagram(true, kStation, sdes.constData(), sdes.size());
                else if (flood == "audio") {
                    const QByteArray a = buildAudio(quint16(i), QByteArray(kGsmPayloadBytes, 'a'));
                    d.datagram(false, kStation, a.constData(), a.size());
                } else if (second % 30 == 0) {
                    d.datagram(true, QHostAddress(quint32(0x0B000000 + i)), junk.constData(), 1);
                } else {
                    --sent;
                }
            }
            // The station's keep-alive every 10 s; someone new calls at 45 s.
            if (second % 10 == 9) {
                d.datagram(true, kStation, sdes.constData(), sdes.size());
                ++sent;
            }
            // A burst of made-up senders forgets the oldest, never the station's.
            if (flood == "forged" && second > 0 && second % 30 == 0)
                QVERIFY(d.remembers(kStation));
            if (second == 45) {
                d.datagram(true, fresh, sdes.constData(), sdes.size());
                ++sent;
            }
            d.tick();
        }
        now += 60000;
        d.datagram(true, kStation, sdes.constData(), sdes.size());
        ++sent;
        d.tick();

        QCOMPARE(qso->state(), Qso::State::Connected);
        QCOMPARE(callers, QList<QHostAddress>{fresh});
        QCOMPARE(raised, maxRaised);
        QVERIFY(d.sources() <= Dispatcher::kMaxSources);
        // Nothing lost untold: raised, held back, dropped, or the station's
        // own keep-alives and audio.
        const quint64 passed = flood == "chat" || flood == "info" ? quint64(raised + held) : 0;
        if (flood == "chat" || flood == "info" || flood == "forged")
            QCOMPARE(passed + d.counters().dropped() + 8 + 1, sent);
        const qint64 minutes = (now - start) / Dispatcher::kMinuteMs + 1;
        QVERIFY2(notes.size() <= maxNotes * minutes, qPrintable(QString::number(notes.size()) + "\n" + notes.join("\n")));
        if (perSecond > 40 && flood != "forged")
            QVERIFY2(notes.first().contains(flood == "sdes" ? " over the control port's rate limit (10 a second)"
                                                            : " over the audio port's rate limit (40 a second)"),
                     qPrintable(notes.join('\n')));
        if (flood == "forged") {
            QVERIFY(d.counters().forgotten >= 4200 - Dispatcher::kMaxSources);
            const qsizetype told = notes.filter("the least recently heard are forgotten").size();
            QVERIFY2(told >= 1 && told <= minutes, qPrintable(notes.filter("forg").join("\n")));
        }
    }
};

QTEST_GUILESS_MAIN(TestEchoLinkFlood)
#include "test_echolink_flood.moc"
