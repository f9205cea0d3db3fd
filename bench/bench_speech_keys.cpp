// How soon the keyboard is served while a keyed announcement is spoken: a
// Tab (the focus moves at once) and a letter (it waits for the speech to
// end), beside the same Tab with the station idle. The keys come as the
// screen reader's questions do, by calls posted to the windows' thread from
// another; the speech lasts 2 s on a thread of its own.
//
//   bench_speech_keys            prints medians and the worst of 20 rounds, in ms

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include "benchsupport.h"
#include "support/announcer_fixture.h"

using namespace mirelva;
using namespace mirelva::test;

namespace {

constexpr int kRounds = 20;
constexpr int kSpeechMs = 2000;
constexpr int kKeyAfterMs = 300;

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    std::vector<double> tabSpeaking, letterSpeaking, tabIdle;
    for (int round = 0; round < kRounds; ++round) {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.show();
        QApplication::setActiveWindow(&w);
        if (!QTest::qWaitForWindowActive(&w))
            return 1;
        w.TextInput3->setText(QStringLiteral("Net tonight"));

        // Idle: a Tab from another thread.
        w.TextInput3->setFocus();
        QElapsedTimer clock;
        std::thread idle([&] {
            clock.start();
            QMetaObject::invokeMethod(qApp, [&] { QTest::keyClick(w.TextInput3, Qt::Key_Tab); });
        });
        while (w.focusWidget() == w.TextInput3)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        tabIdle.push_back(clock.nsecsElapsed() / 1e6);
        idle.join();

        // Speaking: a Tab, then a letter into the box the Tab left.
        w.TextInput3->setFocus();
        QWidget *next = nullptr;
        double tabAt = -1;
        QElapsedTimer sent;
        f.voice.speaking = [&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(kKeyAfterMs));
            sent.start();
            QMetaObject::invokeMethod(qApp, [&] {
                QTest::keyClick(w.TextInput3, Qt::Key_Tab);
                next = w.focusWidget();
                tabAt = sent.nsecsElapsed() / 1e6;
                QTest::keyClick(w.TextInput3, Qt::Key_End);
                QTest::keyClick(w.TextInput3, Qt::Key_X);
            });
            std::this_thread::sleep_for(std::chrono::milliseconds(kSpeechMs - kKeyAfterMs));
        };
        w.Speak3_Click();
        while (!w.TextInput3->text().endsWith(QLatin1Char('x')))
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        letterSpeaking.push_back(sent.nsecsElapsed() / 1e6);
        if (next != w.TextInput3)
            tabSpeaking.push_back(tabAt);
    }
    const auto worst = [](const std::vector<double> &v) { return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end()); };
    std::printf("focus move (Tab), idle:            median %.2f ms, worst %.2f ms\n", bench::median(tabIdle),
                worst(tabIdle));
    std::printf("focus move (Tab), during a speech: median %.2f ms, worst %.2f ms (moved in %zu of %d rounds)\n",
                bench::median(tabSpeaking), worst(tabSpeaking), tabSpeaking.size(), kRounds);
    std::printf("a letter typed during a speech reaches its box after %.0f ms (median; the speech had %d ms left)\n",
                bench::median(letterSpeaking), kSpeechMs - kKeyAfterMs);
    return 0;
}
