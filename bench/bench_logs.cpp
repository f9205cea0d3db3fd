// The on-screen logs over a long run: the chat log of the message box (chat
// texts received, and the greeting window's copies of what it sent) and the
// main window's connect history, each fed through its real handler with the
// windows shown, as on a station left running for weeks.
//
//   bench_logs [lines]        (default 100000 per log)
//
// For each log: the total time, the time of the first and the last 1000
// appends, and their ratio, in CPU time of the program's one thread (the
// machine may be shared; the wall time is printed beside). BENCH_LOGS_TRACE=1
// prints every tenth block as well. Window events (layout, painting) are let run
// every 100 appends and count in the times. The target is a ratio of at
// most 1.5: an append on day 30 costs what it cost on day 1.

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <functional>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include "announcer/mainwindow.h"
#include "bench/benchsupport.h"
#include "core/nodebackend.h"
#include "core/onairlog.h"
#include "core/speechvoice.h"
#include "ui/station.h"
#include "ui/vbtimer.h"
#include "greeting/greetingwindow.h"
#include "messagebox/messageboxwindow.h"
#include "node/simulated/simulatednode.h"

using namespace mirelva;
using bench::SilentVoice;

namespace {

constexpr int kBlock = 1000;

// CPU time of this thread in milliseconds: other programs sharing the
// machine do not count, the log's own work (layout, painting) does.
double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

void measure(const char *what, int lines, const std::function<void(int)> &append, const QPlainTextEdit *log)
{
    QElapsedTimer wall;
    wall.start();
    const double start = cpuMs();
    double blockStart = start;
    double first = 0;
    double last = 0;
    const bool trace = qEnvironmentVariableIsSet("BENCH_LOGS_TRACE");
    for (int i = 0; i < lines; ++i) {
        append(i);
        if (i % 100 == 99)
            QApplication::processEvents();
        if (i % kBlock == kBlock - 1) {
            const double now = cpuMs();
            const double ms = now - blockStart;
            if (i < kBlock)
                first = ms;
            last = ms;
            if (trace && (i / kBlock) % 10 == 0)
                std::printf("  %s: block %d: %.1f ms\n", what, i / kBlock, ms);
            blockStart = now;
        }
    }
    const double totalMs = cpuMs() - start;
    std::printf("%-16s %7d lines  CPU %8.1f ms total (wall %8.1f ms)  first 1000: %6.1f ms  last 1000: %6.1f ms"
                "  last/first: %.2f  (%lld characters)\n",
                what, lines, totalMs, double(wall.nsecsElapsed()) / 1e6, first, last, first > 0 ? last / first : 0.0,
                static_cast<long long>(log->document()->characterCount()));
    std::fflush(stdout);
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
    const int lines = argc > 1 ? std::max(kBlock, atoi(argv[1])) : 100000;

    OnAirLog::setEchoToStderr(false);
    SimulatedNode node;
    SilentVoice voice;
    tellNodeOfSpeech(voice, node);
    Station station;
    station.node = &node;
    station.voice = &voice;

    MainWindow window(station);
    window.Form_Load();
    // The handlers are driven here; no timer adds its own work meanwhile.
    for (QObject *o : {static_cast<QObject *>(&window), static_cast<QObject *>(station.greeting),
                       static_cast<QObject *>(station.messageBox)})
        for (VbTimer *t : o->findChildren<VbTimer *>())
            QObject::disconnect(t, &VbTimer::Timer, nullptr, nullptr);
    window.show();
    window.SSTab1->setCurrentIndex(2);   // the connect history on screen
    MessageBoxWindow &mb = *station.messageBox;
    mb.show();
    GreetingWindow &greeting = *station.greeting;
    QApplication::processEvents();

    // A station that filters a few words and stamps what it shows.
    mb.FilterText1->setText(QStringLiteral("contest"));
    mb.FilterText2->setText(QStringLiteral("spam"));
    mb.Check2->setValue(1);
    measure("chat received", lines, [&mb](int i) {
        mb.EchoLink_ChatTextReceived(QStringLiteral("VK2ABC-L>Good evening all, message %1 from the net").arg(i));
    }, mb.IncomingText);

    mb.ClearRX_Click();
    greeting.Option3->setValue(true);
    greeting.TimeStamp->setValue(1);
    measure("greeting copies", lines, [&greeting](int i) {
        greeting.sNamex = QStringLiteral("Operator %1").arg(i);
        greeting.SendMessage();
        if (i % kBlock == 0)
            static_cast<SimulatedNode *>(greeting.station.node)->clearRecords();
    }, mb.IncomingText);

    // Announcements off: the connect handler writes the history line only.
    window.ConDisc->setValue(0);
    measure("connect history", lines, [&window](int i) {
        window.Echolink_connected(QStringLiteral("VK%1ABC").arg(i % 10), QStringLiteral("Name %1").arg(i),
                                  QStringLiteral("192.0.2.%1").arg(i % 250));
    }, window.CallHistory);
    return 0;
}
