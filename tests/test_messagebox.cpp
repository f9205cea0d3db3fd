#include <QApplication>
#include <QTest>

#include "ui/program.h"
#include "ui/questions.h"
#include "support/a11y.h"
#include "support/chat_fixture.h"

using namespace mirelva;
using namespace mirelva::test;

// The message box: received chat texts offered for speaking, answered,
// filtered and logged; typed texts sent and logged; messagebox.ini; ending.
class TestMessageBox : public QObject {
    Q_OBJECT

private slots:
    void init() { Program::resetForTests(); }

    // What one received text leaves in the log (empty: hidden).
    void receivedTextInTheLog_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<int>("stamp");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("log");
        QTest::newRow("stamped: the > repeated") << "" << 1 << "VK2ABC>hello" << QStringList{"VK2ABC> (10:07)>hello"};
        QTest::newRow("unstamped") << "" << 0 << "VK2ABC>hello" << QStringList{"VK2ABC>hello"};
        QTest::newRow("first > only") << "" << 1 << "A>b>c" << QStringList{"A> (10:07)>b>c"};
        QTest::newRow("no sender, stamped") << "" << 1 << "hello all" << QStringList{" (10:07)hello all"};
        QTest::newRow("no sender, unstamped") << "" << 0 << "hello all" << QStringList{"hello all"};
        QTest::newRow("carriage returns break lines") << "" << 1 << "AB>one\rtwo\rthree"
                                                      << QStringList{"AB> (10:07)>one", "two", "three"};
        QTest::newRow("filter word in the message") << "net" << 1 << "VK2ABC>the net tonight" << QStringList{};
        QTest::newRow("filter is case-sensitive") << "Net" << 1 << "VK2ABC>the net tonight"
                                                  << QStringList{"VK2ABC> (10:07)>the net tonight"};
        QTest::newRow("filter word only at the first character") << "VK2" << 0 << "VK2ABC>hello"
                                                                 << QStringList{"VK2ABC>hello"};
        QTest::newRow("filter word at the first character and later") << "VK" << 0 << "VK2ABC>hi VK3" << QStringList{};
        QTest::newRow(".list after the first character") << "" << 0 << "VK2ABC>.list" << QStringList{};
        QTest::newRow(".list at the first character") << "" << 0 << ".list>x" << QStringList{".list>x"};
    }

    void receivedTextInTheLog()
    {
        QFETCH(QString, filter);
        QFETCH(int, stamp);
        QFETCH(QString, text);
        QFETCH(QStringList, log);
        ChatFixture f;
        MessageBoxWindow &mb = f.mb();
        // The word may stand in any of the eight boxes.
        mb.FilterText7->setText(filter);
        mb.Check2->setValue(stamp);
        QVERIFY(!mb.IncomingText->isReadOnly());
        f.node.chat(text);
        QCOMPARE(f.logLines(), log);
        // Shown once, the log is the station's, not the keyboard's.
        QCOMPARE(mb.IncomingText->isReadOnly(), !log.isEmpty());
        QVERIFY(f.chats().isEmpty());
    }

    void everyFilterBoxCounts()
    {
        ChatFixture f;
        MessageBoxWindow &mb = f.mb();
        const QStringList words{"one", "two", "three", "four", "five", "six", "seven", "eight"};
        for (int n = 1; n <= 8; ++n)
            mb.filterText(n)->setText(words[n - 1]);
        for (const QString &w : words)
            f.node.chat("K1A>" + w);
        f.node.chat("K1A>nine");
        QCOMPARE(f.logLines(), QStringList{"K1A> (10:07)>nine"});
    }

    void hiddenTextsAreStillSpokenAndObeyed()
    {
        ChatFixture f;
        MessageBoxWindow &mb = f.mb();
        mb.FilterText1->setText("net");
        f.w().SayText->setValue(1);
        GreetingWindow &g = f.g();
        g.Option2->setValue(true);
        f.node.chat("VK2ABC>net /ver/ /Greeting/");
        QVERIFY(f.logLines().isEmpty());
        QCOMPARE(f.w().SayTheText, QStringLiteral("Message from  VK2ABC>net /ver/ /Greeting/"));
        QCOMPARE(f.w().flag2, 1);
        QCOMPARE(f.chats(), QStringList{"Mirelva  v3.0.3"});
        QCOMPARE(g.selectedSlot(), 10);
    }

    void versionAnsweredOnceShownOrNot_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<int>("shown");
        QTest::newRow("shown") << "" << 1;
        QTest::newRow("hidden") << "ver" << 0;
    }

    void versionAnsweredOnceShownOrNot()
    {
        QFETCH(QString, filter);
        QFETCH(int, shown);
        ChatFixture f;
        f.mb().FilterText3->setText(filter);
        f.node.chat("W1AW>/ver/ please, /ver/");
        f.node.chat("W1AW>/VER/ is not asked");
        QCOMPARE(f.chats(), QStringList{"Mirelva  v3.0.3"});
        QCOMPARE(f.logLines().size(), shown + 1);
    }

    void speakingFollowsTheMainWindowsTextMessagesBox()
    {
        ChatFixture f;
        f.w().SayText->setValue(0);
        f.node.chat("W1AW>quiet");
        QVERIFY(f.w().SayTheText.isEmpty());
        QCOMPARE(f.w().flag2, 0);
        f.w().SayText->setValue(1);
        f.node.chat("W1AW>loud");
        QCOMPARE(f.w().SayTheText, QStringLiteral("Message from  W1AW>loud"));
        QCOMPARE(f.w().flag2, 1);
        // The next clock tick speaks it, keyed.
        f.w().Timer1_Timer();
        QVERIFY(f.requests().contains("Speech keyed: Message from  W1AW>loud"));
    }

    // However long the log has grown, a new line leaves the caret after it,
    // in view: a received text (shown or hidden), a greeting's copy.
    void caretShowsTheNewestLine_data()
    {
        QTest::addColumn<QString>("line");
        QTest::newRow("received") << "received";
        QTest::newRow("received and hidden") << "hidden";
        QTest::newRow("greeting copy") << "greeting";
    }

    void caretShowsTheNewestLine()
    {
        QFETCH(QString, line);
        ChatFixture f;
        LogBox *log = f.mb().IncomingText;
        f.mb().Check2->setValue(0);
        for (int i = 0; i < 150; ++i)
            f.node.chat("A>" + QString(98, 'x'));   // 15000 characters
        log->placeCaret(0);
        if (line == "received") {
            f.node.chat("B>newest");
        } else if (line == "hidden") {
            f.mb().FilterText1->setText("zz");
            f.node.chat("B>zz");
        } else {
            f.g().slot(3)->setValue(true);
            f.node.stationConnects("W1AW", "Ann", "");
            f.countdown(3);
        }
        QCOMPARE(log->textCursor().position(), log->document()->characterCount() - 1);
        QVERIFY(log->textCursor().position() > 15000);
    }

    // What a screen reader is told of texts coming at given moments (ms
    // after the first; "tick" is the held burst's timer): a text after a
    // quiet second at once, the rest of a burst as one, a hidden text never.
    void chatNoticesOfABurst_data()
    {
        QTest::addColumn<QStringList>("steps");     // "ms text" or "tick"
        QTest::addColumn<QStringList>("told");
        QTest::newRow("a second apart: each at once") << QStringList{"0 A>one", "1000 A>two"}
                                                      << QStringList{"Chat: A>one", "Chat: A>two"};
        QTest::newRow("within the second: held until the tick")
            << QStringList{"0 A>one", "999 A>two"} << QStringList{"Chat: A>one"};
        QTest::newRow("one held: told as itself") << QStringList{"0 A>one", "999 A>two", "tick"}
                                                  << QStringList{"Chat: A>one", "Chat: A>two"};
        QTest::newRow("a burst: counted, the last named")
            << QStringList{"0 A>one", "10 A>two", "20 B>three", "30 C>four", "tick"}
            << QStringList{"Chat: A>one", "Chat: 3 more texts, the last: C>four"};
        QTest::newRow("held ones wait for the tick, however late the next")
            << QStringList{"0 A>one", "10 A>two", "5000 A>three", "tick"}
            << QStringList{"Chat: A>one", "Chat: 2 more texts, the last: A>three"};
        QTest::newRow("after the tick, a quiet second again")
            << QStringList{"0 A>one", "10 A>two", "tick", "500 A>three", "tick", "2000 A>four"}
            << QStringList{"Chat: A>one", "Chat: A>two", "Chat: A>three", "Chat: A>four"};
        QTest::newRow("clock set back: at once") << QStringList{"5000 A>one", "0 A>two"}
                                                 << QStringList{"Chat: A>one", "Chat: A>two"};
        QTest::newRow("hidden by a filter: nothing") << QStringList{"0 A>the net", "10 A>the net", "tick"}
                                                     << QStringList{};
        QTest::newRow("a tick with nothing held says nothing") << QStringList{"tick", "0 A>one", "tick"}
                                                               << QStringList{"Chat: A>one"};
    }

    void chatNoticesOfABurst()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, told);
        ChatFixture f;
        MessageBoxWindow &mb = f.mb();
        mb.FilterText1->setText("net");
        QStringList heard, page;
        QObject listening;
        connect(&ScreenReaderNotices::instance(), &ScreenReaderNotices::told, &listening,
                [&](QWidget *, const QString &text) { heard << text; });
        connect(&mb, &MessageBoxWindow::chatTold, &listening, [&](const QString &words) { page << words; });
        const QDateTime start(QDate(2024, 3, 5), QTime(10, 7, 23));
        for (const QString &step : steps) {
            if (step == QLatin1String("tick")) {
                mb.ChatNotice_Timer();
                QVERIFY(!mb.ChatNotice->isEnabled());
                continue;
            }
            Clock::setForTests(start.addMSecs(step.section(' ', 0, 0).toInt()));
            f.node.chat(step.section(' ', 1));
        }
        QCOMPARE(heard, told);
        // The web page's live region hears the same.
        QCOMPARE(page, told);
    }

    void typedTextIsSentAndLoggedWithTheOwnCall_data()
    {
        QTest::addColumn<int>("stamp");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("sent");
        QTest::addColumn<QString>("logged");
        QTest::newRow("with time stamp") << 1 << "hi" << "(08:07) >hi" << "N0CALL> (08:07) >hi";
        QTest::newRow("without time stamp") << 0 << "hi" << "hi" << "N0CALL> hi";
        QTest::newRow("empty") << 0 << "" << "" << "N0CALL> ";
    }

    void typedTextIsSentAndLoggedWithTheOwnCall()
    {
        QFETCH(int, stamp);
        QFETCH(QString, typed);
        QFETCH(QString, sent);
        QFETCH(QString, logged);
        for (const bool enter : {false, true}) {
            ChatFixture f(QDateTime(QDate(2024, 3, 5), QTime(8, 7, 30)));
            MessageBoxWindow &mb = f.mb();
            mb.show();
            QApplication::setActiveWindow(&mb);
            QVERIFY(QTest::qWaitForWindowActive(&mb));
            mb.Check1->setValue(stamp);
            mb.TextTX->setText(typed);
            if (enter)
                QTest::keyClick(mb.TextTX, Qt::Key_Return);
            else
                mb.Send->click();
            QCOMPARE(f.chats(), QStringList{sent});
            QCOMPARE(f.logLines(), QStringList{logged});
            QVERIFY(mb.TextTX->text().isEmpty());
            QCOMPARE(QApplication::focusWidget(), mb.TextTX);
        }
    }

    void firstStartRunsOnDefaults()
    {
        MainFixture f;
        MessageBoxWindow &mb = *f.station.messageBox;
        QVERIFY(!mb.isVisible());
        QCOMPARE(mb.windowTitle(), QStringLiteral("Mirelva    N0CALL   v3.0.3   Text Messages"));
        QCOMPARE(mb.Check1->value(), 1);
        QCOMPARE(mb.Check2->value(), 1);
        for (int n = 1; n <= 8; ++n)
            QVERIFY(mb.filterText(n)->text().isEmpty());
        QVERIFY(mb.IncomingText->toPlainText().isEmpty());
        // With no stored place it opens beside the main window, not over it.
        QVERIFY(!hasPlace(&mb));
        f.w().Command1_Click();
        QVERIFY(hasPlace(&mb));
        QVERIFY(mb.frameGeometry().topLeft() != f.w().frameGeometry().topLeft());
    }

    void saveAndReloadKeepEverything()
    {
        MainFixture f;
        MessageBoxWindow &mb = *f.station.messageBox;
        mb.Check1->setValue(0);
        mb.Check2->setValue(2);
        for (int n = 1; n <= 8; ++n)
            mb.filterText(n)->setText(n % 2 ? QStringLiteral("word %1").arg(n) : QString());
        moveToTwips(&mb, 1500, 3000);
        mb.IncomingText->appendLine("not kept");
        mb.SaveIt->click();
        QStringList expected{"[SETTINGS]", "LEFT=1500", "TOP=3000", "CHECK1=0", "CHECK2=2"};
        for (int n = 1; n <= 8; ++n)
            expected << QStringLiteral("FILTERTEXT%1=").arg(n) + (n % 2 ? QStringLiteral("word %1").arg(n) : QString());
        QCOMPARE(f.settings.readLines("messagebox.ini"), expected);

        auto next = f.restart();
        MessageBoxWindow &again = *next->station.messageBox;
        QCOMPARE(again.Check1->value(), 0);
        QCOMPARE(again.Check2->value(), 2);
        for (int n = 1; n <= 8; ++n)
            QCOMPARE(again.filterText(n)->text(), n % 2 ? QStringLiteral("word %1").arg(n) : QString());
        QCOMPARE(qRound(leftInTwips(&again)), 1500);
        QCOMPARE(qRound(topInTwips(&again)), 3000);
        QVERIFY(again.IncomingText->toPlainText().isEmpty());
    }

    void logKeepsItsNewestLines()
    {
        MainFixture f;
        LogBox *log = f.station.messageBox->IncomingText;
        const int most = LogBox::kMostLines + LogBox::kTrimStep - 1;
        for (int n = 1; n <= most; ++n)
            log->appendLine(QStringLiteral("line %1").arg(n));
        QCOMPARE(log->document()->blockCount(), most + 1);
        // One more, and the oldest go: the newest stay, the caret rule holds.
        log->appendLine(QStringLiteral("line %1").arg(most + 1));
        const QStringList lines = log->toPlainText().split('\n');
        QCOMPARE(lines.size(), LogBox::kMostLines + 1);
        QCOMPARE(lines.first(), QStringLiteral("line %1").arg(LogBox::kTrimStep + 1));
        QCOMPARE(lines.at(LogBox::kMostLines - 1), QStringLiteral("line %1").arg(most + 1));
        log->placeCaret(10000);
        QCOMPARE(log->textCursor().position(), 10000);
    }

    void clearAndHide()
    {
        MainFixture f;
        MessageBoxWindow &mb = *f.station.messageBox;
        f.w().Command1->click();
        QVERIFY(mb.isVisible());
        mb.IncomingText->appendLine("line");
        mb.ClearRX->click();
        QVERIFY(mb.IncomingText->toPlainText().isEmpty());
        mb.Exit->click();
        QVERIFY(!mb.isVisible());
        QVERIFY(!Program::ended());
    }

    void quitQuestionEndsWithoutSaving()
    {
        MainFixture f;
        MessageBoxWindow &mb = *f.station.messageBox;
        QStringList asked;
        Questions::Answer answer = Questions::Answer::No;
        Questions::setAnswererForTests([&](const QString &title, const QString &text) {
            asked << title + '|' + text;
            return answer;
        });
        mb.show();
        mb.FilterText1->setText("changed");
        QVERIFY(!mb.close());
        QVERIFY(mb.isVisible());
        QVERIFY(!Program::ended());
        answer = Questions::Answer::Yes;
        QVERIFY(mb.close());
        QVERIFY(Program::ended());
        QCOMPARE(asked, QStringList(2, "Exit Program|Quit Message Box - Are You Sure ? Remember To Save Any Changes  "));
        QCOMPARE(f.requests(), QStringList{"SetPTT off"});
        QVERIFY(f.settings.readFile("messagebox.ini").isEmpty());
    }

    void nodeClosingEndsWithoutSaving()
    {
        MainFixture f;
        MessageBoxWindow &mb = *f.station.messageBox;
        mb.FilterText1->setText("changed");
        mb.EchoLink_Closing();
        QVERIFY(Program::ended());
        QCOMPARE(f.requests(), QStringList{"SetPTT off"});
        QVERIFY(f.settings.readFile("messagebox.ini").isEmpty());
        // Nothing more is delivered or sent once the program has ended.
        f.node.chat("W1AW>/ver/");
        QVERIFY(mb.IncomingText->toPlainText().isEmpty());
        QCOMPARE(f.requests(), QStringList{"SetPTT off"});
    }

    void everyControlHasANameAndTabReachesIt()
    {
        ChatFixture f;
        QWidget &w = f.mb();
        QStringList expected{"IncomingText", "TextTX", "Send", "Check1", "Check2"};
        for (int n = 1; n <= 8; ++n)
            expected << QStringLiteral("FilterText%1").arg(n);
        expected << "ClearRX" << "SaveIt" << "Exit";
        QCOMPARE(spokenNamesAndTabOrder(&w), expected);
        QCOMPARE(f.mb().FilterText3->accessibleName(), QStringLiteral("Filter word 3"));
        QCOMPARE(f.mb().Exit->accessibleName(), QStringLiteral("Hide"));
    }
};

QTEST_MAIN(TestMessageBox)
#include "test_messagebox.moc"
