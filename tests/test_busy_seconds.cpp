#include <QTest>

#include "ui/program.h"
#include "support/announcer_fixture.h"

using namespace mirelva;
using namespace mirelva::test;

// A keyed announcement blocks the one thread; the ticks after it still act
// on every schedule second it spanned: the silence schedules, the net starts,
// and the time at the hour when less than a minute late.
class TestBusySeconds : public QObject {
    Q_OBJECT
private slots:
    void init() { Program::resetForTests(); }

    void aSpeechSpanningTheScheduleSecondsCostsNone_data()
    {
        QTest::addColumn<int>("speechSeconds");
        QTest::addColumn<QStringList>("spoken");
        QTest::newRow("30 s: the hour said late") << 30 << QStringList{"Good Evening, The Time Is10 00 PM"};
        QTest::newRow("90 s: the hour too late to say") << 90 << QStringList{};
    }

    void aSpeechSpanningTheScheduleSecondsCostsNone()
    {
        QFETCH(int, speechSeconds);
        QFETCH(QStringList, spoken);
        // A Tuesday. Silence from 22:00:15, a net at 22:00:15, the time at
        // the hour.
        AnnouncerFixture f(QDateTime(QDate(2024, 3, 5), QTime(21, 59, 50)));
        MainWindow &w = f.w();
        DtmfWindow &d = *f.station.dtmf;
        w.Tue->setValue(1);
        w.HourOFF1->setText("22");
        w.MinsOFF1->setText("0");
        w.OnHour->setValue(1);
        d.NetCall2->setText("NET2");
        d.Hour2->setText("22");
        d.Mins2->setText("00");
        d.Tue2->setValue(1);
        w.Timer1_Timer();
        w.Timer5_Timer();
        d.Timer2_Timer();

        // A long text queued for the next tick holds the thread past the
        // hour and past second 15.
        Clock::setForTests(QDateTime(QDate(2024, 3, 5), QTime(21, 59, 51)));
        f.voice.msPerCharacter = 1000;
        w.SayTheText = QString(speechSeconds, QLatin1Char('x'));
        w.flag2 = 1;
        f.voice.spoken.clear();
        w.Timer1_Timer();
        QVERIFY(Clock::now().time() > QTime(22, 0, 15));
        QCOMPARE(f.voice.texts().mid(1), spoken);
        f.node.clearRecords();
        w.Timer5_Timer();
        d.Timer2_Timer();
        QCOMPARE(w.Check1->value(), 1);
        QCOMPARE(f.requests(), QStringList{"Connect NET2"});
        // Each second once: the next tick acts on none of them again.
        Clock::advanceForTests(1);
        w.Timer5_Timer();
        d.Timer2_Timer();
        QCOMPARE(f.requests(), QStringList{"Connect NET2"});
    }

    // The seconds passed are taken in time order, not schedule by schedule:
    // silence on at 07:00 (schedule 2), off at 07:01 (schedule 1), ends off.
    void secondsAreTakenInTimeOrder()
    {
        AnnouncerFixture f(QDateTime(QDate(2024, 3, 5), QTime(6, 59, 0)));
        MainWindow &w = f.w();
        w.Tue->setValue(1);
        w.HourON1b->setText("7");
        w.MinsON1b->setText("1");
        w.Tue2->setValue(1);
        w.HourOFF2->setText("7");
        w.MinsOFF2->setText("0");
        w.Timer5_Timer();
        Clock::setForTests(QDateTime(QDate(2024, 3, 5), QTime(7, 2, 0)));
        w.Timer5_Timer();
        QCOMPARE(w.Check1->value(), 0);
        // A gap longer than a blocked stretch (a clock set forward) owes nothing.
        Clock::setForTests(QDateTime(QDate(2024, 3, 6), QTime(7, 2, 0)));
        w.Wed2->setValue(1);
        w.Timer5_Timer();
        QCOMPARE(w.Check1->value(), 0);
    }
};

QTEST_MAIN(TestBusySeconds)
#include "test_busy_seconds.moc"
