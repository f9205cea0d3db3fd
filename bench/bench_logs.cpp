// The on-screen logs over a long run: the chat log of the message box (chat
// texts received, and the greeting window's copies of what it sent) and the
// main window's connect history, each fed through its real handler with the
// windows shown, as on a station left running for weeks.
//
//   bench_logs [lines]        (default 100000 per log)
//
// For each log: the total time, the time of the first and the last 1000
// appends, and their ratio. Window events (layout, painting) are let run
// every 100 appends and count in the times. The target is a ratio of at
// most 1.5: an append on day 30 costs what it cost on day 1.

#include <algorithm>
#include <cstdio>
#include <functional>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include "announcer/mainwindow.h"
#include "core/nodebackend.h"
#include "core/onairlog.h"
#include "core/speechvoice.h"
#include "core/station.h"
#include "core/vbtimer.h"
#include "greeting/greetingwindow.h"
#include "messagebox/messageboxwindow.h"
#include "node/simulatednode.h"

using namespace mirelva;

namespace {

class SilentVoice : public SpeechVoice {
protected:
    void play(const QString &, int) override {}
};

constexpr int kBlock = 1000;

void measure(const char *what, int lines, const std::function<void(int)> &append, const QPlainTextEdit *log)
{
    QElapsedTimer total;
    QElapsedTimer block;
    double first = 0;
    double last = 0;
    total.start();
    block.start();
    for (int i = 0; i < lines; ++i) {
        append(i);
        if (i % 100 == 99)
            QApplication::processEvents();
        if (i % kBlock == kBlock - 1) {
            const double ms = double(block.nsecsElapsed()) / 1e6;
            if (i < kBlock)
                first = ms;
            last = ms;
            block.restart();
        }
    }
    const double totalMs = double(total.nsecsElapsed()) / 1e6;
    std::printf("%-22s %7d lines  %9.1f ms total  first 1000: %7.1f ms  last 1000: %7.1f ms  last/first: %.2f"
                "  (%lld characters)\n",
                what, lines, totalMs, first, last, first > 0 ? last / first : 0.0,
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
