#include <QTest>
#include <QTimer>

#include "core/onairlog.h"
#include "ui/program.h"
#include "node/console/nodeconsole.h"
#include "support/announcer_fixture.h"

using namespace mirelva;
using namespace mirelva::test;

// Every announcement goes over the air through SpeakTheText: keyed, spoken,
// unkeyed, with the fan line dropped after it.
class TestAnnouncerSpeech : public QObject {
    Q_OBJECT

    static QStringList keyed(const QString &text, const QString &line = QStringLiteral("SetDTR off"))
    {
        return {"SetPTT on", "Speech keyed: " + text, "SetPTT off", line};
    }

private slots:
    void indicatorsArePaintedBeforeTheSpeechBlocks()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        NodeConsole console(&f.node);
        console.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(QTest::qWaitForWindowExposed(&console));
        QLabel *consolePtt = console.findChild<QLabel *>("statePtt");
        QVERIFY(consolePtt);
        // What each indicator last showed on the screen.
        QHash<QObject *, QString> painted;
        struct PaintSpy : QObject {
            QHash<QObject *, QString> *painted;
            bool eventFilter(QObject *o, QEvent *e) override
            {
                if (e->type() == QEvent::Paint)
                    (*painted)[o] = static_cast<QLabel *>(o)->text();
                return false;
            }
        } spy;
        spy.painted = &painted;
        for (QLabel *l : {w.PTT, w.ShowTime, consolePtt})
            l->installEventFilter(&spy);
        QTest::qWait(0);
        AnnouncerFixture::setTime(10, 8, 5);

        QHash<QObject *, QString> duringSpeech;
        f.voice.addListener([&](const QString &, int) { duringSpeech = painted; });
        w.TTSCTRL->setValue(1);
        w.TTSPeriod->setText("2");
        w.Speak3_Click();
        QCOMPARE(duringSpeech.value(w.PTT), QStringLiteral("PTT ON"));
        QCOMPARE(duringSpeech.value(w.ShowTime), QStringLiteral("10:08:05"));
        QCOMPARE(duringSpeech.value(consolePtt), QStringLiteral("PTT: on"));
        QCOMPARE(f.requests(), QStringList({"SetPTT on", "Speech keyed: TTS Text Here", "SetPTT off", "SetDTR off"}));
    }

    void speechIntoNothingIsWarnedAndLoggedOncePerKeyedAnnouncement()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        QStringList log;
        QObject listening;
        connect(&OnAirLog::instance(), &OnAirLog::line, &listening, [&](const QString &l) { log << l.mid(24); });
        const QString dead = QStringLiteral("Sound device \"default\" cannot be opened");
        f.voice.problem = dead;
        w.Timer1_Timer();
        QCOMPARE(w.lastingWarnings(), QStringList{dead + ": speech is not heard on air"});
        QCOMPARE(w.Warnings->text(), dead + ": speech is not heard on air");

        w.Speak3_Click();       // keyed
        w.TextNoPTT3_Click();   // heard by nobody anyway: not the air
        w.Check1->setValue(1);  // announcements off: nothing spoken
        w.Speak3_Click();
        w.Check1->setValue(0);
        w.SayCall_Click();      // keyed
        QCOMPARE(log.filter("not heard"), QStringList({"speech not heard on air: " + dead,
                                                       "speech not heard on air: " + dead}));
        QCOMPARE(f.voice.spoken.size(), 3);

        // The device works again: the warning goes at the next tick.
        f.voice.problem.clear();
        w.Timer1_Timer();
        QVERIFY(w.lastingWarnings().isEmpty());
        w.Speak3_Click();
        QCOMPARE(log.filter("not heard").size(), 2);
    }

    void keyedAnnouncementAndAsterisks()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        QString pttDuringSpeech;
        unsigned colourDuringSpeech = 0;
        f.voice.addListener([&](const QString &, int) {
            pttDuringSpeech = w.PTT->text();
            colourDuringSpeech = captionColour(w.PTT);
        });
        w.TextInput3->setText("Net*Tonight");
        w.Speak3_Click();

        QCOMPARE(f.requests(), keyed("Net Tonight"));
        QCOMPARE(f.voice.spoken.size(), 1);
        QCOMPARE(f.voice.spoken[0].flags, int(SpeechVoice::SVSFPurgeBeforeSpeak));
        // Keyed speech uses the speech settings' levels (their defaults here).
        QCOMPARE(f.voice.spoken[0].rate, 0);
        QCOMPARE(f.voice.spoken[0].volume, 50);
        QCOMPARE(w.SayTheText, QString("Net Tonight"));
        QCOMPARE(w.TextInput3->text(), QString("Net*Tonight"));
        QCOMPARE(pttDuringSpeech, QString("PTT ON"));
        QCOMPARE(colourDuringSpeech, 255u);
        QCOMPARE(w.PTT->text(), QString("PTT OFF"));
        QCOMPARE(captionColour(w.PTT), 0x8000u);
        QVERIFY(!f.node.ptt());

        // Only the selected fan line is dropped.
        f.node.clearRecords();
        w.UseRTS->setValue(true);
        w.Speak3_Click();
        QCOMPARE(f.requests(), keyed("Net Tonight", "SetRTS off"));
    }

    void keyingStartsTheFanDelayCountdown()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.FanCTRL->setValue(1);
        w.DelayPeriod->setText("7");
        w.DelaySeconds->setText("2");
        w.Speak3_Click();
        QCOMPARE(w.DelaySeconds->text(), QString("7"));

        w.FanCTRL->setValue(0);
        w.DelaySeconds->setText("2");
        w.Speak3_Click();
        QCOMPARE(w.DelaySeconds->text(), QString("2"));
    }

    void emptyBoxesGetTheirReplacementTexts()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.Callsign->setText("");
        w.SayCall_Click();
        QCOMPARE(w.Callsign->text(), QString("NoCall"));
        QCOMPARE(f.requests(), keyed("NoCall"));

        // The no-PTT buttons speak at once, unkeyed, and leave SayTheText alone.
        f.node.clearRecords();
        f.voice.spoken.clear();
        w.Callsign->setText("");
        w.SayCallNoPTT_Click();
        w.TextInput3->setText("");
        w.TextNoPTT3_Click();
        w.InfoText->setText("");
        w.InfoNoPTT_Click();
        QCOMPARE(w.Callsign->text(), QString("No Callsign"));
        QCOMPARE(w.TextInput3->text(), QString("No information at this time."));
        QCOMPARE(w.InfoText->text(), QString("No information at this time."));
        QCOMPARE(f.voice.texts(),
                 QStringList({"No Callsign", "No information at this time.", "No information at this time."}));
        for (const auto &s : f.voice.spoken)
            QCOMPARE(s.flags, int(SpeechVoice::SVSFlagsAsync));
        QCOMPARE(w.SayTheText, QString("NoCall"));
        QCOMPARE(f.requests(), QStringList({"Speech local: No Callsign", "Speech local: No information at this time.",
                                            "Speech local: No information at this time."}));

        // Speak3 with an empty box, and SpeakInfo, which only queues.
        f.node.clearRecords();
        w.TextInput3->setText("");
        w.Speak3_Click();
        QCOMPARE(f.requests(), keyed("No information at this time."));
        f.node.clearRecords();
        w.InfoText->setText("");
        w.SpeakInfo_Click();
        QCOMPARE(w.InfoText->text(), QString("No information at this time."));
        QCOMPARE(w.flag2, 1);
        QVERIFY(f.requests().isEmpty());
        w.Timer1_Timer();
        QCOMPARE(f.requests(), keyed("No information at this time."));
        QCOMPARE(w.flag2, 0);
    }

    void busyLinkHoldsAQueuedAnnouncement()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        f.node.setLinkBusy(true);
        // A direct call while busy does nothing at all.
        w.TextInput3->setText("Beacon");
        w.Speak3_Click();
        QVERIFY(f.requests().isEmpty());
        QCOMPARE(w.flag2, 0);

        w.InfoText->setText("Club meeting Friday");
        w.SpeakInfo_Click();
        for (int i = 0; i < 3; ++i) {
            w.Timer1_Timer();
            AnnouncerFixture::setTime(10, 7, 24 + i);
        }
        QVERIFY(f.voice.spoken.isEmpty());
        QVERIFY(f.requests().isEmpty());
        QCOMPARE(w.flag2, 1);

        f.node.setLinkBusy(false);
        w.Timer1_Timer();
        QCOMPARE(f.requests(), keyed("Club meeting Friday"));
        QCOMPARE(w.flag2, 0);
    }

    void disabledAnnouncementsSpeakNothingButStillUnkey()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.Check1->setValue(1);
        w.SpeakInfo_Click();
        w.Timer1_Timer();
        QVERIFY(f.voice.spoken.isEmpty());
        QCOMPARE(f.requests(), QStringList({"SetPTT off", "SetDTR off"}));
        QCOMPARE(w.flag2, 0);

        // Greyed counts as not disabled.
        f.node.clearRecords();
        w.Check1->setValue(2);
        w.Speak3_Click();
        QCOMPARE(f.voice.spoken.size(), 1);
    }

    // Texts from outside are cut before they are spoken: a chat text queued
    // for the next tick to the length any announcement may have, a station
    // text to the length of a call before it is spelled out.
    void textsFromOutsideAreBoundedBeforeTheAir_data()
    {
        QTest::addColumn<QString>("chat");
        QTest::addColumn<QString>("station");
        QTest::addColumn<QString>("spoken");
        QTest::addColumn<QString>("logLine");
        const QString chat = "W1AW>" + QString(2000, QChar('z'));
        QTest::newRow("chat text") << chat << QString() << ("Message from  " + chat).left(250)
                                   << "announcement cut to 250 characters for the air (it had 2019)";
        // The cut would fall between the two halves of the radio sign.
        const QString emoji = QString(235, QChar('y')) + QString::fromUtf8("\xF0\x9F\x93\xBB") + "tail";
        QTest::newRow("surrogate pair at the cut") << emoji << QString()
                                                   << ("Message from  " + emoji).left(249)
                                                   << "announcement cut to 250 characters for the air (it had 255)";
        QTest::newRow("station text") << QString() << QString(26, QChar('A')) + "BCDEFG" + QString(4968, QChar('A'))
                                      << QString("A ").repeated(26) + "B C D E F G  , Connected"
                                      << "station text cut to 32 characters for the air (it had 5000)";
    }
    void textsFromOutsideAreBoundedBeforeTheAir()
    {
        QFETCH(QString, chat);
        QFETCH(QString, station);
        QFETCH(QString, spoken);
        QFETCH(QString, logLine);
        AnnouncerFixture f;
        MainWindow &w = f.w();
        QStringList log;
        const auto c = connect(&OnAirLog::instance(), &OnAirLog::line, this, [&](const QString &l) { log << l.mid(24); });
        if (!chat.isEmpty()) {
            // As the message box queues a chat text with "Text Messages" on.
            w.SayTheText = "Message from  " + chat;
            w.flag2 = 1;
            w.Timer1_Timer();
        } else {
            f.node.stationConnects(station, "", "");
        }
        disconnect(c);
        QCOMPARE(f.voice.texts(), QStringList{spoken});
        QCOMPARE(f.requests(), keyed(spoken));
        QVERIFY(log.contains(logLine));
    }

    // No key-up lasts past the transmit time-out: the speech is cut there,
    // the transmitter released at once, and the operator told why.
    void transmitTimeOut()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.transmitTimeoutMs = 5000;
        f.voice.msPerCharacter = 100;
        QStringList log;
        const auto c = connect(&OnAirLog::instance(), &OnAirLog::line, this, [&](const QString &l) { log << l.mid(24); });
        const QDateTime start = Clock::now();
        // 32 characters spelled out with the words after them: 7.6 s.
        const QString call(40, QChar('K'));
        f.node.stationConnects(call, "", "");
        const QString spoken = QString("K ").repeated(32) + " , Connected";
        QCOMPARE(f.voice.spoken.size(), 1);
        QVERIFY(f.voice.spoken[0].cut);
        QCOMPARE(start.msecsTo(Clock::now()), 5000);
        QCOMPARE(f.requests(), keyed(spoken));
        QVERIFY(!f.node.ptt());
        QCOMPARE(w.PTT->text(), QString("PTT OFF"));
        QCOMPARE(log.filter("time-out"), QStringList{"on air: transmit time-out after 5 s: speech cut, transmitter released"});
        QCOMPARE(w.lastingWarnings(), QStringList{"Transmit time-out at 10:07: a transmission ran past 5 seconds; "
                                                  "the speech was cut and the transmitter released."});

        // A text that fits is spoken whole; the warning stays for the operator.
        f.node.clearRecords();
        f.voice.spoken.clear();
        w.TextInput3->setText("Net tonight");
        w.Speak3_Click();
        QCOMPARE(f.requests(), keyed("Net tonight"));
        QVERIFY(!f.voice.spoken[0].cut);
        QCOMPARE(w.lastingWarnings().size(), 1);

        // An announcement nested in another shares its key-up, and so the
        // time that is left of it.
        f.node.clearRecords();
        f.voice.spoken.clear();
        log.clear();
        bool once = false;
        f.voice.addListener([&](const QString &, int) {
            if (!std::exchange(once, true))
                QTimer::singleShot(0, &f.node, [&] { f.node.stationConnects("VK2ABC-L", "", ""); });
        });
        w.TextInput3->setText(QString(30, QChar('n')));   // 3 s
        w.Speak3_Click();
        disconnect(c);
        QCOMPARE(f.voice.spoken.size(), 2);
        QVERIFY(!f.voice.spoken[0].cut);
        QVERIFY(f.voice.spoken[1].cut);   // 3.3 s, 2 s left
        QCOMPARE(f.requests(), QStringList({"SetPTT on", "Speech keyed: " + QString(30, QChar('n')), "SetPTT on",
                                            "Speech keyed: V K 2 A B C -  : Link Connected.", "SetPTT off",
                                            "SetDTR off", "SetPTT off", "SetDTR off"}));
        QCOMPARE(log.filter("time-out").size(), 1);
    }

    // A key-up of ours that is still standing past the time-out while the
    // thread is free is released by the clock tick.
    void theClockReleasesAKeyUpLeftStanding()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.Echolink->SetPTT(true);
        f.node.clearRecords();
        Clock::advanceForTests(179);
        w.Timer1_Timer();
        QVERIFY(f.node.ptt());
        QVERIFY(w.lastingWarnings().isEmpty());
        Clock::advanceForTests(1);
        w.Timer1_Timer();
        QCOMPARE(f.requests(), QStringList{"SetPTT off"});
        QVERIFY(!f.node.ptt());
        QCOMPARE(w.lastingWarnings().size(), 1);
        Clock::advanceForTests(300);
        w.Timer1_Timer();
        QCOMPARE(f.requests(), QStringList{"SetPTT off"});
    }

    void ttsDelay()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.TTSCTRL->setValue(1);
        w.TTSPeriod->setText("15");
        w.Speak3_Click();
        QCOMPARE(w.TTSPeriod->text(), QString("9"));
        QCOMPARE(SpeechPause::count(), 9);

        // flagtime skips the delay once.
        SpeechPause::resetCount();
        w.TTSPeriod->setText("4");
        w.flagtime = 1;
        w.Speak3_Click();
        QCOMPARE(SpeechPause::count(), 0);
        QCOMPARE(w.flagtime, 0);
        w.Speak3_Click();
        QCOMPARE(SpeechPause::count(), 4);

        // Without the delay flagtime waits for a later announcement.
        SpeechPause::resetCount();
        w.TTSCTRL->setValue(0);
        w.flagtime = 1;
        w.Speak3_Click();
        QCOMPARE(SpeechPause::count(), 0);
        QCOMPARE(w.flagtime, 1);

        // No pause is made for an announcement that is never spoken.
        w.TTSCTRL->setValue(1);
        w.flagtime = 0;
        w.Check1->setValue(1);
        w.Speak3_Click();
        QCOMPARE(SpeechPause::count(), 0);
    }

    void ttsPeriodBox()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.TTSPeriod->setText("");
        QCOMPARE(w.TTSPeriod->text(), QString("0"));
        QVERIFY(w.TTSPeriod->digitsOnly());
        w.TTSPeriod->selectAll();
        QTest::keyClicks(w.TTSPeriod, "a7x");
        QCOMPARE(w.TTSPeriod->text(), QString("7"));
    }

    // A transmitter never stays keyed: whatever ends the program while an
    // announcement lets waiting events run, PTT is released before the end
    // and nothing more reaches the node.
    void endingDuringAKeyedAnnouncement_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("node closing while speaking")
            << "closing-in-speech"
            << QStringList({"SetPTT on", "Speech keyed: Net Tonight", "SetPTT off", "SetDTR off", "SetRTS off"});
        QTest::newRow("node closing queued")
            << "closing-queued"
            << QStringList({"SetPTT on", "Speech keyed: Net Tonight", "SetPTT off", "SetDTR off", "SetRTS off"});
        QTest::newRow("Exit button") << "exit"
                                     << QStringList({"SetPTT on", "Speech keyed: Net Tonight", "SetPTT off"});
        QTest::newRow("another way of ending")
            << "bare-end" << QStringList({"SetPTT on", "Speech keyed: Net Tonight", "SetPTT off"});
    }

    void endingDuringAKeyedAnnouncement()
    {
        QFETCH(QString, how);
        QFETCH(QStringList, expected);
        AnnouncerFixture f;
        MainWindow &w = f.w();
        if (how == "closing-in-speech") {
            f.voice.addListener([&](const QString &, int) { f.node.closing(); });
        } else {
            QTimer::singleShot(0, &f.node, [&] {
                if (how == "closing-queued")
                    f.node.closing();
                else if (how == "exit")
                    w.Command4->click();
                else
                    Program::end();
            });
        }
        w.flag2 = 1;
        w.TextInput3->setText("Net*Tonight");
        w.Speak3_Click();
        QVERIFY(Program::ended());
        QCOMPARE(f.requests(), expected);
        QVERIFY(!f.node.ptt());
        // The queued slot was taken as the announcement began; nothing after
        // the ending touched it again.
        QCOMPARE(w.flag2, 0);
        QCOMPARE(w.SayTheText, QString("Net Tonight"));
    }
};

QTEST_MAIN(TestAnnouncerSpeech)
#include "test_announcer_speech.moc"
