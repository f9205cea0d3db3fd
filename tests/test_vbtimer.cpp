#include <QDateTime>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include "ui/program.h"
#include "ui/vbtimer.h"

using namespace mirelva;

// The timer rules the handlers were written against.
class TestVbTimer : public QObject {
    Q_OBJECT
private slots:
    void init() { Program::resetForTests(); }

    void intervalRules()
    {
        VbTimer t(nullptr, "T", 500, false);
        QVERIFY(!t.setInterval(65536));
        QCOMPARE(t.interval(), 500);
        QVERIFY(!t.setInterval(-1));
        QCOMPARE(t.interval(), 500);
        QVERIFY(t.setInterval(65535));
        QCOMPARE(t.interval(), 65535);
    }

    void zeroIntervalNeverFires()
    {
        VbTimer t(nullptr, "T", 0, true);
        QSignalSpy spy(&t, &VbTimer::Timer);
        QTest::qWait(30);
        QCOMPARE(spy.count(), 0);
    }

    void restingTimerSleepsUntilWoken()
    {
        VbTimer t(nullptr, "T", 5, true);
        QSignalSpy spy(&t, &VbTimer::Timer);
        t.rest();
        QTest::qWait(30);
        QCOMPARE(spy.count(), 0);
        QVERIFY(t.isEnabled() && t.interval() == 5);
        t.wake();
        QTRY_VERIFY(spy.count() > 0);
        // Disabling ends the rest; a disabled timer cannot rest.
        t.rest();
        t.setEnabled(false);
        t.rest();
        t.setEnabled(true);
        QVERIFY(!t.isResting());
        const int before = int(spy.count());
        QTRY_VERIFY(spy.count() > before);
    }

    void reEnablingKeepsThePeriod()
    {
        VbTimer t(nullptr, "T", 40, true);
        QSignalSpy spy(&t, &VbTimer::Timer);
        // Enabling again every 10 ms must not push the tick away.
        for (int i = 0; i < 12; ++i) {
            t.setEnabled(true);
            QTest::qWait(10);
        }
        QVERIFY(spy.count() >= 1);
    }

    void aHandlerLettingEventsRunIsNotEnteredAgain()
    {
        VbTimer t(nullptr, "T", 2, true);
        int depth = 0, deepest = 0, calls = 0;
        connect(&t, &VbTimer::Timer, &t, [&] {
            ++calls;
            deepest = std::max(deepest, ++depth);
            if (calls == 1) {
                // Several periods pass while this handler lets events run.
                QElapsedTimer e;
                e.start();
                while (e.elapsed() < 30)
                    Program::doEvents();
            }
            --depth;
        });
        QTRY_VERIFY_WITH_TIMEOUT(calls >= 2, 2000);
        QCOMPARE(deepest, 1);
    }

    // A wall-clock tick is never early for its second, never comes twice in
    // one second, and a second that passes while its handler lets events run
    // is missed, not nested.
    void wallClockTicksBelongToTheirSecond()
    {
        VbTimer t(nullptr, "T", 1000, false);
        t.setWallClockSecond(true);
        t.setEnabled(true);
        QVector<qint64> at;
        int depth = 0, deepest = 0;
        connect(&t, &VbTimer::Timer, &t, [&] {
            deepest = std::max(deepest, ++depth);
            at.append(QDateTime::currentMSecsSinceEpoch());
            if (at.size() == 1) {
                QElapsedTimer e;
                e.start();
                while (e.elapsed() < 1100)
                    Program::doEvents();
            }
            --depth;
        });
        const qint64 enabledAt = QDateTime::currentMSecsSinceEpoch();
        QTRY_VERIFY_WITH_TIMEOUT(at.size() >= 2, 5000);
        QCOMPARE(deepest, 1);
        QVERIFY(at[0] >= (enabledAt / 1000 + 1) * 1000);
        // The second that came during the first handler is gone.
        QVERIFY(at[1] / 1000 >= at[0] / 1000 + 2);
    }

    void nothingFiresAfterTheEnd()
    {
        VbTimer t(nullptr, "T", 1, true);
        QSignalSpy spy(&t, &VbTimer::Timer);
        Program::end();
        QTest::qWait(20);
        QCOMPARE(spy.count(), 0);
        t.setEnabled(false);
        t.setEnabled(true);
        QTest::qWait(20);
        QCOMPARE(spy.count(), 0);
    }
};

QTEST_MAIN(TestVbTimer)
#include "test_vbtimer.moc"
