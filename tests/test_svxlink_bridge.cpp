// mirelva-svxlink end to end: a real SvxLink, started headless by the bridge
// on loopback (UDP audio kept fed, PTYs for the squelch and both PTTs, no
// sound card, no directory, no internet), the real `mirelva` attached to the
// bridge, and a stand-in EchoLink station of our own on 127.0.0.2 speaking
// the EchoLink UDP protocol (RTCP SDES and BYE on port 5199, chat on 5198).
//
// SvxLink's EchoLink ports are fixed, so this test cannot run twice at once;
// it is skipped, with a message, only where svxlink is not installed.

#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>
#include <QtTest>

#include <memory>

#include "support/echolinkstation.h"
#include "support/program.h"
#include "support/svxlinkstation.h"

using namespace mirelva::test;

namespace {

const QString kSvxLink = QStringLiteral("/usr/bin/svxlink");
const QHostAddress kNode(QStringLiteral("127.0.0.1"));

} // namespace

class TestSvxLinkBridge : public QObject {
    Q_OBJECT

private slots:
    // A bridge killed without its closing steps takes its SvxLink along: an
    // orphan would keep the node's ports from the next bridge.
    void svxlinkGoesWithAKilledBridge()
    {
        QTemporaryDir dir;
        const QString run = dir.filePath("run");
        const QString pidFile = dir.filePath("svxlink.pid");
        const QString fake = dir.filePath("svxlink");
        QVERIFY(QDir().mkpath(run));
        QVERIFY(QFile::setPermissions(run, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        QVERIFY(writeFile(fake, QStringLiteral("#!/bin/sh\necho $$ > %1\nexec sleep 60\n").arg(pidFile).toUtf8()));
        QVERIFY(QFile::setPermissions(fake, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        QVERIFY(writeFile(dir.filePath("svxlink.conf"), {}));
        QVERIFY(writeFile(dir.filePath("config/mirelva/svxlink.ini"),
                  QStringLiteral("[SETTINGS]\nFOLDER=%1\nSVXLINK=%2\nSVXLINK_CONFIG=%3\n")
                      .arg(run, fake, dir.filePath("svxlink.conf"))
                      .toUtf8()));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        env.insert("XDG_RUNTIME_DIR", run);
        QElapsedTimer clock;
        clock.start();
        qint64 svxlink = 0;
        {
            Program bridge(binDir() + "/mirelva-svxlink", {}, env, clock);
            QFile pid(pidFile);
            QTRY_VERIFY_WITH_TIMEOUT(pid.size() > 0, 10000);
            QVERIFY(pid.open(QIODevice::ReadOnly));
            svxlink = pid.readAll().trimmed().toLongLong();
            QVERIFY(svxlink > 0 && !processEnded(svxlink));
        } // killed with SIGKILL
        QTRY_VERIFY_WITH_TIMEOUT(processEnded(svxlink), 5000);
    }

    void aStationOnARealSvxLink()
    {
        if (!QFileInfo(kSvxLink).isExecutable())
            QSKIP("svxlink is not installed (Debian package svxlink-server, see scripts/install-deps.sh): "
                  "the bridge's end-to-end test is skipped");
        const QString bin = binDir();
        QVERIFY(QFile::exists(bin + "/mirelva-svxlink") && QFile::exists(bin + "/mirelva"));

        QTemporaryDir dir;
        const QString run = dir.filePath("run");
        const QString cfg = dir.filePath("config/mirelva");

        // The receiver's audio comes from our feeder; the transmitter's goes
        // to our socket. Both on free loopback ports.
        QUdpSocket txAudio;
        QVERIFY(txAudio.bind(kNode, 0));
        const quint16 rxPort = freeUdpPort(kNode);
        EchoLinkStation station;
        QString why;
        QVERIFY2(station.bind(&why), qPrintable(why));

        SvxLinkConf conf;
        conf.run = run;
        conf.eventHandler = run + "/events/events.tcl";
        conf.rxPort = rxPort;
        conf.txPort = txAudio.localPort();
        QVERIFY(!conf.write(dir.filePath("svxlink")).isEmpty());
        QVERIFY(writeFile(cfg + "/svxlink.ini", QStringLiteral("[SETTINGS]\nFOLDER=%1\nSVXLINK_CONFIG=%2\nPTT=pty:%1/ptt\n"
                                                       "CALLSIGN=VK2ABC-L\nDTMF_TIMEOUT=3000\n")
                                            .arg(run, dir.filePath("svxlink/svxlink.conf"))
                                            .toUtf8()));
        QVERIFY(writeFile(cfg + "/nodelink.ini", QStringLiteral("[SETTINGS]\nADDRESS=unix:%1/node.sock\nAUDIODEVICE=node\n").arg(run).toUtf8()));
        // The local time on "123" (the default), and W1AW on and off with "456".
        QVERIFY(writeFile(cfg + "/dtmfctrl.ini", "[SETTINGS]\nDTMF1=456\nCALL1=W1AW\n"));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        env.insert("XDG_RUNTIME_DIR", run);
        QElapsedTimer clock;
        clock.start();

        Program bridge(bin + "/mirelva-svxlink", {"--trace"}, env, clock);
        QTRY_VERIFY_WITH_TIMEOUT(bridge.errText().contains("svxlink: reading " + run + "/state"), 15000);
        QVERIFY(bridge.errText().contains("SimplexLogic: Event handler script successfully loaded."));
        const QRegularExpression pidRe("svxlink: started .* \\(process (\\d+)\\)");
        const qint64 svxlinkPid = pidRe.match(bridge.errText()).captured(1).toLongLong();
        QVERIFY(svxlinkPid > 0);

        // Silence on the receiver keeps SvxLink's audio path, and with it
        // squelch and DTMF handling, moving.
        QUdpSocket feeder;
        QTimer feed;
        connect(&feed, &QTimer::timeout, &feeder, [&] { feeder.writeDatagram(QByteArray(640, '\0'), kNode, rxPort); });
        feed.start(20);
        qint64 txBytes = 0;
        connect(&txAudio, &QUdpSocket::readyRead, &txAudio, [&] {
            while (txAudio.hasPendingDatagrams()) {
                const QByteArray d = txAudio.receiveDatagram().data();
                if (d.count('\0') != d.size())
                    txBytes += d.size();
            }
        });

        // The radio: SvxLink's squelch PTY, and the transmitter the bridge keys.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(run + "/radio") && QFile::exists(run + "/ptt"), 5000);
        const int squelch = openPty(run + "/radio");
        const int ptt = openPty(run + "/ptt");
        QVERIFY(squelch >= 0 && ptt >= 0);
        QByteArray pttBytes;
        QSocketNotifier pttReader(ptt, QSocketNotifier::Read);
        connect(&pttReader, &QSocketNotifier::activated, &pttReader, [&] {
            char b[64];
            ssize_t n;
            while ((n = ::read(ptt, b, sizeof b)) > 0)
                pttBytes += QByteArray(b, int(n));
            // The bridge has gone: its end of the PTY is closed.
            if (n == 0 || (n < 0 && errno != EAGAIN))
                pttReader.setEnabled(false);
        });
        auto requests = [&bridge] { return bridge.outWith("request "); };
        auto events = [&bridge] { return bridge.outWith("event "); };

        Program mirelva(bin + "/mirelva", {}, env, clock);
        QTRY_VERIFY_WITH_TIMEOUT(requests().size() >= 4, 15000);
        QCOMPARE(requests().first(), QStringLiteral(R"({"op":"hello","client":"mirelva","version":"3.0.3","protocol":3})"));
        QTRY_VERIFY_WITH_TIMEOUT(mirelva.log().contains("caption: Mirelva    VK2ABC-L   v3.0.3"), 5000);

        // A station connects: SvxLink accepts it, the bridge tells Mirelva
        // with its name and address, and Mirelva's announcement keys the
        // real transmitter while SvxLink plays the speech.
        const int startUpKeying = int(pttBytes.count('T'));
        const qint64 txBefore = txBytes;
        station.connectToNode("W1AW", "John Smith");
        QTRY_VERIFY_WITH_TIMEOUT(events().contains(R"({"event":"connected","addr":"127.0.0.2","call":"W1AW","name":"John"})"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(station.sdesReceived > 0, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(requests().join('\n').contains("\"play\":true,\"rate\":0,\"text\":\"W 1 A W"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(pttBytes.count('T') > startUpKeying && pttBytes.endsWith('R'), 15000);
        QVERIFY2(txBytes > txBefore, "no audio on SvxLink's transmitter output");
        QVERIFY(requests().contains(R"({"op":"SetPTT","on":true})"));

        // Its chat text reaches Mirelva.
        station.chat("W1AW>hello there");
        QTRY_VERIFY_WITH_TIMEOUT(events().contains(R"({"event":"chat","text":"W1AW>hello there"})"), 5000);

        // DTMF from the radio side, while the squelch is open, reaches Mirelva
        // as one string when it closes: "123" asks for the local time.
        const int speechesBefore = int(requests().filter(R"("op":"Speech")").size());
        QCOMPARE(::write(squelch, "O", 1), ssize_t(1));
        QTRY_VERIFY_WITH_TIMEOUT(events().contains(R"({"event":"carrierDetect","on":true})"), 5000);
        {
            const int d = ::open(QFile::encodeName(run + "/dtmf").constData(), O_WRONLY | O_NOCTTY);
            QVERIFY(d >= 0);
            QCOMPARE(::write(d, "123", 3), ssize_t(3));
            ::close(d);
        }
        QTest::qWait(500);
        QCOMPARE(::write(squelch, "Z", 1), ssize_t(1));
        QTRY_VERIFY_WITH_TIMEOUT(events().contains(R"({"event":"dtmf","digits":"123"})"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(requests().filter(R"("op":"Speech")").size() > speechesBefore, 10000);

        // Mirelva's Disconnect (its DTMF code for W1AW) drops the station.
        QCOMPARE(::write(squelch, "O", 1), ssize_t(1));
        {
            const int d = ::open(QFile::encodeName(run + "/dtmf").constData(), O_WRONLY | O_NOCTTY);
            QVERIFY(d >= 0);
            QCOMPARE(::write(d, "456", 3), ssize_t(3));
            ::close(d);
        }
        QTest::qWait(500);
        QCOMPARE(::write(squelch, "Z", 1), ssize_t(1));
        QTRY_VERIFY_WITH_TIMEOUT(requests().contains(R"({"op":"Disconnect","call":"W1AW"})"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(station.byeReceived, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(events().contains(R"({"event":"disconnected","call":"W1AW"})"), 5000);

        // The disconnect is announced, and the time after it at the next
        // tick ("Add the time"); then the air is quiet.
        const auto spokenSinceDisconnect = [&] {
            const QStringList r = requests();
            return r.mid(r.indexOf(R"({"op":"Disconnect","call":"W1AW"})")).filter(R"("op":"Speech")").size();
        };
        QTRY_VERIFY_WITH_TIMEOUT(spokenSinceDisconnect() == 2, 15000);

        // SvxLink stops: Mirelva hears closing, releases the radio and ends;
        // the transmitter is released and the bridge ends after it.
        QTRY_VERIFY_WITH_TIMEOUT(pttBytes.endsWith('R'), 20000);
        const int before = int(requests().size());
        QCOMPARE(::kill(pid_t(svxlinkPid), SIGTERM), 0);
        QTRY_VERIFY_WITH_TIMEOUT(events().contains(R"({"event":"closing"})"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(mirelva.finishedAt >= 0, 10000);
        QCOMPARE(mirelva.p.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(bridge.finishedAt >= 0, 10000);
        QCOMPARE(requests().mid(before), (QStringList{R"({"op":"SetPTT","on":false})", R"({"op":"SetDTR","on":false})",
                                                      R"({"op":"SetRTS","on":false})"}));
        QVERIFY(pttBytes.endsWith('R'));
        const QStringList keying = bridge.log().filter(QRegularExpression("^svxlink: transmitter (keyed|released)$"));
        QVERIFY(!keying.isEmpty());
        QCOMPARE(keying.last(), QStringLiteral("svxlink: transmitter released"));
        ::close(squelch);
        ::close(ptt);
    }
};

QTEST_GUILESS_MAIN(TestSvxLinkBridge)
#include "test_svxlink_bridge.moc"
