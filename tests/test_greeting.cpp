#include <QClipboard>
#include <QGuiApplication>
#include <QTest>

#include "ui/program.h"
#include "ui/questions.h"
#include "support/a11y.h"
#include "support/chat_fixture.h"

using namespace mirelva;
using namespace mirelva::test;

// The greeting window: the countdown after a connect, the texts it sends and
// copies into the message box, the goodbye, brisvel.ini, and its ending.
class TestGreeting : public QObject {
    Q_OBJECT

    static void select(GreetingWindow &g, int n)
    {
        for (int i = 1; i <= GreetingWindow::kSlots; ++i)
            g.slot(i)->setValue(false);
        if (n)
            g.slot(n)->setValue(true);
    }

private slots:
    void init() { Program::resetForTests(); }

    // A node that cannot send chat (SvxLink) gets no chat text, and nothing
    // is shown as sent: the copy says why; for greetings the status line too.
    // A paste too long for a greeting box is cut to its 160 characters, the
    // text already there kept, instead of being refused.
    void aLongPasteIsCutToTheBox()
    {
        ChatFixture f;
        TextBox *box = f.g().slotText(2);
        box->setText(QString(100, 'a'));
        box->setCursorPosition(50);
        QGuiApplication::clipboard()->setText(QString(100, 'b'));
        box->paste();
        QCOMPARE(box->text(), QString(50, 'a') + QString(60, 'b') + QString(50, 'a'));
        QCOMPARE(box->cursorPosition(), 110);
    }

    void textsTheNodeCannotSendAreNotShownAsSent_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("logged");
        const QString no = "not sent: the node cannot send chat texts: ";
        QTest::newRow("greeting") << "greeting" << no + "(10:07) W1AW Ann Connected";
        QTest::newRow("goodbye") << "goodbye" << no + "(10:07) K2XYZ Disconnected 73's";
        QTest::newRow("typed text") << "typed" << no + "N0CALL> (10:07) >hi";
        QTest::newRow("version answer") << "version" << no + "Mirelva  v3.0.3";
    }

    void textsTheNodeCannotSendAreNotShownAsSent()
    {
        QFETCH(QString, text);
        QFETCH(QString, logged);
        ChatFixture f;
        QStringList carries = NodeState::allRequests();
        carries.removeAll("SendChatText");
        f.node.setCarries(carries);
        if (text == "greeting") {
            f.node.stationConnects("W1AW", "Ann", "192.0.2.1");
            f.countdown(3);
        } else if (text == "goodbye") {
            f.node.stationConnects("K2XYZ", "Mary", "192.0.2.2");
            f.node.stationDisconnects("K2XYZ");
        } else if (text == "typed") {
            f.mb().TextTX->setText("hi");
            f.mb().TXText();
        } else {
            f.node.chat("W1AW>/ver/");
        }
        QCOMPARE(f.chats(), QStringList());
        QCOMPARE(f.logLines().last(), logged);
        const bool greeting = text == "greeting" || text == "goodbye";
        QCOMPARE(f.g().StatusLine->text(),
                 greeting ? QStringLiteral("Greetings are not sent: the node cannot send chat texts") : QString());
        // Once the node sends chat again, so do the windows, and the status
        // line clears with the next greeting.
        f.node.setCarries(NodeState::allRequests());
        f.node.stationConnects("VK2ABC", "Bob", "192.0.2.2");
        f.countdown(3);
        QCOMPARE(f.chats(), QStringList{"(10:07) VK2ABC Bob Connected"});
        QCOMPARE(f.g().StatusLine->text(), QString());
    }

    void burstOfConnectsIsGreetedOnceTheLastStation()
    {
        ChatFixture f;
        GreetingWindow &g = f.g();
        select(g, 3);
        g.TimeStamp->setValue(0);
        f.node.stationConnects("W1AW", "John", "192.0.2.1");
        QCOMPARE(g.BeaconSecondsDelay->text(), QStringLiteral("3"));
        QVERIFY(g.Timer2Delay->isEnabled());
        f.countdown(2);
        QCOMPARE(g.BeaconSecondsDelay->text(), QStringLiteral("1"));
        f.node.stationConnects("K2XYZ", "Mary", "192.0.2.2");
        QCOMPARE(g.BeaconSecondsDelay->text(), QStringLiteral("3"));
        f.countdown(2);
        QVERIFY(f.chats().isEmpty());
        f.countdown(1);
        QCOMPARE(f.chats(), QStringList{"Hello Mary Welcome"});
        QCOMPARE(f.logLines(), QStringList{"Hello Mary Welcome"});
        // Back to idle, showing the delay again.
        QVERIFY(!g.Timer2Delay->isEnabled());
        QCOMPARE(g.BeaconSecondsDelay->text(), QStringLiteral("3"));
        f.countdown(5);
        QCOMPARE(f.chats().size(), 1);
    }

    // Which slot a connect leaves selected (the main window's handler runs
    // first, then the greeting window's), and what is sent for it.
    void connectChoosesTheSlot_data()
    {
        QTest::addColumn<QString>("station");
        QTest::addColumn<int>("conDisc");
        QTest::addColumn<int>("slot");
        QTest::addColumn<QString>("chat");
        QTest::newRow("listed conference") << "*IRELAND*" << 1 << 10 << "(10:07) *IRELAND* Net Connected";
        QTest::newRow("unlisted conference") << "*FOO*" << 1 << 10 << "(10:07) *FOO* Net Connected";
        QTest::newRow("conference, announcements off") << "*FOO*" << 0 << 10 << "(10:07) *FOO* Net Connected";
        QTest::newRow("link") << "W1ABC-L" << 1 << 4 << "(10:07) Hello Net Has Joined us";
        QTest::newRow("repeater") << "VK2RAA-R" << 1 << 4 << "(10:07) Hello Net Has Joined us";
        QTest::newRow("link, announcements off") << "W1ABC-L" << 0 << 1 << "(10:07) Hello Net Welcome. If I don't answer then I might be away or busy. Please leave a short delay between Transmission's !";
        QTest::newRow("plain station") << "W1AW" << 1 << 1 << "(10:07) Hello Net Welcome. If I don't answer then I might be away or busy. Please leave a short delay between Transmission's !";
    }

    void connectChoosesTheSlot()
    {
        QFETCH(QString, station);
        QFETCH(int, conDisc);
        QFETCH(int, slot);
        QFETCH(QString, chat);
        ChatFixture f;
        select(f.g(), 1);
        f.w().ConDisc->setValue(conDisc);
        f.node.stationConnects(station, "Net", "192.0.2.3");
        QCOMPARE(f.g().selectedSlot(), slot);
        f.countdown(3);
        QCOMPARE(f.chats(), QStringList{chat});
        QCOMPARE(f.logLines(), QStringList{chat});
    }

    void connectNoticeStaysForLaterStationsAndSaysGoodbye()
    {
        ChatFixture f;
        select(f.g(), 1);
        f.node.stationConnects("*FOO*", "Conf", "192.0.2.3");
        f.countdown(3);
        f.node.stationConnects("W1AW", "", "192.0.2.1");
        f.countdown(3);
        // A station that never was greeted is still said goodbye to, by the
        // call the event gives and without a name.
        f.g().Echolink_Disconnected("K9ZZ");
        QStringList expected{"(10:07) *FOO* Conf Connected", "(10:07) W1AW  Connected",
                             "(10:07) K9ZZ Disconnected 73's"};
        QCOMPARE(f.chats(), expected);
        QCOMPARE(f.logLines(), expected);
        // A station that leaves before its greeting is due is still greeted.
        f.node.stationConnects("K9ZZ", "Ann", "192.0.2.4");
        f.node.stationDisconnects("K9ZZ");
        f.countdown(3);
        expected << "(10:07) K9ZZ Disconnected 73's" << "(10:07) K9ZZ Ann Connected";
        QCOMPARE(f.chats(), expected);
    }

    void goodbyeOnlyFromTheConnectNoticeWithSendingOn_data()
    {
        QTest::addColumn<int>("slot");
        QTest::addColumn<int>("useGreeting");
        QTest::addColumn<QStringList>("chats");
        QTest::newRow("slot 10") << 10 << 1 << QStringList{"W1AW Disconnected 73's"};
        QTest::newRow("slot 10, grey switch counts as on") << 10 << 2 << QStringList{"W1AW Disconnected 73's"};
        QTest::newRow("slot 10, sending off") << 10 << 0 << QStringList{};
        QTest::newRow("slot 1") << 1 << 1 << QStringList{};
        QTest::newRow("no slot") << 0 << 1 << QStringList{};
    }

    void goodbyeOnlyFromTheConnectNoticeWithSendingOn()
    {
        QFETCH(int, slot);
        QFETCH(int, useGreeting);
        QFETCH(QStringList, chats);
        ChatFixture f;
        select(f.g(), slot);
        f.g().UseGreeting->setValue(useGreeting);
        f.g().TimeStamp->setValue(0);
        f.g().Echolink_Disconnected("W1AW");
        QCOMPARE(f.chats(), chats);
        QCOMPARE(f.logLines(), chats);
    }

    void noSlotSelectedSendsNothing()
    {
        ChatFixture f;
        select(f.g(), 0);
        f.node.stationConnects("W1AW", "John", "192.0.2.1");
        f.countdown(3);
        QVERIFY(!f.g().Timer2Delay->isEnabled());
        QVERIFY(f.chats().isEmpty());
        QVERIFY(f.logLines().isEmpty());
    }

    void timeStampIsTwentyFourHourWithLeadingZero_data()
    {
        QTest::addColumn<QTime>("at");
        QTest::addColumn<QString>("chat");
        QTest::newRow("morning") << QTime(9, 5, 59) << "(09:05) Hello  Welcome";
        QTest::newRow("evening") << QTime(21, 5, 0) << "(21:05) Hello  Welcome";
    }

    void timeStampIsTwentyFourHourWithLeadingZero()
    {
        QFETCH(QTime, at);
        QFETCH(QString, chat);
        ChatFixture f(QDateTime(QDate(2024, 3, 5), at));
        select(f.g(), 3);
        // An empty name leaves two blanks after "Hello".
        f.g().Echolink_connected("W1AW", "", "");
        f.countdown(3);
        QCOMPARE(f.chats(), QStringList{chat});
        QCOMPARE(f.logLines(), QStringList{chat});
    }

    void randomPickChangesTheSlotEvenWithSendingOff()
    {
        ChatFixture f;
        GreetingWindow &g = f.g();
        select(g, 10);
        g.UseGreeting->setValue(0);
        g.Check1->setValue(1);
        g.MaxRand->setText("9");
        QList<double> draws{0.0, 0.5, 0.99};
        g.random = [&draws] { return draws.takeFirst(); };
        QList<int> picked;
        for (int i = 0; i < 3; ++i) {
            g.Echolink_connected("W1AW", "John", "");
            f.countdown(3);
            picked << g.selectedSlot();
        }
        QCOMPARE(picked, (QList<int>{1, 5, 9}));
        QVERIFY(f.chats().isEmpty());
        QVERIFY(f.logLines().isEmpty());
    }

    void randomRangeIsCorrectedInItsBox_data()
    {
        QTest::addColumn<QString>("maxRand");
        QTest::addColumn<double>("draw");
        QTest::addColumn<QString>("corrected");
        QTest::addColumn<int>("slot");
        QTest::newRow("above ten") << "25" << 0.95 << "10" << 10;
        QTest::newRow("empty") << "" << 0.95 << "1" << 1;
        QTest::newRow("zero") << "0" << 0.5 << "1" << 1;
        QTest::newRow("in range") << "4" << 0.75 << "4" << 4;
    }

    void randomRangeIsCorrectedInItsBox()
    {
        QFETCH(QString, maxRand);
        QFETCH(double, draw);
        QFETCH(QString, corrected);
        QFETCH(int, slot);
        ChatFixture f;
        GreetingWindow &g = f.g();
        g.Check1->setValue(1);
        g.TimeStamp->setValue(0);
        g.MaxRand->setText(maxRand);
        g.random = [draw] { return draw; };
        g.Echolink_connected("W1AW", "John", "");
        f.countdown(3);
        QCOMPARE(g.MaxRand->text(), corrected);
        QCOMPARE(g.selectedSlot(), slot);
        QCOMPARE(f.chats().size(), 1);
    }

    void delayOfZeroOrNothingBecomesOneSecond_data()
    {
        QTest::addColumn<QString>("delay");
        QTest::newRow("zero") << "0";
        QTest::newRow("empty") << "";
    }

    void delayOfZeroOrNothingBecomesOneSecond()
    {
        QFETCH(QString, delay);
        ChatFixture f;
        GreetingWindow &g = f.g();
        g.TimeStamp->setValue(0);
        g.BeaconPeriodDelay->setText(delay);
        g.Echolink_connected("W1AW", "John", "");
        f.countdown(1);
        QCOMPARE(g.BeaconPeriodDelay->text(), QStringLiteral("1"));
        QVERIFY(f.chats().isEmpty());
        f.countdown(1);
        QCOMPARE(f.chats(), QStringList{"W1AW John Connected"});
        QCOMPARE(g.BeaconSecondsDelay->text(), QStringLiteral("1"));
    }

    void firstStartRunsOnDefaults()
    {
        MainFixture f;
        GreetingWindow &g = *f.station.greeting;
        QVERIFY(!g.isVisible());
        QCOMPARE(g.windowTitle(), QStringLiteral("Mirelva    N0CALL   v3.0      Text Box Greeting Message"));
        QCOMPARE(g.TextTXMessage->text(), QStringLiteral("Welcome. If I don't answer then I might be away or busy. "
                                                         "Please leave a short delay between Transmission's !"));
        QCOMPARE(g.TextTXMessage9->text(), QStringLiteral("Has Joined The Conference"));
        QCOMPARE(g.UseGreeting->value(), 1);
        QCOMPARE(g.TimeStamp->value(), 1);
        QCOMPARE(g.Check1->value(), 0);
        QCOMPARE(g.BeaconPeriodDelay->text(), QStringLiteral("3"));
        QCOMPARE(g.MaxRand->text(), QStringLiteral("10"));
        QCOMPARE(g.selectedSlot(), 10);
        QVERIFY(!g.Timer2Delay->isEnabled());
        QCOMPARE(g.Timer2Delay->interval(), 1000);
        QCOMPARE(g.Timer1->interval(), 1000);
        QCOMPARE(g.Timer2->interval(), 100);
        QCOMPARE(g.TextTXMessage5->typingLimit(), 160);
        QVERIFY(g.MaxRand->digitsOnly() && g.BeaconPeriodDelay->digitsOnly());
        QCOMPARE(g.MaxRand->typingLimit(), 2);
        QCOMPARE(g.BeaconPeriodDelay->typingLimit(), 1);
    }

    void saveAndReloadKeepEverything()
    {
        MainFixture f;
        GreetingWindow &g = *f.station.greeting;
        for (int n = 1; n <= 9; ++n)
            g.slotText(n)->setText(QStringLiteral("Text number %1").arg(n));
        g.UseGreeting->setValue(0);
        g.TimeStamp->setValue(2);
        g.BeaconPeriodDelay->setText("7");
        g.Option6->setValue(true);
        g.Check1->setValue(1);
        g.Command2->click();
        QStringList expected{"[SETTINGS]"};
        for (int n = 1; n <= 9; ++n)
            expected << QStringLiteral("TEXTTXMESSAGE%1=Text number %2").arg(n == 1 ? QString() : QString::number(n)).arg(n);
        expected << "USEGREETING=0" << "TIMESTAMP=2" << "BEACONPERIODDELAY=7";
        for (int n = 1; n <= 10; ++n)
            expected << QStringLiteral("OPTION%1=%2").arg(n).arg(n == 6 ? "True" : "False");
        expected << "CHECK1=1";
        QCOMPARE(f.settings.readLines("brisvel.ini"), expected);
        auto next = f.restart();
        GreetingWindow &h = *next->station.greeting;
        for (int n = 1; n <= 9; ++n)
            QCOMPARE(h.slotText(n)->text(), QStringLiteral("Text number %1").arg(n));
        QCOMPARE(h.UseGreeting->value(), 0);
        QCOMPARE(h.TimeStamp->value(), 2);
        QCOMPARE(h.BeaconPeriodDelay->text(), QStringLiteral("7"));
        QCOMPARE(h.selectedSlot(), 6);
        QCOMPARE(h.Check1->value(), 1);
    }

    // Option keys read as words or numbers, applied 1 to 10 in one group.
    void storedSlotSelection_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("slot");
        QTest::newRow("only OPTION3 written") << QByteArray("[SETTINGS]\nOPTION3=1\n") << 10;
        QTest::newRow("numbers") << QByteArray("[SETTINGS]\nOPTION2=-1\nOPTION10=0\n") << 2;
        QTest::newRow("words in any case") << QByteArray("[SETTINGS]\nOPTION7=tRUE\nOPTION10=false\n") << 7;
        QTest::newRow("several true: the last") << QByteArray("[SETTINGS]\nOPTION2=True\nOPTION8=True\nOPTION10=False\n") << 8;
        QTest::newRow("none true") << QByteArray("[SETTINGS]\nOPTION10=False\n") << 0;
    }

    void storedSlotSelection()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, slot);
        MainFixture f(MainFixture::Built);
        f.settings.writeFile("brisvel.ini", file);
        f.load();
        QCOMPARE(f.station.greeting->selectedSlot(), slot);
    }

    void clockAndCharacterCounters()
    {
        ChatFixture f;
        GreetingWindow &g = f.g();
        g.TextTXMessage->setText(QString());
        g.TextTXMessage4->setText(QString(160, 'x'));
        g.Timer1_Timer();
        g.Timer2_Timer();
        QCOMPARE(g.ShowTime->text(), QStringLiteral("10:07:23"));
        QCOMPARE(g.Label16->text(), QStringLiteral("0"));
        QCOMPARE(g.Label19->text(), QStringLiteral("160"));
        QCOMPARE(g.Label24->text(), QString::number(g.TextTXMessage9->text().size()));
        // With every counter right, the counter timer rests (still enabled)
        // until a text changes, even one set by the program.
        QVERIFY(!g.Timer2->isResting());
        g.Timer2_Timer();
        QVERIFY(g.Timer2->isResting() && g.Timer2->isEnabled());
        g.TextTXMessage4->setText("abc");
        QVERIFY(!g.Timer2->isResting());
        g.Timer2_Timer();
        QCOMPARE(g.Label19->text(), QStringLiteral("3"));
    }

    void closePromptSavesOnYes()
    {
        MainFixture f;
        GreetingWindow &g = *f.station.greeting;
        g.TextTXMessage3->setText("Changed");
        QStringList asked;
        Questions::Answer answer = Questions::Answer::No;
        Questions::setAnswererForTests([&](const QString &title, const QString &text) {
            asked << title + '|' + text;
            return answer;
        });
        g.show();
        QVERIFY(!g.close());
        QVERIFY(g.isVisible());
        QVERIFY(!Program::ended());
        QVERIFY(f.settings.readFile("brisvel.ini").isEmpty());
        answer = Questions::Answer::Yes;
        f.node.clearRecords();
        QVERIFY(g.close());
        QVERIFY(Program::ended());
        QCOMPARE(asked, QStringList(2, "Exit Program|Quit - Remember to save your settings - Are You Sure ? "));
        QCOMPARE(f.requests(), QStringList{"SetPTT off"});
        QVERIFY(f.settings.readFile("brisvel.ini").contains("TEXTTXMESSAGE3=Changed"));
    }

    void nodeClosingReleasesTheTransmitterAndSaves()
    {
        MainFixture f;
        f.station.greeting->TextTXMessage2->setText("Kept");
        f.node.closing();
        QVERIFY(Program::ended());
        QCOMPARE(f.requests().first(), QStringLiteral("SetPTT off"));
        QVERIFY(f.settings.readFile("brisvel.ini").contains("TEXTTXMESSAGE2=Kept"));

        // The window's own handler, had it come first, does the same.
        MainFixture f2;
        f2.station.greeting->TextTXMessage2->setText("Mine");
        f2.station.greeting->EchoLink_Closing();
        QVERIFY(Program::ended());
        QCOMPARE(f2.requests(), QStringList{"SetPTT off"});
        QVERIFY(f2.settings.readFile("brisvel.ini").contains("TEXTTXMESSAGE2=Mine"));
    }

    void mainWindowButtonShowsTheLoadedWindow()
    {
        MainFixture f;
        GreetingWindow *g = f.station.greeting;
        g->TextTXMessage->setText("Typed, not saved");
        f.w().Command13->click();
        QVERIFY(g->isVisible());
        QCOMPARE(g->TextTXMessage->text(), QStringLiteral("Typed, not saved"));
        g->Command1->click();
        QVERIFY(!g->isVisible());
        QVERIFY(!Program::ended());
    }

    void everyControlHasANameAndTabReachesIt()
    {
        ChatFixture f;
        QWidget &w = f.g();
        // Each slot's choice, then its text; then the switches and the buttons.
        QStringList expected;
        for (int n = 1; n <= 9; ++n)
            expected << QStringLiteral("Option%1").arg(n) << (n == 1 ? QStringLiteral("TextTXMessage") : QStringLiteral("TextTXMessage%1").arg(n));
        expected << "Option10" << "UseGreeting" << "TimeStamp" << "Check1" << "MaxRand" << "BeaconPeriodDelay" << "Command1"
                 << "Command2";
        QCOMPARE(spokenNamesAndTabOrder(&w), expected);
        QCOMPARE(f.g().TextTXMessage4->accessibleName(), QStringLiteral("Greeting text 4"));
        QCOMPARE(f.g().Option10->accessibleName(), QStringLiteral("Connect notice, slot 10"));
    }
};

QTEST_MAIN(TestGreeting)
#include "test_greeting.moc"
