#include <QTest>
#include <QTimer>

#include "ui/program.h"

#include "support/announcer_fixture.h"

using namespace mirelva;
using namespace mirelva::test;

// Connect and disconnect announcements, the call history, and the receive
// and carrier events.
class TestAnnouncerConnections : public QObject {
    Q_OBJECT

    static QStringList keyed(const QString &text)
    {
        return {"SetPTT on", "Speech keyed: " + text, "SetPTT off", "SetDTR off"};
    }

private slots:
    void knownConferences_data()
    {
        QTest::addColumn<QString>("received");
        QTest::addColumn<QString>("onConnect");
        QTest::addColumn<QString>("onDisconnect");
        const auto row = [](const char *received, const char *c, const char *d) {
            QTest::newRow(received) << QString(received) << QString(c) << QString(d);
        };
        row("*IRELAND*", "The Ireland  conference has connected.", "The Ireland  conference has disconnected.");
        row("*ENGLAND*", "The England  conference has connected.", "The England  conference has disconnected.");
        row("*QX3ABC*", "The Q X 3 A B C : V Kay Drive Time Net  Conference Has Connected.",
            "The Q X 3 A B C : V Kay Drive Time Net  Conference Has disconnected.");
        row("*UKLOTA*", "The U Kay Ladies On The Air  Conference Has Connected.",
            "The U Kay Ladies On The Air  Conference Has disconnected.");
        row("*NASA*", "The Nassa  Conference Has Connected.", "The Nassa  Conference Has disconnected.");
        row("*JOTA-E*", "The Jamboree on the air : English  Conference Has Connected.",
            "The Jamboree on the air : English  Conference Has disconnected.");
        row("*Q2XY*", "The Q 2 ex why  Conference Has Connected.", "The Q 2 Ex why  Conference Has disconnected.");
        row("*VKEMCOMM*", "The V Kay Emergency Communications  Conference Has Connected.",
            "The V Kay Emergency Communications  Conference Has disconnected.");
        row("*QO3XNET*", "The Q O 3 X Net  Conference Has Connected.", "The Q O 3 X Net  Conference Has disconnected.");
        row("*AUSSIE*", "The Australian  Conference Has Connected. GuDay from Down Under",
            "The Australian  Conference Has disconnected.");
        row("*CANADIAN*", "The Canadian  Conference Has Connected.", "The Canadian  Conference Has disconnected.");
    }

    void knownConferences()
    {
        QFETCH(QString, received);
        QFETCH(QString, onConnect);
        QFETCH(QString, onDisconnect);
        AnnouncerFixture f;
        MainWindow &w = f.w();
        f.node.stationConnects(received, "Conference", "192.0.2.9");
        QCOMPARE(f.requests(), keyed(onConnect));
        QCOMPARE(w.TempHold, received);
        // The time follows at the next tick, with no speech delay.
        QCOMPARE(w.flag2, 1);
        QCOMPARE(w.flagtime, 1);
        w.Timer1_Timer();
        QCOMPARE(f.requests(), keyed(onConnect) + keyed("at10 07  AM"));

        f.node.clearRecords();
        f.node.stationDisconnects(received);
        QCOMPARE(f.requests(), keyed(onDisconnect));
        QCOMPARE(w.flag2, 1);
    }

    void stationShapes_data()
    {
        QTest::addColumn<QString>("station");
        QTest::addColumn<QString>("onConnect");
        QTest::addColumn<QString>("onDisconnect");
        QTest::newRow("unknown conference") << "*FOO*" << "The   F O O     conference has connected."
                                            << "The   F O O     conference has disconnected.";
        QTest::newRow("link") << "W1ABC-L" << "W 1 A B C -  : Link Connected." << "W 1 A B C -  : Link Disconnected.";
        QTest::newRow("repeater") << "VK2RAA-R" << "V K 2 R A A -  : Repeater Connected."
                                  << "V K 2 R A A -  : Repeater Disconnected.";
        QTest::newRow("plain station") << "W1AW" << "W 1 A W  , Connected" << "W 1 A W  , Disconnected";
        QTest::newRow("dash and digit") << "VK2ABC-5" << "" << "";
        QTest::newRow("dash in the middle") << "AB-CD" << "" << "";
    }

    void stationShapes()
    {
        QFETCH(QString, station);
        QFETCH(QString, onConnect);
        QFETCH(QString, onDisconnect);
        AnnouncerFixture f;
        MainWindow &w = f.w();
        f.node.stationConnects(station, "John", "192.0.2.5");
        QCOMPARE(f.requests(), onConnect.isEmpty() ? QStringList() : keyed(onConnect));
        QCOMPARE(w.flag2, onConnect.isEmpty() ? 0 : 1);
        QCOMPARE(w.CallHistory->toPlainText(), " 10:07 AM -- " + station + " -- John -- 192.0.2.5\n");

        f.node.clearRecords();
        w.flag2 = 0;
        f.node.stationDisconnects(station);
        QCOMPARE(f.requests(), onDisconnect.isEmpty() ? QStringList() : keyed(onDisconnect));
        QCOMPARE(w.flag2, onDisconnect.isEmpty() ? 0 : 1);
    }

    void linkCallKeepsItsDash()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.AddTime->setValue(0);
        f.node.stationConnects("W1ABC-L", "Link", "192.0.2.5");
        // Six characters, the callsign and its dash, spelled out.
        QCOMPARE(w.TempCall, QString("W 1 A B C - "));
        QCOMPARE(w.flag2, 0);
    }

    void conferenceNamesMatchWithLetterCase()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.Echolink_connected("*ireland*", "", "");
        QCOMPARE(f.requests(), keyed("The   i r e l a n d     conference has connected."));
        QVERIFY(w.TempHold.isEmpty());
        f.node.clearRecords();
        w.Echolink_Disconnected("*Ireland*");
        QCOMPARE(f.requests(), keyed("The   I r e l a n d     conference has disconnected."));
    }

    void announcementsOff()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.ConDisc->setValue(0);
        f.node.stationConnects("W1AW", "John", "192.0.2.5");
        f.node.stationDisconnects("W1AW");
        QVERIFY(f.requests().isEmpty());
        QVERIFY(f.voice.spoken.isEmpty());
        QCOMPARE(w.flag2, 0);
        QCOMPARE(w.CallHistory->toPlainText(), QString(" 10:07 AM -- W1AW -- John -- 192.0.2.5\n"));

        // Greyed is not on either.
        w.ConDisc->setValue(2);
        f.node.stationConnects("W1AW", "John", "192.0.2.5");
        QVERIFY(f.requests().isEmpty());

        // Disabled announcements: the handler runs, the speech drops it.
        w.ConDisc->setValue(1);
        w.Check1->setValue(1);
        f.node.stationDisconnects("W1AW");
        QVERIFY(f.voice.spoken.isEmpty());
    }

    void historyLines()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        AnnouncerFixture::setTime(21, 7, 0);
        w.Echolink_connected("W1AW", "John Smith", "203.0.113.5");
        AnnouncerFixture::setTime(0, 5, 0);
        w.Echolink_connected("VK2ABC-L", "", "");
        AnnouncerFixture::setTime(12, 59, 0);
        w.Echolink_connected("*NASA*", "Space", "198.51.100.1");
        QCOMPARE(w.CallHistory->toPlainText(),
                 QString(" 9:07 PM -- W1AW -- John Smith -- 203.0.113.5\n"
                         " 12:05 AM -- VK2ABC-L --  -- \n"
                         " 12:59 PM -- *NASA* -- Space -- 198.51.100.1\n"));
        QCOMPARE(w.CallHistory->textCursor().position(), w.CallHistory->toPlainText().size());
    }

    void historyCaretStopsFollowingPast20000()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.ConDisc->setValue(0);
        QString old;
        while (old.size() < 25000)
            old += QStringLiteral(" 1:00 AM -- W1AW -- John -- 192.0.2.5\n");
        w.CallHistory->setPlainText(old);
        w.Echolink_connected("W1AW", "John", "192.0.2.5");
        QCOMPARE(w.CallHistory->textCursor().position(), 20000);
        QVERIFY(w.CallHistory->toPlainText().endsWith(" 10:07 AM -- W1AW -- John -- 192.0.2.5\n"));
    }

    // Events that arrive while an announcement is on the air are handled
    // when it lets waiting events run, before it unkeys: the nested
    // announcement keys and unkeys on its own, and the outer one still
    // unkeys after it. The time of the outer one is what stays queued.
    void connectDuringAConnect()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        bool once = false;
        f.voice.addListener([&](const QString &, int) {
            if (once)
                return;
            once = true;
            QTimer::singleShot(0, &f.node, [&] { f.node.stationConnects("VK2ABC-L", "Link", "192.0.2.6"); });
        });
        AnnouncerFixture::setTime(10, 7, 23);
        f.node.stationConnects("W1AW", "John", "192.0.2.5");
        QCOMPARE(f.requests(), QStringList({"SetPTT on", "Speech keyed: W 1 A W  , Connected", "SetPTT on",
                                            "Speech keyed: V K 2 A B C -  : Link Connected.", "SetPTT off",
                                            "SetDTR off", "SetPTT off", "SetDTR off"}));
        QVERIFY(!f.node.ptt());
        QCOMPARE(w.PTT->text(), QString("PTT OFF"));
        QCOMPARE(w.flag2, 1);
        QCOMPARE(w.flagtime, 1);
        QCOMPARE(w.SayTheText, QString("at10 07  AM"));
        QCOMPARE(w.CallHistory->toPlainText(), QString(" 10:07 AM -- W1AW -- John -- 192.0.2.5\n"
                                                       " 10:07 AM -- VK2ABC-L -- Link -- 192.0.2.6\n"));
        f.node.clearRecords();
        w.Timer1_Timer();
        QCOMPARE(f.requests(), keyed("at10 07  AM"));
        QCOMPARE(w.flag2, 0);
    }

    // The node closing inside the nested announcement ends everything: the
    // radio is released once and nothing more is asked of the node.
    void closingInsideANestedAnnouncement()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        f.voice.addListener([&](const QString &text, int) {
            if (text.startsWith("W 1 A W"))
                QTimer::singleShot(0, &f.node, [&] { f.node.stationConnects("VK2ABC-R", "", ""); });
            else
                QTimer::singleShot(0, &f.node, [&] { f.node.closing(); });
        });
        f.node.stationConnects("W1AW", "John", "192.0.2.5");
        QVERIFY(Program::ended());
        QCOMPARE(f.requests(), QStringList({"SetPTT on", "Speech keyed: W 1 A W  , Connected", "SetPTT on",
                                            "Speech keyed: V K 2 A B C -  : Repeater Connected.", "SetPTT off",
                                            "SetDTR off", "SetRTS off"}));
        QVERIFY(!f.node.ptt());
        QCOMPARE(w.flag2, 0);
    }

    void oddStationTexts_data()
    {
        QTest::addColumn<QString>("station");
        QTest::addColumn<QString>("onConnect");
        QTest::newRow("empty") << "" << " , Connected";
        QTest::newRow("dash alone") << "-" << "";
        QTest::newRow("asterisk alone") << "*" << "The     conference has connected.";
        QTest::newRow("-L alone") << "-L" << "-  : Link Connected.";
        QTest::newRow("-R alone") << "-R" << "-  : Repeater Connected.";
        QTest::newRow("conference ending -L*") << "*AB-L*" << "The   A B - L     conference has connected.";
        QTest::newRow("two dashes") << "AB-CD-L" << "A B -  : Link Connected.";
        // A character outside the basic plane is spelled as one character.
        QTest::newRow("surrogate pair") << QString::fromUtf8("K\xF0\x9D\x94\xB8") + "-L"
                                        << QString::fromUtf8("K \xF0\x9D\x94\xB8 -  : Link Connected.");
    }

    void oddStationTexts()
    {
        QFETCH(QString, station);
        QFETCH(QString, onConnect);
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.AddTime->setValue(0);
        w.Echolink_connected(station, "", "");
        QCOMPARE(f.requests(), onConnect.isEmpty() ? QStringList() : keyed(onConnect));
        QVERIFY(w.SayTheText.isValidUtf16());
        QVERIFY(!f.node.ptt());
        f.node.clearRecords();
        w.Echolink_Disconnected(station);
        QVERIFY(!f.node.ptt());
    }

    void receiveEvents()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        f.node.internetTalking(true);
        QCOMPARE(w.InUse, 1);
        QVERIFY(f.requests().isEmpty());
        f.node.internetTalking(false);
        QCOMPARE(w.InUse, 0);
        QCOMPARE(f.requests(), QStringList({"SendCW S"}));

        // No courtesy letter while the link is still busy, or without "Use ID".
        f.node.clearRecords();
        f.node.setLinkBusy(true);
        w.EchoLink_RX(false);
        f.node.setLinkBusy(false);
        w.UseCT->setValue(0);
        w.EchoLink_RX(false);
        QVERIFY(f.requests().isEmpty());

        // Disabled announcements: nothing changes.
        w.UseCT->setValue(1);
        w.Check1->setValue(1);
        w.InUse = 1;
        w.EchoLink_RX(false);
        QCOMPARE(w.InUse, 1);
        w.InUse = 0;
        w.EchoLink_RX(true);
        QCOMPARE(w.InUse, 0);
        QVERIFY(f.requests().isEmpty());
    }

    void carrierEventsStartTheKerchunkGuard()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.Kerchunker->setEnabled(false);
        w.KickBackCheck->setEnabled(false);
        f.node.localCarrier(true);
        QCOMPARE(w.InUse, 1);
        QVERIFY(w.Kerchunker->isEnabled());
        QVERIFY(!w.KickBackCheck->isEnabled());
        f.node.localCarrier(false);
        QCOMPARE(w.InUse, 0);
        QVERIFY(w.KickBackCheck->isEnabled());
        // Unlike RX, the carrier is followed with announcements disabled too.
        w.Check1->setValue(1);
        w.EchoLink_CarrierDetect(true);
        QCOMPARE(w.InUse, 1);
        QVERIFY(f.requests().isEmpty());
    }
};

QTEST_MAIN(TestAnnouncerConnections)
#include "test_announcer_connections.moc"
