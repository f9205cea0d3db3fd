// The announcer's running costs: the whole main window on the built-in node
// with a voice that speaks nowhere.
//
//   bench_announcer [idle seconds] [repetitions] [marks]
//
// (a) idle CPU: the share of one core the process uses while every timer of
//     the window runs and nothing happens on the node;
// (b) lateness after the second: the clock is shifted, by whole seconds, to
//     just before a quarter-hour announcement, a silence schedule or a net
//     start (in turn), and the time from the real second boundary of that
//     mark to the node receiving the first request of it is taken; target:
//     a median within 2 ms;
// (c) connect-to-key latency: from a station connecting on the node to the
//     transmitter being keyed for its announcement (the SetPTT request
//     reaching the node).
//
// On the offscreen platform unless QT_QPA_PLATFORM says otherwise (or
// DISPLAY names an X display, which is then used).

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include "announcer/mainwindow.h"
#include "bench/benchsupport.h"
#include "core/clock.h"
#include "core/nodebackend.h"
#include "core/onairlog.h"
#include "ui/program.h"
#include "core/speechvoice.h"
#include "ui/station.h"
#include "dtmf/dtmfwindow.h"
#include "node/simulated/simulatednode.h"

using namespace mirelva;
using bench::median;
using bench::runEventLoopFor;
using bench::SilentVoice;

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto sec = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return sec(u.ru_utime) + sec(u.ru_stime);
}

qint64 wallMicroseconds()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The three kinds of mark, each set up once and met at a time of day the
// clock is shifted to.
enum class MarkKind { Quarter, Silence, Net };

const char *kindName(MarkKind k)
{
    switch (k) {
    case MarkKind::Quarter: return "quarter-hour announcement";
    case MarkKind::Silence: return "silence schedule start";
    case MarkKind::Net: return "net start";
    }
    return "";
}

// (b): returns the lateness of each mark met, in milliseconds, per kind.
std::vector<std::vector<double>> latenessAfterTheSecond(MainWindow &w, SimulatedNode &node, int marks)
{
    DtmfWindow &dtmf = *w.station.dtmf;
    // Announcements on, the quarter hours spoken, nothing else on the marks.
    w.Check1->setValue(0);
    w.OnHour->setValue(0);
    w.HalfHour->setValue(0);
    w.QuarterHour->setValue(1);
    w.InfoQuarter->setValue(0);
    w.TTSCTRL->setValue(0);
    // Silence schedule 1 every day at 11:07:15, ending far away; warned, so
    // its start sends a chat notice.
    for (CheckBox *day : {w.Sun, w.Mon, w.Tue, w.Wed, w.Thur, w.Fri, w.Sat})
        day->setValue(1);
    w.HourOFF1->setText(QStringLiteral("11"));
    w.MinsOFF1->setText(QStringLiteral("07"));
    w.HourON1b->setText(QStringLiteral("23"));
    w.MinsON1b->setText(QStringLiteral("59"));
    w.Check2->setValue(1);
    // Net 1 every day at 12:09:15.
    const DtmfWindow::Net net1 = dtmf.net(1);
    net1.NetCall->setText(QStringLiteral("W1AW"));
    net1.Hour->setText(QStringLiteral("12"));
    net1.Mins->setText(QStringLiteral("09"));
    for (CheckBox *day : net1.days)
        day->setValue(1);

    // What each kind does first on the node at its mark.
    const QString firstRequest[] = {QStringLiteral("SetPTT on"), QStringLiteral("SendChatText"),
                                    QStringLiteral("Connect")};
    QString expected;
    qint64 actedUs = -1;
    qint64 markUs = 0;
    QObject::connect(&node, &SimulatedNode::recorded, &node, [&](const SimulatedNode::Record &r) {
        // What the previous mark left queued may act just before this one;
        // only the mark's own act counts.
        const qint64 t = wallMicroseconds();
        if (actedUs < 0 && !expected.isEmpty() && t >= markUs - 100000 && r.request.toText().startsWith(expected))
            actedUs = t;
    });

    std::vector<std::vector<double>> late(3);
    const QDate day0(2026, 3, 2);
    for (int i = 0; i < marks; ++i) {
        const auto kind = MarkKind(i % 3);
        const QTime at = kind == MarkKind::Quarter   ? QTime(10, 15, 0)
                         : kind == MarkKind::Silence ? QTime(11, 7, 15)
                                                     : QTime(12, 9, 15);
        const QDateTime mark(day0.addDays(i), at);
        // The mark comes two real seconds from now, on a real second boundary.
        const qint64 markRealSecond = wallMicroseconds() / 1000000 + 2;
        Clock::shiftForTests(mark.toSecsSinceEpoch() - markRealSecond);
        markUs = markRealSecond * 1000000;
        expected = firstRequest[int(kind)];
        actedUs = -1;
        QElapsedTimer guard;
        guard.start();
        while (guard.elapsed() < 4000 && actedUs < 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        if (actedUs >= 0)
            late[size_t(kind)].push_back(double(actedUs - markUs) / 1000.0);
        expected.clear();
        // Undo what the mark did, away from the next one.
        runEventLoopFor(500);
        w.Check1->setValue(0);
        net1.timer->setEnabled(false);
        node.stationDisconnects(QStringLiteral("W1AW"));
        runEventLoopFor(300);
    }
    Clock::useSystemClock();
    return late;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toUtf8());
    qputenv("XDG_RUNTIME_DIR", settings.path().toUtf8());

    QApplication app(argc, argv);
    const int idleSeconds = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    const int repetitions = argc > 2 ? std::max(1, atoi(argv[2])) : 200;
    const int marks = argc > 3 ? std::max(3, atoi(argv[3])) : 24;
    std::printf("platform: %s\n", qPrintable(QGuiApplication::platformName()));

    OnAirLog::setEchoToStderr(false);
    // Painted as the program paints.
    Program::paintWhenIdle(true);
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

    // (b) lateness after the second
    const auto late = latenessAfterTheSecond(window, node, marks);
    std::vector<double> all;
    for (int k = 0; k < 3; ++k) {
        const auto &v = late[size_t(k)];
        all.insert(all.end(), v.begin(), v.end());
        std::printf("lateness after the second, %s: %zu marks, median %.2f ms, max %.2f ms\n",
                    kindName(MarkKind(k)), v.size(), median(v), v.empty() ? 0.0 : *std::max_element(v.begin(), v.end()));
    }
    std::printf("lateness after the second, all %zu marks (of %d): median %.2f ms (target: within 2 ms)\n",
                all.size(), marks, median(all));

    // (c) connect-to-key latency
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
