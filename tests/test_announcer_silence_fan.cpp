#include <QTest>

#include "support/announcer_fixture.h"

using namespace mirelva;
using namespace mirelva::test;

namespace {
// 4 March 2024 is a Monday.
const QDate kMonday(2024, 3, 4);

void at(const QDate &day, int h, int m, int s) { Clock::setForTests(QDateTime(day, QTime(h, m, s))); }
} // namespace

// The silence scheduler and the fan on its serial line.
class TestAnnouncerSilenceFan : public QObject {
    Q_OBJECT

    struct ScheduleBoxes {
        CheckBox *monday;
        TextBox *hourOff, *minsOff, *hourOn, *minsOn;
    };

    static ScheduleBoxes schedule(MainWindow &w, int n)
    {
        switch (n) {
        case 1: return {w.Mon, w.HourOFF1, w.MinsOFF1, w.HourON1b, w.MinsON1b};
        case 2: return {w.Mon2, w.HourOFF2, w.MinsOFF2, w.HourON2b, w.MinsON2b};
        default: return {w.Mon3, w.HourOFF3, w.MinsOFF3, w.HourON3b, w.MinsON3b};
        }
    }

    static void fanTicks(MainWindow &w, int n)
    {
        for (int i = 0; i < n; ++i)
            w.Fan_Timer();
    }

    static QStringList repeated(const QString &text, int n)
    {
        QStringList l;
        for (int i = 0; i < n; ++i)
            l << text;
        return l;
    }

private slots:
    void scheduleFiresAtSecond15OnItsWeekdayOnly_data()
    {
        QTest::addColumn<int>("n");
        QTest::addColumn<QString>("hourOff");
        QTest::addColumn<QString>("minsOff");
        QTest::addColumn<QTime>("offAt");
        QTest::addColumn<QString>("hourOn");
        QTest::addColumn<QString>("minsOn");
        QTest::addColumn<QTime>("onAt");
        QTest::newRow("schedule 1") << 1 << "22" << "00" << QTime(22, 0, 15) << "07" << "00" << QTime(7, 0, 15);
        QTest::newRow("schedule 2") << 2 << "22" << "00" << QTime(22, 0, 15) << "07" << "00" << QTime(7, 0, 15);
        QTest::newRow("schedule 3") << 3 << "22" << "00" << QTime(22, 0, 15) << "07" << "00" << QTime(7, 0, 15);
        QTest::newRow("one digit") << 1 << "9" << "5" << QTime(9, 5, 15) << "7" << "0" << QTime(7, 0, 15);
        QTest::newRow("midnight") << 2 << "0" << "00" << QTime(0, 0, 15) << "23" << "59" << QTime(23, 59, 15);
    }

    void scheduleFiresAtSecond15OnItsWeekdayOnly()
    {
        QFETCH(int, n);
        QFETCH(QString, hourOff);
        QFETCH(QString, minsOff);
        QFETCH(QTime, offAt);
        QFETCH(QString, hourOn);
        QFETCH(QString, minsOn);
        QFETCH(QTime, onAt);
        AnnouncerFixture f;
        MainWindow &w = f.w();
        const ScheduleBoxes s = schedule(w, n);
        s.monday->setValue(1);
        s.hourOff->setText(hourOff);
        s.minsOff->setText(minsOff);
        s.hourOn->setText(hourOn);
        s.minsOn->setText(minsOn);
        const auto tickAt = [&w](const QDate &day, const QTime &t) {
            Clock::setForTests(QDateTime(day, t));
            w.Timer5_Timer();
        };

        tickAt(kMonday, offAt.addSecs(-1));
        QCOMPARE(w.Check1->value(), 0);
        QCOMPARE(w.ShowTime2->text(), offAt.addSecs(-1).toString("HH:mm:ss"));
        tickAt(kMonday, offAt);
        QCOMPARE(w.Check1->value(), 1);
        // The operator's own change holds until the next schedule time.
        w.Check1->setValue(0);
        tickAt(kMonday, offAt.addSecs(1));
        QCOMPARE(w.Check1->value(), 0);
        w.Check1->setValue(1);
        tickAt(kMonday, onAt.addSecs(-15));
        QCOMPARE(w.Check1->value(), 1);
        tickAt(kMonday, onAt);
        QCOMPARE(w.Check1->value(), 0);

        // Tuesday is not ticked: neither time does anything then.
        tickAt(kMonday.addDays(1), offAt);
        QCOMPARE(w.Check1->value(), 0);
        w.Check1->setValue(1);
        tickAt(kMonday.addDays(1), onAt);
        QCOMPARE(w.Check1->value(), 1);
        // Unwarned, the scheduler changes the box silently.
        QVERIFY(f.requests().isEmpty());
        QCOMPARE(w.flag2, 0);
    }

    // Boxes that hold no time of day never fire: the default hour 24, an
    // emptied box, junk from a settings file.
    void noTimeOfDayNeverFires_data()
    {
        QTest::addColumn<QString>("hour");
        QTest::addColumn<QString>("minutes");
        QTest::addColumn<QTime>("tried");
        QTest::newRow("default 24") << "24" << "00" << QTime(0, 0, 15);
        QTest::newRow("minutes 60") << "10" << "60" << QTime(11, 0, 15);
        QTest::newRow("empty hour") << "" << "00" << QTime(0, 0, 15);
        QTest::newRow("junk") << "1a" << "00" << QTime(1, 0, 15);
        QTest::newRow("sign") << "+1" << "00" << QTime(1, 0, 15);
    }

    void noTimeOfDayNeverFires()
    {
        QFETCH(QString, hour);
        QFETCH(QString, minutes);
        QFETCH(QTime, tried);
        AnnouncerFixture f;
        MainWindow &w = f.w();
        for (CheckBox *day : {w.Sun, w.Mon, w.Tue, w.Wed, w.Thur, w.Fri, w.Sat})
            day->setValue(1);
        w.HourOFF1->setText(hour);
        w.MinsOFF1->setText(minutes);
        Clock::setForTests(QDateTime(kMonday, tried));
        w.Timer5_Timer();
        QCOMPARE(w.Check1->value(), 0);
    }

    // With "Warn About Silence Mode" ticked the change is said on the air and
    // told to the stations connected. The warning that silence begins is
    // spoken at once, before the silence, so it is heard.
    void warnedSilenceOffAndOnInTheSameMinute()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.Check2->setValue(1);
        w.Wed->setValue(1);
        w.HourOFF1->setText("22");
        w.MinsOFF1->setText("00");
        w.HourON1b->setText("22");
        w.MinsON1b->setText("00");
        // A clock tick that comes while the warning is spoken is handled
        // inside the speech; it must not say the warning again.
        bool inside = false;
        f.voice.addListener([&w, &inside](const QString &, int) {
            if (inside)
                return;
            inside = true;
            w.Timer1_Timer();
            inside = false;
        });
        at(kMonday.addDays(2), 22, 0, 15);
        w.Timer5_Timer();
        QCOMPARE(f.requests(), QStringList({
                                   "SendChatText 22:00:15  <Silence Mode Enabled>",
                                   "SetPTT on",
                                   "Speech keyed: Silence Mode Enabled",
                                   "SetPTT off",
                                   "SetDTR off",
                                   "SendChatText 22:00:15  <Silence Mode Disabled>",
                               }));
        QCOMPARE(w.Check1->value(), 0);
        QCOMPARE(w.SayTheText, QString("Silence Mode Disabled"));
        QCOMPARE(w.flag2, 1);
        f.node.clearRecords();
        inside = true;
        w.Timer1_Timer();
        QCOMPARE(f.requests(), QStringList({"SetPTT on", "Speech keyed: Silence Mode Disabled", "SetPTT off",
                                            "SetDTR off"}));
    }

    void warnedSilenceWhileTheLinkIsBusy()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.Check2->setValue(1);
        w.Mon->setValue(1);
        w.HourOFF1->setText("22");
        w.MinsOFF1->setText("00");
        // Nobody is talked over: the notice goes to the chat only, and the
        // silence begins on time.
        f.node.setLinkBusy(true);
        at(kMonday, 22, 0, 15);
        w.Timer5_Timer();
        QCOMPARE(f.requests(), QStringList({"SendChatText 22:00:15  <Silence Mode Enabled>"}));
        QCOMPARE(w.Check1->value(), 1);
        f.node.setLinkBusy(false);
        w.Timer1_Timer();
        QCOMPARE(f.voice.texts(), QStringList());

        // Already silent: nothing more is keyed for the warning either.
        f.node.clearRecords();
        at(kMonday.addDays(7), 22, 0, 15);
        w.Timer5_Timer();
        QCOMPARE(f.requests(), QStringList({"SendChatText 22:00:15  <Silence Mode Enabled>"}));
    }

    void fanRunsOnAfterTheLastKeyedPoll_data()
    {
        QTest::addColumn<bool>("dtr");
        QTest::addColumn<QString>("line");
        QTest::newRow("DTR") << true << "SetDTR";
        QTest::newRow("RTS") << false << "SetRTS";
    }

    void fanRunsOnAfterTheLastKeyedPoll()
    {
        QFETCH(bool, dtr);
        QFETCH(QString, line);
        AnnouncerFixture f;
        MainWindow &w = f.w();
        (dtr ? w.UseDTR : w.UseRTS)->setValue(true);
        w.FanCTRL->setValue(0);
        w.FanPeriod->setText("2");
        w.FanCTRL->setValue(1);
        QVERIFY(!w.Fan->isEnabled());

        f.node.setTransmitterKeyed(true);
        QVERIFY(w.Fan->isEnabled());
        QCOMPARE(w.FanSeconds->text(), QString("120"));
        w.Fan_Timer();
        QCOMPARE(f.requests(), QStringList({line + " on"}));
        QCOMPARE(w.FanOnOff->text(), QString("Fan ON"));
        QCOMPARE(captionColour(w.FanOnOff), 0x8000u);
        // Every keyed poll starts the run time again (the line's change is a
        // change of the node's state, which runs the poll here), and so does
        // every tick while keyed: the countdown stands still.
        QCOMPARE(w.FanSeconds->text(), QString("120"));
        fanTicks(w, 30);
        QCOMPARE(w.FanSeconds->text(), QString("120"));
        w.Timer4_Timer();
        QCOMPARE(w.FanSeconds->text(), QString("120"));

        f.node.setTransmitterKeyed(false);
        f.node.clearRecords();
        fanTicks(w, 119);
        QCOMPARE(f.requests(), repeated(line + " on", 119));
        QCOMPARE(w.FanSeconds->text(), QString("1"));
        w.Fan_Timer();
        QCOMPARE(f.requests(), repeated(line + " on", 120) << line + " off");
        QVERIFY(!w.Fan->isEnabled());
        QCOMPARE(w.FanOnOff->text(), QString("Fan OFF"));
        QCOMPARE(captionColour(w.FanOnOff), 128u);
        QCOMPARE(w.FanSeconds->text(), QString("120"));
    }

    void startDelayOutlastingATransmission()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.DelayCTRL->setValue(1);
        w.DelayPeriod->setText("10");
        QCOMPARE(w.DelaySeconds->text(), QString("10"));

        // Five seconds keyed, five more counted out unkeyed: no fan.
        f.node.setTransmitterKeyed(true);
        QVERIFY(w.FanDelay->isEnabled());
        QVERIFY(!w.Fan->isEnabled());
        for (int i = 0; i < 5; ++i) {
            w.Timer4_Timer();
            w.FanDelay_Timer();
        }
        QCOMPARE(w.DelaySeconds->text(), QString("5"));
        f.node.setTransmitterKeyed(false);
        for (int i = 0; i < 5; ++i)
            w.FanDelay_Timer();
        QCOMPARE(w.PTT->text(), QString("PTT OFF"));
        QCOMPARE(w.DelaySeconds->text(), QString("10"));
        QVERIFY(!w.FanDelay->isEnabled());
        QVERIFY(!w.Fan->isEnabled());
        QVERIFY(f.requests().isEmpty());

        // Keyed through the whole delay: the fan starts.
        f.node.setTransmitterKeyed(true);
        for (int i = 0; i < 10; ++i)
            w.FanDelay_Timer();
        QVERIFY(w.Fan->isEnabled());
        QCOMPARE(w.FanSeconds->text(), QString("60"));
        w.Fan_Timer();
        QCOMPARE(f.requests(), QStringList({"SetDTR on"}));
    }

    // Fan control turned off under a running fan: the line drops at each
    // tick and the run stands still; the line choice is free again only
    // while fan control is off.
    void fanControlTurnedOffWhileRunning()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.Timer6_Timer();
        QVERIFY(!w.UseDTR->isEnabled());
        QVERIFY(!w.UseRTS->isEnabled());
        f.node.setTransmitterKeyed(true);
        f.node.setTransmitterKeyed(false);
        fanTicks(w, 3);
        w.FanCTRL->setValue(0);
        fanTicks(w, 2);
        QCOMPARE(f.requests(), QStringList({"SetDTR on", "SetDTR on", "SetDTR on", "SetDTR off", "SetDTR off"}));
        QCOMPARE(w.FanOnOff->text(), QString("Fan OFF"));
        QCOMPARE(w.FanSeconds->text(), QString("57"));
        QVERIFY(w.Fan->isEnabled());
        w.Timer6_Timer();
        QVERIFY(w.UseDTR->isEnabled());
        QVERIFY(w.UseRTS->isEnabled());
        w.FanCTRL->setValue(2);
        w.Timer6_Timer();
        QVERIFY(!w.UseRTS->isEnabled());
    }
};

QTEST_MAIN(TestAnnouncerSilenceFan)
#include "test_announcer_silence_fan.moc"
