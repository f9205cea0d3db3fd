#include <QLocale>
#include <QTest>

#include "support/announcer_fixture.h"

using namespace mirelva;
using namespace mirelva::test;

// The one-second clock tick, the time phrases and the PTT indicator.
class TestAnnouncerClock : public QObject {
    Q_OBJECT

    static QStringList keyed(const QString &text)
    {
        return {"SetPTT on", "Speech keyed: " + text, "SetPTT off", "SetDTR off"};
    }

private slots:
    // Every clock the windows show follows the desktop's time format.
    void clocksFollowTheSystemsTimeFormat_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("shown");
        QTest::newRow("12-hour (United States)") << QLocale(QLocale::English, QLocale::UnitedStates) << "9:07:05 PM";
        QTest::newRow("24-hour (Germany)") << QLocale(QLocale::German, QLocale::Germany) << "21:07:05";
    }

    void clocksFollowTheSystemsTimeFormat()
    {
        QFETCH(QLocale, locale);
        QFETCH(QString, shown);
        const QLocale before;
        QLocale::setDefault(locale);
        AnnouncerFixture f;
        AnnouncerFixture::setTime(21, 7, 5);
        MainWindow &w = f.w();
        w.Timer1_Timer();
        w.Timer5_Timer();
        f.station.dtmf->Timer2_Timer();
        f.station.greeting->Timer1_Timer();
        QLocale::setDefault(before);
        for (QLabel *clock : {w.ShowTime, w.ShowTime2, f.station.dtmf->ShowTime, f.station.greeting->ShowTime})
            QCOMPARE(clock->text(), shown);
    }

    void timePhraseAtTheMark_data()
    {
        QTest::addColumn<QTime>("at");
        QTest::addColumn<int>("preamble");
        QTest::addColumn<bool>("twelveHour");
        QTest::addColumn<QString>("spoken");
        QTest::newRow("09:15 plain 12h") << QTime(9, 15) << 0 << true << "The Time Is9 15 AM";
        QTest::newRow("00:30 greeting 12h") << QTime(0, 30) << 1 << true << "Good Morning, The Time Is12 30 AM";
        QTest::newRow("18:00 greeting 24h") << QTime(18, 0) << 1 << false << "Good Evening, The Time Is18 00";
        QTest::newRow("12:00 greeting 12h") << QTime(12, 0) << 1 << true << "Good Afternoon, The Time Is12 00 PM";
        QTest::newRow("17:45 greyed preamble") << QTime(17, 45) << 2 << true << "Good Afternoon, The Time Is5 45 PM";
        QTest::newRow("00:00 plain 24h") << QTime(0, 0) << 0 << false << "The Time Is00 00";
        QTest::newRow("23:30 greeting 24h") << QTime(23, 30) << 1 << false << "Good Evening, The Time Is23 30";
    }

    void timePhraseAtTheMark()
    {
        QFETCH(QTime, at);
        QFETCH(int, preamble);
        QFETCH(bool, twelveHour);
        QFETCH(QString, spoken);
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.OnHour->setValue(1);
        w.QuarterHour->setValue(1);
        w.HalfHour->setValue(1);
        w.Check3->setValue(preamble);
        (twelveHour ? w.Option1 : w.Option2)->setValue(true);
        AnnouncerFixture::setTime(at.hour(), at.minute(), 0);
        w.Timer1_Timer();
        QCOMPARE(f.voice.texts(), QStringList({spoken}));
        QCOMPARE(f.requests(), keyed(spoken));
    }

    void amPmIsEnglishWhateverTheLocale()
    {
        const QLocale before;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.Check3->setValue(0);
        AnnouncerFixture::setTime(14, 5, 0);
        QCOMPARE(w.timePhrase(), QString("The Time Is2 05 PM"));
        QLocale::setDefault(before);
    }

    void hourWithInformationIsTwoTransmissions()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.OnHour->setValue(1);
        w.InfoHourly->setValue(1);
        w.Check3->setValue(0);
        w.InfoText->setText("Net at eight");
        AnnouncerFixture::setTime(20, 0, 0);
        w.Timer1_Timer();
        QCOMPARE(f.requests(), keyed("The Time Is8 00 PM") + keyed("Net at eight"));

        // Only the information box on: only the information text.
        f.node.clearRecords();
        w.OnHour->setValue(0);
        AnnouncerFixture::setTime(21, 0, 0);
        w.Timer1_Timer();
        QCOMPARE(f.requests(), keyed("Net at eight"));
    }

    void eachMarkHasItsOwnBoxes()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.Check3->setValue(0);
        w.InfoText->setText("Info");
        w.InfoHalf->setValue(1);      // half hour: information only
        w.QuarterHour->setValue(1);   // quarters: time only
        const struct {
            int m, s;
            QStringList spoken;
        } ticks[] = {
            {0, 0, {}},
            {15, 0, {"The Time Is10 15 AM"}},
            {15, 1, {}},
            {30, 0, {"Info"}},
            {45, 0, {"The Time Is10 45 AM"}},
            {44, 59, {}},
        };
        for (const auto &t : ticks) {
            f.voice.spoken.clear();
            AnnouncerFixture::setTime(10, t.m, t.s);
            w.Timer1_Timer();
            QCOMPARE(f.voice.texts(), t.spoken);
        }
    }

    // A queued announcement that runs on until the second of the hour: the
    // hour is still announced, with the time of the mark.
    void markReachedWhileSpeakingSaysTheMarksTime()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.OnHour->setValue(1);
        w.Check3->setValue(0);
        f.voice.addListener([](const QString &text, int) {
            if (text == QLatin1String("Long beacon"))
                AnnouncerFixture::setTime(11, 0, 0);
        });
        AnnouncerFixture::setTime(10, 59, 56);
        w.SayTheText = "Long beacon";
        w.flag2 = 1;
        w.Timer1_Timer();
        QCOMPARE(f.voice.texts(), QStringList({"Long beacon", "The Time Is11 00 AM"}));
        QVERIFY(!f.node.ptt());
    }

    void markPassesSilentlyWhileInUseOrBusy()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.OnHour->setValue(1);
        w.InUse = 1;
        AnnouncerFixture::setTime(11, 0, 0);
        w.Timer1_Timer();
        w.InUse = 0;
        AnnouncerFixture::setTime(11, 0, 1);
        w.Timer1_Timer();
        QVERIFY(f.voice.spoken.isEmpty());

        f.node.setLinkBusy(true);
        AnnouncerFixture::setTime(12, 0, 0);
        w.Timer1_Timer();
        f.node.setLinkBusy(false);
        AnnouncerFixture::setTime(12, 0, 1);
        w.Timer1_Timer();
        QVERIFY(f.voice.spoken.isEmpty());
        QVERIFY(f.requests().isEmpty());
    }

    void timeButtonQueuesForTheNextTick()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.Check3->setValue(1);
        AnnouncerFixture::setTime(14, 5, 9);
        w.TheTime_Click();
        QCOMPARE(w.SayTheText, QString("Good Afternoon, The Time Is2 05 PM"));
        QCOMPARE(w.flag2, 1);
        QVERIFY(f.requests().isEmpty());
        w.Timer1_Timer();
        QCOMPARE(f.requests(), keyed("Good Afternoon, The Time Is2 05 PM"));
    }

    void timeSuffix()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        AnnouncerFixture::setTime(21, 7, 30);
        w.TheTimeBit();
        QCOMPARE(w.SayTheText, QString("at9 07  PM"));
        QCOMPARE(w.flagtime, 1);
        QCOMPARE(w.flag2, 1);
        w.Option2->setValue(true);
        w.TheTimeBit();
        QCOMPARE(w.SayTheText, QString("at21 07"));

        // Spoken at the next tick with no speech delay, which is used up.
        w.TTSCTRL->setValue(1);
        w.TTSPeriod->setText("3");
        w.Timer1_Timer();
        QCOMPARE(f.requests(), keyed("at21 07"));
        QCOMPARE(SpeechPause::count(), 0);
        QCOMPARE(w.flagtime, 0);
    }

    void tickShowsTimeCountsAndReceiver()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        AnnouncerFixture::setTime(21, 7, 5);
        w.Callsign->setText("Your Call");
        w.TextInput3->setText("abc");
        w.InfoText->setText("");
        w.Timer1_Timer();
        QCOMPARE(w.ShowTime->text(), QString("21:07:05"));
        QCOMPARE(w.Label19->text(), QString("9"));
        QCOMPARE(w.Label20->text(), QString("3"));
        QCOMPARE(w.Label21->text(), QString("0"));
        QCOMPARE(w.PTT2->text(), QString("      "));

        // Receiving: Beacon3 stops; Beacon7 ends the tick running, because a
        // signal is activity.
        w.Beacon3->setEnabled(true);
        w.Beacon6->setEnabled(false);
        f.node.setReceivingSignal(true);
        w.Timer1_Timer();
        QCOMPARE(w.PTT2->text(), QString("Receiving Signal"));
        QVERIFY(!w.Beacon3->isEnabled());
        QVERIFY(w.Beacon7->isEnabled());
        QVERIFY(w.Beacon6->isEnabled());
        QVERIFY(w.IDTimer->isEnabled());

        // Quiet node: Beacon3 runs again, Beacon7 follows Beacon6, and
        // nothing wakes the sleeping idents.
        f.node.setReceivingSignal(false);
        w.Beacon6->setEnabled(false);
        w.IDTimer->setEnabled(false);
        w.Timer1_Timer();
        QCOMPARE(w.PTT2->text(), QString("      "));
        QVERIFY(w.Beacon3->isEnabled());
        QVERIFY(!w.Beacon7->isEnabled());
        QVERIFY(!w.IDTimer->isEnabled());

        // Link activity or a busy link wakes them.
        f.node.setLinkActive(true);
        w.Timer1_Timer();
        QVERIFY(w.Beacon6->isEnabled() && w.Beacon7->isEnabled() && w.IDTimer->isEnabled());
    }

    // The 1 ms poll runs only while the transmitter is keyed; node state
    // changes drive the indicator otherwise.
    void pttIndicatorFollowsTheNode()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        QVERIFY(!w.Timer4->isEnabled());
        QCOMPARE(w.PTT->text(), QString("PTT OFF"));

        w.FanCTRL->setValue(1);
        w.DelayCTRL->setValue(0);
        w.Fan->setEnabled(false);
        f.node.setTransmitterKeyed(true);
        QCOMPARE(w.PTT->text(), QString("PTT ON"));
        QCOMPARE(captionColour(w.PTT), 255u);
        QVERIFY(w.Timer4->isEnabled());
        QVERIFY(w.Fan->isEnabled());

        // While keyed each poll reloads the fan's run time.
        w.FanSeconds->setText("5");
        w.Timer4_Timer();
        QCOMPARE(w.FanSeconds->text(), QString::number(w.FanPeriod->number() * 60));

        f.node.setTransmitterKeyed(false);
        QCOMPARE(w.PTT->text(), QString("PTT OFF"));
        QCOMPARE(captionColour(w.PTT), 0x8000u);
        QVERIFY(!w.Timer4->isEnabled());

        // Morse keys the transmitter too.
        f.node.setMorseWpm(5);
        w.CWCallsign->setText("K");
        w.SendCW_Click();
        QCOMPARE(f.requests(), QStringList({"SendCW K"}));
        QCOMPARE(w.PTT->text(), QString("PTT ON"));
    }
};

QTEST_MAIN(TestAnnouncerClock)
#include "test_announcer_clock.moc"
