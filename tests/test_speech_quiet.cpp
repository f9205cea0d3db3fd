#include <condition_variable>
#include <mutex>

#include <QAccessible>
#include <QTest>

#include "core/vbtimer.h"
#include "support/announcer_fixture.h"

using namespace mirelva;
using namespace mirelva::test;

// While a keyed announcement is spoken the handlers wait, as the thread is
// theirs, but the windows are painted and a screen reader's questions are
// answered.
class TestSpeechQuiet : public QObject {
    Q_OBJECT
private slots:
    void aKeyedAnnouncementLetsTheWindowsLiveButNoHandler()
    {
        MainFixture f;   // timers wired as the program runs them
        MainWindow &w = f.w();
        tellNodeOfSpeech(f.voice, f.node);
        Clock::setForTests(QDateTime(QDate(2024, 3, 5), QTime(10, 8, 5)));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        int ticks = 0;
        for (VbTimer *t : w.findChildren<VbTimer *>())
            connect(t, &VbTimer::Timer, this, [&] { ++ticks; });
        int nodeEvents = 0;
        connect(&f.node, &NodeBackend::connected, this, [&] { ++nodeEvents; });

        // What the clock label showed on the screen, paint by paint.
        std::mutex m;
        std::condition_variable cv;
        QStringList painted;
        struct PaintSpy : QObject {
            std::function<void()> onPaint;
            bool eventFilter(QObject *, QEvent *e) override
            {
                if (e->type() == QEvent::Paint)
                    onPaint();
                return false;
            }
        } spy;
        spy.onPaint = [&] {
            std::lock_guard lock(m);
            painted << w.ShowTime->text();
            cv.notify_all();
        };
        w.ShowTime->installEventFilter(&spy);

        // The speech lasts two seconds of the clock. In each, the screen
        // reader asks for the transmitter's state, as the bus's thread asks:
        // by a call posted to this one. A node event comes in the first.
        QStringList answers;
        int ticksWhileSpeaking = -1, nodeEventsWhileSpeaking = -1;
        bool spoken = false;
        f.voice.speaking = [&] {
            // The announcement of the station that connects is no part of it.
            if (std::exchange(spoken, true))
                return;
            const auto onUiThread = [&](std::function<void()> call) {
                bool done = false;
                QMetaObject::invokeMethod(qApp, [&] {
                    call();
                    std::lock_guard lock(m);
                    done = true;
                    cv.notify_all();
                });
                std::unique_lock lock(m);
                cv.wait_for(lock, std::chrono::seconds(5), [&] { return done; });
            };
            for (int second = 6; second <= 7; ++second) {
                const QString shown = QStringLiteral("10:08:0%1").arg(second);
                onUiThread([&] {
                    Clock::advanceForTests(1);
                    if (second == 6)
                        f.node.stationConnects("W1AW", "John", "192.0.2.5");
                });
                {
                    std::unique_lock lock(m);
                    cv.wait_for(lock, std::chrono::seconds(5), [&] { return painted.contains(shown); });
                }
                onUiThread([&] {
                    answers << QAccessible::queryAccessibleInterface(w.PTT)->text(QAccessible::Description);
                    ticksWhileSpeaking = ticks;
                    nodeEventsWhileSpeaking = nodeEvents;
                });
            }
        };
        w.TextInput3->setText("Net tonight");
        w.Speak3_Click();

        QCOMPARE(painted.mid(painted.indexOf("10:08:06")), QStringList({"10:08:06", "10:08:07"}));
        QCOMPARE(answers, QStringList({"PTT ON", "PTT ON"}));
        QCOMPARE(ticksWhileSpeaking, 0);
        QCOMPARE(nodeEventsWhileSpeaking, 0);
        // Once the speech is over the node's event is handled, before the
        // transmitter is released.
        QCOMPARE(nodeEvents, 1);
        QCOMPARE(f.requests().mid(0, 3), QStringList({"SetPTT on", "Speech keyed: Net tonight", "SetPTT on"}));
        QCOMPARE(w.PTT->text(), QString("PTT OFF"));
    }
};

QTEST_MAIN(TestSpeechQuiet)
#include "test_speech_quiet.moc"
