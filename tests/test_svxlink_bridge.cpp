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

#include "support/program.h"

using mirelva::test::Program;

namespace {

const QString kSvxLink = QStringLiteral("/usr/bin/svxlink");
const QHostAddress kNode(QStringLiteral("127.0.0.1"));
const QHostAddress kStation(QStringLiteral("127.0.0.2"));
constexpr quint16 kAudioPort = 5198;
constexpr quint16 kCtrlPort = 5199;

// An EchoLink station as far as connecting, chatting and being dropped go.
// EchoLink's RTP and RTCP carry version 3 in their first byte (0xC0).
class Station {
public:
    bool bind(QString *why)
    {
        if (!ctrl.bind(kStation, kCtrlPort) || !audio.bind(kStation, kAudioPort)) {
            *why = QStringLiteral("cannot bind 127.0.0.2:5198/5199 (%1%2)")
                       .arg(ctrl.errorString(), audio.errorString());
            return false;
        }
        QObject::connect(&ctrl, &QUdpSocket::readyRead, [this] {
            while (ctrl.hasPendingDatagrams()) {
                const QByteArray d = ctrl.receiveDatagram().data();
                // RR, then SDES (202) or BYE (203).
                if (d.size() >= 10 && quint8(d[9]) == 203)
                    byeReceived = true;
                else if (d.size() >= 10 && quint8(d[9]) == 202)
                    ++sdesReceived;
            }
        });
        QObject::connect(&audio, &QUdpSocket::readyRead, [this] {
            while (audio.hasPendingDatagrams())
                audio.receiveDatagram();
        });
        return true;
    }
    // The connect: an RTCP receiver report followed by the station's SDES.
    void connectToNode(const QByteArray &call, const QByteArray &name)
    {
        QByteArray rr("\xC0\xC9\x00\x01\x00\x00\x00\x00", 8);
        QByteArray items;
        auto item = [&items](char type, const QByteArray &text) {
            items += type;
            items += char(text.size());
            items += text;
        };
        item(1, "CALLSIGN");
        item(2, call.leftJustified(15, ' ') + name);
        item(3, "CALLSIGN");
        item(4, "08:30");
        items += '\0';
        QByteArray body = QByteArray(4, '\0') + items;   // SSRC, items
        while (body.size() % 4)
            body += '\0';
        QByteArray sdes("\xC1\xCA", 2);
        char len[2];
        qToBigEndian<quint16>(quint16((body.size() + 4) / 4 - 1), len);
        sdes += QByteArray(len, 2) + body;
        ctrl.writeDatagram(rr + sdes, kNode, kCtrlPort);
    }
    void chat(const QByteArray &text) { audio.writeDatagram("oNDATA" + text + "\r\n" + QByteArray(1, '\0'), kNode, kAudioPort); }

    QUdpSocket ctrl, audio;
    int sdesReceived = 0;
    bool byeReceived = false;
};

// Opens a PTY link SvxLink or the bridge made, raw, for this end of a radio.
int openPty(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        struct termios t;
        if (::tcgetattr(fd, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(fd, TCSANOW, &t);
        }
    }
    return fd;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size(), qPrintable(path));
}

QString binDir()
{
    const QString bin = qEnvironmentVariable("MIRELVA_BIN_DIR");
    return bin.isEmpty() ? QCoreApplication::applicationDirPath() + "/.." : bin;
}

// Gone, or a zombie nobody has reaped yet.
bool processEnded(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2, 1) == "Z";
}

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
        writeFile(fake, QStringLiteral("#!/bin/sh\necho $$ > %1\nexec sleep 60\n").arg(pidFile).toUtf8());
        QVERIFY(QFile::setPermissions(fake, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        writeFile(dir.filePath("svxlink.conf"), {});
        writeFile(dir.filePath("config/mirelva/svxlink.ini"),
                  QStringLiteral("[SETTINGS]\nFOLDER=%1\nSVXLINK=%2\nSVXLINK_CONFIG=%3\n")
                      .arg(run, fake, dir.filePath("svxlink.conf"))
                      .toUtf8());
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
        quint16 rxPort = 0;
        {
            QUdpSocket probe;
            QVERIFY(probe.bind(kNode, 0));
            rxPort = probe.localPort();
        }
        Station station;
        QString why;
        QVERIFY2(station.bind(&why), qPrintable(why));

        writeFile(dir.filePath("svxlink/svxlink.conf"), QString::fromUtf8(
            "[GLOBAL]\n"
            "LOGICS=SimplexLogic\n"
            "CFG_DIR=%1/svxlink/svxlink.d\n"
            "CARD_SAMPLE_RATE=16000\n"
            "[SimplexLogic]\n"
            "TYPE=Simplex\n"
            "RX=Rx1\n"
            "TX=Tx1\n"
            "MODULES=ModuleEchoLink\n"
            "CALLSIGN=VK2ABC\n"
            "EVENT_HANDLER=%2/events/events.tcl\n"
            "DEFAULT_LANG=en_US\n"
            "RGR_SOUND_DELAY=-1\n"
            "STATE_PTY=%2/state\n"
            "DTMF_CTRL_PTY=%2/dtmf\n"
            "MACROS=Macros\n"
            "[Macros]\n"
            "9=EchoLink:\n"
            "[Rx1]\n"
            "TYPE=Local\n"
            "AUDIO_DEV=udp:127.0.0.1:%3\n"
            "AUDIO_CHANNEL=0\n"
            "SQL_DET=PTY\n"
            "PTY_PATH=%2/radio\n"
            "SQL_START_DELAY=0\n"
            "SQL_DELAY=0\n"
            "SQL_HANGTIME=0\n"
            "DTMF_DEC_TYPE=INTERNAL\n"
            "[Tx1]\n"
            "TYPE=Local\n"
            "AUDIO_DEV=udp:127.0.0.1:%4\n"
            "AUDIO_CHANNEL=0\n"
            "PTT_TYPE=PTY\n"
            "PTT_PTY=%2/svxlink-ptt\n"
            "TIMEOUT=300\n"
            "TX_DELAY=0\n")
                                                              .arg(dir.path(), run)
                                                              .arg(rxPort)
                                                              .arg(txAudio.localPort())
                                                              .toUtf8());
        writeFile(dir.filePath("svxlink/svxlink.d/ModuleEchoLink.conf"), QString::fromUtf8(
            "[ModuleEchoLink]\n"
            "NAME=EchoLink\n"
            "ID=2\n"
            "TIMEOUT=0\n"
            "SERVERS=127.0.0.1\n"
            "CALLSIGN=VK2ABC-L\n"
            "PASSWORD=none\n"
            "SYSOPNAME=Test\n"
            "LOCATION=Loopback\n"
            "MAX_QSOS=10\n"
            "MAX_CONNECTIONS=11\n"
            "LINK_IDLE_TIMEOUT=0\n"
            "BIND_ADDR=127.0.0.1\n"
            "ALLOW_IP=127.0.0.0/8\n"
            "COMMAND_PTY=%1/echolink\n"
            "DESCRIPTION=\"A test node on loopback\\n\"\n")
                                                                                 .arg(run)
                                                                                 .toUtf8());
        writeFile(cfg + "/svxlink.ini", QStringLiteral("[SETTINGS]\nFOLDER=%1\nSVXLINK_CONFIG=%2\nPTT=pty:%1/ptt\n"
                                                       "CALLSIGN=VK2ABC-L\nDTMF_TIMEOUT=3000\n")
                                            .arg(run, dir.filePath("svxlink/svxlink.conf"))
                                            .toUtf8());
        writeFile(cfg + "/nodelink.ini", QStringLiteral("[SETTINGS]\nADDRESS=unix:%1/node.sock\nAUDIODEVICE=node\n").arg(run).toUtf8());
        // The local time on "123" (the default), and W1AW on and off with "456".
        writeFile(cfg + "/dtmfctrl.ini", "[SETTINGS]\nDTMF1=456\nCALL1=W1AW\n");

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
