#include <QAccessible>
#include <QScrollBar>
#include <QTest>

#include "dtmf/dtmfwindow.h"
#include "messagebox/messageboxwindow.h"
#include "side/aboutwindow.h"
#include "side/webtoolswindow.h"
#include "speech_settings/speechsettingswindow.h"
#include "side/webaddresses.h"
#include "support/announcer_fixture.h"

using namespace mirelva;
using namespace mirelva::test;

namespace {
QString described(QWidget *w) { return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Description); }
} // namespace

class TestAccessibility : public QObject {
    Q_OBJECT
private slots:
    // The transmitter keyed and released, a signal coming and going, a
    // station connecting and leaving and a chat text are spoken as they
    // happen, each a notice of its own; a tick that changes nothing says
    // nothing, nor does a state an indicator only passes through.
    void changesAreSpokenAndNothingElse()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.Timer1_Timer();
        tellIndicatorsNow();
        QStringList told;
        QObject listening;
        connect(&ScreenReaderNotices::instance(), &ScreenReaderNotices::told, &listening,
                [&](QWidget *window, const QString &text) { told << window->objectName() + ": " + text; });
        // What a screen reader finds when it reads the indicators.
        const auto indicators = [&] {
            return QStringList({w.PTT->text(), described(w.PTT2), w.ShowTime->text()});
        };

        w.TextInput3->setText("Net tonight");
        w.Speak3_Click();
        // Keyed: told before the speech holds the thread; released: once
        // the program settles.
        QCOMPARE(told, QStringList({"Mirelva: PTT on"}));
        tellIndicatorsNow();
        QCOMPARE(told, QStringList({"Mirelva: PTT on", "Mirelva: PTT off"}));
        // The node's word of the keying, handled after the release in the
        // same turn, is never spoken.
        w.showPtt(true);
        w.showPtt(false);
        tellIndicatorsNow();
        QCOMPARE(told.size(), 2);
        QStringList notices;
        for (auto *notice : w.findChildren<ScreenReaderNotice *>()) {
            QAccessibleInterface *a = QAccessible::queryAccessibleInterface(notice);
            QCOMPARE(a->role(), QAccessible::Notification);
            notices << a->text(QAccessible::Name);
        }
        QCOMPARE(notices, QStringList({"PTT on", "PTT off"}));

        told.clear();
        const QStringList before = indicators();
        w.Timer1_Timer();
        w.Timer1_Timer();
        tellIndicatorsNow();
        QCOMPARE(told, QStringList());
        QCOMPARE(indicators(), before);

        f.node.setReceivingSignal(true);
        w.Timer1_Timer();
        tellIndicatorsNow();
        w.Timer1_Timer();
        tellIndicatorsNow();
        f.node.setReceivingSignal(false);
        w.Timer1_Timer();
        tellIndicatorsNow();
        QCOMPARE(told, QStringList({"Mirelva: Receiver: receiving signal", "Mirelva: Receiver: no signal"}));

        told.clear();
        w.ConDisc->setValue(0);
        f.node.stationConnects("W1AW", "John", "192.0.2.5");
        f.node.chat("W1AW>Hello all");
        f.node.stationDisconnects("W1AW");
        // The chat from the main window while the message box is hidden.
        QCOMPARE(told, QStringList({"Mirelva: W1AW connected, John", "Mirelva: Chat: W1AW>Hello all",
                                    "Mirelva: W1AW disconnected"}));

        // A notice stays a minute, so a busy screen reader still finds it,
        // and goes with the next one told after that.
        AnnouncerFixture::setTime(10, 8, 24);
        tellScreenReader(&w, "W1AW connected, John");
        QCOMPARE(w.findChildren<ScreenReaderNotice *>().size(), 1);
    }

    // A label showing a value is named by its caption and read by its value,
    // as its description and as its text, laid out where it stands.
    void valueLabelsAreNamedByTheirCaptionAndReadByTheirValue()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.ConDisc->setValue(0);
        f.node.stationConnects("K1ABC", "Mary", "192.0.2.9");
        const QList<std::tuple<QLabel *, QString, QString>> labels{
            {f.station.webTools->Label2, "Last Connected Call", "K1ABC Mary"},
            {f.station.about->Label3, "Contact",
             "Web: " + WebAddresses::makerWebSite() + "\nMail: " + WebAddresses::makerMail()},
            {w.PTT, "Transmitter", "PTT OFF"},
            {w.PTT2, "Receiver", "no signal"},
            {f.station.dtmf->PTT3, "Receiver", "no signal"},
            {w.ShowTime, "Time", w.ShowTime->text()},
        };
        for (const auto &[label, caption, value] : labels) {
            label->window()->show();
            QAccessibleInterface *a = QAccessible::queryAccessibleInterface(label);
            QCOMPARE(a->role(), QAccessible::StaticText);
            QCOMPARE(a->text(QAccessible::Name), caption);
            QCOMPARE(a->text(QAccessible::Description), value);
            QAccessibleTextInterface *text = a->textInterface();
            QVERIFY2(text, qPrintable(caption));
            QCOMPARE(text->text(0, text->characterCount()), value);
            if (value == label->text()) {
                // The last character stands on the label, on the last line.
                const QRect last = text->characterRect(text->characterCount() - 1);
                QVERIFY2(QRect(label->mapToGlobal(QPoint(0, 0)), label->size()).contains(last.center()),
                         qPrintable(caption));
                QCOMPARE(text->offsetAtPoint(last.center()), text->characterCount() - 1);
            }
        }
    }

    // An idle station, all its windows loaded and the main window showing,
    // tells a screen reader of one value a second: its clock. The clocks of
    // the hidden windows and tabs tell nothing, nor do values set again
    // unchanged.
    void idleTellsTheShownClockAlone()
    {
        VbTimer::setDrivenByTestsForTests(true);
        const QDateTime start(QDate(2024, 3, 5), QTime(10, 7, 23));
        Clock::setForTests(start);
        {
            MainFixture f;
            f.window->show();
            QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
            QList<VbTimer *> timers;
            for (QWidget *window : QList<QWidget *>{f.window.get(), f.station.dtmf, f.station.greeting})
                timers += window->findChildren<VbTimer *>();
            const auto runSecond = [&](int s) {
                Clock::setForTests(start.addSecs(s));
                for (VbTimer *t : timers)
                    if (t->isEnabled() && t->interval() > 0)
                        t->tickForTests();
                QCoreApplication::processEvents();
            };
            runSecond(0);
            QStringList shown;
            QObject listening;
            connect(&ScreenReaderNotices::instance(), &ScreenReaderNotices::valueShown, &listening,
                    [&](QWidget *label, const QString &v) { shown << label->window()->objectName() + ":" + label->objectName() + "=" + v; });
            for (int s = 1; s <= 30; ++s)
                runSecond(s);
            QStringList clock;
            for (int s = 1; s <= 30; ++s)
                clock << "Mirelva:ShowTime=" + Clock::clockFace(start.addSecs(s));
            QCOMPARE(shown, clock);

            // Keyed for ten seconds with the fan's page in front: the fan is
            // told on, and its run time once; the countdown, reloaded while
            // keyed, tells nothing more.
            f.w().SSTab1->setCurrentWidget(f.w().FanSeconds->parentWidget()->parentWidget());
            runSecond(31);
            runSecond(32);
            shown.clear();
            f.node.setTransmitterKeyed(true);
            for (int s = 33; s <= 42; ++s)
                runSecond(s);
            QCOMPARE(shown, QStringList({"Mirelva:FanSeconds=60", "Mirelva:FanOnOff=Fan ON"}));
            QCOMPARE(f.w().FanSeconds->text(), QStringLiteral("60"));
        }
        VbTimer::setDrivenByTestsForTests(false);
    }

    // The speech settings' bars take the focus in Tab order and move with
    // the arrow and page keys.
    void theSpeechBarsWorkFromTheKeyboard()
    {
        MainFixture f;
        SpeechSettingsWindow &s = *f.station.speechSettings;
        s.show();
        QApplication::setActiveWindow(&s);
        QVERIFY(QTest::qWaitForWindowActive(&s));
        s.VoiceSpeed->setFocus();
        QVERIFY(s.VoiceSpeed->hasFocus());
        QTest::keyClick(s.VoiceSpeed, Qt::Key_Right);
        QTest::keyClick(s.VoiceSpeed, Qt::Key_Right);
        QTest::keyClick(s.VoiceSpeed, Qt::Key_Left);
        QCOMPARE(s.Label6->text(), QStringLiteral("1"));
        QTest::keyClick(s.VoiceSpeed, Qt::Key_Tab);
        QVERIFY(s.VolLev->hasFocus());
        QTest::keyClick(s.VolLev, Qt::Key_PageUp);
        QCOMPARE(s.Label1->text(), QStringLiteral("60"));
        QTest::keyClick(s.VolLev, Qt::Key_PageDown);
        QTest::keyClick(s.VolLev, Qt::Key_PageDown);
        QCOMPARE(s.Label1->text(), QStringLiteral("40"));
    }

    // Every button with a caption, in every window, has Alt and a letter of
    // its own in that window, and a spoken name without the mark; Escape
    // does what "Hide" does where a window has one.
    void everyButtonHasAMnemonicOfItsOwnAndEscapeHides()
    {
        MainFixture f;
        const Station &st = f.station;
        const QList<std::pair<QWidget *, bool>> windows{
            {f.window.get(), false}, {st.dtmf, true},  {st.speechSettings, true}, {st.webTools, true},
            {st.greeting, true},     {st.about, true}, {st.messageBox, true},
        };
        for (const auto &[window, hides] : windows) {
            const QString which = window->objectName();
            QSet<QChar> letters;
            for (QPushButton *b : window->findChildren<QPushButton *>()) {
                // The DTMF window's small test buttons have no words to mark.
                if (b->text().isEmpty())
                    continue;
                const QString what = which + ": " + b->objectName();
                const QString mnemonic = QKeySequence::mnemonic(b->text()).toString();
                QVERIFY2(mnemonic.startsWith("Alt+") && mnemonic.size() == 5, qPrintable(what));
                QVERIFY2(!letters.contains(mnemonic.back()), qPrintable(what + " shares " + mnemonic));
                letters.insert(mnemonic.back());
                const QString name = QAccessible::queryAccessibleInterface(b)->text(QAccessible::Name);
                QVERIFY2(!name.isEmpty() && !name.contains('&'), qPrintable(what + ": " + name));
            }
            window->show();
            QApplication::setActiveWindow(window);
            QVERIFY(QTest::qWaitForWindowActive(window));
            QTest::keyClick(window, Qt::Key_Escape);
            QVERIFY2(window->isVisible() != hides, qPrintable(which));
        }
    }

    // An Alt letter reaches a button in view, or does nothing: the letter
    // of a button on a tab page out of view never goes into the box that
    // has the focus (a setting changed by a key meant for a button).
    void altLettersReachTheirButtonOrDoNothing()
    {
        MainFixture f;
        MainWindow &w = f.w();
        DtmfWindow &d = *f.station.dtmf;
        const QKeySequence save = QKeySequence::mnemonic(w.Command6->text());
        const struct {
            QWidget *window;
            QTabWidget *tabs;
            int page;
            QLineEdit *box;
            QList<QKeyCombination> keys;
            QPushButton *pressed;
        } cases[] = {
            // "Save  Changes" is on the page in view; the button of Alt+A
            // is not.
            {&w, w.SSTab1, 1, w.CourtesyID, {Qt::ALT | Qt::Key_A, save[0]}, w.Command6},
            {&d, d.SSTab1, 0, d.Text222, {Qt::ALT | Qt::Key_A, Qt::ALT | Qt::Key_I}, nullptr},
        };
        for (const auto &c : cases) {
            c.window->show();
            QApplication::setActiveWindow(c.window);
            QVERIFY(QTest::qWaitForWindowActive(c.window));
            c.tabs->setCurrentIndex(c.page);
            c.box->setFocus();
            const QString before = c.box->text();
            for (const QKeyCombination k : c.keys)
                QTest::keyClick(c.box, k.key(), k.keyboardModifiers());
            QCOMPARE(c.box->text(), before);
            // A mnemonic presses its button down at once and clicks it as
            // it comes up.
            for (QPushButton *b : c.window->findChildren<QPushButton *>())
                QVERIFY2(b->isDown() == (b == c.pressed), qPrintable(b->objectName()));
            c.window->hide();
        }
    }

    // The windows are frames to a screen reader, announced as windows, not
    // "filler" panels.
    void everyWindowIsAWindow()
    {
        MainFixture f;
        const Station &st = f.station;
        for (QWidget *window : QList<QWidget *>{f.window.get(), st.dtmf, st.speechSettings, st.webTools, st.greeting,
                                                st.about, st.messageBox}) {
            QAccessibleInterface *a = QAccessible::queryAccessibleInterface(window);
            QVERIFY2(a->role() == QAccessible::Window, qPrintable(window->objectName()));
            QCOMPARE(a->text(QAccessible::Name), window->windowTitle());
        }
        // A window opens with the focus in its first control, not the tab
        // panel around it.
        QCOMPARE(f.window->focusWidget(), f.w().Callsign);
        QCOMPARE(st.dtmf->focusWidget(), st.dtmf->Check1);
    }
};

QTEST_MAIN(TestAccessibility)
#include "test_accessibility.moc"
