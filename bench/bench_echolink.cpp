// mirelva-echolink beside SvxLink, on the same machine and the same loopback
// set-up: a stand-in directory on 127.0.0.1:5200, the node on 127.0.0.1
// with UDP sound devices, and stand-in EchoLink stations on 127.0.0.20 and
// up sending GSM audio. For each node:
//   - its CPU with no station, and with the stations connected while audio
//     flows both ways: in turns, station 1 talks (to the transmitter and the
//     other stations) and the radio talks (to every station);
//   - the delay from a station's first audio packet to the first audio out
//     of the transmitter's sound device, over several overs.
// SvxLink's squelch is its PTY; mirelva-echolink's is its VOX.
//
//   bench_echolink [--stations N] [--overs N]

#include <gsm.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <memory>

#include "benchsupport.h"
#include "support/echolinkdirectory.h"
#include "support/echolinkstation.h"
#include "support/svxlinkstation.h"
#include "support/udpradio.h"

using namespace mirelva::test;

namespace {

const QString kNodeCall = QStringLiteral("VK2XYZ-L");

void waitFor(const std::function<bool()> &done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}
void pause(int ms)
{
    waitFor([] { return false; }, ms);
}

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

// Four GSM frames, 80 ms at 8 kHz, of silence or of a 1 kHz tone, encoded once.
QByteArray gsmPacket(bool loud, int packetIndex)
{
    static gsm g = gsm_create();
    QByteArray out;
    for (int f = 0; f < 4; ++f) {
        gsm_signal pcm[160];
        for (int i = 0; i < 160; ++i) {
            const int n = (packetIndex * 4 + f) * 160 + i;
            pcm[i] = loud ? gsm_signal(8000 * std::sin(2 * M_PI * 1000 * n / 8000.0)) : 0;
        }
        gsm_byte frame[33];
        gsm_encode(g, pcm, frame);
        out.append(reinterpret_cast<const char *>(frame), 33);
    }
    return out;
}

struct Figures {
    QString problem;
    double idleCpu = 0, loadedCpu = 0;
    std::vector<double> delays;
    double packetsPerStationPerSecond = 0;
    double toneOnAir = 0;      // seconds of the station's 1 kHz out of the transmitter
};

// A node under test: started, its pid, its radio, its squelch.
struct Node {
    virtual ~Node() = default;
    virtual bool start(QString *why) = 0;
    virtual qint64 pid() const = 0;
    virtual UdpRadio &radio() = 0;
    virtual void squelch(bool) {}
};

struct MirelvaNode : Node {
    QTemporaryDir dir;
    UdpRadio r{8000};
    QElapsedTimer clock;
    std::unique_ptr<Program> p;
    bool start(QString *why) override
    {
        clock.start();
        if (!r.open(why))
            return false;
        writeFile(dir.filePath("mirelva/echolink.ini"),
                  QStringLiteral("[SETTINGS]\nCALLSIGN=%1\nPASSWORD=x\nSERVERS=127.0.0.1\nBINDADDR=127.0.0.1\n"
                                 "LISTEN=unix:%2/node.sock\nRXAUDIO=udp:127.0.0.1:%3\nTXAUDIO=udp:127.0.0.1:%4\n"
                                 "SQL=vox\nMAXQSOS=20\n")
                      .arg(kNodeCall, dir.path())
                      .arg(r.rxPort)
                      .arg(r.txPort)
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
    bool start(QString *why) override
    {
        clock.start();
        SvxLinkConf c;
        c.echolinkCallsign = kNodeCall;
        c.bindAddr = QStringLiteral("127.0.0.1");
        s = std::make_unique<SvxLinkStation>(dir.filePath("svxlink"), c, clock);
        return SvxLinkStation::available(why) && s->start(why);
    }
    qint64 pid() const override { return s->process()->p.processId(); }
    UdpRadio &radio() override { return s->radio(); }
    void squelch(bool open) override { s->squelch(open); }
};

Figures measure(Node &node, int stationCount, int overs)
{
    Figures fig;
    EchoLinkDirectory directory;
    if (!directory.listen(&fig.problem))
        return fig;
    std::vector<std::unique_ptr<EchoLinkStation>> stations;
    for (int i = 0; i < stationCount; ++i) {
        const QHostAddress a(QStringLiteral("127.0.0.%1").arg(20 + i));
        directory.addStation({QStringLiteral("VK3T%1").arg(QChar('A' + i)), QStringLiteral("Bench"), QStringLiteral("ON"),
                              2000 + i, a});
        stations.push_back(std::make_unique<EchoLinkStation>(a, QHostAddress(QStringLiteral("127.0.0.1"))));
        if (!stations.back()->bind(&fig.problem))
            return fig;
    }
    if (!node.start(&fig.problem))
        return fig;
    waitFor([&] { return directory.status(kNodeCall) == QLatin1String("ONLINE"); }, 15000);
    if (directory.status(kNodeCall) != QLatin1String("ONLINE")) {
        fig.problem = QStringLiteral("the node did not log in to the directory");
        return fig;
    }
    UdpRadio &radio = node.radio();
    pause(2000);

    const qint64 pid = node.pid();
    double c0 = cpuSeconds(pid);
    pause(10000);
    fig.idleCpu = (cpuSeconds(pid) - c0) / 10 * 100;

    for (int i = 0; i < stationCount; ++i)
        stations[size_t(i)]->connectToNode(QStringLiteral("VK3T%1").arg(QChar('A' + i)).toLatin1(), "Bench");
    waitFor([&] {
        for (const auto &s : stations)
            if (s->sdesReceived == 0)
                return false;
        return true;
    }, 10000);
    for (const auto &s : stations)
        if (s->sdesReceived == 0) {
            fig.problem = QStringLiteral("a station was not accepted");
            return fig;
        }
    pause(2000);

    // Station 1 talks 80 ms packets through a PreciseTimer; the time of its
    // first packet of each over is the start of the delay.
    QElapsedTimer clock;
    clock.start();
    int packet = 0;
    bool talking = false;
    qint64 overStart = -1;
    QTimer talk;
    talk.setTimerType(Qt::PreciseTimer);
    QObject::connect(&talk, &QTimer::timeout, [&] {
        if (talking)
            stations[0]->sendGsm(gsmPacket(true, packet++ % 25));
    });
    talk.start(80);
    radio.onTx = [&](const QByteArray &d) {
        if (overStart < 0)
            return;
        double power = 0;
        for (qsizetype i = 0; i + 1 < d.size(); i += 2) {
            const double s = qFromLittleEndian<qint16>(d.constData() + i) / 32768.0;
            power += s * s;
        }
        if (power / double(d.size() / 2) > 1e-4) {
            fig.delays.push_back(double(clock.nsecsElapsed() / 1000 - overStart) / 1000.0);
            overStart = -1;
        }
    };
    // The delay: station 1's overs alone, so nothing else is on the air.
    const size_t toneFrom = radio.out.size();
    for (int over = 0; over < overs; ++over) {
        talking = true;
        overStart = clock.nsecsElapsed() / 1000;
        stations[0]->sendGsm(gsmPacket(true, packet++ % 25));
        pause(1500);
        talking = false;
        overStart = -1;
        pause(1200);
    }
    fig.toneOnAir = radio.loudBlocks(toneFrom, 1000).second * 0.02;

    // The CPU: audio both ways, in turns: station 1's over (to the
    // transmitter and the other stations), then the radio's (to every
    // station).
    qint64 packetsBefore = 0;
    for (const auto &s : stations)
        packetsBefore += s->audioPackets;
    c0 = cpuSeconds(pid);
    QElapsedTimer window;
    window.start();
    for (int over = 0; over < overs; ++over) {
        talking = true;
        stations[0]->sendGsm(gsmPacket(true, packet++ % 25));
        pause(1500);
        talking = false;
        pause(1200);
        node.squelch(true);
        radio.say(tone(radio.rate, 1500, 800));
        pause(1500);
        node.squelch(false);
        pause(1200);
    }
    const double seconds = window.elapsed() / 1000.0;
    fig.loadedCpu = (cpuSeconds(pid) - c0) / seconds * 100;
    qint64 packets = -packetsBefore;
    for (const auto &s : stations)
        packets += s->audioPackets;
    fig.packetsPerStationPerSecond = double(packets) / stationCount / seconds;
    radio.onTx = nullptr;
    return fig;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const auto option = [&args](const char *name, int def) {
        const int i = int(args.indexOf(QLatin1String(name)));
        return i >= 0 && i + 1 < args.size() ? args.at(i + 1).toInt() : def;
    };
    const int stations = std::max(1, option("--stations", 4));
    const int overs = std::max(1, option("--overs", 8));

    // Each node is measured by a process of its own, so nothing one run
    // leaves behind in this one (sockets, EchoLib's or GSM's state) touches
    // the other.
    const int only = int(args.indexOf(QLatin1String("--only")));
    if (only >= 0 && only + 1 < args.size()) {
        Figures f;
        if (args.at(only + 1) == QLatin1String("svxlink")) {
            SvxLinkNode node;
            f = measure(node, stations, overs);
        } else {
            MirelvaNode node;
            f = measure(node, stations, overs);
        }
        std::printf("problem %s\nidle %f\nloaded %f\npackets %f\ntone %f\n", qPrintable(f.problem), f.idleCpu,
                    f.loadedCpu, f.packetsPerStationPerSecond, f.toneOnAir);
        for (const double d : f.delays)
            std::printf("delay %f\n", d);
        return 0;
    }
    Figures fig[2];
    for (int i = 0; i < 2; ++i) {
        QProcess child;
        QStringList childArgs = args.mid(1);
        childArgs << QStringLiteral("--only") << QLatin1String(i == 0 ? "mirelva" : "svxlink");
        child.start(QCoreApplication::applicationFilePath(), childArgs);
        child.waitForFinished(600000);
        for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
            const QByteArray key = line.left(line.indexOf(' ')), value = line.mid(line.indexOf(' ') + 1);
            if (key == "problem")
                fig[i].problem = QString::fromUtf8(value);
            else if (key == "idle")
                fig[i].idleCpu = value.toDouble();
            else if (key == "loaded")
                fig[i].loadedCpu = value.toDouble();
            else if (key == "packets")
                fig[i].packetsPerStationPerSecond = value.toDouble();
            else if (key == "tone")
                fig[i].toneOnAir = value.toDouble();
            else if (key == "delay")
                fig[i].delays.push_back(value.toDouble());
        }
    }

    std::printf("EchoLink node on loopback: %d stations connected; %d overs of station 1 alone for the delay,\n"
                "then %d of station 1 and of the radio in turns (%d s) for the CPU\n",
                stations, overs, overs, overs * 54 / 10);
    std::printf("%-58s %18s %18s\n", "", "mirelva-echolink", "SvxLink 1.7.0");
    for (const Figures &f : fig)
        if (!f.problem.isEmpty())
            std::printf("  not measured: %s\n", qPrintable(f.problem));
    const auto row = [&](const char *what, double a, double b, const char *unit) {
        std::printf("%-58s %15.2f %s %15.2f %s\n", what, a, unit, b, unit);
    };
    row("CPU, no station connected", fig[0].idleCpu, fig[1].idleCpu, "% ");
    row("CPU, stations connected, audio both ways", fig[0].loadedCpu, fig[1].loadedCpu, "% ");
    row("CPU per connected station (over the idle figure)", (fig[0].loadedCpu - fig[0].idleCpu) / stations,
        (fig[1].loadedCpu - fig[1].idleCpu) / stations, "% ");
    row("station audio in -> transmitter audio out, median", mirelva::bench::median(fig[0].delays),
        mirelva::bench::median(fig[1].delays), "ms");
    row("  slowest of the overs",
        fig[0].delays.empty() ? 0 : *std::max_element(fig[0].delays.begin(), fig[0].delays.end()),
        fig[1].delays.empty() ? 0 : *std::max_element(fig[1].delays.begin(), fig[1].delays.end()), "ms");
    std::printf("%-58s %15zu    %15zu\n", "  overs measured", fig[0].delays.size(), fig[1].delays.size());
    row("  station 1's tone heard on the transmitter (of 1.5 s an over)", fig[0].toneOnAir / overs, fig[1].toneOnAir / overs, "s ");
    row("audio packets to each station per second", fig[0].packetsPerStationPerSecond,
        fig[1].packetsPerStationPerSecond, "  ");
    return 0;
}
