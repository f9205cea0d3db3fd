#include <QTest>

#include "support/announcer_fixture.h"

using namespace mirelva;
using namespace mirelva::test;

// Voice ident, Morse ident, TTS beacon and the idle stop.
class TestAnnouncerIdents : public QObject {
    Q_OBJECT

    static void ticks(MainWindow &w, void (MainWindow::*tick)(), int n)
    {
        for (int i = 0; i < n; ++i)
            (w.*tick)();
    }

private slots:
    void voiceIdentEveryPeriod()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.Callsign->setText("Victor Kilo Two");
        w.StopClock6->setValue(1);
        w.BeaconPeriod6->setText("2");
        QCOMPARE(w.BeaconSeconds6->text(), QString("120"));
        QVERIFY(w.Beacon6->isEnabled());

        w.Beacon6_Timer();
        QCOMPARE(w.BeaconSeconds6->text(), QString("119"));
        ticks(w, &MainWindow::Beacon6_Timer, 118);
        QCOMPARE(w.BeaconSeconds6->text(), QString("1"));
        QCOMPARE(w.flag2, 0);
        w.Beacon6_Timer();
        QCOMPARE(w.BeaconSeconds6->text(), QString("120"));
        QCOMPARE(w.SayTheText, QString("Victor Kilo Two"));
        QCOMPARE(w.flag2, 1);
        // Queued only: the clock tick keys and speaks it.
        QVERIFY(f.requests().isEmpty());
        w.Timer1_Timer();
        QCOMPARE(f.voice.texts(), QStringList({"Victor Kilo Two"}));

        // While a signal is in use the ident is dropped, not queued.
        w.InUse = 1;
        w.SayTheText = "other";
        ticks(w, &MainWindow::Beacon6_Timer, 120);
        QCOMPARE(w.SayTheText, QString("Victor Kilo Two"));
        QCOMPARE(w.flag2, 0);

        // Run box off: the countdown stands still.
        w.StopClock6->setValue(0);
        ticks(w, &MainWindow::Beacon6_Timer, 5);
        QCOMPARE(w.BeaconSeconds6->text(), QString("120"));
        // Any value but 0 runs it.
        w.StopClock6->setValue(2);
        w.Beacon6_Timer();
        QCOMPARE(w.BeaconSeconds6->text(), QString("119"));
    }

    void ttsBeacon()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.TextInput3->setText("Welcome to the repeater");
        w.StopClock3->setValue(1);
        w.BeaconPeriod3->setText("1");
        ticks(w, &MainWindow::Beacon3_Timer, 59);
        QCOMPARE(w.flag2, 0);
        w.Beacon3_Timer();
        QCOMPARE(w.BeaconSeconds3->text(), QString("60"));
        QCOMPARE(w.SayTheText, QString("Welcome to the repeater"));
        QCOMPARE(w.flag2, 1);

        // Disabled announcements: still queued, then dropped by the speech.
        w.flag2 = 0;
        w.Check1->setValue(1);
        ticks(w, &MainWindow::Beacon3_Timer, 60);
        QCOMPARE(w.flag2, 1);
        w.Timer1_Timer();
        QVERIFY(f.voice.spoken.isEmpty());
    }

    void zeroOrUnreadablePeriodBecomesOneMinute_data()
    {
        QTest::addColumn<QString>("period");
        QTest::newRow("0") << "0";
        QTest::newRow("00") << "00";
    }

    void zeroOrUnreadablePeriodBecomesOneMinute()
    {
        QFETCH(QString, period);
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.Callsign->setText("Victor Kilo Two");
        w.StopClock6->setValue(1);
        w.StopClock7->setValue(1);
        w.BeaconPeriod6->setText(period);
        w.BeaconPeriod7->setText(period);
        w.Beacon6_Timer();
        w.Beacon7_Timer();
        QCOMPARE(w.BeaconPeriod6->text(), QString("1"));
        QCOMPARE(w.BeaconPeriod7->text(), QString("1"));
        // The countdowns run from the full minute again and fire.
        QCOMPARE(w.BeaconSeconds6->text(), QString("59"));
        ticks(w, &MainWindow::Beacon6_Timer, 59);
        QCOMPARE(w.flag2, 1);
    }

    void morseIdent()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.CWCallsign->setText("VK2ABC");
        w.StopClock7->setValue(1);
        w.BeaconPeriod7->setText("1");
        ticks(w, &MainWindow::Beacon7_Timer, 59);
        QVERIFY(f.requests().isEmpty());
        w.Beacon7_Timer();
        QCOMPARE(f.requests(), QStringList({"SendCW VK2ABC"}));
        QCOMPARE(w.BeaconSeconds7->text(), QString("60"));

        // Disabled announcements stop the countdown where it is.
        f.node.clearRecords();
        w.Check1->setValue(1);
        ticks(w, &MainWindow::Beacon7_Timer, 100);
        QCOMPARE(w.BeaconSeconds7->text(), QString("60"));
        QVERIFY(f.requests().isEmpty());
    }

    void putOffMorseIdentRidesTheNextKeying()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.CWCallsign->setText("VK2ABC");
        w.StopClock7->setValue(1);
        w.BeaconPeriod7->setText("1");
        f.node.setLinkBusy(true);
        ticks(w, &MainWindow::Beacon7_Timer, 60);
        QCOMPARE(w.CWPending, QString("1"));
        QVERIFY(f.requests().isEmpty());

        f.node.setLinkBusy(false);
        ticks(w, &MainWindow::Beacon7_Timer, 5);
        QVERIFY(f.requests().isEmpty());

        // Disabled announcements hold it back even while keyed.
        f.node.setTransmitterKeyed(true);
        w.Check1->setValue(1);
        w.Beacon7_Timer();
        QVERIFY(f.requests().isEmpty());
        w.Check1->setValue(0);
        w.Beacon7_Timer();
        QCOMPARE(f.requests(), QStringList({"SendCW VK2ABC"}));
        QCOMPARE(w.CWPending, QString("0"));
        w.Beacon7_Timer();
        QCOMPARE(f.requests().size(), 1);
    }

    void putOffAndSentInTheSameTick()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.CWCallsign->setText("VK2ABC");
        w.StopClock7->setValue(1);
        w.BeaconPeriod7->setText("1");
        ticks(w, &MainWindow::Beacon7_Timer, 59);
        f.node.setLinkBusy(true);
        f.node.setTransmitterKeyed(true);
        w.Beacon7_Timer();
        QCOMPARE(f.requests(), QStringList({"SendCW VK2ABC"}));
        QCOMPARE(w.CWPending, QString("0"));
    }

    void sendIdButton()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.CWCallsign->setText("");
        w.SendCW_Click();
        QCOMPARE(w.CWCallsign->text(), QString(" "));
        QCOMPARE(f.requests(), QStringList({"SendCW  "}));

        f.node.clearRecords();
        w.CWCallsign->setText("VK2ABC");
        f.node.setLinkBusy(true);
        w.SendCW_Click();
        QVERIFY(f.requests().isEmpty());
        QCOMPARE(w.CWPending, QString("1"));

        w.CWPending = "0";
        f.node.setLinkBusy(false);
        w.Check1->setValue(1);
        w.SendCW_Click();
        QVERIFY(f.requests().isEmpty());
        QCOMPARE(w.CWPending, QString("0"));
    }

    void idleStopAndWakeUp()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.Callsign->setText("Victor Kilo Two");
        w.StopClock6->setValue(1);
        w.StopClock7->setValue(1);
        w.IDCheck->setValue(1);
        w.VoicePeriod->setText("1");
        QCOMPARE(w.IDSeconds->text(), QString("60"));
        ticks(w, &MainWindow::IDTimer_Timer, 59);
        QVERIFY(w.Beacon6->isEnabled() && w.Beacon7->isEnabled());
        w.IDTimer_Timer();
        QVERIFY(!w.Beacon6->isEnabled());
        QVERIFY(!w.Beacon7->isEnabled());
        QVERIFY(!w.IDTimer->isEnabled());
        QCOMPARE(w.BeaconSeconds6->text(), QString("15"));
        QCOMPARE(w.BeaconSeconds7->text(), QString("10"));
        QCOMPARE(w.IDSeconds->text(), QString("60"));

        // Activity seen by the clock tick wakes all three; the voice ident
        // is then due 15 ticks later.
        f.node.setLinkActive(true);
        w.Timer1_Timer();
        QVERIFY(w.Beacon6->isEnabled() && w.Beacon7->isEnabled() && w.IDTimer->isEnabled());
        ticks(w, &MainWindow::Beacon6_Timer, 14);
        QCOMPARE(w.flag2, 0);
        w.Beacon6_Timer();
        QCOMPARE(w.flag2, 1);

        // While active, the idle countdown keeps being reloaded.
        ticks(w, &MainWindow::IDTimer_Timer, 100);
        QCOMPARE(w.IDSeconds->text(), QString("60"));
        QVERIFY(w.Beacon6->isEnabled());
    }

    void idleCountdownOnlyWithIdCheck()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.IDCheck->setValue(0);
        w.VoicePeriod->setText("1");
        ticks(w, &MainWindow::IDTimer_Timer, 70);
        QCOMPARE(w.IDSeconds->text(), QString("60"));
        QVERIFY(w.Beacon6->isEnabled());

        // Greyed counts down but never stops the idents.
        w.IDCheck->setValue(2);
        ticks(w, &MainWindow::IDTimer_Timer, 60);
        QVERIFY(w.Beacon6->isEnabled() && w.Beacon7->isEnabled());
        QVERIFY(!w.IDTimer->isEnabled());
    }

    void emptiedPeriodBoxes()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        // Emptied, a box acts as "1" typed: its switch stays on, so a ticked
        // beacon or ident still comes.
        w.BeaconPeriod3->setText("");
        QCOMPARE(w.BeaconPeriod3->text(), QString("1"));
        QCOMPARE(w.BeaconSeconds3->text(), QString("60"));
        QVERIFY(w.Beacon3->isEnabled());
        QVERIFY(w.BeaconPeriod3->digitsOnly());
        w.Timer1_Timer();
        QVERIFY(w.Beacon3->isEnabled());

        w.VoicePeriod->setText("");
        QCOMPARE(w.VoicePeriod->text(), QString("1"));
        QCOMPARE(w.IDSeconds->text(), QString("60"));
        QVERIFY(w.IDCheck->isEnabled());
        w.VoicePeriod->setText("3");
        QVERIFY(w.IDCheck->isEnabled());
        QCOMPARE(w.IDSeconds->text(), QString("180"));

        w.BeaconPeriod6->setText("");
        QVERIFY(w.Beacon6->isEnabled());
        w.Beacon7->setEnabled(false);
        w.BeaconPeriod7->setText("");
        QVERIFY(w.Beacon7->isEnabled());
        QCOMPARE(w.BeaconSeconds7->text(), QString("60"));
        w.BeaconPeriod7->setText("12");
        QVERIFY(w.Beacon7->isEnabled());
        QCOMPARE(w.BeaconSeconds7->text(), QString("720"));
    }

    // A timer never keys the transmitter for an empty text: an unidentified
    // carrier. It skips its transmission and leaves a text already queued
    // alone; the buttons fill in their replacement texts instead.
    void timersSendNoEmptyText_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<QString>("text");
        const char *names[] = {"voice ident", "TTS beacon", "Morse ident", "information text at the hour"};
        for (int which = 0; which < 4; ++which) {
            for (const char *text : {"", " * "})
                QTest::newRow(qPrintable(QString("%1, \"%2\"").arg(names[which], text))) << which << QString(text);
        }
    }

    void timersSendNoEmptyText()
    {
        QFETCH(int, which);
        QFETCH(QString, text);
        AnnouncerFixture f;
        MainWindow &w = f.w();
        TextBox *boxes[] = {w.Callsign, w.TextInput3, w.CWCallsign, w.InfoText};
        boxes[which]->setText(text);
        for (CheckBox *run : {w.StopClock6, w.StopClock3, w.StopClock7, w.InfoHourly})
            run->setValue(1);
        for (TextBox *period : {w.BeaconPeriod6, w.BeaconPeriod3, w.BeaconPeriod7})
            period->setText("1");
        w.SayTheText = "Already queued";
        w.flag2 = 1;

        void (MainWindow::*beacons[])() = {&MainWindow::Beacon6_Timer, &MainWindow::Beacon3_Timer,
                                           &MainWindow::Beacon7_Timer};
        if (which < 3) {
            ticks(w, beacons[which], 60);
            QCOMPARE(labelNumber(which == 0 ? w.BeaconSeconds6 : which == 1 ? w.BeaconSeconds3 : w.BeaconSeconds7),
                     60);
        } else {
            AnnouncerFixture::setTime(11, 0, 0);
        }
        w.Timer1_Timer();
        QCOMPARE(f.requests(),
                 QStringList({"SetPTT on", "Speech keyed: Already queued", "SetPTT off", "SetDTR off"}));
        QCOMPARE(w.flag2, 0);
    }
};

QTEST_MAIN(TestAnnouncerIdents)
#include "test_announcer_idents.moc"
