#include <QSignalSpy>
#include <QTest>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtEndian>

#include <cmath>

#include "node/echolink/audio/conference.h"
#include "node/echolink/audio/gsmcodec.h"
#include "node/echolink/audio/jitterbuffer.h"
#include "node/echolink/audio/soundio.h"
#include "node/echolink/audio/stationaudio.h"

using namespace mirelva::echolink;

namespace {

std::vector<qint16> tone(double hz, int samples, int from = 0, double level = 8000)
{
    std::vector<qint16> out(size_t(samples), 0);
    for (int i = 0; i < samples; ++i)
        out[size_t(i)] = qint16(std::lround(level * std::sin(2 * M_PI * hz * (from + i) / kSampleRate)));
    return out;
}

// Power of one frequency in a frame, against the frame's whole power.
double share(const qint16 *s, double hz)
{
    double re = 0, im = 0, power = 0;
    for (int i = 0; i < kFrameSamples; ++i) {
        re += s[i] * std::cos(2 * M_PI * hz * i / kSampleRate);
        im += s[i] * std::sin(2 * M_PI * hz * i / kSampleRate);
        power += double(s[i]) * s[i];
    }
    return power > 0 ? (re * re + im * im) * 2 / kFrameSamples / power : 0;
}

// The jitter buffer's pulls as runs: "-N" idle, "L4"/"S2" stand-ins, a
// packet's sequence number once all four frames played in order, else
// "seq.part" per frame; idle pulls at the end left out.
QString trace(const QList<JitterBuffer::Frame> &frames)
{
    QStringList out;
    QString run;
    int count = 0;
    auto close = [&] {
        if (count)
            out << run + QString::number(count);
        count = 0;
    };
    for (qsizetype i = 0; i < frames.size(); ++i) {
        const JitterBuffer::Frame &f = frames[i];
        const QString kind = f.kind == JitterBuffer::Kind::Idle ? "-" : f.kind == JitterBuffer::Kind::Lost ? "L" : "S";
        if (f.kind != JitterBuffer::Kind::Audio) {
            if (kind != run)
                close();
            run = kind;
            ++count;
            continue;
        }
        close();
        run.clear();
        const bool whole = f.part == 0 && i + 3 < frames.size() && frames[i + 3].kind == JitterBuffer::Kind::Audio &&
                           frames[i + 3].seq == f.seq && frames[i + 3].part == 3;
        if (whole) {
            out << QString::number(f.seq);
            i += 3;
        } else {
            out << QStringLiteral("%1.%2").arg(f.seq).arg(f.part);
        }
    }
    if (run != "-")
        close();
    return out.join(' ');
}

QString statsText(const JitterStats &s)
{
    return QStringLiteral("packets=%1 dup=%2 late=%3 far=%4 lost=%5 underruns=%6 overs=%7")
        .arg(s.packets).arg(s.duplicates).arg(s.late).arg(s.farOff).arg(s.lostFrames).arg(s.underruns).arg(s.overs);
}

QByteArray payload() { return QByteArray(kGsmPayloadBytes, char(0xD0)); }

} // namespace

class TestEchoLinkAudio : public QObject {
    Q_OBJECT
private slots:
    // A tone through GSM comes back as the same tone, four frames of 33
    // bytes to a packet; short or foreign payloads decode to silence.
    void codecRoundTrip()
    {
        GsmCodec enc, dec;
        std::vector<qint16> back(kPacketSamples);
        for (int p = 0; p < 3; ++p) {
            const auto in = tone(1000, kPacketSamples, p * kPacketSamples);
            const QByteArray gsm = enc.encodePacket(in.data());
            QCOMPARE(gsm.size(), 132);
            for (int f = 0; f < 4; ++f)
                QCOMPARE(quint8(gsm.at(f * 33)) & 0xF0, 0xD0);
            QVERIFY(dec.decodePacket(gsm, back.data()));
        }
        for (int f = 0; f < 4; ++f)
            QVERIFY(share(back.data() + f * kFrameSamples, 1000) > 0.8);
        QVERIFY(!dec.decodePacket(QByteArray(131, char(0xD0)), back.data()));
        QVERIFY(!dec.decodePacket(QByteArray(132, char(0x20)), back.data()));
        QVERIFY(std::all_of(back.begin(), back.end(), [](qint16 s) { return s == 0; }));
    }

    // Packets as they come ("seq@ms"), pulled every 20 ms from 10 ms on.
    void jitterBuffer_data()
    {
        QTest::addColumn<QString>("arrivals");
        QTest::addColumn<QString>("played");
        QTest::addColumn<QString>("stats");
        QTest::newRow("in order") << "0@0 1@80 2@160 3@240" << "-3 0 1 2 3 L5"
                                  << "packets=4 dup=0 late=0 far=0 lost=0 underruns=0 overs=1";
        QTest::newRow("duplicates") << "0@0 1@80 1@85 0@100 2@160" << "-3 0 1 2 L5"
                                    << "packets=3 dup=2 late=0 far=0 lost=0 underruns=0 overs=1";
        QTest::newRow("reordered inside the delay") << "0@0 2@140 1@145 3@240" << "-3 0 1 2 3 L6"
                                                    << "packets=4 dup=0 late=0 far=0 lost=0 underruns=0 overs=1";
        QTest::newRow("lost") << "0@0 1@80 3@240 4@320" << "-3 0 1 L4 3 4 L5"
                              << "packets=4 dup=0 late=0 far=0 lost=4 underruns=0 overs=1";
        QTest::newRow("too late") << "0@0 1@80 3@240 2@330 4@320" << "-3 0 1 L4 3 4 S6 L5"
                                  << "packets=4 dup=0 late=1 far=0 lost=4 underruns=0 overs=1";
        QTest::newRow("late but its last frame in time") << "0@0 1@80 3@240 2@285" << "-3 0 1 L3 2.3 3 S3 L8"
                                                         << "packets=4 dup=0 late=0 far=0 lost=3 underruns=0 overs=1";
        QTest::newRow("a wait grows the delay to the aim in one go")
            << "0@0 1@80 3@240 2@300 4@400 5@400 6@480" << "-3 0 1 L4 3 S4 4 5 6 L5"
            << "packets=6 dup=0 late=1 far=0 lost=4 underruns=1 overs=1";
        QTest::newRow("wrap") << "65534@0 65535@80 0@160 1@240" << "-3 65534 65535 0 1 L5"
                              << "packets=4 dup=0 late=0 far=0 lost=0 underruns=0 overs=1";
        QTest::newRow("far out of order") << "10@0 11@80 500@100 12@160 65000@170" << "-3 10 11 12 L5"
                                          << "packets=3 dup=0 late=0 far=2 lost=0 underruns=0 overs=1";
        QTest::newRow("a new over at any number") << "0@0 1@80 900@1000 901@1080" << "-3 0 1 L5 -37 900 901 L5"
                                                  << "packets=4 dup=0 late=0 far=0 lost=0 underruns=0 overs=2";
        QTest::newRow("short payload") << "0@0 7/1@80 1@85" << "-3 0 1 L5"
                                       << "packets=2 dup=0 late=0 far=0 lost=0 underruns=0 overs=1";
    }
    void jitterBuffer()
    {
        QFETCH(QString, arrivals);
        QFETCH(QString, played);
        QFETCH(QString, stats);
        struct Arrival {
            quint16 seq;
            qint64 at;
            int size;
        };
        QList<Arrival> in;
        for (const QString &a : arrivals.split(' ')) {
            const QStringList parts = a.split('@');
            const QStringList seqSize = parts[0].split('/');
            in << Arrival{quint16(seqSize[0].toUInt()), parts[1].toLongLong(),
                          seqSize.size() > 1 ? seqSize[1].toInt() : kGsmPayloadBytes};
        }
        JitterBuffer jb;
        QList<JitterBuffer::Frame> out;
        qsizetype next = 0;
        for (qint64 now = 0; now < in.last().at + 1000; ++now) {
            for (; next < in.size() && in[next].at <= now; ++next)
                jb.push(in[next].seq, payload().left(in[next].size), now);
            if (now % 20 == 10)
                out << jb.pull(now);
        }
        QCOMPARE(trace(out), played);
        QCOMPARE(statsText(jb.stats()), stats);
        QVERIFY(!jb.overActive());
    }

    // One long over: on a clean network the delay comes down to a few ms;
    // when every fourth packet comes 60 ms late the buffer grows to take it
    // (a few stand-ins while it learns, then none); clean again, it shrinks
    // back once the late packets have left its memory (two minutes of talk).
    void jitterBufferAdapts()
    {
        struct Phase {
            int packets;
            int lateEvery;
            int target;     // at its end
            int maxDelay;
            int maxGaps;    // pulls without a received frame
        };
        const QList<Phase> phases{{200, 0, 2, 50, 0}, {200, 4, 62, 110, 8}, {40, 4, 62, 110, 0}, {300, 0, 62, 110, 0}, {1200, 0, 2, 50, 0}};
        std::multimap<qint64, quint16> arrivals;
        QList<qint64> ends;
        int sent = 0;
        for (const Phase &p : phases) {
            for (int i = 0; i < p.packets; ++i, ++sent)
                arrivals.emplace(1000 + sent * 80 + (p.lateEvery && i % p.lateEvery == 0 ? 60 : 0), quint16(60000 + sent));
            ends << 1000 + sent * 80;
        }
        JitterBuffer jb;
        auto next = arrivals.begin();
        int gaps = 0;
        qint64 now = 0;
        for (qsizetype phase = 0; phase < phases.size(); ++phase) {
            for (; now < ends[phase]; ++now) {
                for (; next != arrivals.end() && next->first <= now; ++next)
                    jb.push(next->second, payload(), now);
                if (now % 20 == 7 && jb.pull(now).kind != JitterBuffer::Kind::Audio && now > 1200)
                    ++gaps;
            }
            QCOMPARE(jb.targetMs(), phases[phase].target);
            QVERIFY(jb.delayMs(now) >= phases[phase].target - 20);
            QVERIFY(jb.delayMs(now) <= phases[phase].maxDelay);
            QVERIFY(gaps <= phases[phase].maxGaps);
            gaps = 0;
        }
        QCOMPARE(jb.stats().overs, 1);
    }

    // The delay a history asks for lets one packet in 750 (one a minute)
    // be later, counted over the last 1500; the early figure is what nine
    // packets in ten were late by at least.
    void latenessHistory_data()
    {
        QTest::addColumn<QString>("added");   // "COUNTxMS ..."
        QTest::addColumn<int>("need");
        QTest::addColumn<int>("early");
        QTest::newRow("nothing") << "" << -1 << 0;
        QTest::newRow("749 packets: a straggler counts") << "748x0 1x90" << 90 << 0;
        QTest::newRow("750 packets: one straggler allowed") << "749x0 1x90" << 0 << 0;
        QTest::newRow("1500 packets: two allowed") << "1498x0 2x90" << 0 << 0;
        QTest::newRow("1500 packets: a third counts") << "1497x0 3x90" << 90 << 0;
        QTest::newRow("stragglers still remembered") << "3x90 1497x0" << 90 << 0;
        QTest::newRow("stragglers forgotten") << "3x90 1500x0" << 0 << 0;
        QTest::newRow("beyond the largest delay") << "1x700" << 600 << 600;
        QTest::newRow("early, negative") << "1x-5" << 0 << 0;
        QTest::newRow("a tenth exactly at 5") << "10x5 90x50" << 50 << 50;
        QTest::newRow("more than a tenth at 5") << "11x5 89x50" << 50 << 5;
    }
    void latenessHistory()
    {
        QFETCH(QString, added);
        QFETCH(int, need);
        QFETCH(int, early);
        LatenessHistory h;
        for (const QString &run : added.split(' ', Qt::SkipEmptyParts)) {
            const QStringList countMs = run.split('x');
            for (int i = 0; i < countMs[0].toInt(); ++i)
                h.add(countMs[1].toInt());
        }
        QCOMPARE(h.needMs(), need);
        QCOMPARE(h.earlyMs(), early);
    }

    // A station's first over starts from what the node has heard of the
    // network from every station, a guess while it has heard fewer than 16
    // packets, and the station's own history once it has 16: when its first
    // frame plays (ms after its first packet, pulled every ms), the aim then.
    // Every packet counts in the node's history too, the over's first as well.
    void firstOverStart_data()
    {
        QTest::addColumn<QString>("network");   // "COUNTxMS ...", the node's history
        QTest::addColumn<int>("ownPackets");    // on time, in an over before
        QTest::addColumn<int>("starts");
        QTest::addColumn<int>("target");
        QTest::newRow("the node has heard no one") << "" << 0 << 62 << 62;
        QTest::newRow("15 packets heard: still a guess") << "14x0" << 0 << 62 << 62;
        QTest::newRow("a clean network") << "15x0" << 0 << 2 << 2;
        QTest::newRow("100 ms of jitter") << "10x0 90x99" << 0 << 101 << 101;
        QTest::newRow("spread jitter: begins before the aim") << "10x10 80x99" << 0 << 91 << 101;
        QTest::newRow("15 of its own: the node's still") << "100x99" << 14 << 101 << 101;
        QTest::newRow("16 of its own: its own") << "100x99" << 15 << 2 << 2;
    }
    void firstOverStart()
    {
        QFETCH(QString, network);
        QFETCH(int, ownPackets);
        QFETCH(int, starts);
        QFETCH(int, target);
        LatenessHistory node;
        JitterBuffer jb(&node);
        qint64 now = 0;
        for (int i = 0; i < ownPackets; ++i, now += 80) {
            jb.push(quint16(i), payload(), now);
            jb.pull(now + 1);
        }
        for (int i = 0; i < 100 && jb.overActive(); ++i, now += 20)
            jb.pull(now);
        QVERIFY(!jb.overActive());
        for (const QString &run : network.split(' ', Qt::SkipEmptyParts)) {
            const QStringList countMs = run.split('x');
            for (int i = 0; i < countMs[0].toInt(); ++i)
                node.add(countMs[1].toInt());
        }
        now += 10000;
        const qint64 first = now;
        jb.push(1000, payload(), now);
        QCOMPARE(jb.targetMs(), target);
        while (jb.pull(now).kind == JitterBuffer::Kind::Idle && now < first + 1000)
            ++now;
        QCOMPARE(int(now - first), starts);
    }

    // A steady tone, one packet lost at each place in the sender's cycle of
    // packets: the stand-ins fade from the last decoded audio, 6 dB a frame,
    // and the frames after are at once within 3 dB of the same frames
    // without the loss: the decoder never out of step with the sender.
    void levelAfterLoss_data()
    {
        QTest::addColumn<int>("lost");   // packet index
        for (int p = 0; p < 25; ++p)
            QTest::addRow("packet %d of the cycle lost", p) << 50 + p;
    }
    void levelAfterLoss()
    {
        QFETCH(int, lost);
        // The tone as a sender encodes it: 25 packets, sent round and round.
        GsmCodec enc;
        QList<QByteArray> cycle;
        for (int p = 0; p < 25; ++p)
            cycle << enc.encodePacket(tone(1000, kPacketSamples, p * kPacketSamples).data());
        const auto play = [&](int without, int *standInsFrom) {
            StationAudio station;
            QList<double> levels;
            qint16 frame[kFrameSamples];
            for (qint64 now = 0; now < 120 * 80 + 600; now += 20) {
                if (now % 80 == 0 && now / 80 < 120 && now / 80 != without)
                    station.push(quint16(now / 80), cycle[int(now / 80 % 25)], now);
                if (!station.pull(now + 1, frame))
                    continue;
                if (station.lastSeq() == without && *standInsFrom < 0)
                    *standInsFrom = int(levels.size());
                double power = 0;
                for (int i = 0; i < kFrameSamples; ++i)
                    power += double(frame[i]) * frame[i];
                levels << 10 * std::log10(power / kFrameSamples / (32768.0 * 32768.0) + 1e-12);
            }
            return levels;
        };
        int unused = -1, from = -1;
        const QList<double> clean = play(-1, &unused);
        const QList<double> levels = play(lost, &from);
        QCOMPARE(levels.size(), clean.size());
        QVERIFY(from > 100);
        for (int f = 0; f < 4; ++f)
            QVERIFY2(std::abs(levels[from + f] - (levels[from - 1] - 6.02 * f)) < 0.5,
                     qPrintable(QStringLiteral("stand-in %1: %2 dB").arg(f).arg(levels[from + f])));
        for (qsizetype f = from + 4; f < levels.size(); ++f)
            QVERIFY2(levels[f] > clean[f] - 3, qPrintable(QStringLiteral("frame %1 after the loss: %2 dB, without it %3 dB")
                                                              .arg(f - from).arg(levels[f]).arg(clean[f])));
    }

    // Who hears whom: sources start in the order given, 100 ms apart (a
    // station by sending GSM packets, the radio by its squelch opening,
    // Mirelva by speaking); each is a tone of its own, and what every output
    // carries half a second in is named by its tones.
    void conferenceRouting_data()
    {
        QTest::addColumn<QString>("starts");
        QTest::addColumn<QString>("talker");
        QTest::addColumn<QString>("heard");   // transmitter, then K1AAA, K2BBB, K3CCC
        QTest::newRow("the radio") << "radio" << "W1AW-L" << "- radio radio radio";
        QTest::newRow("a station") << "K1AAA" << "K1AAA" << "K1AAA - K1AAA K1AAA";
        QTest::newRow("a station, then the radio") << "K1AAA radio" << "K1AAA" << "K1AAA - K1AAA K1AAA";
        QTest::newRow("the radio, then a station") << "radio K1AAA" << "W1AW-L" << "- radio radio radio";
        QTest::newRow("two stations") << "K2BBB K1AAA" << "K2BBB" << "K2BBB K2BBB - K2BBB";
        QTest::newRow("Mirelva over a station") << "K1AAA mirelva" << "K1AAA"
                                                << "K1AAA+mirelva mirelva K1AAA+mirelva K1AAA+mirelva";
        QTest::newRow("Mirelva over the radio") << "radio mirelva" << "W1AW-L" << "mirelva mirelva mirelva mirelva";
        QTest::newRow("nobody") << "" << "" << "- - - -";
    }
    void conferenceRouting()
    {
        QFETCH(QString, starts);
        QFETCH(QString, talker);
        QFETCH(QString, heard);
        const QMap<QString, double> pitch{{"radio", 500}, {"K1AAA", 1000}, {"K2BBB", 1500}, {"mirelva", 2500}};
        const QStringList calls{"K1AAA", "K2BBB", "K3CCC"};
        Conference conf("W1AW-L", "Newington", "Mirelva", 4);
        std::map<QString, GsmCodec> encoders;
        for (const QString &c : calls)
            QVERIFY(conf.addStation(c, c.toLower()));
        const QStringList order = starts.split(' ', Qt::SkipEmptyParts);
        auto names = [&](const qint16 *s) {
            if (!s)
                return QString("-");
            QStringList on;
            for (auto it = pitch.begin(); it != pitch.end(); ++it)
                if (share(s, it.value()) > 0.15)
                    on << it.key();
            return on.join('+');
        };
        QString seen;
        for (qint64 now = 0; now <= 500; now += 20) {
            auto on = [&](const QString &who) { return order.contains(who) && now >= 100 * order.indexOf(who); };
            for (const QString &c : calls)
                if (on(c) && now % 80 == 0)
                    conf.audio(c)->push(quint16(now / 80), encoders[c].encodePacket(tone(pitch[c], 640, int(now) * 8).data()), now);
            const auto radio = tone(pitch["radio"], 160, int(now) * 8);
            const auto local = tone(pitch["mirelva"], 160, int(now) * 8);
            conf.route(on("radio") ? radio.data() : nullptr, on("mirelva") ? local.data() : nullptr, now);
        }
        QStringList outs{names(conf.transmitter())};
        for (const QString &c : calls)
            outs << names(conf.forStation(c));
        QCOMPARE(conf.talker(), talker);
        QCOMPARE(outs.join(' '), heard);
    }

    // A talker alone is passed to the others packet by packet as it comes,
    // unchanged; should Mirelva speak during the over, the rest goes mixed
    // and re-encoded, the span already passed on not sent twice. What
    // K2BBB is sent: the talker's packets passed on (by sequence number),
    // then how many re-encoded frames carry the talker's tone (of the over's
    // 40, those not passed on, and the 4 fading stand-ins after its end).
    void conferencePassesOn_data()
    {
        QTest::addColumn<int>("mirelvaFrom");   // ms, -1 silent
        QTest::addColumn<int>("duplicateAt");   // ms: packet 1 again, -1 never
        QTest::addColumn<QString>("sent");
        QTest::addColumn<int>("firstSeq");
        QTest::newRow("a talker alone") << -1 << -1 << "0 1 2 3 4 5 6 7 8 9 / 0" << 0;
        QTest::newRow("a duplicate") << -1 << 100 << "0 1 2 3 4 5 6 7 8 9 / 0" << 0;
        QTest::newRow("Mirelva in the middle") << 200 << -1 << "0 1 2 / 32" << 0;
        QTest::newRow("Mirelva with the first packet") << 0 << -1 << "0 / 40" << 0;
        // The sequence numbers run over 65535 back to 0 within the over.
        QTest::newRow("a talker across the wrap") << -1 << 100 << "0 1 2 3 4 5 6 7 8 9 / 0" << 65533;
        QTest::newRow("Mirelva in the middle, across the wrap") << 200 << -1 << "0 1 2 / 32" << 65534;
    }
    void conferencePassesOn()
    {
        QFETCH(int, mirelvaFrom);
        QFETCH(int, duplicateAt);
        QFETCH(QString, sent);
        QFETCH(int, firstSeq);
        Conference conf("W1AW-L", "Newington", "Mirelva", 4);
        for (const QString c : {"K1AAA", "K2BBB", "K3CCC"})
            QVERIFY(conf.addStation(c, c.toLower()));
        GsmCodec enc, dec;
        QList<QByteArray> payloads;
        QStringList passed;
        int talkerFrames = 0, mirelvaFrames = 0;
        const auto local = tone(2500, 160);
        for (qint64 now = 0; now <= 1500; now += 20) {
            if (now % 80 == 0 && now < 800) {
                payloads << enc.encodePacket(tone(1000, 640, int(now) * 8).data());
                conf.receive("K1AAA", quint16(firstSeq + payloads.size() - 1), payloads.last(), now);
            }
            if (now == duplicateAt)
                QVERIFY(!conf.receive("K1AAA", quint16(firstSeq + 1), payloads[1], now));
            const bool speaks = mirelvaFrom >= 0 && now >= mirelvaFrom && now < mirelvaFrom + 200;
            conf.route(nullptr, speaks ? local.data() : nullptr, now);
            for (const Conference::Outgoing &o : conf.takePackets()) {
                if (o.stations.contains("K1AAA")) {
                    QCOMPARE(o.stations, QStringList{"K1AAA"});
                    continue;
                }
                QCOMPARE(o.stations, QStringList({"K2BBB", "K3CCC"}));
                if (const qsizetype seq = payloads.indexOf(o.payload); seq >= 0) {
                    passed << QString::number(seq);
                    continue;
                }
                for (int f = 0; f < kFramesPerPacket; ++f) {
                    qint16 pcm[kFrameSamples];
                    QVERIFY(dec.decodeFrame(o.payload.constData() + f * kGsmFrameBytes, kGsmFrameBytes, pcm));
                    talkerFrames += share(pcm, 1000) > 0.15;
                    mirelvaFrames += share(pcm, 2500) > 0.15;
                }
            }
        }
        QCOMPARE(passed.join(' ') + QString(" / %1").arg(talkerFrames), sent);
        QCOMPARE(mirelvaFrames > 0, mirelvaFrom >= 0);
    }

    // The roster follows every change; chat goes to the others, named by
    // its sender's own callsign; MAXQSOS bounds the conference; an over
    // sent to the stations goes as GSM packets, one encoding for all.
    void conferenceRosterAndChat()
    {
        Conference conf("W1AW-L", "Newington, CT", "Mirelva 3.0.3 EchoLink node W1AW-L", 2);
        QSignalSpy roster(&conf, &Conference::rosterChanged);
        QVERIFY(conf.addStation("K1AAA", "Alice"));
        QVERIFY(conf.addStation("N0CALL-L", "Test node"));
        QVERIFY(!conf.addStation("K3CCC", "Carol"));
        QVERIFY(!conf.addStation("K1AAA", "Alice"));
        GsmCodec enc;
        const auto radio = tone(700, 160);
        for (qint64 now = 0; now < 400; now += 20) {
            if (now % 80 == 0)
                conf.audio("K1AAA")->push(quint16(now / 80), enc.encodePacket(tone(1000, 640).data()), now);
            conf.route(now >= 100 ? radio.data() : nullptr, nullptr, now);
        }
        QList<Conference::Outgoing> packets = conf.takePackets();
        QVERIFY(!packets.isEmpty());
        for (const Conference::Outgoing &o : packets) {
            QCOMPARE(o.payload.size(), 132);
            QCOMPARE(o.stations, QStringList{"N0CALL-L"});
        }
        conf.removeStation("K1AAA");
        conf.route(radio.data(), nullptr, 400);
        QStringList texts;
        for (const auto &r : roster)
            texts << r.at(0).toString();
        const QString head = "Mirelva 3.0.3 EchoLink node W1AW-L";
        QCOMPARE(texts, QStringList({
            head + " (1)\n\n  W1AW-L      Newington, CT\n  K1AAA       Alice",
            head + " (2)\n\n  W1AW-L      Newington, CT\n  K1AAA       Alice\n  N0CALL-L    Test node",
            head + " (2)\n\n  W1AW-L      Newington, CT\n> K1AAA       Alice\n  N0CALL-L    Test node",
            head + " (1)\n\n  W1AW-L      Newington, CT\n  N0CALL-L    Test node",
            head + " (1)\n\n> W1AW-L      Newington, CT\n  N0CALL-L    Test node",
        }));
        QVERIFY(conf.addStation("K1AAA", "Alice"));

        const Conference::ChatRelay chat = conf.relayChat("K1AAA", "K1AAA>hello all\r\n\n");
        QCOMPARE(chat.toMirelva, QString("K1AAA>hello all"));
        QCOMPARE(chat.message, QString("K1AAA>hello all"));
        QCOMPARE(chat.to, QStringList{"N0CALL-L"});
        // A text claiming another sender is passed on under the real one.
        QCOMPARE(conf.relayChat("N0CALL-L", "W1AW>I am\x01 the node").message, QString("N0CALL-L>W1AW>I am  the node"));
        QVERIFY(conf.relayChat("K1AAA", "K1AAA>\n").to.isEmpty());
        QVERIFY(conf.relayChat("K9ZZZ", "K9ZZZ>hi").to.isEmpty());
        // A text of any length goes on as its first 500 characters.
        QCOMPARE(conf.relayChat("K1AAA", QString(100000, 'a')).message, "K1AAA>" + QString(500, 'a'));
    }

    void soundDeviceNames_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("parsed");
        QTest::newRow("alsa") << "alsa:plughw:1,0" << "alsa plughw:1,0";
        QTest::newRow("udp") << "udp:127.0.0.1:10001" << "udp 127.0.0.1 10001";
        QTest::newRow("alsa, no name") << "alsa:" << "";
        QTest::newRow("udp, a host name") << "udp:radio:10001" << "";
        QTest::newRow("udp, port too big") << "udp:127.0.0.1:70000" << "";
        QTest::newRow("oss") << "oss:/dev/dsp" << "";
    }
    void soundDeviceNames()
    {
        QFETCH(QString, text);
        QFETCH(QString, parsed);
        const std::optional<SoundDevice> d = SoundDevice::parse(text);
        const QString got = !d ? QString()
                            : d->kind == SoundDevice::Alsa
                                ? "alsa " + d->alsaName
                                : QStringLiteral("udp %1 %2").arg(d->host.toString()).arg(d->port);
        QCOMPARE(got, parsed);
    }

    // An ALSA output (ALSA's null device, no card needed) rests from its
    // opening until audio comes, takes what it is given at the pumps and
    // rests again once nothing comes; an input is read at the pumps.
    void alsaNullDevices()
    {
        QString error;
        int given = 0;
        std::unique_ptr<SoundOutput> out = SoundOutput::open(
            QStringLiteral("alsa:null"),
            [&](qint16 *s) {
                if (given >= 10)
                    return false;
                std::fill(s, s + kFrameSamples, qint16(1000));
                ++given;
                return true;
            },
            &error);
        if (!out)
            QSKIP(qPrintable(QStringLiteral("no ALSA null device here: ") + error));
        QVERIFY(out->resting());
        out->pump();
        QCOMPARE(given, 0);
        out->wake();
        for (int i = 0; i < 100 && !out->resting(); ++i)
            out->pump();
        QCOMPARE(given, 10);
        QVERIFY(out->resting());
        std::unique_ptr<SoundInput> in = SoundInput::open(QStringLiteral("alsa:null"), &error);
        QVERIFY2(in, qPrintable(error));
        in->setPaced(true);
        in->pump();
        in->setPaced(false);
    }

    // A receiver paced by the node's tick is read at the tick only: audio
    // waiting in it wakes no one; unpaced again, what waited is read at
    // once, and later audio as it comes.
    void pacedInput()
    {
        QString error;
        QUdpSocket probe;
        QVERIFY(probe.bind(QHostAddress::LocalHost, 0));
        const quint16 port = probe.localPort();
        probe.close();
        std::unique_ptr<SoundInput> in = SoundInput::open(QStringLiteral("udp:127.0.0.1:%1").arg(port), &error);
        QVERIFY2(in, qPrintable(error));
        int frames = 0;
        connect(in.get(), &SoundInput::frame, this, [&] { ++frames; });
        QUdpSocket sender;
        const QByteArray frame(2 * kFrameSamples, '\0');
        const auto sendAndSettle = [&] {
            sender.writeDatagram(frame, QHostAddress::LocalHost, port);
            QCoreApplication::processEvents();
            QCoreApplication::processEvents();
        };
        in->setPaced(true);
        sendAndSettle();
        QCOMPARE(frames, 0);
        in->pump();
        QCOMPARE(frames, 1);
        sendAndSettle();
        QCOMPARE(frames, 1);
        in->setPaced(false);
        QCOMPARE(frames, 2);
        sendAndSettle();
        QTRY_COMPARE(frames, 3);
    }

    // UDP devices: datagrams of any size make 20 ms frames; the output sends
    // what its source gives, one frame a datagram at each pump, and rests
    // after half a second of pumps with nothing. An ALSA device that is not there is said, not waited for.
    void udpSoundDevices()
    {
        QString error;
        QUdpSocket probe;
        QVERIFY(probe.bind(QHostAddress::LocalHost, 0));
        const quint16 port = probe.localPort();
        probe.close();
        std::unique_ptr<SoundInput> in = SoundInput::open(QStringLiteral("udp:127.0.0.1:%1").arg(port), &error);
        QVERIFY2(in, qPrintable(error));
        QList<qint16> firsts;
        connect(in.get(), &SoundInput::frame, this, [&](const qint16 *s) { firsts << s[0]; });
        QByteArray bytes;
        for (int i = 0; i < 400; ++i) {
            char b[2];
            qToLittleEndian<qint16>(qint16(i), b);
            bytes.append(b, 2);
        }
        QUdpSocket sender;
        sender.writeDatagram(bytes.left(250), QHostAddress::LocalHost, port);
        sender.writeDatagram(bytes.mid(250), QHostAddress::LocalHost, port);
        QTRY_COMPARE(firsts, (QList<qint16>{0, 160}));

        QUdpSocket radio;
        QVERIFY(radio.bind(QHostAddress::LocalHost, 0));
        int given = 0;
        std::unique_ptr<SoundOutput> out = SoundOutput::open(
            QStringLiteral("udp:127.0.0.1:%1").arg(radio.localPort()),
            [&](qint16 *s) {
                if (given >= 3)
                    return false;
                std::fill(s, s + kFrameSamples, qint16(100 + given++));
                return true;
            },
            &error);
        QVERIFY(out && out->resting());
        out->wake();
        QList<qint16> sent;
        connect(&radio, &QUdpSocket::readyRead, this, [&] {
            while (radio.hasPendingDatagrams()) {
                const QByteArray d = radio.receiveDatagram().data();
                QCOMPARE(d.size(), 320);
                sent << qFromLittleEndian<qint16>(d.constData() + 318);
            }
        });
        // The owner's tick paces it: a frame a pump, none of its own.
        out->pump();
        out->pump();
        QTRY_COMPARE(sent, (QList<qint16>{100, 101}));
        // The third, then half a second of nothing.
        for (int i = 0; i <= SoundOutput::kRestAfterMs / kFrameMs; ++i) {
            QVERIFY(!out->resting());
            out->pump();
        }
        QTRY_COMPARE(sent, (QList<qint16>{100, 101, 102}));
        QVERIFY(out->resting());
        out->pump();
        out->wake();
        QVERIFY(!out->resting());

        QVERIFY(!SoundOutput::open("alsa:mirelva_no_such_device", {}, &error));
        QVERIFY2(error.startsWith("alsa:mirelva_no_such_device: "), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestEchoLinkAudio)
#include "test_echolink_audio.moc"
