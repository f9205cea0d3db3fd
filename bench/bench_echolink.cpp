// mirelva-echolink beside SvxLink, on the same machine and the same loopback
// set-up: a stand-in directory on 127.0.0.1:5200 listing every stand-in
// station at its address, the node on 127.0.0.1 with UDP sound devices, and
// stand-in EchoLink stations on 127.0.0.20 and up (127.0.1.x beyond 200),
// each a UDP peer of its own sending an SDES keep-alive every 10 s and,
// while it talks, a 144-byte GSM packet (a 1 kHz tone) every 80 ms from a
// precise timer. For each node, measured by a process of its own:
//   - its CPU (user + system time of the node's process) with no station,
//     and with 1, 10 and 50 stations connected and all of them talking at
//     once (each station's packets a little apart from the others');
//   - its memory (RSS, and PSS from smaps_rollup) idle and at the most
//     stations, while they talk;
//   - with 10 stations connected (the first stage with two or more), one
//     talking: the delay from the station's first packet of an over to the
//     first loud audio out of the transmitter's sound device, and to the
//     first loud packet another station receives from the node ("none" when
//     the node passes no station's audio to the others);
//   - the gaps inside those overs at the transmitter (benchsupport.h's
//     sound card), those in the over's last 160 ms apart;
//   - the delays and gaps again with each packet delayed by a random
//     0..60 ms.
// Everything waits in Qt's event loop for timers and sockets, never in a
// polling loop, so the benchmark's own CPU (printed) stays small beside the
// node's. SvxLink's squelch is its PTY; mirelva-echolink's is its VOX.
// Run it beside other checkouts under the EchoLink ports' lock:
//
//   flock /tmp/mirelva-echolink-ports.lock bench_echolink [--quick]
//       [--counts 1,10,50] [--overs N] [--jitter MS] [--dump]
//
// --quick measures 4 s stretches and 3 overs (under 2 minutes, against
// about 3.5). The figures go out as a table to paste into docs/echolink.md.
// --dump writes each over's transmitter datagrams (ms from the over's start,
// length, loud) to standard error.

#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>

#include "benchsupport.h"
#include "node/echolink/audio/gsmcodec.h"
#include "support/echolinkdirectory.h"
#include "support/echolinkstation.h"
#include "support/svxlinkstation.h"
#include "support/udpradio.h"

using namespace mirelva::test;
using mirelva::bench::Gaps;
using mirelva::bench::TxBlock;
using mirelva::bench::gaps;
using mirelva::echolink::GsmCodec;
using mirelva::echolink::kPacketMs;
using mirelva::echolink::kPacketSamples;

namespace {

const QString kNodeCall = QStringLiteral("VK2XYZ-L");

struct Options {
    bool quick = false;
    std::vector<int> counts{1, 10, 50};
    int overs = 6;
    int overMs = 2000;
    int restMs = 1500;
    int idleMs = 10000;
    int cpuMs = 10000;
    int jitterMs = 60;
    bool dump = false;   // each over's transmitter datagrams on stderr
};

using mirelva::bench::waitFor;
void pause(int ms)
{
    mirelva::bench::runEventLoopFor(ms);
}

// User + system seconds of a process.
double cpuSeconds(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = f.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    // utime and stime are fields 14 and 15 of the whole line.
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(::sysconf(_SC_CLK_TCK));
}

// A /proc field of a process in MB; 0 when missing.
double procMb(const QString &path, const QByteArray &name)
{
    return std::max(0L, mirelva::bench::procKb(path, name)) / 1024.0;
}

double power(const qint16 *s, int n, int step = 1)
{
    double p = 0;
    int count = 0;
    for (int i = 0; i < n; i += step, ++count)
        p += double(s[i]) * s[i] / (32768.0 * 32768.0);
    return count ? p / count : 0;
}
constexpr double kLoud = 1e-4;   // -40 dBFS

// A stand-in station that keeps itself connected and talks on a timer.
class Station {
public:
    Station(int index, const QHostAddress &address, const std::vector<QByteArray> &tone, const QElapsedTimer &clock)
        : call(QStringLiteral("VK3%1%2").arg(QChar('A' + index / 26 % 26)).arg(QChar('A' + index % 26)).toLatin1()),
          el(address, QHostAddress(QStringLiteral("127.0.0.1"))), m_tone(tone), m_clock(clock), m_rng(index + 1)
    {
        m_talk.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_talk, &QTimer::timeout, [this] { packetDue(); });
        QObject::connect(&m_keepAlive, &QTimer::timeout, [this] { el.connectToNode(call, "Bench"); });
    }
    void connectToNode(int keepAlivePhaseMs)
    {
        el.connectToNode(call, "Bench");
        QTimer::singleShot(keepAlivePhaseMs, &m_keepAlive, [this] { m_keepAlive.start(10000); });
    }
    // Starts an over now (its first packet at once) or `phaseMs` from now;
    // the over's start is its first packet's time before any jitter, in us.
    qint64 talk(int jitterMs, int phaseMs = 0)
    {
        m_jitterMs = jitterMs;
        if (phaseMs > 0) {
            QTimer::singleShot(phaseMs, Qt::PreciseTimer, &m_talk, [this] {
                packetDue();
                m_talk.start(kPacketMs);
            });
            return -1;
        }
        const qint64 start = m_clock.nsecsElapsed() / 1000;
        packetDue();
        m_talk.start(kPacketMs);
        return start;
    }
    void stop() { m_talk.stop(); }
    int packetsDue() const { return m_packet; }

    const QByteArray call;
    EchoLinkStation el;

private:
    void packetDue()
    {
        const QByteArray payload = m_tone[size_t(m_packet++) % m_tone.size()];
        if (m_jitterMs <= 0) {
            el.sendGsm(payload);
            return;
        }
        // Under 80 ms of jitter the packets keep their order, so the
        // sequence number given at sending is the one given when due.
        std::uniform_int_distribution<int> delay(0, m_jitterMs);
        QTimer::singleShot(delay(m_rng), Qt::PreciseTimer, &m_talk, [this, payload] { el.sendGsm(payload); });
    }
    const std::vector<QByteArray> &m_tone;
    const QElapsedTimer &m_clock;
    QTimer m_talk, m_keepAlive;
    std::mt19937 m_rng;
    int m_jitterMs = 0;
    int m_packet = 0;
};

QHostAddress stationAddress(int i)
{
    return QHostAddress(i < 200 ? QStringLiteral("127.0.0.%1").arg(20 + i) : QStringLiteral("127.0.1.%1").arg(i - 180));
}

// A node under test: started, its pid, its radio.
struct Node {
    virtual ~Node() = default;
    virtual bool start(int maxStations, QString *why) = 0;
    virtual qint64 pid() const = 0;
    virtual UdpRadio &radio() = 0;
};

struct MirelvaNode : Node {
    QTemporaryDir dir;
    UdpRadio r{8000};
    QElapsedTimer clock;
    std::unique_ptr<Program> p;
    bool start(int maxStations, QString *why) override
    {
        clock.start();
        if (!r.open(why))
            return false;
        // ALLOWIP: the stations are listed in the directory anyway, but on
        // loopback the address check need not wait for the list.
        writeFile(dir.filePath("mirelva/echolink.ini"),
                  QStringLiteral("[SETTINGS]\nCALLSIGN=%1\nPASSWORD=x\nSERVERS=127.0.0.1\nBINDADDR=127.0.0.1\n"
                                 "LISTEN=unix:%2/node.sock\nRXAUDIO=udp:127.0.0.1:%3\nTXAUDIO=udp:127.0.0.1:%4\n"
                                 "SQL=vox\nMAXQSOS=%5\nALLOWIP=127.0.0.0/8\n")
                      .arg(kNodeCall, dir.path())
                      .arg(r.rxPort)
                      .arg(r.txPort)
                      .arg(std::min(100, maxStations + 1))
                      .toUtf8());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
        p = std::make_unique<Program>(binDir() + QStringLiteral("/mirelva-echolink"), QStringList{}, env, clock);
        if (!p->p.waitForStarted(5000)) {
            *why = QStringLiteral("cannot start mirelva-echolink");
            return false;
        }
        return true;
    }
    qint64 pid() const override { return p->p.processId(); }
    UdpRadio &radio() override { return r; }
};

struct SvxLinkNode : Node {
    QTemporaryDir dir;
    QElapsedTimer clock;
    std::unique_ptr<SvxLinkStation> s;
    bool start(int maxStations, QString *why) override
    {
        clock.start();
        SvxLinkConf c;
        c.echolinkCallsign = kNodeCall;
        c.bindAddr = QStringLiteral("127.0.0.1");
        c.maxQsos = maxStations + 1;
        s = std::make_unique<SvxLinkStation>(dir.filePath("svxlink"), c, clock);
        return SvxLinkStation::available(why) && s->start(why);
    }
    qint64 pid() const override { return s->process()->p.processId(); }
    UdpRadio &radio() override { return s->radio(); }
};

// Runs the whole measurement on one node and prints "key value" lines.
void measure(Node &node, const Options &o)
{
    const auto out = [](const QByteArray &key, double v) { std::printf("%s %f\n", key.constData(), v); };
    const auto problem = [](const QString &why) { std::printf("problem %s\n", qPrintable(why)); };
    const int most = *std::max_element(o.counts.begin(), o.counts.end());
    QElapsedTimer clock;
    clock.start();

    std::vector<QByteArray> tone;
    {
        GsmCodec enc;
        std::vector<qint16> pcm(kPacketSamples);
        for (int p = 0; p < 25; ++p) {
            for (int i = 0; i < kPacketSamples; ++i)
                pcm[size_t(i)] = qint16(8000 * std::sin(2 * M_PI * 1000 * (p * kPacketSamples + i) / 8000.0));
            tone.push_back(enc.encodePacket(pcm.data()));
        }
    }

    QString why;
    EchoLinkDirectory directory;
    if (!directory.listen(&why))
        return problem(why);
    std::vector<std::unique_ptr<Station>> stations;
    for (int i = 0; i < most; ++i) {
        stations.push_back(std::make_unique<Station>(i, stationAddress(i), tone, clock));
        directory.addStation({QString::fromLatin1(stations.back()->call), QStringLiteral("Bench"), QStringLiteral("ON"),
                              2000 + i, stationAddress(i)});
        if (!stations.back()->el.bind(&why))
            return problem(why);
    }
    if (!node.start(most, &why))
        return problem(why);
    waitFor([&] { return directory.status(kNodeCall) == QLatin1String("ONLINE"); }, 15000);
    if (directory.status(kNodeCall) != QLatin1String("ONLINE"))
        return problem(QStringLiteral("the node did not log in to the directory"));
    UdpRadio &radio = node.radio();
    radio.keepTx = false;
    pause(2000);

    const qint64 pid = node.pid(), self = QCoreApplication::applicationPid();
    const QString status = QStringLiteral("/proc/%1/status").arg(pid);
    const QString rollup = QStringLiteral("/proc/%1/smaps_rollup").arg(pid);
    double c0 = cpuSeconds(pid), b0 = cpuSeconds(self);
    pause(o.idleMs);
    out("idle_cpu", (cpuSeconds(pid) - c0) / o.idleMs * 1000 * 100);
    out("idle_bench_cpu", (cpuSeconds(self) - b0) / o.idleMs * 1000 * 100);
    out("idle_rss", procMb(status, "VmRSS"));
    out("idle_pss", procMb(rollup, "Pss"));

    // The transmitter's datagrams, kept while an over is measured.
    std::vector<TxBlock> tx;
    bool keep = false;
    radio.onTx = [&](const QByteArray &d) {
        if (!keep)
            return;
        const int frames = int(d.size()) / 2 / radio.channels;
        const double p = power(reinterpret_cast<const qint16 *>(d.constData()), frames * radio.channels, radio.channels);
        tx.push_back({clock.nsecsElapsed() / 1000, frames * 1000.0 / radio.rate, p > kLoud});
    };

    int connected = 0;
    bool delaysDone = false;
    for (const int count : o.counts) {
        for (int i = connected; i < count; ++i)
            stations[size_t(i)]->connectToNode(i * 10000 / count);
        connected = std::max(connected, count);
        waitFor([&] {
            return std::all_of(stations.begin(), stations.begin() + count,
                               [](const auto &s) { return s->el.sdesReceived > 0; });
        }, 15000);
        const int accepted = int(std::count_if(stations.begin(), stations.begin() + count,
                                               [](const auto &s) { return s->el.sdesReceived > 0; }));
        std::printf("accepted_%d %d\n", count, accepted);
        pause(2000);

        if (count >= 2 && !delaysDone) {
            delaysDone = true;
            // Station 1 talks alone, station 2 listens.
            Station &talker = *stations[0];
            qint64 overStart = -1;
            bool heard = false;
            GsmCodec dec;
            for (const int jitter : {0, o.jitterMs}) {
                const QByteArray prefix = jitter ? "j_" : "";
                stations[1]->el.onAudio = [&, prefix](const QByteArray &d) {
                    std::vector<qint16> pcm(kPacketSamples);
                    if (overStart < 0 || heard || !dec.decodePacket(d.mid(12), pcm.data())
                        || power(pcm.data(), kPacketSamples) <= kLoud)
                        return;
                    heard = true;
                    out(prefix + "st_delay", double(clock.nsecsElapsed() / 1000 - overStart) / 1000.0);
                };
                for (int over = 0; over < o.overs; ++over) {
                    tx.clear();
                    keep = true;
                    heard = false;
                    const int sentBefore = talker.packetsDue();
                    overStart = talker.talk(jitter);
                    pause(o.overMs);
                    talker.stop();
                    pause(o.restMs);
                    keep = false;
                    const qint64 start = overStart;
                    overStart = -1;
                    const auto loud = std::find_if(tx.begin(), tx.end(), [](const TxBlock &b) { return b.loud; });
                    if (loud != tx.end())
                        out(prefix + "tx_delay", double(loud->atUs - start) / 1000.0);
                    if (o.dump) {
                        std::fprintf(stderr, "over %d jitter %d start %lld\n", over, jitter, start);
                        for (const TxBlock &b : tx)
                            std::fprintf(stderr, "  %8.1f %5.1f %d\n", (b.atUs - start) / 1000.0, b.ms, b.loud);
                    }
                    if (loud == tx.end())
                        continue;
                    const Gaps g = gaps(tx, loud->atUs + qint64(talker.packetsDue() - sentBefore - 2) * kPacketMs * 1000);
                    out(prefix + "gaps", g.count);
                    out(prefix + "gap_ms", g.ms);
                    out(prefix + "tail_gaps", g.tailCount);
                    out(prefix + "tail_gap_ms", g.tailMs);
                    double heardMs = 0;
                    for (const TxBlock &b : tx)
                        heardMs += b.loud ? b.ms : 0;
                    out(prefix + "tx_heard_ms", heardMs);
                    out(prefix + "sent_ms", (talker.packetsDue() - sentBefore) * kPacketMs);
                }
            }
            stations[1]->el.onAudio = nullptr;
        }

        // Every station talking, each a little after the one before.
        qint64 received = 0;
        for (int i = 0; i < count; ++i)
            stations[size_t(i)]->talk(0, 1 + i * kPacketMs / count);
        pause(1000);
        for (int i = 0; i < count; ++i)
            received -= stations[size_t(i)]->el.audioPackets;
        c0 = cpuSeconds(pid);
        b0 = cpuSeconds(self);
        pause(o.cpuMs);
        const QByteArray n = QByteArray::number(count);
        out("cpu_" + n, (cpuSeconds(pid) - c0) / o.cpuMs * 1000 * 100);
        out("bench_cpu_" + n, (cpuSeconds(self) - b0) / o.cpuMs * 1000 * 100);
        for (int i = 0; i < count; ++i)
            received += stations[size_t(i)]->el.audioPackets;
        out("packets_" + n, double(received) / count / o.cpuMs * 1000);
        if (count == most) {
            out("most_rss", procMb(status, "VmRSS"));
            out("most_pss", procMb(rollup, "Pss"));
        }
        for (int i = 0; i < count; ++i)
            stations[size_t(i)]->stop();
        pause(2500);
    }
    radio.onTx = nullptr;
}

} // namespace

namespace {

using Results = QMap<QByteArray, std::vector<double>>;

Results runChild(const QStringList &args, const char *which, QString *problem)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), args.mid(1) << QStringLiteral("--only") << QLatin1String(which));
    // Blocks in the kernel until the child ends: nothing here runs meanwhile.
    child.waitForFinished(900000);
    Results r;
    for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
        const qsizetype sp = line.indexOf(' ');
        if (sp <= 0)
            continue;
        if (line.startsWith("problem "))
            *problem = QString::fromUtf8(line.mid(sp + 1));
        else
            r[line.left(sp)].push_back(line.mid(sp + 1).toDouble());
    }
    if (child.exitStatus() != QProcess::NormalExit && problem->isEmpty())
        *problem = QStringLiteral("the measuring process ended abnormally");
    return r;
}

double one(const Results &r, const QByteArray &key)
{
    return r.value(key).empty() ? std::nan("") : r.value(key).front();
}
double sum(const std::vector<double> &v)
{
    double s = 0;
    for (const double x : v)
        s += x;
    return s;
}

QString fmt(double v, int decimals, const char *unit)
{
    return std::isnan(v) ? QStringLiteral("-") : QString::number(v, 'f', decimals) + QLatin1String(unit);
}

// "median / slowest ms (n of N overs)", or "none" when nothing came.
QString delays(const Results &r, const QByteArray &key, int overs)
{
    const std::vector<double> d = r.value(key);
    if (d.empty())
        return QStringLiteral("none");
    return QStringLiteral("%1 / %2 ms%3")
        .arg(mirelva::bench::median(d), 0, 'f', 1)
        .arg(*std::max_element(d.begin(), d.end()), 0, 'f', 1)
        .arg(int(d.size()) < overs ? QStringLiteral(" (%1 of %2 overs)").arg(d.size()).arg(overs) : QString());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const auto option = [&args](const char *name) {
        const qsizetype i = args.indexOf(QLatin1String(name));
        return i >= 0 && i + 1 < args.size() ? args.at(i + 1) : QString();
    };
    Options o;
    if (args.contains(QLatin1String("--quick"))) {
        o.quick = true;
        o.overs = 3;
        o.overMs = 1600;
        o.restMs = 1200;
        o.idleMs = 4000;
        o.cpuMs = 4000;
    }
    if (!option("--counts").isEmpty()) {
        o.counts.clear();
        for (const QString &c : option("--counts").split(u','))
            if (c.toInt() > 0 && c.toInt() <= 400)
                o.counts.push_back(c.toInt());
        if (o.counts.empty())
            o.counts = {1};
    }
    o.dump = args.contains(QLatin1String("--dump"));
    if (!option("--overs").isEmpty())
        o.overs = std::max(1, option("--overs").toInt());
    if (!option("--jitter").isEmpty())
        o.jitterMs = std::clamp(option("--jitter").toInt(), 0, 79);

    // Each node is measured by a process of its own, so nothing one run
    // leaves behind in this one (sockets, timers, codec state) touches the
    // other, and each starts from the same clean state.
    const QString only = option("--only");
    if (!only.isEmpty()) {
        std::unique_ptr<Node> node;
        if (only == QLatin1String("svxlink"))
            node = std::make_unique<SvxLinkNode>();
        else
            node = std::make_unique<MirelvaNode>();
        measure(*node, o);
        std::fflush(stdout);
        return 0;
    }

    QString problem[2];
    const Results r[2] = {runChild(args, "mirelva", &problem[0]), runChild(args, "svxlink", &problem[1])};
    const char *names[2] = {"mirelva-echolink", "SvxLink 1.7.0"};

    int talking = 0;
    for (const int c : o.counts)
        if (c >= 2) {
            talking = c;
            break;
        }
    std::printf("EchoLink node on loopback%s: stand-in stations sending GSM (a 1 kHz tone) every 80 ms;\n"
                "CPU over %d s with every station talking; delays over %d overs of %.1f s from station 1 with %d stations "
                "connected.\n\n",
                o.quick ? " (--quick)" : "", o.cpuMs / 1000, o.overs, o.overMs / 1000.0, talking);
    for (int i = 0; i < 2; ++i)
        if (!problem[i].isEmpty())
            std::printf("%s: not (fully) measured: %s\n\n", names[i], qPrintable(problem[i]));

    std::printf("| | %s | %s |\n|---|---|---|\n", names[0], names[1]);
    const auto row = [&](const QString &what, const std::function<QString(const Results &)> &cell) {
        std::printf("| %s | %s | %s |\n", qPrintable(what), qPrintable(cell(r[0])), qPrintable(cell(r[1])));
    };
    row(QStringLiteral("CPU, no station connected"), [](const Results &x) { return fmt(one(x, "idle_cpu"), 2, " %"); });
    for (const int c : o.counts) {
        const QByteArray n = QByteArray::number(c);
        row(QStringLiteral("CPU, %1 station%2 connected, all talking").arg(c).arg(c > 1 ? "s" : ""),
            [&](const Results &x) {
                const double accepted = one(x, "accepted_" + n);
                QString s = fmt(one(x, "cpu_" + n), 2, " %");
                if (!std::isnan(accepted) && int(accepted) != c)
                    s += QStringLiteral(" (%1 accepted)").arg(int(accepted));
                return s;
            });
        row(QStringLiteral("  per station, over the idle figure"), [&](const Results &x) {
            const double accepted = one(x, "accepted_" + n);
            return fmt((one(x, "cpu_" + n) - one(x, "idle_cpu")) / (accepted > 0 ? accepted : std::nan("")), 3, " %");
        });
        row(QStringLiteral("  audio packets to each station a second"),
            [&](const Results &x) { return fmt(one(x, "packets_" + n), 1, ""); });
    }
    const QByteArray most = QByteArray::number(*std::max_element(o.counts.begin(), o.counts.end()));
    row(QStringLiteral("memory idle, RSS / PSS"), [](const Results &x) {
        return fmt(one(x, "idle_rss"), 1, "") + QStringLiteral(" / ") + fmt(one(x, "idle_pss"), 1, " MB");
    });
    row(QStringLiteral("memory at %1 stations talking, RSS / PSS").arg(QString::fromLatin1(most)), [](const Results &x) {
        return fmt(one(x, "most_rss"), 1, "") + QStringLiteral(" / ") + fmt(one(x, "most_pss"), 1, " MB");
    });
    row(QStringLiteral("  memory per station (RSS growth over %1)").arg(QString::fromLatin1(most)), [&](const Results &x) {
        const double accepted = one(x, "accepted_" + most);
        return fmt((one(x, "most_rss") - one(x, "idle_rss")) * 1024 / (accepted > 0 ? accepted : std::nan("")), 0, " kB");
    });
    if (talking) {
        for (const int jitter : {0, o.jitterMs}) {
            const QByteArray p = jitter ? "j_" : "";
            const QString net = jitter ? QStringLiteral("%1 ms jitter").arg(jitter) : QStringLiteral("no jitter");
            row(QStringLiteral("station -> transmitter, %1, median / slowest").arg(net),
                [&](const Results &x) { return delays(x, p + "tx_delay", o.overs); });
            row(QStringLiteral("station -> another station, %1, median / slowest").arg(net),
                [&](const Results &x) { return delays(x, p + "st_delay", o.overs); });
            const auto gapCell = [](const Results &x, const QByteArray &key) {
                return x.value(key).empty() ? QStringLiteral("-")
                                            : QStringLiteral("%1 (%2 ms)")
                                                  .arg(sum(x.value(key)))
                                                  .arg(sum(x.value(key.chopped(1) + "_ms")), 0, 'f', 0);
            };
            row(QStringLiteral("  gaps at the transmitter in %1 overs of %2 s (silence)").arg(o.overs).arg(o.overMs / 1000.0),
                [&](const Results &x) { return gapCell(x, p + "gaps"); });
            row(QStringLiteral("  more gaps in the overs' last 160 ms"),
                [&](const Results &x) { return gapCell(x, p + "tail_gaps"); });
            row(QStringLiteral("  tone heard on the transmitter / sent, an over"), [&](const Results &x) {
                const std::vector<double> h = x.value(p + "tx_heard_ms"), sent = x.value(p + "sent_ms");
                return h.empty() ? QStringLiteral("-")
                                 : fmt(sum(h) / double(h.size()) / 1000.0, 2, "") + QStringLiteral(" / ")
                                       + fmt(sum(sent) / double(sent.size()) / 1000.0, 2, " s");
            });
        }
    }
    std::printf("\nThe benchmark's own CPU (its %d stations), idle / at %s stations: %s / %s (mirelva-echolink's run), "
                "%s / %s (SvxLink's)\n",
                int(most.toInt()), most.constData(), qPrintable(fmt(one(r[0], "idle_bench_cpu"), 1, " %")),
                qPrintable(fmt(one(r[0], "bench_cpu_" + most), 1, " %")),
                qPrintable(fmt(one(r[1], "idle_bench_cpu"), 1, " %")),
                qPrintable(fmt(one(r[1], "bench_cpu_" + most), 1, " %")));
    return 0;
}
