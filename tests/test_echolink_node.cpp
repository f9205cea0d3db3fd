// mirelva-echolink end to end, with no internet and no sound card: a
// stand-in EchoLink directory on 127.0.0.1:5200, a real SvxLink as the far
// station on 127.0.0.2, a stand-in station on 127.0.0.3 that the directory
// lists there, mirelva-echolink on 127.0.0.1 with UDP audio for its radio,
// and the real `mirelva` attached to it over a Unix socket.
//
// Mirelva's minute timers and its net scheduler run on the wall clock, so
// this test waits real time: about two and a half minutes. EchoLink's ports
// are fixed; it cannot run twice at once (RESOURCE_LOCK echolink_ports).

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <unistd.h>

#include "node/echolink/audio/gsmcodec.h"
#include "node/echolink/protocol/qso.h"
#include "support/echolinkdirectory.h"
#include "support/echolinkstation.h"
#include "support/program.h"
#include "support/svxlinkstation.h"
#include "support/udpradio.h"

using namespace mirelva::test;

namespace {

const QHostAddress kLocal(QStringLiteral("127.0.0.1"));
const QHostAddress kFar(QStringLiteral("127.0.0.2"));
const QHostAddress kSecond(QStringLiteral("127.0.0.3"));
const QHostAddress kImpostor(QStringLiteral("127.0.0.4"));
const QString kSecondCall = QStringLiteral("VK2DEF");
const QString kNodeCall = QStringLiteral("VK2XYZ-L");
const QString kFarCall = QStringLiteral("VK2ABC-L");
// The rate of mirelva-echolink's UDP sound devices.
constexpr int kNodeRate = 8000;

bool portsFree(QString *why)
{
    for (const QHostAddress &a : {kLocal, kFar, kSecond})
        for (quint16 port : {5198, 5199}) {
            QUdpSocket s;
            if (!s.bind(a, port)) {
                *why = QStringLiteral("UDP %1:%2 is taken (%3)").arg(a.toString()).arg(port).arg(s.errorString());
                return false;
            }
        }
    return true;
}

// Where the transmitter's loud blocks have their power, for a failure message.
QString dominant(const UdpRadio &r, size_t from)
{
    QStringList l;
    for (int hz = 200; hz < 4000; hz += 100) {
        const auto [loud, at] = r.loudBlocks(from, hz);
        if (at > 0)
            l << QString("%1 Hz: %2/%3").arg(hz).arg(at).arg(loud);
    }
    return l.join(", ");
}

// The next time the wall clock shows second 15 of a minute, at least `ahead`
// from now: when Mirelva starts its nets.
QDateTime netStartAfter(int aheadSeconds)
{
    QDateTime t = QDateTime::currentDateTime().addSecs(aheadSeconds);
    t.setTime(QTime(t.time().hour(), t.time().minute(), 15));
    while (t < QDateTime::currentDateTime().addSecs(aheadSeconds))
        t = t.addSecs(60);
    return t;
}

// What a station received from the node, decoded, at 8 kHz.
std::vector<float> decoded(const QByteArrayList &payloads)
{
    mirelva::echolink::GsmCodec codec;
    std::vector<float> out;
    qint16 pcm[mirelva::echolink::kPacketSamples];
    for (const QByteArray &p : payloads) {
        codec.decodePacket(p, pcm);
        for (qint16 v : pcm)
            out.push_back(float(v) / 32768.0f);
    }
    return out;
}

// A station's over: `ms` of a tone in GSM packets, one every 80 ms.
void talk(EchoLinkStation &station, double hz, int ms)
{
    mirelva::echolink::GsmCodec codec;
    const std::vector<float> t = tone(8000, ms, hz);
    for (size_t at = 0; at + mirelva::echolink::kPacketSamples <= t.size(); at += mirelva::echolink::kPacketSamples) {
        qint16 pcm[mirelva::echolink::kPacketSamples];
        for (int i = 0; i < mirelva::echolink::kPacketSamples; ++i)
            pcm[i] = qint16(t[at + size_t(i)] * 32767);
        station.sendGsm(codec.encodePacket(pcm));
        QTest::qWait(mirelva::echolink::kPacketMs);
    }
}

} // namespace

class TestEchoLinkNode : public QObject {
    Q_OBJECT

private slots:
    void aQsoWithARealSvxLink()
    {
        QString why;
        if (!SvxLinkStation::available(&why))
            QSKIP(qPrintable(why + ": the EchoLink node's end-to-end test is skipped"));
        if (!portsFree(&why))
            QSKIP(qPrintable(why + ": another EchoLink station runs on this machine; the test is skipped"));
        EchoLinkDirectory directory;
        if (!directory.listen(&why))
            QSKIP(qPrintable(why + ": the stand-in directory needs the port; the test is skipped"));
        directory.addStation({kSecondCall, QStringLiteral("Stand-in"), QStringLiteral("ON"), 7777, kSecond});
        directory.addStation({QStringLiteral("*TESTCONF*"), QStringLiteral("Conference"), QStringLiteral("ON"), 8888, kImpostor});
        const QString bin = binDir();
        QVERIFY(QFile::exists(bin + "/mirelva-echolink") && QFile::exists(bin + "/mirelva"));

        QTemporaryDir dir;
        const QString run = dir.filePath("run");
        const QString cfg = dir.filePath("config/mirelva");
        QVERIFY(QDir().mkpath(run));
        QFile::setPermissions(run, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QElapsedTimer clock;
        clock.start();

        // The far station logs in to the directory.
        SvxLinkConf farConf;
        farConf.bindAddr = kFar.toString();
        farConf.echolinkCallsign = kFarCall;
        SvxLinkStation far(dir.filePath("far"), farConf, clock);
        QVERIFY2(far.start(&why), qPrintable(why));
        QTRY_COMPARE_WITH_TIMEOUT(directory.status(kFarCall), QStringLiteral("ONLINE"), 15000);

        UdpRadio radio(kNodeRate);
        QVERIFY2(radio.open(&why), qPrintable(why));
        QVERIFY(writeFile(cfg + "/echolink.ini",
                          QStringLiteral("[SETTINGS]\nCALLSIGN=%1\nPASSWORD=s3cret\nLOCATION=Mirelva on loopback\n"
                                         "SERVERS=127.0.0.1\nBINDADDR=127.0.0.1\nLISTEN=unix:%2/node.sock\n"
                                         "RXAUDIO=udp:127.0.0.1:%3\nTXAUDIO=udp:127.0.0.1:%4\nSQL=vox\n"
                                         "DTMFPAUSE=1000\nTXHANG=300\nDENY=*CONF*\n")
                              .arg(kNodeCall, run)
                              .arg(radio.rxPort)
                              .arg(radio.txPort)
                              .toUtf8()));
        QVERIFY(writeFile(cfg + "/nodelink.ini",
                          QStringLiteral("[SETTINGS]\nADDRESS=unix:%1/node.sock\nAUDIODEVICE=node\n").arg(run).toUtf8()));
        // Auto-connect to the far station, kept; no courtesy letters after
        // overs, so the transmitter carries the station alone.
        QVERIFY(writeFile(cfg + "/mirelva.ini", "[SETTINGS]\nCONNECTSTATION1=VK2ABC-L\nSTAYCON1=1\nUSECT=0\n"));
        // "456" connects and disconnects the far station; net 1 joins it
        // every day, shown busy, for half an hour. Mirelva's minute check
        // connects a minute after start; the net comes after that.
        const QDateTime netStart = netStartAfter(75);
        QVERIFY(writeFile(cfg + "/dtmfctrl.ini",
                          QStringLiteral("[SETTINGS]\nDTMF1=456\nCALL1=%1\nSUN=1\nMON=1\nTUE=1\nWED=1\nTHUR=1\nFRI=1\n"
                                         "SAT=1\nHOUR=%2\nMINS=%3\nNETCALL1=%1\nSHOWBUSY1=1\nDISCMINS1=30\n")
                              .arg(kFarCall, netStart.toString("HH"), netStart.toString("mm"))
                              .toUtf8()));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        env.insert("XDG_RUNTIME_DIR", run);

        Program node(bin + "/mirelva-echolink", {"--trace"}, env, clock);
        QTRY_COMPARE_WITH_TIMEOUT(directory.status(kNodeCall), QStringLiteral("ONLINE"), 15000);
        const EchoLinkDirectory::Login login = directory.logins.last();
        QCOMPARE(login.password, QStringLiteral("s3cret"));
        QCOMPARE(login.location, QStringLiteral("Mirelva on loopback"));
        QCOMPARE(login.from, kLocal);
        auto requests = [&node] { return node.outWith("request "); };
        auto events = [&node] { return node.outWith("event "); };

        Program mirelva(bin + "/mirelva", {}, env, clock);
        QTRY_VERIFY_WITH_TIMEOUT(mirelva.log().contains("caption: Mirelva    " + kNodeCall + "   v3.0.3"), 15000);

        // The minute check connects by callsign: looked up in the directory,
        // the QSO reaches SvxLink.
        QTRY_VERIFY_WITH_TIMEOUT(requests().contains(R"({"op":"Connect","call":"VK2ABC-L"})"), 75000);
        QTRY_VERIFY_WITH_TIMEOUT(far.events().contains("remote_connected " + kNodeCall), 10000);
        QVERIFY(directory.listRequests > 0);
        QTRY_VERIFY_WITH_TIMEOUT(!events().filter(R"("event":"connected")").filter(kFarCall).isEmpty(), 10000);

        // The greeting (a link's: text 4) arrives at SvxLink as a chat text,
        // with the name the QSO gave (SvxLink's SYSOPNAME).
        const QRegularExpression greeting("^VK2XYZ-L>\\(\\d\\d:\\d\\d\\) Hello Test Has Joined us$");
        QTRY_VERIFY2_WITH_TIMEOUT(!far.chats().filter(greeting).isEmpty(), qPrintable(far.chats().join(" | ")), 10000);

        // A chat from the station reaches the message box, which answers
        // "/ver/" with Mirelva's version. SvxLink 19.09 cannot send chat, so
        // the text is sent from its address (another port: SvxLink holds
        // 5198); EchoLib knows a station by its address.
        EchoLinkStation chatter(kFar, kLocal);
        QVERIFY2(chatter.bind(&why, 0, 0), qPrintable(why));
        chatter.chat("VK2ABC-L>/ver/");
        QTRY_VERIFY_WITH_TIMEOUT(events().contains(R"({"event":"chat","text":"VK2ABC-L>/ver/"})"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(far.chats().contains("VK2XYZ-L>Mirelva  v3.0.3"), 5000);

        // A station claiming the second station's callsign from another
        // address is refused once the directory has been asked again, and
        // sent nothing; the real one, from its listed address, joins.
        EchoLinkStation impostor(kImpostor, kLocal);
        QVERIFY2(impostor.bind(&why, 0, 0), qPrintable(why));
        impostor.connectToNode(kSecondCall.toLatin1(), "Mallory");
        const int listsBefore = directory.listRequests;
        QTRY_VERIFY_WITH_TIMEOUT(node.log().join('\n').contains("echolink: dropped 1 packet from 127.0.0.4: 1 VK2DEF refused, "
                                                                 "the directory lists VK2DEF at 127.0.0.3, not at 127.0.0.4"),
                                 10000);
        QCOMPARE(directory.listRequests, listsBefore + 1);
        // A conference the directory lists where it calls from meets DENY's
        // pattern, its stars and all.
        impostor.connectToNode("*TESTCONF*", "Conf");
        QTRY_VERIFY_WITH_TIMEOUT(node.log().join('\n').contains("echolink: refused *TESTCONF* (Conf) from 127.0.0.4: *TESTCONF* "
                                                                 "matches DENY pattern *CONF*"),
                                 10000);
        EchoLinkStation second(kSecond, kLocal);
        QVERIFY2(second.bind(&why), qPrintable(why));
        second.connectToNode(kSecondCall.toLatin1(), "Bob");
        second.keepAlive();
        QTRY_VERIFY_WITH_TIMEOUT(!events().filter(R"("event":"connected")").filter(kSecondCall).isEmpty(), 10000);
        QCOMPARE(impostor.sdesReceived, 0);
        // Both stations get the node's info text listing both.
        QTRY_VERIFY_WITH_TIMEOUT(!second.infos.isEmpty() && second.infos.last().contains(kFarCall) &&
                                     second.infos.last().contains(kSecondCall),
                                 5000);
        QVERIFY2(second.infos.last().startsWith("Mirelva 3.0.3 EchoLink node VK2XYZ-L (2)\n"), qPrintable(second.infos.last()));

        // EchoLib's crash packet and a few hundred malformed packets from
        // fifty other addresses: dropped, counted and told in a few lines;
        // both stations stay connected (they are heard below).
        const QByteArray crash = QByteArray::fromHex("c0c9000100000000c0caffff00000000");
        {
            QUdpSocket first;
            QVERIFY(first.bind(QHostAddress("127.0.0.10"), 0));
            first.writeDatagram(crash, kLocal, 5199);
            QTRY_VERIFY_WITH_TIMEOUT(node.log().join('\n').contains(
                                         "echolink: dropped 1 packet from 127.0.0.10: 1 control subpacket longer than the packet"),
                                     5000);
            const QList<QPair<quint16, QByteArray>> bad = {
                {5199, crash},
                {5199, QByteArray::fromHex("c0c9000100000000c1ca00020000000002ff4b31")},
                {5199, QByteArray("\xc0\xc9\x00", 3)},
                {5198, QByteArray::fromHex("c0030001") + QByteArray(60, 'x')},
                {5198, QByteArray("oNDATAno end")},
            };
            for (int a = 11; a < 60; ++a) {
                QUdpSocket from;
                QVERIFY(from.bind(QHostAddress(QStringLiteral("127.0.0.%1").arg(a)), 0));
                for (int i = 0; i < 10; ++i)
                    from.writeDatagram(bad[i % bad.size()].second, kLocal, bad[i % bad.size()].first);
                QTest::qWait(5);
            }
        }
        QTest::qWait(500);
        QCOMPARE(node.p.state(), QProcess::Running);
        QVERIFY(events().filter(R"("event":"disconnected")").isEmpty());

        // The net starts: the node shows busy in the directory.
        QTRY_VERIFY_WITH_TIMEOUT(requests().contains(R"({"op":"SetBusy","on":true})"),
                                 int(QDateTime::currentDateTime().msecsTo(netStart)) + 5000);
        QTRY_COMPARE_WITH_TIMEOUT(directory.status(kNodeCall), QStringLiteral("BUSY"), 5000);

        // The station talks: its audio keys the transmitter. Mirelva's own
        // announcements are let finish first; the station's 1 kHz is what
        // is looked for.
        QTRY_VERIFY_WITH_TIMEOUT(radio.quietFor(1500), 30000);
        const size_t beforeTalk = radio.out.size();
        const auto keyings = [&node] { return node.log().filter("echolink: transmitter keyed").size(); };
        const qsizetype keyedBefore = keyings();
        const qsizetype secondHeardBefore = second.gsmReceived.size();
        far.squelch(true);
        far.radio().say(tone(SvxLinkStation::kSampleRate, 2000, 1000));
        QTRY_VERIFY_WITH_TIMEOUT(events().contains(R"({"event":"rx","on":true})"), 5000);
        QTRY_VERIFY2_WITH_TIMEOUT(radio.loudBlocks(beforeTalk, 1000).second >= 25, qPrintable(dominant(radio, beforeTalk)), 8000);
        QVERIFY(keyings() > keyedBefore);
        // The other station hears it too.
        const auto secondHeard = [&] { return loudBlocks(decoded(second.gsmReceived.mid(secondHeardBefore)), 0, 8000, 1000); };
        QTRY_VERIFY2_WITH_TIMEOUT(secondHeard().second >= 25,
                                  qPrintable(QStringLiteral("%1 packets, %2 loud blocks, %3 at 1 kHz")
                                                 .arg(second.gsmReceived.size() - secondHeardBefore)
                                                 .arg(secondHeard().first)
                                                 .arg(secondHeard().second)),
                                  8000);
        far.squelch(false);
        QTRY_VERIFY_WITH_TIMEOUT(events().contains(R"({"event":"rx","on":false})"), 5000);

        // The second station talks: SvxLink hears it on its transmitter, as
        // does the node's; its chat reaches SvxLink and Mirelva.
        QTRY_VERIFY_WITH_TIMEOUT(radio.quietFor(1000), 10000);
        const size_t farBefore = far.radio().out.size();
        const size_t radioBefore = radio.out.size();
        talk(second, 700, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(far.radio().loudBlocks(farBefore, 700).second >= 25, 8000);
        QTRY_VERIFY_WITH_TIMEOUT(radio.loudBlocks(radioBefore, 700).second >= 25, 8000);
        second.chat("VK2DEF>hello both");
        QTRY_VERIFY_WITH_TIMEOUT(events().contains(R"({"event":"chat","text":"VK2DEF>hello both"})"), 5000);
        QTRY_VERIFY2_WITH_TIMEOUT(far.chats().contains("VK2XYZ-L>VK2DEF>hello both"), qPrintable(far.chats().join(" | ")), 5000);
        chatter.chat("VK2ABC-L>hello Bob");
        QTRY_VERIFY2_WITH_TIMEOUT(second.chats.contains("VK2XYZ-L>VK2ABC-L>hello Bob"), qPrintable(second.chats.join(" | ")), 5000);
        // 8-bit text as Qtel (ISO-8859-1) and Windows clients send it passes
        // on as the same bytes; Mirelva reads it decoded.
        for (const QByteArray &text : {QByteArray("Gr\xfc\xdf" "e"), QByteArray("\x93" "73\x94 \x80")}) {
            chatter.chat("VK2ABC-L>" + text);
            QTRY_VERIFY2_WITH_TIMEOUT(second.chatBytes.contains("VK2XYZ-L>VK2ABC-L>" + text),
                                      qPrintable(second.chatBytes.join(" | ").toHex(' ')), 5000);
        }
        QVERIFY(node.log().join('\n').contains(QString::fromUtf8("chat from VK2ABC-L: VK2ABC-L>“73” €")));
        // A station pasting a long text: a few lines reach Mirelva and the
        // other station, the rest is counted and told in one line.
        const auto chatEvents = [&events] { return events().filter(R"("event":"chat")"); };
        const qsizetype chatsBefore = chatEvents().size(), relayedBefore = second.chatBytes.size();
        for (int i = 0; i < 200; ++i)
            chatter.chat("VK2ABC-L>line " + QByteArray::number(i));
        QTRY_VERIFY_WITH_TIMEOUT(!chatEvents().filter("texts held back, more than a few a second: ").isEmpty(), 15000);
        const QStringList flood = chatEvents().mid(chatsBefore);
        QVERIFY2(flood.size() <= int(mirelva::echolink::Qso::kTextBurst) + 2, qPrintable(flood.join('\n')));
        QVERIFY(second.chatBytes.size() - relayedBefore <= flood.size());
        QVERIFY2(QRegularExpression(R"(VK2XYZ-L>\d+ chat and info texts held back, more than a few a second: \d+ from VK2ABC-L)")
                     .match(flood.last()).hasMatch(),
                 qPrintable(flood.last()));

        // DTMF on the radio, opening the VOX squelch: one string to Mirelva,
        // whose code for the far station disconnects it.
        radio.say(dtmfTones(kNodeRate, "456"));
        QTRY_VERIFY_WITH_TIMEOUT(events().contains(R"({"event":"dtmf","digits":"456"})"), 8000);
        QCOMPARE(events().filter(R"("event":"dtmf")").size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(requests().contains(R"({"op":"Disconnect","call":"VK2ABC-L"})"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(far.events().contains("disconnected " + kNodeCall), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(events().contains(R"({"event":"disconnected","call":"VK2ABC-L"})"), 5000);

        // SvxLink connects in, by the node's number, keyed in on its DTMF.
        QTest::qWait(3000);
        const auto listed = directory.stations();
        const auto self = std::find_if(listed.begin(), listed.end(), [](const auto &st) { return st.callsign == kNodeCall; });
        QVERIFY(self != listed.end());
        const int dtmf = openPty(far.conf().run + "/dtmf");
        QVERIFY(dtmf >= 0);
        QVERIFY(::write(dtmf, "D9#", 3) == 3);
        QTest::qWait(1000);
        const QByteArray number = QByteArray::number(self->node) + '#';
        QVERIFY(::write(dtmf, number.constData(), size_t(number.size())) == number.size());
        QTRY_VERIFY2_WITH_TIMEOUT(node.log().join('\n').contains("echolink: VK2ABC-L (Test) calling from 127.0.0.2; accepted"),
                                  qPrintable(node.log().mid(node.log().size() - 15).join('\n')), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(events().filter(R"("event":"connected")").filter(kFarCall).size() == 2, 10000);
        ::close(dtmf);
        // Both leave: the second station with a BYE, SvxLink by Mirelva's
        // code again.
        second.leave();
        QTRY_VERIFY_WITH_TIMEOUT(events().contains(R"({"event":"disconnected","call":"VK2DEF"})"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(radio.quietFor(1500), 30000);
        radio.say(dtmfTones(kNodeRate, "456"));
        QTRY_VERIFY_WITH_TIMEOUT(events().filter(R"({"event":"disconnected","call":"VK2ABC-L"})").size() == 2, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(radio.quietFor(1500), 30000);

        // The node stops: Mirelva hears closing, releases the radio and
        // ends; the transmitter is quiet and the node is off the directory.
        const qsizetype before = requests().size();
        node.p.terminate();
        QTRY_VERIFY_WITH_TIMEOUT(events().contains(R"({"event":"closing"})"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(mirelva.finishedAt >= 0, 10000);
        QCOMPARE(mirelva.p.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(node.finishedAt >= 0, 10000);
        QCOMPARE(node.p.exitCode(), 0);
        // Mirelva's last words to the node release the radio.
        QVERIFY(requests().size() >= before + 3);
        QVERIFY2(requests().mid(requests().size() - 3) == (QStringList{R"({"op":"SetPTT","on":false})", R"({"op":"SetDTR","on":false})",
                                                                      R"({"op":"SetRTS","on":false})"}),
                 qPrintable(requests().mid(requests().size() - 8).join('\n')));
        QCOMPARE(directory.status(kNodeCall), QStringLiteral("OFF"));
        const QStringList keying = node.log().filter(QRegularExpression("transmitter (keyed|released)"));
        QVERIFY(!keying.isEmpty());
        QVERIFY2(keying.last().contains("released"), qPrintable(keying.last()));
        // The password never showed.
        QVERIFY(!node.errText().contains("s3cret") && !mirelva.errText().contains("s3cret"));
    }
};

QTEST_GUILESS_MAIN(TestEchoLinkNode)
#include "test_echolink_node.moc"
