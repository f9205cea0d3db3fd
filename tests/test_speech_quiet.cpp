#include <condition_variable>
#include <mutex>

#include <QAccessible>
#include <QTest>

#include "ui/vbtimer.h"
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

    // Keys while a keyed announcement is spoken: Tab and Shift+Tab move the
    // focus at once (a screen reader follows it); letters and a click wait
    // until the transmitter is released, then reach what they were meant
    // for, in the order they came.
    void theFocusMovesWhileSpeakingAndTheRestWaits()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.show();
        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.TextInput3->setText("Net tonight");
        w.InfoText->setText("Info");
        w.Check3->setValue(0);
        w.TextInput3->setFocus();
        QTest::keyClick(w.TextInput3, Qt::Key_Tab);
        QWidget *next = w.focusWidget();
        QVERIFY(next != w.TextInput3);
        w.TextInput3->setFocus();

        struct Seen {
            QWidget *focus;
            QString typed;
            int check3;
        };
        QList<Seen> seen;
        const auto look = [&] { seen << Seen{w.focusWidget(), w.TextInput3->text(), w.Check3->value()}; };
        f.voice.speaking = [&] {
            onUiThread([&] {
                QTest::keyClick(w.TextInput3, Qt::Key_Tab);
                look();
                QTest::keyClick(next, Qt::Key_Tab, Qt::ShiftModifier);
                look();
                QTest::keyClick(w.TextInput3, Qt::Key_End);
                QTest::keyClicks(w.TextInput3, " at");
                QTest::mouseClick(w.Check3, Qt::LeftButton);
                QTest::keyClicks(w.TextInput3, " eight");
                look();
            });
        };
        w.Speak3_Click();
        look();
        QCoreApplication::processEvents();
        look();

        QCOMPARE(seen.size(), 5);
        QCOMPARE(seen[0].focus, next);
        QCOMPARE(seen[1].focus, w.TextInput3);
        for (int n = 0; n < 4; ++n) {
            QCOMPARE(seen[n].typed, QString("Net tonight"));
            QCOMPARE(seen[n].check3, 0);
        }
        QCOMPARE(seen[4].typed, QString("Net tonight at eight"));
        QCOMPARE(seen[4].check3, 1);
        QCOMPARE(f.requests(), QStringList({"SetPTT on", "Speech keyed: Net tonight", "SetPTT off", "SetDTR off"}));
    }
};

QTEST_MAIN(TestSpeechQuiet)
#include "test_speech_quiet.moc"
