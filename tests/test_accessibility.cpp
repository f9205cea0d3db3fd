#include <QAccessible>
#include <QScrollBar>
#include <QTest>

#include "dtmf/dtmfwindow.h"
#include "messagebox/messageboxwindow.h"
#include "side/aboutwindow.h"
#include "side/webtoolswindow.h"
#include "speech_settings/speechsettingswindow.h"
#include "support/announcer_fixture.h"

using namespace mirelva;
using namespace mirelva::test;

class TestAccessibility : public QObject {
    Q_OBJECT
private slots:
    // The transmitter keyed and released, a signal coming and going, a
    // station connecting and a chat text are spoken as they happen; a tick
    // that changes nothing says nothing.
    void changesAreSpokenAndNothingElse()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.Timer1_Timer();
        QStringList told;
        QObject listening;
        connect(&ScreenReaderNotices::instance(), &ScreenReaderNotices::told, &listening,
                [&](QWidget *window, const QString &text) { told << window->objectName() + ": " + text; });
        // What a screen reader finds when it reads the indicators.
        const auto indicators = [&] {
            return QStringList({w.PTT->text(), w.PTT2->accessibleName(), w.ShowTime->text()});
        };

        w.TextInput3->setText("Net tonight");
        w.Speak3_Click();
        QCOMPARE(told, QStringList({"Mirelva: PTT ON", "Mirelva: PTT OFF"}));
        auto *notice = w.findChild<ScreenReaderNotice *>();
        QCOMPARE(QAccessible::queryAccessibleInterface(notice)->role(), QAccessible::Notification);

        told.clear();
        const QStringList before = indicators();
        w.Timer1_Timer();
        w.Timer1_Timer();
        QCOMPARE(told, QStringList());
        QCOMPARE(indicators(), before);

        f.node.setReceivingSignal(true);
        w.Timer1_Timer();
        w.Timer1_Timer();
        f.node.setReceivingSignal(false);
        w.Timer1_Timer();
        QCOMPARE(told, QStringList({"Mirelva: Receiver: receiving signal", "Mirelva: Receiver: no signal"}));

        told.clear();
        w.ConDisc->setValue(0);
        f.node.stationConnects("W1AW", "John", "192.0.2.5");
        f.node.chat("W1AW>Hello all");
        // The chat from the main window while the message box is hidden.
        QCOMPARE(told, QStringList({"Mirelva: W1AW connected, John", "Mirelva: Chat: W1AW>Hello all"}));
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
