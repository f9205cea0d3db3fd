#include <QTest>

#include "dtmf/dtmfwindow.h"
#include "side/aboutwindow.h"
#include "side/webtoolswindow.h"
#include "speech_settings/speechsettingswindow.h"
#include "support/announcer_fixture.h"

using namespace mirelva;
using namespace mirelva::test;

// The voice's speed and volume: ttssettings.ini, the bars the main window
// reads at every keyed announcement, the test sentence; and the main window's
// buttons that show the loaded windows.
class TestSpeechSettings : public QObject {
    Q_OBJECT

    static QStringList keyed(const QString &text)
    {
        return {"SetPTT on", "Speech keyed: " + text, "SetPTT off", "SetDTR off"};
    }

private slots:
    // "Test" with no sentence to say keys nothing: it would be a silent
    // carrier.
    void testWithAnEmptySentenceKeysNothing_data()
    {
        QTest::addColumn<QString>("sentence");
        QTest::newRow("empty") << "";
        QTest::newRow("blanks") << "   ";
    }

    void testWithAnEmptySentenceKeysNothing()
    {
        QFETCH(QString, sentence);
        AnnouncerFixture f;
        f.station.speechSettings->Text1->setText(sentence);
        f.station.speechSettings->Command3->click();
        QCOMPARE(f.requests(), QStringList());
    }

    void formAndDefaults()
    {
        AnnouncerFixture f;
        SpeechSettingsWindow *s = f.station.speechSettings;
        QVERIFY(s);
        QVERIFY(!s->isVisible());
        QCOMPARE(s->windowTitle(), QStringLiteral("Mirelva   v3.0.3  TTS Setup"));
        QCOMPARE(s->VoiceSpeed->minimum(), -5);
        QCOMPARE(s->VoiceSpeed->maximum(), 5);
        QCOMPARE(s->VolLev->minimum(), 0);
        QCOMPARE(s->VolLev->maximum(), 100);
        QCOMPARE(s->VoiceSpeed->value(), 0);
        QCOMPARE(s->VolLev->value(), 50);
        QCOMPARE(s->Label6->text(), QStringLiteral("0"));
        QCOMPARE(s->Label1->text(), QStringLiteral("50"));
        QCOMPARE(s->FrameSpeed->title(), QStringLiteral("Voice Speed"));
        QCOMPARE(s->FrameVolume->title(), QStringLiteral("Speech Volume Level"));
        QCOMPARE(s->Text1->text(), QStringLiteral("Testing the voice settings"));
        QCOMPARE(s->Text1->toolTip(), QStringLiteral("Test Text"));
        QCOMPARE(s->Command3->text().remove(QLatin1Char('&')), QStringLiteral("Test"));
        QCOMPARE(s->Command3->toolTip(), QStringLiteral("Test Your Settings"));
        QCOMPARE(s->Command2->text().remove(QLatin1Char('&')), QStringLiteral("Save"));
        QCOMPARE(s->Command2->toolTip(), QStringLiteral("Save your Settings"));
        QCOMPARE(s->Command1->text().remove(QLatin1Char('&')), QStringLiteral("Hide"));
        QCOMPARE(s->Command1->toolTip(), QStringLiteral("Hide This Screen"));
        QStringList captions;
        for (auto *l : s->findChildren<QLabel *>())
            captions << l->text();
        for (const char *c : {"Slow", "Fast", "Min", "Max"})
            QVERIFY2(captions.contains(QLatin1String(c)), c);
        // Every control can be named by a screen reader.
        for (QWidget *w : s->findChildren<QWidget *>())
            if (w->focusPolicy() != Qt::NoFocus)
                QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));

        // With no file an announcement goes out at rate 0 and volume 50.
        f.w().Speak3_Click();
        QCOMPARE(f.voice.spoken.size(), 1);
        QCOMPARE(f.voice.spoken[0].rate, 0);
        QCOMPARE(f.voice.spoken[0].volume, 50);
        // The labels follow the bars.
        s->VoiceSpeed->setValue(-4);
        s->VolLev->setValue(73);
        QCOMPARE(s->Label6->text(), QStringLiteral("-4"));
        QCOMPARE(s->Label1->text(), QStringLiteral("73"));
    }

    void storedValuesAreReadIntoTheBars_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("volume");
        QTest::newRow("in range") << QByteArray("[SETTINGS]\r\nVOLLEV=80\r\nVOICESPEED=-3\r\n") << -3 << 80;
        QTest::newRow("ends") << QByteArray("[settings]\nvollev=0\nvoicespeed=5\n") << 5 << 0;
        QTest::newRow("too large") << QByteArray("[SETTINGS]\nVOLLEV=250\nVOICESPEED=9\n") << 5 << 100;
        QTest::newRow("too small") << QByteArray("[SETTINGS]\nVOLLEV=-4\nVOICESPEED=-99999999999\n") << -5 << 0;
        QTest::newRow("not numbers") << QByteArray("[SETTINGS]\nVOLLEV=loud\nVOICESPEED=\n") << 0 << 50;
        QTest::newRow("other section") << QByteArray("[OTHER]\nVOLLEV=10\nVOICESPEED=2\n") << 0 << 50;
    }

    void storedValuesAreReadIntoTheBars()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, speed);
        QFETCH(int, volume);
        AnnouncerFixture f;
        f.settings.writeFile(SpeechSettingsWindow::iniName(), file);
        auto next = f.restart();
        SpeechSettingsWindow *s = next->station.speechSettings;
        QCOMPARE(s->VoiceSpeed->value(), speed);
        QCOMPARE(s->VolLev->value(), volume);
        QCOMPARE(s->Label6->text(), QString::number(speed));
        QCOMPARE(s->Label1->text(), QString::number(volume));
        // Reading never writes.
        QCOMPARE(f.settings.readFile(SpeechSettingsWindow::iniName()), file);
    }

    void barsReachTheNextKeyedAnnouncementUnsaved()
    {
        AnnouncerFixture f;
        SpeechSettingsWindow *s = f.station.speechSettings;
        MainWindow &w = f.w();
        s->VoiceSpeed->setValue(1);
        s->VolLev->setValue(60);
        s->SaveData();
        const QByteArray saved = f.settings.readFile(SpeechSettingsWindow::iniName());

        // The bar at its right end is heard at once, through the test button,
        // keyed like any announcement.
        s->VoiceSpeed->setValue(s->VoiceSpeed->maximum());
        s->VolLev->setValue(20);
        s->Command3->click();
        QCOMPARE(f.requests(), keyed("Testing the voice settings"));
        QCOMPARE(f.voice.spoken.size(), 1);
        QCOMPARE(f.voice.spoken[0].rate, 5);
        QCOMPARE(f.voice.spoken[0].volume, 20);
        QCOMPARE(w.SayTheText, QStringLiteral("Testing the voice settings"));

        // A queued announcement at the next tick uses the bars as they stand.
        f.node.clearRecords();
        s->VoiceSpeed->setValue(-2);
        s->Text1->setText("Net*at eight");
        s->Command3->click();
        QCOMPARE(f.requests(), keyed("Net at eight"));
        QCOMPARE(f.voice.spoken[1].rate, -2);
        w.InfoText->setText("Club news");
        w.SpeakInfo_Click();
        s->VolLev->setValue(90);
        w.Timer1_Timer();
        QCOMPARE(f.voice.spoken.last().text, QStringLiteral("Club news"));
        QCOMPARE(f.voice.spoken.last().rate, -2);
        QCOMPARE(f.voice.spoken.last().volume, 90);

        // Speech without keying does not take the bars.
        s->VoiceSpeed->setValue(4);
        w.InfoNoPTT_Click();
        QCOMPARE(f.voice.spoken.last().flags, int(SpeechVoice::SVSFlagsAsync));
        QCOMPARE(f.voice.spoken.last().rate, -2);

        // With announcements disabled the test speaks nothing and unkeys.
        f.node.clearRecords();
        w.Check1->setValue(1);
        s->Command3->click();
        QCOMPARE(f.requests(), QStringList({"SetPTT off", "SetDTR off"}));

        // Nothing was saved: the next start is back on the file's values.
        QCOMPARE(f.settings.readFile(SpeechSettingsWindow::iniName()), saved);
        auto next = f.restart();
        QCOMPARE(next->station.speechSettings->VoiceSpeed->value(), 1);
        QCOMPARE(next->station.speechSettings->VolLev->value(), 60);
    }

    void saveHideAndClose()
    {
        AnnouncerFixture f;
        SpeechSettingsWindow *s = f.station.speechSettings;
        s->show();
        s->VoiceSpeed->setValue(3);
        s->VolLev->setValue(75);
        s->Command2->click();
        QCOMPARE(f.settings.readFile(SpeechSettingsWindow::iniName()),
                 QByteArray("[SETTINGS]\nVOLLEV=75\nVOICESPEED=3\n"));

        // "Hide" keeps what was not saved.
        s->VolLev->setValue(10);
        s->Command1->click();
        QVERIFY(!s->isVisible());
        QCOMPARE(s->VolLev->value(), 10);

        // Closing unloads: unsaved values and an edited test sentence are
        // gone, the file's values come back, and the window stays the
        // station's one speech settings window.
        f.w().Command8->click();
        QVERIFY(s->isVisible());
        s->Text1->setText("Another sentence");
        s->VoiceSpeed->setValue(-5);
        QVERIFY(s->close());
        QVERIFY(!s->isVisible());
        QCOMPARE(f.station.speechSettings, s);
        QCOMPARE(s->VoiceSpeed->value(), 3);
        QCOMPARE(s->VolLev->value(), 75);
        QCOMPARE(s->Label1->text(), QStringLiteral("75"));
        QCOMPARE(s->Text1->text(), QStringLiteral("Testing the voice settings"));
        f.w().Speak3_Click();
        QCOMPARE(f.voice.spoken.last().rate, 3);
        QCOMPARE(f.voice.spoken.last().volume, 75);
        QVERIFY(f.settings.readFile(SpeechSettingsWindow::iniName()).contains("VOICESPEED=3"));
    }

    void windowButtonsShowTheLoadedWindowsOnce()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        struct Case {
            QPushButton *button;
            QWidget *window;
        };
        const QList<Case> cases{
            {w.Command8, static_cast<QWidget *>(f.station.speechSettings)},
            {w.Command12, static_cast<QWidget *>(f.station.webTools)},
            {w.Command3, static_cast<QWidget *>(f.station.about)},
            {w.Command9, static_cast<QWidget *>(f.station.dtmf)},
        };
        // A changed file is not read again by a second press: each window
        // was loaded once, at start-up, and keeps its state.
        f.settings.writeFile(SpeechSettingsWindow::iniName(), "[SETTINGS]\nVOLLEV=5\nVOICESPEED=-5\n");
        f.station.speechSettings->VolLev->setValue(66);
        const int windowsBefore = QApplication::topLevelWidgets().size();
        for (const Case &c : cases) {
            QVERIFY(c.window);
            QVERIFY(!c.window->isVisible());
            c.button->click();
            QVERIFY2(c.window->isVisible(), qPrintable(c.button->text()));
            c.button->click();
            QVERIFY(c.window->isVisible());
        }
        QCOMPARE(QApplication::topLevelWidgets().size(), windowsBefore);
        QCOMPARE(f.station.speechSettings->VolLev->value(), 66);
        QCOMPARE(f.station.speechSettings->VoiceSpeed->value(), 0);
        // The main window stays usable beside them, and nothing reached the node.
        QVERIFY(w.isVisible());
        QVERIFY(w.isEnabled());
        QVERIFY(f.requests().isEmpty());
    }
};

QTEST_MAIN(TestSpeechSettings)
#include "test_speech_settings.moc"
