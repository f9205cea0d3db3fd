// The real mirelva-echolink, its PTT on a CM108 pin whose "hidraw device" is
// a pseudo-terminal the test holds: every HID report the node writes is read
// at the other end. Attached as a client over the node link, the test keys
// the transmitter and ends or breaks the node in the ways a station meets.
// Then its PTT on a real serial port's RTS, read from the port itself.

#include <QElapsedTimer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr quint8 kPin3 = 0x04;   // GPIO3's bit in the report's data byte

// The pseudo-terminal standing in for /dev/hidrawN.
class FakeHidraw {
public:
    FakeHidraw()
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        // Never inherited by the node: the card would outlive its pulling.
        fcntl(m_master, F_SETFD, FD_CLOEXEC);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
            return;
        m_path = QString::fromLocal8Bit(ptsname(m_master));
        // Held open so the master reads nothing but what the node writes,
        // and raw so the reports pass unchanged.
        m_slave = ::open(m_path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios t;
        tcgetattr(m_slave, &t);
        cfmakeraw(&t);
        tcsetattr(m_slave, TCSANOW, &t);
    }
    ~FakeHidraw() { pull(); }
    QString path() const { return m_path; }
    // The card pulled out: the node's reads end with an error.
    void pull()
    {
        if (m_slave >= 0)
            ::close(m_slave);
        if (m_master >= 0)
            ::close(m_master);
        m_slave = m_master = -1;
    }
    // Every report written so far, five bytes each.
    QList<QByteArray> reports()
    {
        char buf[256];
        ssize_t n;
        while (m_master >= 0 && (n = ::read(m_master, buf, sizeof buf)) > 0)
            m_pending.append(buf, int(n));
        while (m_pending.size() >= 5) {
            m_reports << m_pending.left(5);
            m_pending.remove(0, 5);
        }
        return m_reports;
    }
    // -1: nothing written yet; else whether PTT's pin was last set high.
    int keyed()
    {
        const QList<QByteArray> r = reports();
        return r.isEmpty() ? -1 : int((quint8(r.last()[2]) & kPin3) != 0);
    }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_path;
    QByteArray m_pending;
    QList<QByteArray> m_reports;
};

// The machine's first serial port, when it is a UART whose modem lines can
// be set and read (an 8250 at /dev/ttyS0; a pseudo-terminal has none), held
// open by the test from before the node starts until after it has ended:
// - every open of a tty raises RTS and DTR, this one too: it comes first, and
//   the test drops both itself, so whatever is high later is the node's doing;
//   opened while the node runs, it would key the transmitter it watches;
// - HUPCL drops the lines at the last close only: with this descriptor open
//   the node's close drops nothing, so what is read after the node has ended
//   is the node's own release.
// Checkouts on one machine share the port; a lock file takes turns.
class Uart {
public:
    static constexpr char kPath[] = "/dev/ttyS0";
    Uart()
    {
        m_lock = ::open("/tmp/mirelva-ttyS0.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (m_lock < 0 || ::flock(m_lock, LOCK_EX) != 0) {
            m_why = QStringLiteral("cannot take /tmp/mirelva-ttyS0.lock");
            return;
        }
        m_fd = ::open(kPath, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        int present = 0;
        if (m_fd < 0 || ::ioctl(m_fd, TIOCMGET, &present) != 0) {
            m_why = QStringLiteral("%1: %2").arg(kPath, QString::fromLocal8Bit(strerror(errno)));
            return;
        }
        set(TIOCM_RTS, true);
        const bool raised = bits() & TIOCM_RTS;
        release();
        if (!raised || (bits() & (TIOCM_RTS | TIOCM_DTR)))
            m_why = QStringLiteral("%1: its modem lines cannot be set").arg(kPath);
    }
    ~Uart()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (m_lock >= 0)
            ::close(m_lock);
    }
    QString unusable() const { return m_why; }
    int bits() const
    {
        int b = 0;
        return ::ioctl(m_fd, TIOCMGET, &b) == 0 ? b : -1;
    }
    void set(int bit, bool high) { ::ioctl(m_fd, high ? TIOCMBIS : TIOCMBIC, &bit); }
    void release() { set(TIOCM_RTS | TIOCM_DTR, false); }
    // "RTS DTR", "RTS", "DTR" or "".
    QString outputs() const
    {
        const int b = bits();
        return QStringList{b & TIOCM_RTS ? "RTS" : "", b & TIOCM_DTR ? "DTR" : ""}.join(' ').trimmed();
    }

private:
    int m_lock = -1;
    int m_fd = -1;
    QString m_why;
};

quint16 freeUdpPortPair()
{
    for (int i = 0; i < 50; ++i) {
        QUdpSocket a;
        if (!a.bind(QHostAddress::LocalHost, 0) || a.localPort() > 65000)
            continue;
        QUdpSocket b;
        if (b.bind(QHostAddress::LocalHost, a.localPort() + 1))
            return a.localPort();
    }
    return 0;
}

// One run of the node, with a client attached as Mirelva would be.
class NodeRun {
public:
    // `lines`: the radio's lines in echolink.ini ("SQL=...\nPTT=...\n").
    NodeRun(const QString &lines)
    {
        const quint16 base = freeUdpPortPair();
        const quint16 audio = freeUdpPortPair();
        QDir().mkpath(m_dir.filePath("mirelva"));
        QFile ini(m_dir.filePath("mirelva/echolink.ini"));
        ini.open(QIODevice::WriteOnly);
        // No directory listens on 127.0.0.9: the node keeps trying, as it
        // would with the internet down.
        ini.write(QStringLiteral("[SETTINGS]\nCALLSIGN=N0CALL-L\nSERVERS=127.0.0.9\nBINDADDR=127.0.0.1\n"
                                 "PORTBASE=%1\nLISTEN=unix:%2\nRXAUDIO=udp:127.0.0.1:%3\nTXAUDIO=udp:127.0.0.1:%4\n"
                                 "TXHANG=0\n%5")
                      .arg(base)
                      .arg(socketPath())
                      .arg(audio)
                      .arg(audio + 1)
                      .arg(lines)
                      .toUtf8());
        ini.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", m_dir.path());
        node.setProcessEnvironment(env);
        node.setProcessChannelMode(QProcess::MergedChannels);
        QString bin = qEnvironmentVariable("MIRELVA_BIN_DIR");
        if (bin.isEmpty())
            bin = QCoreApplication::applicationDirPath() + "/..";
        node.start(bin + "/mirelva-echolink", {});
    }
    ~NodeRun()
    {
        if (node.state() != QProcess::NotRunning) {
            node.kill();
            node.waitForFinished(3000);
        }
    }
    QString socketPath() const { return m_dir.filePath("node.sock"); }
    bool attach()
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 5000) {
            link.connectToServer(socketPath());
            if (link.waitForConnected(200))
                break;
            QTest::qWait(50);
        }
        if (link.state() != QLocalSocket::ConnectedState)
            return false;
        send(R"({"op":"hello","client":"mirelva","version":"3.0.3","protocol":2})");
        return true;
    }
    void send(const char *line)
    {
        link.write(QByteArray(line) + '\n');
        link.flush();
    }
    QStringList lines()
    {
        while (link.canReadLine())
            m_lines << QString::fromUtf8(link.readLine()).trimmed();
        return m_lines;
    }
    QString log() { return m_log += QString::fromUtf8(node.readAll()); }

    QTemporaryDir m_dir;
    QProcess node;
    QLocalSocket link;
    QStringList m_lines;
    QString m_log;
};

} // namespace

class TestEchoLinkSafety : public QObject {
    Q_OBJECT

private slots:
    // Each run starts with the pin written inactive (a restart never starts
    // keyed), keys on SetPTT, and is released when the node ends by SIGTERM
    // (closing sent), is killed outright (its watcher releases the pin), or
    // loses the device while keyed (the node runs on, its PTT not keyable).
    void theTransmitterIsReleasedHoweverTheNodeEnds_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("SIGTERM") << "term";
        QTest::newRow("SIGINT") << "int";
        QTest::newRow("SIGKILL") << "kill";
        QTest::newRow("device fails") << "pull";
    }
    void theTransmitterIsReleasedHoweverTheNodeEnds()
    {
        QFETCH(QString, how);
        FakeHidraw card;
        QVERIFY(!card.path().isEmpty());
        NodeRun run("SQL=none\nPTT=hidraw:" + card.path() + ":3\n");
        QVERIFY2(run.attach(), qPrintable(run.log()));
        QTRY_VERIFY_WITH_TIMEOUT(!run.lines().filter(R"("event":"state")").isEmpty(), 5000);
        QCOMPARE(card.keyed(), 0);

        run.send(R"({"op":"SetPTT","on":true})");
        QTRY_COMPARE_WITH_TIMEOUT(card.keyed(), 1, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!run.lines().filter(R"("transmitterKeyed":true)").isEmpty(), 5000);

        if (how == "term" || how == "int") {
            ::kill(run.node.processId(), how == "term" ? SIGTERM : SIGINT);
            QTRY_VERIFY_WITH_TIMEOUT(run.lines().contains(R"({"event":"closing"})"), 5000);
            QCOMPARE(card.keyed(), 0);
            run.link.disconnectFromServer();
            QVERIFY(run.node.waitForFinished(5000));
            QCOMPARE(run.node.exitStatus(), QProcess::NormalExit);
            QCOMPARE(run.node.exitCode(), 0);
            QCOMPARE(card.keyed(), 0);
        } else if (how == "kill") {
            run.node.kill();
            QVERIFY(run.node.waitForFinished(5000));
            QTRY_COMPARE_WITH_TIMEOUT(card.keyed(), 0, 5000);
        } else {
            const QString device = card.path();
            card.pull();
            const QString gone = "echolink: PTT line hidraw:" + device + ":3: " + device
                                 + ": device gone (unplugged?); trying again every second";
            QTRY_VERIFY2_WITH_TIMEOUT(run.log().contains(gone), qPrintable(run.log()), 5000);
            // Mirelva is told that the radio cannot be keyed, and why.
            QTRY_VERIFY_WITH_TIMEOUT(run.lines().contains("{\"event\":\"state\",\"pttProblem\":\"" + gone.mid(10) + "\"}"),
                                     5000);
            // Still serving: a new client is answered, the node is whole.
            QTest::qWait(200);
            QCOMPARE(run.node.state(), QProcess::Running);
            run.link.disconnectFromServer();
            run.m_lines.clear();
            QVERIFY(run.attach());
            QTRY_VERIFY_WITH_TIMEOUT(!run.lines().filter(R"("event":"state")").isEmpty(), 5000);
            ::kill(run.node.processId(), SIGTERM);
            QTRY_VERIFY_WITH_TIMEOUT(run.lines().contains(R"({"event":"closing"})"), 5000);
        }
    }

    // PTT on RTS, Mirelva's DTR line and the squelch (on RI) all on one real
    // port, so each of the node's opens raises RTS and DTR again after the
    // PTT's. Once the node has started, and until after it has ended, RTS is
    // high only while a client keys it, DTR only while a client raises it.
    void aRealSerialPortIsNeverKeyedByTheNodesStart()
    {
        Uart uart;
        if (!uart.unusable().isEmpty())
            QSKIP(qPrintable(uart.unusable()));
        NodeRun run(QStringLiteral("PTT=serial:%1:RTS\nDTR=serial:%1:DTR\nSQL=serial:%1:RI\n").arg(Uart::kPath));
        QStringList seen;   // every change of the lines, from the node's start on
        auto watch = [&](int ms) {
            QElapsedTimer t;
            t.start();
            do {
                const QString now = uart.outputs();
                if (seen.isEmpty() || seen.last() != now)
                    seen << now;
                QTest::qWait(2);
            } while (t.elapsed() < ms);
        };
        QVERIFY2(run.attach(), qPrintable(run.log()));
        QTRY_VERIFY_WITH_TIMEOUT(!run.lines().filter(R"("event":"state")").isEmpty(), 5000);
        // Past the lines' first check each second, which puts back a level found wrong.
        watch(1500);
        QCOMPARE(seen, QStringList{""});

        run.send(R"({"op":"SetPTT","on":true})");
        QTRY_COMPARE_WITH_TIMEOUT(uart.outputs(), QString("RTS"), 5000);
        run.send(R"({"op":"SetDTR","on":true})");
        QTRY_COMPARE_WITH_TIMEOUT(uart.outputs(), QString("RTS DTR"), 5000);
        run.send(R"({"op":"SetPTT","on":false})");
        run.send(R"({"op":"SetDTR","on":false})");
        QTRY_COMPARE_WITH_TIMEOUT(uart.outputs(), QString(), 5000);
        seen.clear();
        watch(300);
        QCOMPARE(seen, QStringList{""});

        ::kill(run.node.processId(), SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(run.lines().contains(R"({"event":"closing"})"), 5000);
        run.link.disconnectFromServer();
        QVERIFY(run.node.waitForFinished(5000));
        QCOMPARE(uart.outputs(), QString());
    }
};

QTEST_MAIN(TestEchoLinkSafety)
#include "test_echolink_safety.moc"
