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
//   - its wake-ups a second (voluntary context switches of all its threads)
//     idle, in those stretches, and while one station of 10 talks;
//   - with 10 stations connected (the first stage with two or more), one
//     talking, at each jitter (each packet delayed by a random 0..JITTER ms,
//     so beyond 80 ms they overtake each other) with LOSS % of packets never
//     sent: the delay from the station's first packet of an over to the
//     first loud audio out of the transmitter's sound device (the station's
//     first over apart: a station that has not talked before, on a node that
//     has heard others), and to the first loud packet another station
//     receives from the node (its GSM decoder warmed on the tone first, as a
//     listener's is: a fresh decoder on a pure tone decodes it at -53 dBFS
//     until the sender's cycle restarts);
//   - the gaps inside those overs at the transmitter (benchsupport.h's
//     sound card), those in the over's last 160 ms apart, a minute of talk;
//   - the level dips there: 100 ms or more of audio 3 dB or more under the
//     over's median level (a lost packet's stand-ins fade for 60 ms only).
// Everything waits in Qt's event loop for timers and sockets, never in a
// polling loop, so the benchmark's own CPU (printed) stays small beside the
// node's. SvxLink's squelch is its PTY; mirelva-echolink's is its VOX.
// Run it beside other checkouts under the EchoLink ports' lock:
//
//   flock /tmp/mirelva-echolink-ports.lock bench_echolink [--quick]
//       [--counts 1,10,50] [--overs N] [--jitter 0,60,120] [--loss 2] [--dump]
//
// --quick measures 4 s stretches and 4 overs (about 2 minutes, against
// about 5). --help says this and ends. The figures go out as a table to
// paste into docs/echolink.md.
// --dump writes each over's transmitter datagrams (ms from the over's start,
// length, loud) to standard error.

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
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
    int overs = 8;
    int overMs = 3000;
    int restMs = 1500;
    int idleMs = 10000;
    int cpuMs = 10000;
    std::vector<int> jitters{0, 60, 120};
    double loss = 0.02;
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

// Voluntary context switches of all a process's threads: each a wait in
// poll() ended by a wake-up.
qint64 wakeUps(qint64 pid)
{
    qint64 n = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &t : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        n += std::max(0L, mirelva::bench::procKb(tasks.filePath(t + QStringLiteral("/status")), "voluntary_ctxt_switches"));
    return n;
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
    // `loss`: the share of packets never sent.
    qint64 talk(int jitterMs, int phaseMs = 0, double loss = 0)
    {
        m_jitterMs = jitterMs;
        m_loss = loss;
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
        const QByteArray payload = m_tone[size_t(m_packet) % m_tone.size()];
        // The sequence number is given when due, so beyond 80 ms of jitter
        // the packets come out of order as on the internet.
        const quint16 seq = quint16(m_packet++);
        if (m_loss > 0 && std::uniform_real_distribution<double>(0, 1)(m_rng) < m_loss)
            return;
        if (m_jitterMs <= 0) {
            el.sendGsm(payload, seq);
            return;
        }
        std::uniform_int_distribution<int> delay(0, m_jitterMs);
        QTimer::singleShot(delay(m_rng), Qt::PreciseTimer, &m_talk, [this, payload, seq] { el.sendGsm(payload, seq); });
    }
    const std::vector<QByteArray> &m_tone;
    const QElapsedTimer &m_clock;
    QTimer m_talk, m_keepAlive;
    std::mt19937 m_rng;
    int m_jitterMs = 0;
    double m_loss = 0;
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
    qint64 w0 = wakeUps(pid);
    pause(o.idleMs);
    out("idle_cpu", (cpuSeconds(pid) - c0) / o.idleMs * 1000 * 100);
    out("idle_wake", double(wakeUps(pid) - w0) / o.idleMs * 1000);
    out("idle_bench_cpu", (cpuSeconds(self) - b0) / o.idleMs * 1000 * 100);
    out("idle_rss", procMb(status, "VmRSS"));
    out("idle_pss", procMb(rollup, "Pss"));

    // The transmitter's datagrams, kept while an over is measured, with
    // their power.
    std::vector<TxBlock> tx;
    std::vector<double> txPower;
    bool keep = false;
    radio.onTx = [&](const QByteArray &d) {
        if (!keep)
            return;
        const int frames = int(d.size()) / 2 / radio.channels;
        const double p = power(reinterpret_cast<const qint16 *>(d.constData()), frames * radio.channels, radio.channels);
        tx.push_back({clock.nsecsElapsed() / 1000, frames * 1000.0 / radio.rate, p > kLoud});
        txPower.push_back(p);
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
            // At each jitter a station that has not talked yet talks alone
            // (its first over apart), station 2 listens.
            qint64 overStart = -1;
            bool heard = false;
            std::unique_ptr<GsmCodec> dec;
            qint64 talkWake = 0, talkMs = 0;
            for (size_t ji = 0; ji < o.jitters.size(); ++ji) {
                const int jitter = o.jitters[ji];
                Station &talker = *stations[2 + ji < size_t(count) ? 2 + ji : 0];
                const QByteArray prefix = "j" + QByteArray::number(jitter) + "_";
                stations[1]->el.onAudio = [&, prefix](const QByteArray &d) {
                    std::vector<qint16> pcm(kPacketSamples);
                    if (overStart < 0 || heard || !dec->decodePacket(d.mid(12), pcm.data())
                        || power(pcm.data(), kPacketSamples) <= kLoud)
                        return;
                    heard = true;
                    out(prefix + "st_delay", double(clock.nsecsElapsed() / 1000 - overStart) / 1000.0);
                };
                for (int over = 0; over < o.overs; ++over) {
                    tx.clear();
                    txPower.clear();
                    keep = true;
                    heard = false;
                    const int sentBefore = talker.packetsDue();
                    // A listener's decoder has heard the tone before.
                    dec = std::make_unique<GsmCodec>();
                    std::vector<qint16> pcm(kPacketSamples);
                    for (size_t k = 0; k < tone.size(); ++k)
                        dec->decodePacket(tone[(size_t(sentBefore) + k) % tone.size()], pcm.data());
                    const qint64 w = wakeUps(pid);
                    overStart = talker.talk(jitter, 0, o.loss);
                    pause(o.overMs);
                    talker.stop();
                    if (jitter == 0) {
                        talkWake += wakeUps(pid) - w;
                        talkMs += o.overMs;
                    }
                    pause(o.restMs);
                    keep = false;
                    const qint64 start = overStart;
                    overStart = -1;
                    const auto loud = std::find_if(tx.begin(), tx.end(), [](const TxBlock &b) { return b.loud; });
                    if (loud != tx.end())
                        out(prefix + (over == 0 ? "first_tx_delay" : "tx_delay"), double(loud->atUs - start) / 1000.0);
                    if (o.dump) {
                        std::fprintf(stderr, "over %d jitter %d start %lld\n", over, jitter, start);
                        for (size_t i = 0; i < tx.size(); ++i)
                            std::fprintf(stderr, "  %8.1f %5.1f %d %6.1f\n", (tx[i].atUs - start) / 1000.0, tx[i].ms,
                                         tx[i].loud, 10 * std::log10(txPower[i] + 1e-12));
                    }
                    if (loud == tx.end())
                        continue;
                    const int sent = talker.packetsDue() - sentBefore;
                    const Gaps g = gaps(tx, loud->atUs + qint64(sent - 2) * kPacketMs * 1000);
                    out(prefix + "gaps", g.count);
                    out(prefix + "gap_ms", g.ms);
                    out(prefix + "tail_gaps", g.tailCount);
                    out(prefix + "tail_gap_ms", g.tailMs);
                    out(prefix + "talk_ms", sent * kPacketMs);
                    // Level dips: audio 3 dB or more under the over's median
                    // level for 100 ms or more.
                    std::vector<double> levels;
                    for (size_t i = 0; i < tx.size(); ++i)
                        if (tx[i].loud)
                            levels.push_back(txPower[i]);
                    const double low = mirelva::bench::median(levels) / 2;
                    int dips = 0;
                    double dipMs = 0, run = 0;
                    const size_t first = size_t(loud - tx.begin());
                    for (size_t i = first; i < tx.size(); ++i) {
                        if (tx[i].loud && txPower[i] < low) {
                            run += tx[i].ms;
                            continue;
                        }
                        if (run >= 100) {
                            ++dips;
                            dipMs += run;
                        }
                        run = 0;
                    }
                    out(prefix + "dips", dips);
                    out(prefix + "dip_ms", dipMs);
                }
            }
            stations[1]->el.onAudio = nullptr;
            if (talkMs > 0)
                out("talk1_wake", double(talkWake) / talkMs * 1000);
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
        w0 = wakeUps(pid);
        pause(o.cpuMs);
        const QByteArray n = QByteArray::number(count);
        out("cpu_" + n, (cpuSeconds(pid) - c0) / o.cpuMs * 1000 * 100);
        out("wake_" + n, double(wakeUps(pid) - w0) / o.cpuMs * 1000);
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
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        std::printf("usage: flock /tmp/mirelva-echolink-ports.lock bench_echolink [--quick] [--counts 1,10,50]\n"
                    "           [--overs N] [--jitter 0,60,120] [--loss PERCENT] [--dump]\n\n"
                    "mirelva-echolink, then SvxLink, on loopback with stand-in stations: CPU, memory and wake-ups\n"
                    "at each count of stations; with 10 connected, one talking at each jitter with LOSS %% of its\n"
                    "packets lost (2 by default): delays to the transmitter (a station's first over apart) and to\n"
                    "another station, gaps and level dips on the air. Binds EchoLink's ports 5198-5200 on\n"
                    "127.0.0.1. About 5 minutes; --quick about 2.\n");
        return 0;
    }
    Options o;
    if (args.contains(QLatin1String("--quick"))) {
        o.quick = true;
        o.overs = 4;
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
    if (!option("--jitter").isEmpty()) {
        o.jitters.clear();
        for (const QString &j : option("--jitter").split(u','))
            o.jitters.push_back(std::clamp(j.toInt(), 0, 200));
    }
    if (!option("--loss").isEmpty())
        o.loss = std::clamp(option("--loss").toDouble(), 0.0, 50.0) / 100;

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
                "CPU over %d s with every station talking; delays over %d overs of %.1f s at each jitter from a station\n"
                "that had not talked before, with %d stations connected.\n\n",
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
    row(QStringLiteral("wake-ups a second, no station connected"),
        [](const Results &x) { return fmt(one(x, "idle_wake"), 0, ""); });
    for (const int c : o.counts) {
        const QByteArray n = QByteArray::number(c);
        row(QStringLiteral("wake-ups a second, %1 station%2, all talking").arg(c).arg(c > 1 ? "s" : ""),
            [&](const Results &x) { return fmt(one(x, "wake_" + n), 0, ""); });
    }
    if (talking) {
        row(QStringLiteral("wake-ups a second, %1 stations, one talking").arg(talking),
            [](const Results &x) { return fmt(one(x, "talk1_wake"), 0, ""); });
        for (const int jitter : o.jitters) {
            const QByteArray p = "j" + QByteArray::number(jitter) + "_";
            const QString net = QStringLiteral("%1 ms jitter, %2 % loss").arg(jitter).arg(o.loss * 100, 0, 'f', 0);
            row(QStringLiteral("station -> transmitter, %1, a station's first over").arg(net),
                [&](const Results &x) { return delays(x, p + "first_tx_delay", 1); });
            row(QStringLiteral("station -> transmitter, %1, the overs after, median / slowest").arg(net),
                [&](const Results &x) { return delays(x, p + "tx_delay", o.overs - 1); });
            row(QStringLiteral("station -> another station, %1, median / slowest").arg(net),
                [&](const Results &x) { return delays(x, p + "st_delay", o.overs); });
            const auto perMinute = [p](const Results &x, const QByteArray &key, const QByteArray &msKey) {
                const double talkMin = sum(x.value(p + "talk_ms")) / 60000;
                return x.value(p + key).empty() || talkMin <= 0
                           ? QStringLiteral("-")
                           : QStringLiteral("%1 (%2 ms)")
                                 .arg(sum(x.value(p + key)) / talkMin, 0, 'f', 1)
                                 .arg(sum(x.value(p + msKey)) / talkMin, 0, 'f', 0);
            };
            row(QStringLiteral("  gaps at the transmitter a minute of talk (silence)"),
                [&](const Results &x) { return perMinute(x, "gaps", "gap_ms"); });
            row(QStringLiteral("  more gaps in the overs' last 160 ms, a minute"),
                [&](const Results &x) { return perMinute(x, "tail_gaps", "tail_gap_ms"); });
            row(QStringLiteral("  level dips (3 dB down, 100 ms or more) a minute"),
                [&](const Results &x) { return perMinute(x, "dips", "dip_ms"); });
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
