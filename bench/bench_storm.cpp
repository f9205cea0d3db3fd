// A seeded storm of node events against the real programs: mirelva-node
// (headless, driven by console commands on its standard input) serves the
// simulated node, and the real mirelva reaches it through a relay run here.
// The relay passes every line on and adds what no real node would send but a
// broken bridge might: junk, over-long lines, unknown events, station and
// chat texts far too long. It also cuts the connection a few times, and now
// and then sends a connect of its own (a probe) whose announcement must come
// back over the air: a program that stopped reading its node fails them.
//
//   build/bench/bench_storm [--minutes 15] [--seed 8] [--drops 5] [--bin DIR]
//
// DIR holds mirelva and mirelva-node (default: the build folder). Everything
// runs on this machine, in a temporary folder, under nice; the storm stops by
// itself and ends with the node's closing, after which mirelva must release
// the radio and end. The figures are printed at the end.

#include <cstdio>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include "bench/benchsupport.h"

namespace {

QString spelled(const QString &call)
{
    QString s;
    for (QChar c : call)
        s += c + QStringLiteral(" ");
    return s;
}

qint64 rssKb(qint64 pid)
{
    return mirelva::bench::procKb(QStringLiteral("/proc/%1/status").arg(pid), "VmRSS");
}

class Storm : public QObject {
public:
    Storm(const QString &bin, int minutes, quint32 seed, int drops)
        : m_bin(bin), m_durationMs(qint64(minutes) * 60000), m_rng(seed), m_drops(drops), m_seed(seed)
    {
    }

    int run()
    {
        if (!m_dir.isValid())
            return 1;
        QDir().mkpath(m_dir.filePath("config/mirelva"));
        QDir().mkpath(m_dir.filePath("run"));
        QFile::setPermissions(m_dir.filePath("run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QFile ini(m_dir.filePath("config/mirelva/nodelink.ini"));
        if (!ini.open(QIODevice::WriteOnly))
            return 1;
        ini.write(("[SETTINGS]\r\nADDRESS=unix:" + m_dir.filePath("relay.sock") + "\r\nAUDIODEVICE=none-such\r\n").toUtf8());
        ini.close();

        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert("QT_QPA_PLATFORM", "offscreen");
        m_env.insert("XDG_CONFIG_HOME", m_dir.filePath("config"));
        m_env.insert("XDG_RUNTIME_DIR", m_dir.filePath("run"));

        m_node.setProcessEnvironment(m_env);
        m_node.setStandardErrorFile(m_dir.filePath("node.err"));
        connect(&m_node, &QProcess::readyReadStandardOutput, this, [this] { m_node.readAllStandardOutput(); });
        m_node.start("nice", {"-n", "10", m_bin + "/mirelva-node", "--listen", "unix:" + m_dir.filePath("node.sock"),
                              "--callsign", "vk2abc", "--headless", "--answer-delay", "0"});
        if (!m_node.waitForStarted(5000))
            return fail("mirelva-node did not start");
        for (int i = 0; i < 100 && !QFile::exists(m_dir.filePath("node.sock")); ++i)
            QThread::msleep(50);

        m_relay.setSocketOptions(QLocalServer::UserAccessOption);
        if (!m_relay.listen(m_dir.filePath("relay.sock")))
            return fail("the relay cannot listen");
        connect(&m_relay, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket *s = m_relay.nextPendingConnection())
                attach(s);
        });

        connect(&m_mirelva, &QProcess::finished, this, [this] { m_endedAt = m_clock.elapsed(); });
        m_mirelva.setProcessEnvironment(m_env);
        m_mirelva.setStandardOutputFile(QProcess::nullDevice());
        m_mirelva.setStandardErrorFile(m_dir.filePath("mirelva.err"));
        m_mirelva.start("nice", {"-n", "10", m_bin + "/mirelva"});
        if (!m_mirelva.waitForStarted(5000))
            return fail("mirelva did not start");

        m_clock.start();
        QTimer::singleShot(0, this, [this] { step(); });
        QTimer::singleShot(2000, this, [this] { connectOrDisconnect(); });
        QTimer::singleShot(60000, this, [this] { probe(); });
        for (int i = 1; i <= m_drops; ++i)
            QTimer::singleShot(m_durationMs * i / (m_drops + 1), this, [this] { dropConnection(); });
        QTimer::singleShot(m_durationMs, this, [this] { finish(); });
        auto *watch = new QTimer(this);
        connect(watch, &QTimer::timeout, this, [this] {
            if (m_down)
                m_maxWaitingForMirelva = std::max(m_maxWaitingForMirelva, m_down->bytesToWrite());
            const qint64 rss = rssKb(mirelvaPid());
            if (rss > 0) {
                if (m_rssFirst < 0 && m_clock.elapsed() > 20000)
                    m_rssFirst = rss;
                m_rssLast = rss;
                m_rssMax = std::max(m_rssMax, rss);
            }
        });
        watch->start(1000);
        return QCoreApplication::exec();
    }

private:
    // mirelva runs under nice: the program is nice's child after exec, the
    // same process.
    qint64 mirelvaPid() const { return m_mirelva.processId(); }

    int fail(const char *why)
    {
        std::printf("storm: %s\n", why);
        return 1;
    }

    // ---- the relay ----------------------------------------------------------

    void attach(QLocalSocket *down)
    {
        if (m_down) {
            down->abort();
            down->deleteLater();
            return;
        }
        auto *up = new QLocalSocket(this);
        m_down = down;
        m_up = up;
        m_fromNode.clear();
        m_fromMirelva.clear();
        m_online = false;
        ++m_connections;
        connect(down, &QLocalSocket::readyRead, this, [this, down] {
            if (down != m_down)
                return;
            m_fromMirelva += down->readAll();
            qsizetype nl;
            while ((nl = m_fromMirelva.indexOf('\n')) >= 0) {
                const QByteArray line = m_fromMirelva.left(nl + 1);
                m_fromMirelva.remove(0, nl + 1);
                fromMirelva(line);
            }
        });
        connect(up, &QLocalSocket::readyRead, this, [this, up] {
            if (up != m_up)
                return;
            m_fromNode += up->readAll();
            const qsizetype last = m_fromNode.lastIndexOf('\n');
            if (last < 0)
                return;
            QByteArray lines = m_fromNode.left(last + 1);
            m_fromNode.remove(0, last + 1);
            if (!m_online && lines.contains("\"event\":\"state\"")) {
                m_online = true;
                if (m_dropPending) {
                    m_dropPending = false;
                    ++m_dropsSurvived;
                }
            }
            toMirelva(lines);
        });
        auto gone = [this, down] {
            if (down == m_down)
                cutPair();
        };
        connect(down, &QLocalSocket::disconnected, this, gone);
        connect(up, &QLocalSocket::disconnected, this, gone);
        up->connectToServer(m_dir.filePath("node.sock"));
    }

    void cutPair()
    {
        if (m_down) {
            m_down->disconnect(this);
            m_down->abort();
            m_down->deleteLater();
        }
        if (m_up) {
            m_up->disconnect(this);
            m_up->abort();
            m_up->deleteLater();
        }
        m_down = nullptr;
        m_up = nullptr;
        m_online = false;
        // Mirelva may have been keyed: the transmission ends with the link.
        keyed(false);
    }

    void toMirelva(const QByteArray &lines)
    {
        if (!m_down)
            return;
        m_down->write(lines);
        m_down->flush();
        m_linesToMirelva += lines.count('\n');
    }

    // A line of our own, between two of the node's.
    void inject(const QByteArray &line)
    {
        if (!m_down || !m_online || !m_fromNode.isEmpty())
            return;
        toMirelva(line);
        ++m_injected;
    }

    void fromMirelva(const QByteArray &line)
    {
        ++m_requests;
        if (m_up) {
            m_up->write(line);
            m_up->flush();
        }
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        const QString op = o.value("op").toString();
        if (op == "SetPTT") {
            keyed(o.value("on").toBool());
        } else if (op == "Speech" && o.value("keyed").toBool()) {
            ++m_keyedSpeeches;
            const QString text = o.value("text").toString();
            for (auto it = m_probes.begin(); it != m_probes.end(); ++it) {
                if (text.startsWith(spelled(it.key()))) {
                    m_probeLatencyMax = std::max(m_probeLatencyMax, m_clock.elapsed() - it.value());
                    ++m_probesAnswered;
                    m_probes.erase(it);
                    break;
                }
            }
        }
        if (m_closingAt >= 0 && op == "SetPTT" && !o.value("on").toBool())
            m_releasedAfterClosing = true;
    }

    void keyed(bool on)
    {
        if (on && m_keyedSince < 0) {
            m_keyedSince = m_clock.elapsed();
            ++m_keyUps;
        } else if (!on && m_keyedSince >= 0) {
            m_longestKeyUp = std::max(m_longestKeyUp, m_clock.elapsed() - m_keyedSince);
            m_keyedSince = -1;
        }
    }

    void dropConnection()
    {
        if (!m_down)
            return;
        ++m_dropsMade;
        m_dropPending = true;
        cutPair();
    }

    // ---- the storm ----------------------------------------------------------

    QString call()
    {
        static const char *const shapes[] = {"%1", "%1-L", "%1-R", "*%1*", "%1/P"};
        const QString base = QStringLiteral("%1%2%3")
                                 .arg(QChar('A' + m_rng.bounded(26)))
                                 .arg(QChar('A' + m_rng.bounded(26)))
                                 .arg(m_rng.bounded(1, 10))
                             + QString(QChar('A' + m_rng.bounded(26))).repeated(int(m_rng.bounded(1, 4)));
        return QString::fromLatin1(shapes[m_rng.bounded(5)]).arg(base);
    }

    void command(const QString &line)
    {
        m_node.write(line.toUtf8() + '\n');
        ++m_commands;
    }

    // Stations come and go every few seconds, in every shape, now and then
    // with a station text far longer than any call. Each is announced, so
    // they come slower than the announcements take: the storm measures a
    // program keeping up, not an ever-growing backlog.
    void connectOrDisconnect()
    {
        if (m_finishing)
            return;
        if (!m_quiet) {
            const int pick = int(m_rng.bounded(10));
            if (pick < 5 || m_calls.isEmpty()) {
                const QString c = call();
                m_calls << c;
                command("connect " + c + " \"Storm Name\" 192.0.2." + QString::number(m_rng.bounded(1, 255)));
            } else if (pick < 9) {
                command("disconnect " + m_calls.takeAt(int(m_rng.bounded(qsizetype(m_calls.size())))));
            } else {
                inject("{\"event\":\"connected\",\"call\":\"" + QByteArray(int(m_rng.bounded(100, 60000)), 'K')
                       + "\",\"name\":\"Too Long\"}\n");
            }
        }
        QTimer::singleShot(int(m_rng.bounded(4000, 20000)), this, [this] { connectOrDisconnect(); });
    }

    void oneEvent()
    {
        const int pick = int(m_rng.bounded(14, 100));
        if (pick < 24) {
            switchOnForAWhile("carrier");
        } else if (pick < 34) {
            switchOnForAWhile("rx");
        } else if (pick < 38) {
            switchOnForAWhile("receiving");
        } else if (pick < 44) {
            switchOnForAWhile(m_rng.bounded(2) ? "busy" : "active");
        } else if (pick < 56) {
            static const char digits[] = "0123456789ABCD*#";
            QString d;
            for (int i = int(m_rng.bounded(1, 9)); i > 0; --i)
                d += QChar(digits[m_rng.bounded(16)]);
            command("dtmf " + d);
        } else if (pick < 70) {
            command(QStringLiteral("chat %1>storm text %2 %3")
                        .arg(call())
                        .arg(m_commands)
                        .arg(QString(int(m_rng.bounded(0, 300)), QChar('w'))));
        } else if (pick < 76) {
            switchOnForAWhile("keyed");
        } else if (pick < 82) {
            inject("not a line of the node link " + QByteArray::number(m_injected) + "\n");
        } else if (pick < 85) {
            inject(QByteArray(70000 + int(m_rng.bounded(1000)), 'j') + "\n");
        } else if (pick < 88) {
            inject("{\"event\":\"solarFlare\",\"n\":" + QByteArray::number(m_injected) + "}\n");
        } else if (pick < 91) {
            inject("{\"event\":\"chat\",\"text\":\"" + call().toUtf8() + ">" + QByteArray(int(m_rng.bounded(1000, 60000)), 'c')
                   + "\"}\n");
        } else if (pick < 96) {
            inject("{\"event\":\"state\",\"linkBusy\":\"sometimes\"}\n");
        } else {
            inject("{\"event\":\"state\",\"receivingSignal\":" + QByteArray(m_rng.bounded(2) ? "true" : "false") + "}\n");
        }
    }

    // A carrier, an internet station talking, a busy link: each on for a
    // few seconds, so the storm never leaves the link busy for good (a busy
    // link rightly silences every announcement).
    void switchOnForAWhile(const QString &what)
    {
        command(what + " on");
        QTimer::singleShot(int(m_rng.bounded(300, 8000)), this, [this, what] { command(what + " off"); });
    }

    void quietNode()
    {
        for (const char *what : {"carrier", "rx", "receiving", "busy", "keyed"})
            command(QString::fromLatin1(what) + " off");
    }

    void step()
    {
        if (m_finishing)
            return;
        if (m_quiet) {
            QTimer::singleShot(200, this, [this] { step(); });
            return;
        }
        // Mostly a steady trickle, now and then a burst of many at once.
        const int n = m_rng.bounded(20) == 0 ? int(m_rng.bounded(20, 120)) : 1;
        for (int i = 0; i < n; ++i)
            oneEvent();
        QTimer::singleShot(int(m_rng.bounded(50, 700)), this, [this] { step(); });
    }

    // Every minute the storm holds off, the node is made quiet (a busy link
    // would rightly keep the announcement off the air), and a connect of our
    // own is sent: its announcement must come back. The storm goes on once
    // it has, or after two minutes.
    void probe()
    {
        if (m_finishing)
            return;
        m_quiet = true;
        quietNode();
        QTimer::singleShot(3000, this, [this] {
            if (!m_down || !m_online || !m_fromNode.isEmpty()) {
                m_quiet = false;
                QTimer::singleShot(5000, this, [this] { probe(); });
                return;
            }
            const QString c = QStringLiteral("PRB%1").arg(++m_probeCount);
            m_probes.insert(c, m_clock.elapsed());
            inject("{\"event\":\"connected\",\"call\":\"" + c.toUtf8() + "\",\"name\":\"Probe\"}\n");
            waitForProbe(c, 0);
        });
    }

    void waitForProbe(const QString &c, int waited)
    {
        if (!m_probes.contains(c) || waited >= 120) {
            m_quiet = false;
            QTimer::singleShot(60000, this, [this] { probe(); });
            return;
        }
        QTimer::singleShot(1000, this, [this, c, waited] { waitForProbe(c, waited + 1); });
    }

    void finish()
    {
        m_finishing = true;
        quietNode();
        // Probes still out get a last chance while the node is quiet.
        QTimer::singleShot(20000, this, [this] {
            m_closingAt = m_clock.elapsed();
            command("closing");
            QTimer::singleShot(15000, this, [this] { report(); });
        });
    }

    void report()
    {
        const bool ended = m_mirelva.state() == QProcess::NotRunning
                           || m_mirelva.waitForFinished(1000);
        const qint64 endedAfter = ended && m_endedAt >= 0 ? m_endedAt - m_closingAt : -1;
        QFile errFile(m_dir.filePath("mirelva.err"));
        errFile.open(QIODevice::ReadOnly);
        const QByteArray err = errFile.readAll();
        std::printf("storm (seed %u, %.1f minutes, real mirelva and mirelva-node over a relay)\n", m_seed,
                    double(m_closingAt) / 60000.0);
        std::printf("  events sent                  %lld (%lld node commands, %lld lines injected)\n",
                    m_commands + m_injected, m_commands, m_injected);
        std::printf("  lines passed to mirelva      %lld\n", m_linesToMirelva);
        std::printf("  requests from mirelva        %lld\n", m_requests);
        std::printf("  key-ups                      %lld, keyed speeches %lld\n", m_keyUps, m_keyedSpeeches);
        std::printf("  longest key-up               %.1f s\n", double(m_longestKeyUp) / 1000.0);
        std::printf("  transmit time-outs           %lld\n", qint64(err.count("transmit time-out")));
        std::printf("  lines mirelva dropped as bad %lld\n", qint64(err.count("node link: dropped a line")));
        std::printf("  drops survived               %d of %d (connections made %d)\n", m_dropsSurvived, m_dropsMade,
                    m_connections);
        std::printf("  probes answered              %d of %d, slowest %.1f s\n", m_probesAnswered, m_probeCount,
                    double(m_probeLatencyMax) / 1000.0);
        std::printf("  most bytes waiting for it    %lld\n", m_maxWaitingForMirelva);
        std::printf("  mirelva RSS                  %lld kB after 20 s, %lld kB at the end, %lld kB at most\n",
                    m_rssFirst, m_rssLast, m_rssMax);
        std::printf("  after closing                %s\n",
                    ended ? qPrintable(QStringLiteral("released the radio: %1; ended in %2 ms, exit code %3")
                                           .arg(m_releasedAfterClosing ? "yes" : "no")
                                           .arg(endedAfter)
                                           .arg(m_mirelva.exitStatus() == QProcess::CrashExit
                                                    ? QStringLiteral("crashed")
                                                    : QString::number(m_mirelva.exitCode())))
                          : "still running (killed)");
        const bool sanitizer = err.contains("ERROR: AddressSanitizer") || err.contains("runtime error:");
        std::printf("  sanitizer reports            %s\n", sanitizer ? "YES (see below)" : "none");
        if (sanitizer) {
            const qsizetype at = std::max(err.indexOf("ERROR: AddressSanitizer"), err.indexOf("runtime error:"));
            std::printf("%s\n", err.mid(std::max<qsizetype>(0, at - 200), 3000).constData());
        }
        std::fflush(stdout);
        if (!ended) {
            m_mirelva.kill();
            m_mirelva.waitForFinished(3000);
        }
        m_node.closeWriteChannel();
        m_node.terminate();
        m_node.waitForFinished(3000);
        const bool ok = ended && m_releasedAfterClosing && m_dropsSurvived == m_dropsMade
                        && m_probesAnswered == m_probeCount && m_longestKeyUp <= 181000 && !sanitizer;
        if (!ok) {
            // Kept for a look: both programs' logs.
            m_dir.setAutoRemove(false);
            std::printf("  logs kept in                 %s\n", qPrintable(m_dir.path()));
        }
        QCoreApplication::exit(ok ? 0 : 1);
    }

    QString m_bin;
    qint64 m_durationMs;
    QRandomGenerator m_rng;
    int m_drops;
    quint32 m_seed;
    QTemporaryDir m_dir;
    QProcessEnvironment m_env;
    QProcess m_node, m_mirelva;
    QLocalServer m_relay;
    QPointer<QLocalSocket> m_down, m_up;
    QByteArray m_fromNode, m_fromMirelva;
    QElapsedTimer m_clock;
    QStringList m_calls;
    QHash<QString, qint64> m_probes;
    bool m_online = false, m_finishing = false, m_quiet = false, m_dropPending = false, m_releasedAfterClosing = false;
    qint64 m_commands = 0, m_injected = 0, m_linesToMirelva = 0, m_requests = 0, m_keyUps = 0, m_keyedSpeeches = 0;
    qint64 m_keyedSince = -1, m_longestKeyUp = 0, m_closingAt = -1, m_endedAt = -1, m_probeLatencyMax = 0;
    qint64 m_maxWaitingForMirelva = 0, m_rssFirst = -1, m_rssLast = -1, m_rssMax = -1;
    int m_connections = 0, m_dropsMade = 0, m_dropsSurvived = 0, m_probeCount = 0, m_probesAnswered = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int minutes = 15;
    quint32 seed = 8;
    int drops = 5;
    QString bin = QCoreApplication::applicationDirPath() + "/..";
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--minutes")
            minutes = std::max(1, args[i + 1].toInt());
        else if (args[i] == "--seed")
            seed = args[i + 1].toUInt();
        else if (args[i] == "--drops")
            drops = std::max(0, args[i + 1].toInt());
        else if (args[i] == "--bin")
            bin = args[i + 1];
    }
    bin = QFileInfo(bin).absoluteFilePath();
    if (!QFileInfo(bin + "/mirelva").isExecutable() || !QFileInfo(bin + "/mirelva-node").isExecutable()) {
        std::printf("storm: mirelva and mirelva-node not found in %s\n", qPrintable(bin));
        return 1;
    }
    Storm storm(bin, minutes, seed, drops);
    return storm.run();
}
