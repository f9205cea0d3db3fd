#include <QAccessible>
#include <QApplication>
#include <QGroupBox>
#include <QRegularExpression>
#include <QTest>

#include "ui/program.h"
#include "support/a11y.h"
#include "support/mainfixture.h"

using namespace mirelva;
using namespace mirelva::test;

namespace {

QStringList groupTitles(QWidget *w)
{
    QStringList l;
    for (auto *g : w->findChildren<QGroupBox *>())
        l << g->title();
    return l;
}

} // namespace

// The form as an operator meets it: captions, tips, limits, design values,
// names a screen reader speaks, and the order the Tab key walks.
class TestMainWindowForm : public QObject {
    Q_OBJECT
private slots:
    void init() { Program::resetForTests(); }

    void tabsAndFrames()
    {
        MainFixture f(MainFixture::Built);
        MainWindow &w = f.w();
        QCOMPARE(w.SSTab1->count(), 4);
        QCOMPARE(w.SSTab1->tabText(0), QStringLiteral("Mirelva"));
        QCOMPARE(w.SSTab1->tabText(1), QStringLiteral("Connects and Settings"));
        QCOMPARE(w.SSTab1->tabText(2), QStringLiteral("Connect History"));
        QCOMPARE(w.SSTab1->tabText(3), QStringLiteral("Silence Announcements "));
        const QStringList titles = groupTitles(&w);
        for (const char *t : {"Say The Time", "DTR / RTS Control   ( Fan )", "Auto Connects", "Courtesy Tone ",
                              "Call Connect History          ( Time - Call - Name - IP Address  )",
                              "Announcement Silence Scheduler 1       ( 15 Seconds Delay )",
                              "Announcement Silence Scheduler 2       ( 15 Seconds Delay )",
                              "Announcement Silence Scheduler 3       ( 15 Seconds Delay )"})
            QVERIFY2(titles.contains(QString::fromLatin1(t)), t);

        // Each control sits on the tab that holds it.
        QVERIFY(w.SSTab1->widget(0)->isAncestorOf(w.Callsign));
        QVERIFY(w.SSTab1->widget(0)->isAncestorOf(w.Command4));
        QVERIFY(w.SSTab1->widget(1)->isAncestorOf(w.FanCTRL));
        QVERIFY(w.SSTab1->widget(1)->isAncestorOf(w.ConnectStation2));
        QVERIFY(w.SSTab1->widget(1)->isAncestorOf(w.Command6));
        QVERIFY(w.SSTab1->widget(2)->isAncestorOf(w.CallHistory));
        QVERIFY(w.SSTab1->widget(2)->isAncestorOf(w.Command5));
        QVERIFY(w.SSTab1->widget(3)->isAncestorOf(w.MinsON3b));
        QVERIFY(w.SSTab1->widget(3)->isAncestorOf(w.Command11));

        QStringList labels;
        for (auto *l : w.findChildren<QLabel *>())
            labels << l->text();
        for (const char *t : {"Turn ID Off After", "Announce OFF ", "Announce ON", "Seconds Start Delay"})
            QVERIFY2(labels.count(QString::fromLatin1(t)) >= 1, t);
        QCOMPARE(labels.count(QStringLiteral("Announce OFF ")), 3);
    }

    void captionsAndToolTips()
    {
        MainFixture f(MainFixture::Built);
        MainWindow &w = f.w();
        const QList<std::tuple<QAbstractButton *, const char *, const char *>> buttons{
            {w.SayCall, "PTT Call Now", "Say the Voice Ident Callsign with PTT"},
            {w.SayCallNoPTT, "Say Call Now", "Say the Voice Ident Callsign no PTT"},
            {w.Speak3, "Speak The Text Plus PTT", "Speak the above text with PTT"},
            {w.TextNoPTT3, "Say Text no PTT", "Speak the above text no PTT. Test what you have typed in"},
            {w.SpeakInfo, "Speak The Info Text Plus PTT", "Speak the above text with PTT"},
            {w.InfoNoPTT, "Say Text no PTT", "Speak the above text no PTT. Test what you have typed in"},
            {w.TheTime, "Say the Time", "Say the itme with PTT"},
            {w.SendCW, "Send ID", "Send the CW Ident Callsign with PTT"},
            {w.Command1, "Message Box", ""},
            {w.Command13, "Greeting Message", ""},
            {w.Command12, "Internet Option", ""},
            {w.Command9, "DTMF Settings", ""},
            {w.Command8, "TTS Settings", ""},
            {w.Command3, "About", ""},
            {w.Command6, "Save  Changes", "Save the changes made"},
            {w.SaveDataNow, "Save  Changes", "Save the changes made"},
            {w.Command11, "Save  Changes", ""},
            {w.Command4, "Exit", "Hide this screen"},
            {w.Command5, "Clear", "Clear the Call History"},
            {w.ClearText3, "Clear", "Clear the TTS Text"},
            {w.ClearInfoText, "Clear", "Clear the Info Text"},
            {w.Connect1, "Con/Disc", "Connect or disconnect callsign"},
            {w.Command2, "Con/Disc", "Connect or disconnect callsign"},
            {w.Check1, "Disable Announcements", ""},
            {w.Check2, "Warn About Silence Mode", ""},
            {w.Check3, "Use Preamble", ""},
            {w.TTSCTRL, "Use TTS Delay", ""},
            {w.OnHour, "On The Hour", "Say the Time"},
            {w.QuarterHour, "Quarter", "Say the Time"},
            {w.HalfHour, "Half", "Say the Time"},
            {w.InfoHourly, "On The Hour", "TX Info Text. See Mirelva to Enter Text."},
            {w.InfoQuarter, "Quarter", "TX Info Text. See Mirelva to Enter Text."},
            {w.InfoHalf, "Half", "TX Info Text. See Mirelva to Enter Text."},
            {w.Option1, "12 Hr", ""},
            {w.Option2, "24 Hr", ""},
            {w.StopClock6, "Use", "Use TTS Ident"},
            {w.StopClock7, "Use", ""},
            {w.StopClock3, "Use", "Use TTS Beacon"},
            {w.IDCheck, "If Link Idle   (VK Use)", "Use if in VK"},
            {w.UseCT, "Use ID", "Use CW End of Over"},
            {w.FanCTRL, "Use Fan Control", ""},
            {w.UseDTR, "Use DTR", ""},
            {w.UseRTS, "Use RTS", ""},
            {w.DelayCTRL, "Use Start Delay", ""},
            {w.ConDisc, "Station Con/Dis", ""},
            {w.AddTime, "Add the time", "Announce time with Station Connect / Disconnect"},
            {w.SayText, "Text Messages", ""},
            {w.StayCon1, "Stay Con", ""},
            {w.StayCon2, "Stay Con", ""},
            {w.Thur2, "Thur", ""},
        };
        for (const auto &[b, caption, tip] : buttons) {
            // A mnemonic's "&" changes no word on screen.
            QCOMPARE(b->text().remove(QLatin1Char('&')), QString::fromLatin1(caption));
            QCOMPARE(b->toolTip(), QString::fromLatin1(tip));
        }
        const QList<std::pair<TextBox *, const char *>> tips{
            {w.TTSPeriod, "xx Delay Increments 0 to 9 Before TTS"},
            {w.BeaconPeriod6, "TTS Ident Your Call Every xx Minutes"},
            {w.BeaconPeriod7, "CW Ident Ever xx Minutes"},
            {w.BeaconPeriod3, "Beacon TTS Beacon every xx Minutes"},
            {w.VoicePeriod, "If Node Idle for xx Minutes dont sent Ident. ( Used in VK)"},
            {w.CWCallsign, "Enter you Call"},
            {w.CourtesyID, "RF CW Ident Letter"},
            {w.IPCourtesy, "Internet CW Ident Letter"},
            {w.KerchunkWait, "Anti-Kerchunker time in Milliseconds"},
            {w.HangTime, "Hang Time Before ID in xx Milliseconds"},
            {w.FanPeriod, "xx Minutes fan will fun after TX"},
            {w.ConnectStation1, "Auto Connect Call"},
            {w.ConnectStation2, "Auto Connect Call"},
        };
        for (const auto &[b, tip] : tips)
            QCOMPARE(b->toolTip(), QString::fromLatin1(tip));
    }

    void designValuesAndInputStyles()
    {
        MainFixture f(MainFixture::Built);
        MainWindow &w = f.w();
        QCOMPARE(w.Callsign->text(), QStringLiteral("Your Call"));
        QCOMPARE(w.TTSPeriod->text(), QStringLiteral("0"));
        QCOMPARE(w.KerchunkWait->text(), QStringLiteral("3000"));
        QCOMPARE(w.HangTime->text(), QStringLiteral("500"));
        QCOMPARE(w.OK2Kerchunk->text(), QStringLiteral("No"));
        QCOMPARE(w.DelaySeconds->text(), QStringLiteral("10"));
        QCOMPARE(w.ShowTime->text(), QStringLiteral("00:00:00"));
        QCOMPARE(w.PTT->text(), QStringLiteral("PTT OFF"));
        QCOMPARE(w.PTT->palette().color(QPalette::WindowText), QColor(0, 0x80, 0));
        QCOMPARE(w.FanOnOff->text(), QStringLiteral("Fan OFF"));
        QCOMPARE(w.FanOnOff->palette().color(QPalette::WindowText), QColor(128, 0, 0));
        for (QLabel *l : {w.Label19, w.Label20, w.Label21, w.FanSeconds})
            QCOMPARE(l->text(), QStringLiteral("0"));

        for (TextBox *b : {w.Callsign, w.TextInput3, w.InfoText})
            QCOMPARE(b->typingLimit(), 70);
        for (TextBox *b : {w.TTSPeriod, w.HourOFF1, w.MinsOFF1, w.HourON1b, w.MinsON1b, w.HourOFF2, w.MinsOFF2,
                           w.HourON2b, w.MinsON2b, w.HourOFF3, w.MinsOFF3, w.HourON3b, w.MinsON3b}) {
            QCOMPARE(b->typingLimit(), 2);
            QVERIFY(b->digitsOnly());
        }
        for (TextBox *b : {w.BeaconPeriod7, w.BeaconPeriod3, w.FanPeriod, w.DelayPeriod}) {
            QCOMPARE(b->typingLimit(), 3);
            QVERIFY(b->digitsOnly());
        }
        for (TextBox *b : {w.BeaconPeriod6, w.VoicePeriod, w.KerchunkWait, w.HangTime}) {
            QCOMPARE(b->typingLimit(), 0);
            QVERIFY(b->digitsOnly());
        }
        for (TextBox *b : {w.CourtesyID, w.IPCourtesy, w.ConnectStation1, w.ConnectStation2})
            QVERIFY(b->upperCase());

        // What a hand types is filtered from the start, before any change.
        w.show();
        w.HourOFF1->clear();
        QTest::keyClicks(w.HourOFF1, "a1b23");
        QCOMPARE(w.HourOFF1->text(), QStringLiteral("12"));
        w.ConnectStation1->clear();
        QTest::keyClicks(w.ConnectStation1, "vk2rag-l");
        QCOMPARE(w.ConnectStation1->text(), QStringLiteral("VK2RAG-L"));
        w.TextInput3->clear();
        QTest::keyClicks(w.TextInput3, QString(80, QLatin1Char('x')));
        QCOMPARE(w.TextInput3->text().size(), 70);
    }

    void timersWithTheirDesignIntervals()
    {
        MainFixture f(MainFixture::Built);
        MainWindow &w = f.w();
        const QList<std::tuple<VbTimer *, int, bool>> timers{
            {w.Timer1, 1000, true},   {w.Timer4, 1, true},          {w.IDTimer, 1000, true},
            {w.Beacon6, 1000, true},  {w.Beacon7, 1000, true},      {w.Beacon3, 1000, true},
            {w.Kerchunker, 5000, false}, {w.KickBackCheck, 500, false}, {w.Timer5, 1000, true},
            {w.Timer6, 1000, true},   {w.Fan, 1000, false},         {w.FanDelay, 1000, false},
            {w.Timer2, 60000, true},  {w.Timer3, 60000, true},
        };
        for (const auto &[t, interval, enabled] : timers) {
            QVERIFY2(t->interval() == interval, qPrintable(t->objectName()));
            QVERIFY2(t->isEnabled() == enabled, qPrintable(t->objectName()));
        }
    }

    void everyControlHasANameToSpeak()
    {
        MainFixture f;
        MainWindow &w = f.w();
        for (int tab = 0; tab < w.SSTab1->count(); ++tab) {
            QStringList names;
            for (QWidget *c : w.SSTab1->widget(tab)->findChildren<QWidget *>()) {
                if (!isControl(c))
                    continue;
                const QString name = c->accessibleName();
                QVERIFY2(!name.trimmed().isEmpty(), qPrintable(c->objectName()));
                QAccessibleInterface *ai = QAccessible::queryAccessibleInterface(c);
                QVERIFY(ai);
                QCOMPARE(ai->text(QAccessible::Name), name);
                names << name;
            }
            // Two controls of one tab never sound alike.
            for (const QString &n : names)
                QVERIFY2(names.count(n) == 1, qPrintable(w.SSTab1->tabText(tab) + ": " + n));
        }
        QCOMPARE(w.Callsign->accessibleName(), QStringLiteral("Voice Ident Callsign"));
        QCOMPARE(w.DelayPeriod->accessibleName(), QStringLiteral("Seconds Start Delay"));
        QCOMPARE(w.StopClock6->accessibleName(), QStringLiteral("Use TTS Ident"));
        QCOMPARE(w.HourON2b->accessibleName(), QStringLiteral("Announce ON hour (schedule 2)"));
        QCOMPARE(w.KerchunkWait->accessibleDescription(), QStringLiteral("Anti-Kerchunker time in Milliseconds"));
        // Indicators are named by what their number or word is about.
        for (QLabel *l : {w.Label19, w.Label20, w.Label21, w.PTT, w.PTT2, w.ShowTime, w.BeaconSeconds6,
                          w.BeaconSeconds7, w.BeaconSeconds3, w.IDSeconds, w.OK2Kerchunk, w.FanSeconds, w.FanOnOff,
                          w.DelaySeconds, w.ShowTime2})
            QVERIFY2(!l->accessibleName().isEmpty() && l->accessibleName() != l->text(), qPrintable(l->objectName()));
        QVERIFY(!w.NodeStatus->accessibleDescription().isEmpty());
    }

    void tabWalksTheFirstPageInReadingOrder()
    {
        MainFixture f;
        MainWindow &w = f.w();
        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.Callsign->setFocus();
        QCOMPARE(QApplication::focusWidget(), w.Callsign);
        const QStringList expected{
            "Callsign", "SayCall", "SayCallNoPTT", "TextInput3", "Speak3", "TextNoPTT3", "ClearText3",
            "InfoText", "SpeakInfo", "InfoNoPTT", "ClearInfoText", "Check1", "TTSCTRL", "TTSPeriod",
            "OnHour", "QuarterHour", "HalfHour", "Option1", "Option2", "Check3", "TheTime",
            "StopClock6", "BeaconPeriod6", "StopClock7", "BeaconPeriod7", "CWCallsign", "SendCW",
            "StopClock3", "BeaconPeriod3", "IDCheck", "VoicePeriod",
            "Command1", "Command13", "Command12", "Command9", "Command8", "Command3", "SaveDataNow", "Command4",
        };
        QStringList visited{QApplication::focusWidget()->objectName()};
        for (int i = 1; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(visited, expected);
    }

    void tabVisitsEveryControlOfEachPage()
    {
        MainFixture f;
        MainWindow &w = f.w();
        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));
        for (int tab = 1; tab < w.SSTab1->count(); ++tab) {
            w.SSTab1->setCurrentIndex(tab);
            QWidget *page = w.SSTab1->widget(tab);
            QList<QWidget *> controls;
            for (QWidget *c : page->findChildren<QWidget *>())
                if (isControl(c) && c->isEnabled())
                    controls << c;
            QVERIFY(!controls.isEmpty());
            controls.first()->setFocus();
            QSet<QWidget *> seen;
            for (int i = 0; i < 200 && seen.size() < controls.size(); ++i) {
                seen.insert(QApplication::focusWidget());
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            }
            for (QWidget *c : controls)
                QVERIFY2(seen.contains(c), qPrintable(w.SSTab1->tabText(tab) + ": " + c->objectName()));
        }
    }

    void kerchunkTimesSetTheGuardTimers()
    {
        MainFixture f;
        MainWindow &w = f.w();
        w.KerchunkWait->setText("2500");
        QCOMPARE(w.Kerchunker->interval(), 2500);
        w.HangTime->setText("250");
        QCOMPARE(w.KickBackCheck->interval(), 250);
        // More than the timer can take: the box keeps the text, the timer its period.
        w.HangTime->setText("70000");
        QCOMPARE(w.KickBackCheck->interval(), 250);
        w.HangTime->clear();
        QCOMPARE(w.HangTime->text(), QStringLiteral("0"));
        QCOMPARE(w.KickBackCheck->interval(), 0);
        w.KerchunkWait->clear();
        QCOMPARE(w.KerchunkWait->text(), QStringLiteral("0"));
        QCOMPARE(w.Kerchunker->interval(), 0);
        QVERIFY(f.requests().isEmpty());
    }

    void hugeNumbersTypedIntoDigitBoxes()
    {
        MainFixture f;
        MainWindow &w = f.w();
        w.show();
        const QString huge(40, QLatin1Char('9'));
        w.KerchunkWait->selectAll();
        QTest::keyClicks(w.KerchunkWait, huge);
        QCOMPARE(w.KerchunkWait->text(), huge);
        // The last number the timer could take is kept.
        QCOMPARE(w.Kerchunker->interval(), 9999);
        w.FanPeriod->selectAll();
        QTest::keyClicks(w.FanPeriod, huge);
        QCOMPARE(w.FanPeriod->text(), QStringLiteral("999"));
        QCOMPARE(w.FanSeconds->text(), QStringLiteral("59940"));
        w.DelayPeriod->selectAll();
        QTest::keyClicks(w.DelayPeriod, huge);
        QCOMPARE(w.DelaySeconds->text(), QStringLiteral("999"));
        QVERIFY(!Program::ended());
    }

    void fanRunTimeStartsARunWhenFanControlIsOn()
    {
        MainFixture f;
        MainWindow &w = f.w();
        QCOMPARE(w.FanCTRL->value(), 1);
        QVERIFY(!w.Fan->isEnabled());
        w.FanPeriod->setText("2");
        QVERIFY(w.Fan->isEnabled());
        QVERIFY(!w.FanDelay->isEnabled());
        QCOMPARE(w.FanSeconds->text(), QStringLiteral("120"));
        QCOMPARE(w.DelaySeconds->text(), QStringLiteral("10"));

        // Emptied: back to one minute, as "1" typed; the run goes on, so
        // its end still drops the line.
        w.FanPeriod->clear();
        QCOMPARE(w.FanPeriod->text(), QStringLiteral("1"));
        QVERIFY(w.Fan->isEnabled());
        QCOMPARE(w.FanSeconds->text(), QStringLiteral("60"));
        w.Fan->setEnabled(false);

        // With the start delay only the delay starts; its count is left alone.
        w.DelayCTRL->setValue(1);
        w.DelaySeconds->setText("4");
        w.FanOn();
        QVERIFY(w.FanDelay->isEnabled());
        QVERIFY(!w.Fan->isEnabled());
        QCOMPARE(w.DelaySeconds->text(), QStringLiteral("4"));

        // Fan control off and no delay: nothing starts.
        MainFixture g;
        g.w().FanCTRL->setValue(0);
        g.w().FanPeriod->setText("3");
        QVERIFY(!g.w().Fan->isEnabled());
        QVERIFY(!g.w().FanDelay->isEnabled());
        QCOMPARE(g.w().FanSeconds->text(), QStringLiteral("180"));
        // Starting the fan is the timer's work: no line is raised here.
        QVERIFY(g.requests().isEmpty());
    }

    void startDelayBox()
    {
        MainFixture f;
        MainWindow &w = f.w();
        w.DelayPeriod->setText("25");
        QCOMPARE(w.DelaySeconds->text(), QStringLiteral("25"));
        w.FanDelay->setEnabled(true);
        w.DelayPeriod->clear();
        QCOMPARE(w.DelayPeriod->text(), QStringLiteral("1"));
        QCOMPARE(w.DelaySeconds->text(), QStringLiteral("1"));
        // A start delay under way goes on: the fan still starts.
        QVERIFY(w.FanDelay->isEnabled());
    }

    void spokenNamesAndRolesAcrossTheWholeWindow()
    {
        MainFixture f;
        MainWindow &w = f.w();
        QHash<QString, QString> owner;   // spoken name -> control
        for (QWidget *c : w.findChildren<QWidget *>()) {
            auto *label = qobject_cast<QLabel *>(c);
            const bool indicator = label && !label->objectName().isEmpty();
            if (!isControl(c) && !indicator)
                continue;
            QAccessibleInterface *ai = QAccessible::queryAccessibleInterface(c);
            QVERIFY(ai);
            const QString name = ai->text(QAccessible::Name);
            const QString what = c->objectName() + ": \"" + name + '"';
            QVERIFY2(!name.trimmed().isEmpty(), qPrintable(what));
            QVERIFY2(!name.contains(QRegularExpression("\\bxx\\b", QRegularExpression::CaseInsensitiveOption)),
                     qPrintable(what));
            // Indicators speak their value (two clocks may read alike);
            // controls never share a name, on one tab or across two.
            if (isControl(c)) {
                QVERIFY2(!owner.contains(name), qPrintable(what + " also " + owner.value(name)));
                owner.insert(name, c->objectName());
            }
        }

        const QList<std::tuple<QWidget *, QString, QString>> named{
            {w.BeaconPeriod6, "Voice ident period, minutes", "TTS Ident Your Call Every xx Minutes"},
            {w.BeaconPeriod7, "CW ident period, minutes", "CW Ident Ever xx Minutes"},
            {w.TTSPeriod, "TTS delay increments, 0 to 9", "xx Delay Increments 0 to 9 Before TTS"},
            {w.OnHour, "On The Hour, say the time", "Say the Time"},
            {w.InfoHourly, "On The Hour, info text", "TX Info Text. See Mirelva to Enter Text."},
            {w.Command6, "Save Changes, Connects and Settings tab", "Save the changes made"},
            {w.PTT2, "Receiver", "no signal"},
        };
        for (const auto &[c, name, description] : named) {
            QAccessibleInterface *ai = QAccessible::queryAccessibleInterface(c);
            QCOMPARE(ai->text(QAccessible::Name), name);
            QCOMPARE(ai->text(QAccessible::Description), description);
        }

        // The either/or pairs are radio buttons, and may both be off.
        w.Option1->setValue(false);
        w.Option2->setValue(false);
        w.UseDTR->setValue(false);
        w.UseRTS->setValue(true);
        const QList<std::tuple<QAbstractButton *, QAccessible::Role, bool>> roles{
            {w.Option1, QAccessible::RadioButton, false}, {w.Option2, QAccessible::RadioButton, false},
            {w.UseDTR, QAccessible::RadioButton, false},  {w.UseRTS, QAccessible::RadioButton, true},
            {w.Check1, QAccessible::CheckBox, false},     {w.SaveDataNow, QAccessible::Button, false},
        };
        for (const auto &[b, role, checked] : roles) {
            QAccessibleInterface *ai = QAccessible::queryAccessibleInterface(b);
            QVERIFY2(ai->role() == role, qPrintable(b->objectName()));
            QVERIFY2(ai->state().checked == checked, qPrintable(b->objectName()));
        }
        QAccessibleInterface *dtr = QAccessible::queryAccessibleInterface(w.UseDTR);
        QCOMPARE(dtr->text(QAccessible::Name), QStringLiteral("Use DTR"));
        QVERIFY(dtr->state().checkable);
        // Pressed from a screen reader it selects, and its partner goes off.
        QVERIFY(dtr->actionInterface());
        dtr->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QVERIFY(w.UseDTR->value());
        QVERIFY(!w.UseRTS->value());
        QVERIFY(dtr->state().checked);
    }

    void lastingWarningsStandInTheStatusLineUntilCleared()
    {
        MainFixture f;
        MainWindow &w = f.w();
        QVERIFY(w.lastingWarnings().isEmpty());
        QVERIFY(w.Warnings->isHidden());
        QCOMPARE(w.Warnings->accessibleName(), QStringLiteral("No warnings"));

        w.setLastingWarning("sound", "Sound device \"default\" cannot be opened: speech is not heard on air");
        w.setLastingWarning("save", "Settings not saved");
        // A second word under one key replaces the first in its place.
        w.setLastingWarning("sound", "Sound device \"hw:1\" cannot be opened: speech is not heard on air");
        const QStringList both{"Sound device \"hw:1\" cannot be opened: speech is not heard on air",
                               "Settings not saved"};
        QCOMPARE(w.lastingWarnings(), both);
        QCOMPARE(w.Warnings->text(), both.join('\n'));
        QVERIFY(!w.Warnings->isHidden());
        QAccessibleInterface *ai = QAccessible::queryAccessibleInterface(w.Warnings);
        QVERIFY(ai);
        QCOMPARE(ai->text(QAccessible::Name), both.join('\n'));

        w.clearLastingWarning("sound");
        w.clearLastingWarning("never set");
        QCOMPARE(w.lastingWarnings(), QStringList{"Settings not saved"});
        w.setLastingWarning("save", "  ");
        QVERIFY(w.lastingWarnings().isEmpty());
        QVERIFY(w.Warnings->isHidden());
        QCOMPARE(ai->text(QAccessible::Name), QStringLiteral("No warnings"));
        QVERIFY(f.requests().isEmpty());
    }

    void navigationWithoutOtherWindowsDoesNothing()
    {
        MainFixture f;
        MainWindow &w = f.w();
        for (QPushButton *b : {w.Command1, w.Command13, w.Command12, w.Command9, w.Command8, w.Command3})
            b->click();
        QVERIFY(!Program::ended());
        QVERIFY(w.isVisible());
        QVERIFY(f.requests().isEmpty());
    }
};

QTEST_MAIN(TestMainWindowForm)
#include "test_mainwindow_form.moc"
