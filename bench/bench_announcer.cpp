// The announcer's running costs: the whole main window on the built-in node
// with a voice that speaks nowhere.
//
//   bench_announcer [idle seconds] [repetitions]
//
// (a) idle CPU: the share of one core the process uses while every timer of
//     the window runs and nothing happens on the node;
// (b) connect-to-key latency: from a station connecting on the node to the
//     transmitter being keyed for its announcement (the SetPTT request
//     reaching the node).

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include "announcer/mainwindow.h"
#include "core/nodebackend.h"
#include "core/onairlog.h"
#include "core/speechvoice.h"
#include "core/station.h"
#include "node/simulatednode.h"

using namespace mirelva;

namespace {

class SilentVoice : public SpeechVoice {
protected:
    void play(const QString &, int) override {}
};

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto sec = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return sec(u.ru_utime) + sec(u.ru_stime);
}

void runEventLoopFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toUtf8());
    qputenv("XDG_RUNTIME_DIR", settings.path().toUtf8());

    QApplication app(argc, argv);
    const int idleSeconds = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    const int repetitions = argc > 2 ? std::max(1, atoi(argv[2])) : 200;

    OnAirLog::setEchoToStderr(false);
    SimulatedNode node;
    SilentVoice voice;
    tellNodeOfSpeech(voice, node);
    Station station;
    station.node = &node;
    station.voice = &voice;

    MainWindow window(station);
    window.Form_Load();
    window.show();
    // Let start-up settle before measuring.
    runEventLoopFor(1500);

    // (a) idle CPU
    QElapsedTimer wall;
    const double cpu0 = cpuSeconds();
    wall.start();
    runEventLoopFor(idleSeconds * 1000);
    const double cpu = cpuSeconds() - cpu0;
    const double wallSeconds = double(wall.nsecsElapsed()) / 1e9;
    std::printf("idle CPU: %.3f%% of one core (%.3f s CPU over %.1f s, all timers running)\n",
                100.0 * cpu / wallSeconds, cpu, wallSeconds);

    // (b) connect-to-key latency
    QElapsedTimer sinceEvent;
    qint64 keyedAtNs = -1;
    QObject::connect(&node, &SimulatedNode::recorded, &node, [&](const SimulatedNode::Record &r) {
        if (keyedAtNs < 0 && r.request.toText() == QLatin1String("SetPTT on"))
            keyedAtNs = sinceEvent.nsecsElapsed();
    });
    std::vector<double> us;
    us.reserve(size_t(repetitions));
    int missed = 0;
    for (int i = 0; i < repetitions; ++i) {
        const QString call = QStringLiteral("VK%1ABC").arg(i % 10);
        keyedAtNs = -1;
        sinceEvent.start();
        node.stationConnects(call, QStringLiteral("Bench"), QStringLiteral("192.0.2.7"));
        if (keyedAtNs < 0) {
            // Not keyed inside the event itself: wait for it a little.
            QElapsedTimer guard;
            guard.start();
            while (keyedAtNs < 0 && guard.elapsed() < 2000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        if (keyedAtNs < 0)
            ++missed;
        else
            us.push_back(double(keyedAtNs) / 1e3);
        node.stationDisconnects(call);
        QCoreApplication::processEvents();
    }
    if (us.empty()) {
        std::printf("connect-to-key latency: never keyed in %d repetitions\n", repetitions);
        return 1;
    }
    std::sort(us.begin(), us.end());
    std::printf("connect-to-key latency over %zu connects: median %.1f us, min %.1f us, max %.1f us%s\n",
                us.size(), us[us.size() / 2], us.front(), us.back(),
                missed ? QStringLiteral(" (%1 never keyed)").arg(missed).toUtf8().constData() : "");
    return 0;
}
