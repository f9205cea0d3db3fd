#include <QClipboard>
#include <QGuiApplication>
#include <QTest>

#include "ui/program.h"
#include "support/announcer_fixture.h"

using namespace mirelva;
using namespace mirelva::test;

namespace {

// The station with both windows loaded and the timers in the test's hands.
struct DtmfFixture : AnnouncerFixture {
    DtmfWindow &d = *station.dtmf;

    // Stations already on the node; what their arrival asked is forgotten.
    void onNode(const QStringList &calls)
    {
        for (const QString &c : calls)
            node.stationConnects(c, QStringLiteral("Name"), QString());
        node.clearRecords();
    }
    // A string sent over the air: the requests it made.
    QStringList send(const QString &digits)
    {
        node.clearRecords();
        node.dtmf(digits);
        return requests();
    }
};

} // namespace

// Codes from the air, the acceptance delay, the re-enable countdown, the
// buttons that connect by hand and the last connected station.
class TestDtmfCommands : public QObject {
    Q_OBJECT
private slots:
    void init() { Program::resetForTests(); }

    void optionCodesActBeforeTheGate_data()
    {
        QTest::addColumn<QStringList>("codes");    // Text222, Text333, Text1111, Text2222
        QTest::addColumn<int>("check1");
        QTest::addColumn<int>("useDelay");
        QTest::newRow("enable") << QStringList{"1", "2", "3", "4"} << 1 << 1;
        QTest::newRow("disable") << QStringList{"2", "1", "3", "4"} << 0 << 1;
        QTest::newRow("delay on") << QStringList{"2", "3", "1", "4"} << 0 << 1;
        QTest::newRow("delay off") << QStringList{"2", "3", "4", "1"} << 0 << 0;
        QTest::newRow("enable and delay off") << QStringList{"1", "3", "4", "1"} << 1 << 0;
        QTest::newRow("one code enables and disables") << QStringList{"1", "1", "3", "4"} << 0 << 1;
        QTest::newRow("one code for delay on and off") << QStringList{"2", "3", "1", "1"} << 0 << 0;
    }

    void optionCodesActBeforeTheGate()
    {
        QFETCH(QStringList, codes);
        QFETCH(int, check1);
        QFETCH(int, useDelay);
        DtmfFixture f;
        DtmfWindow &d = f.d;
        d.Text222->setText(codes[0]);
        d.Text333->setText(codes[1]);
        d.Text1111->setText(codes[2]);
        d.Text2222->setText(codes[3]);
        d.Check1->setValue(0);
        d.UseDTMFDelay->setValue(1);
        // The gate is closed: a reception has just begun.
        f.node.setReceivingSignal(true);
        d.DTMFDelay_Timer();
        QCOMPARE(d.DTMFDelayPeriod->text(), QStringLiteral("4"));
        // The option codes act all the same; the disconnect-all code of the
        // same string does not, unless the delay was just switched off.
        d.Text111->setText(QStringLiteral("1"));
        const QStringList asked = f.send(QStringLiteral("1"));
        QCOMPARE(d.Check1->value(), check1);
        QCOMPARE(d.UseDTMFDelay->value(), useDelay);
        QCOMPARE(asked, useDelay == 0 && check1 == 1 ? QStringList{"DisconnectAll"} : QStringList());
    }

    void everyMatchingCommandActsInOrder()
    {
        DtmfFixture f;
        DtmfWindow &d = f.d;
        f.onNode({"W1AW", "G4ABC"});
        f.node.stationConnects(QStringLiteral("VK2LC"), QStringLiteral("Last"), QString());
        f.node.clearRecords();
        QCOMPARE(d.LastConnected->text(), QStringLiteral("VK2LC"));
        for (TextBox *b : {d.Text555, d.Text111, d.DTMF1, d.DTMF2, d.DTMF8, d.DTMFGroup1Disc, d.DTMFGroup2Connect})
            b->setText(QStringLiteral("77"));
        d.Call1->setText(QStringLiteral("W1AW"));
        d.Call2->setText(QStringLiteral("k2xyz"));
        d.Call8->setText(QStringLiteral("VK2LC"));
        d.GroupCall1->setText(QStringLiteral("G4ABC"));
        d.GroupCall4->setText(QStringLiteral("ve3net"));
        // Each question is asked at its own step, of the node's state now.
        QCOMPARE(f.send(QStringLiteral("77")),
                 QStringList({"Disconnect VK2LC", "DisconnectAll", "Disconnect W1AW", "Connect K2XYZ",
                              "Disconnect VK2LC", "Disconnect G4ABC", "Connect VE3NET"}));
        // A string that is not the whole code does nothing.
        QCOMPARE(f.send(QStringLiteral("7")), QStringList());
        QCOMPARE(f.send(QStringLiteral("777")), QStringList());
    }

    // A callsign box shows capitals however its text came, and a station is
    // the same station in any letter case: the codes and buttons disconnect
    // it instead of connecting it again.
    void callsignsInAnyLetterCase_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("set by the program (a settings file)") << "set";
        QTest::newRow("pasted from the context menu") << "paste";
        QTest::newRow("typed") << "typed";
    }

    void callsignsInAnyLetterCase()
    {
        QFETCH(QString, how);
        DtmfFixture f;
        DtmfWindow &d = f.d;
        f.onNode({"W1AW", "VK2ABC"});
        d.DTMF1->setText(QStringLiteral("1"));
        d.DTMFGroup1Disc->setText(QStringLiteral("9"));
        d.GroupCall1->setText(QStringLiteral("vk2abc"));
        if (how == "set") {
            d.Call1->setText(QStringLiteral("w1aw"));
        } else if (how == "paste") {
            QGuiApplication::clipboard()->setText(QStringLiteral("w1aw"));
            d.Call1->paste();
        } else {
            QTest::keyClicks(d.Call1, QStringLiteral("w1aw"));
        }
        QCOMPARE(d.Call1->text(), QStringLiteral("W1AW"));
        QCOMPARE(d.GroupCall1->text(), QStringLiteral("VK2ABC"));
        // Asked in small letters, the node's mirror still knows the station.
        QVERIFY(d.Echolink->IsConnected(QStringLiteral("w1aw")));
        QCOMPARE(f.send(QStringLiteral("1")), QStringList{"Disconnect W1AW"});
        QCOMPARE(f.send(QStringLiteral("9")), QStringList{"Disconnect VK2ABC"});
    }

    void disconnectFunctionsGateOnlyLastCallAndAll()
    {
        DtmfFixture f;
        DtmfWindow &d = f.d;
        f.onNode({"VK2LC", "G4ABC"});
        d.LastConnected->setText(QStringLiteral("VK2LC"));
        d.Text555->setText(QStringLiteral("5"));
        d.Text111->setText(QStringLiteral("73"));
        d.DTMF3->setText(QStringLiteral("3"));
        d.Call3->setText(QStringLiteral("VK2LC"));
        d.DTMFGroup1Disc->setText(QStringLiteral("9"));
        d.GroupCall2->setText(QStringLiteral("G4ABC"));
        d.Check1->setValue(0);
        for (const char *code : {"5", "73"})
            QCOMPARE(f.send(QLatin1String(code)), QStringList());
        QCOMPARE(f.send(QStringLiteral("3")), QStringList{"Disconnect VK2LC"});
        QCOMPARE(f.send(QStringLiteral("9")), QStringList{"Disconnect G4ABC"});
        // Greyed counts as off.
        d.Check1->setValue(2);
        QCOMPARE(f.send(QStringLiteral("73")), QStringList());
        d.Check1->setValue(1);
        QCOMPARE(f.send(QStringLiteral("5")), QStringList{"Disconnect VK2LC"});
        QCOMPARE(f.send(QStringLiteral("73")), QStringList{"DisconnectAll"});
    }

    void groupsSkipEmptyAndAlreadyRightMembers()
    {
        DtmfFixture f;
        DtmfWindow &d = f.d;
        f.onNode({"G4ABC", "F5XYZ"});
        d.DTMFGroup1Connect->setText(QStringLiteral("11"));
        d.DTMFGroup1Disc->setText(QStringLiteral("10"));
        d.DTMFGroup2Connect->setText(QStringLiteral("21"));
        d.DTMFGroup2Disc->setText(QStringLiteral("20"));
        d.GroupCall1->setText(QStringLiteral("K1ABC"));
        d.GroupCall2->setText(QString());
        d.GroupCall3->setText(QStringLiteral("VK7AB"));
        d.GroupCall4->setText(QStringLiteral("F5XYZ"));
        d.GroupCall5->setText(QStringLiteral("ZL1AA"));
        d.GroupCall6->setText(QStringLiteral("G4ABC"));
        const QStringList g1Connect{"Connect K1ABC", "Connect VK7AB"};
        const QStringList g2Connect{"Connect ZL1AA"};
        const QStringList g2Disc{"Disconnect F5XYZ", "Disconnect G4ABC"};
        QCOMPARE(f.send(QStringLiteral("11")), g1Connect);
        QCOMPARE(f.send(QStringLiteral("10")), QStringList());
        QCOMPARE(f.send(QStringLiteral("21")), g2Connect);
        QCOMPARE(f.send(QStringLiteral("20")), g2Disc);
        // The buttons do the same, with the delay in force and the
        // disconnect functions off.
        d.UseDTMFDelay->setValue(1);
        d.Check1->setValue(0);
        f.node.setReceivingSignal(true);
        d.DTMFDelay_Timer();
        const QList<QPair<QPushButton *, QStringList>> buttons{
            {d.Command3, g1Connect}, {d.Command4, {}}, {d.Command5, g2Connect}, {d.Command6, g2Disc}};
        for (const auto &[button, expected] : buttons) {
            f.node.clearRecords();
            button->click();
            QCOMPARE(f.requests(), expected);
        }
    }

    void anEmptyCallsignIsNeverSent()
    {
        for (int delayed = 0; delayed < 2; ++delayed) {
            DtmfFixture f;
            DtmfWindow &d = f.d;
            d.UseDTMFDelay->setValue(delayed);
            d.DTMFDelaySeconds->setText(QStringLiteral("0"));
            d.DTMF1->setText(QStringLiteral("1"));
            d.Text555->setText(QStringLiteral("1"));
            d.DTMFGroup1Connect->setText(QStringLiteral("1"));
            QCOMPARE(f.send(QStringLiteral("1")), QStringList());
            d.Command7->click();
            d.Command3->click();
            QCOMPARE(f.requests(), QStringList());
        }
        // An empty string matches no empty code box.
        DtmfFixture f;
        f.d.Text111->clear();
        f.d.Text333->clear();
        QCOMPARE(f.send(QString()), QStringList());
        QCOMPARE(f.d.Check1->value(), 1);
    }

    void theGateIsClosedInTheFirstSecondsOfAReception()
    {
        DtmfFixture f;
        DtmfWindow &d = f.d;
        MainWindow &w = f.w();
        d.Text111->setText(QStringLiteral("73"));
        d.UseDTMFDelay->setValue(1);
        QCOMPARE(d.DTMFDelaySeconds->text(), QStringLiteral("5"));
        f.node.setReceivingSignal(true);
        for (int tick = 1; tick <= 4; ++tick) {
            d.DTMFDelay_Timer();
            QCOMPARE(d.PTT3->text(), QStringLiteral("Receiving Signal"));
            QCOMPARE(d.DTMFDelayPeriod->text(), QString::number(5 - tick));
            QCOMPARE(f.send(QStringLiteral("73")), QStringList());
        }
        d.DTMFDelay_Timer();
        QCOMPARE(d.DTMFDelayPeriod->text(), QStringLiteral("0"));
        QVERIFY(!d.DTMFDelay->isEnabled());
        QCOMPARE(f.send(QStringLiteral("73")), QStringList{"DisconnectAll"});
        // Still open while the signal lasts: the main clock does not re-arm.
        w.Timer1_Timer();
        QVERIFY(!d.DTMFDelay->isEnabled());
        QCOMPARE(f.send(QStringLiteral("73")), QStringList{"DisconnectAll"});
        // The reception ends: the clock re-arms, the next tick restores the count.
        f.node.setReceivingSignal(false);
        w.Timer1_Timer();
        QVERIFY(d.DTMFDelay->isEnabled());
        QCOMPARE(f.send(QStringLiteral("73")), QStringList{"DisconnectAll"});
        d.DTMFDelay_Timer();
        QCOMPARE(d.PTT3->text(), QStringLiteral("      "));
        QCOMPARE(d.DTMFDelayPeriod->text(), QStringLiteral("5"));
        QCOMPARE(f.send(QStringLiteral("73")), QStringList());
        // Greyed, the delay box keeps the gate closed.
        d.UseDTMFDelay->setValue(2);
        d.DTMFDelayPeriod->setText(QStringLiteral("0"));
        QCOMPARE(f.send(QStringLiteral("73")), QStringList());
    }

    // A delay of 0 seconds never refuses a code, however many ticks fall
    // inside a reception.
    void aDelayOfZeroNeverRefuses()
    {
        DtmfFixture f;
        DtmfWindow &d = f.d;
        d.Text111->setText(QStringLiteral("73"));
        d.UseDTMFDelay->setValue(1);
        d.DTMFDelaySeconds->clear();
        QCOMPARE(d.DTMFDelaySeconds->text(), QStringLiteral("0"));
        QCOMPARE(d.DTMFDelayPeriod->text(), QStringLiteral("0"));
        QVERIFY(!d.DTMFDelay->isEnabled());
        QCOMPARE(f.send(QStringLiteral("73")), QStringList{"DisconnectAll"});
        d.DTMFDelay->setEnabled(true);
        f.node.setReceivingSignal(true);
        d.DTMFDelay_Timer();
        d.DTMFDelay_Timer();
        QCOMPARE(d.DTMFDelayPeriod->text(), QStringLiteral("0"));
        QCOMPARE(f.send(QStringLiteral("73")), QStringList{"DisconnectAll"});
    }

    void functionsComeBackOnAfterTheirMinutes()
    {
        DtmfFixture f;
        DtmfWindow &d = f.d;
        QCOMPARE(d.BeaconSeconds->text(), QStringLiteral("60"));
        d.Text333->setText(QStringLiteral("0#"));
        f.send(QStringLiteral("0#"));
        QCOMPARE(d.Check1->value(), 0);
        for (int tick = 1; tick < 60; ++tick)
            d.Timer1_Timer();
        QCOMPARE(d.Check1->value(), 0);
        QCOMPARE(d.BeaconSeconds->text(), QStringLiteral("1"));
        d.Timer1_Timer();
        QCOMPARE(d.Check1->value(), 1);
        QCOMPARE(d.BeaconSeconds->text(), QStringLiteral("60"));

        // Ticked back on early (by hand or by the enable code), the count is
        // reloaded: a later switch-off gets the whole period.
        d.Check1->setValue(0);
        for (int tick = 0; tick < 20; ++tick)
            d.Timer1_Timer();
        d.Check1->setValue(1);
        d.Timer1_Timer();
        d.Check1->setValue(0);
        d.Timer1_Timer();
        QCOMPARE(d.BeaconSeconds->text(), QStringLiteral("59"));

        // No minutes at all count as one.
        for (const char *none : {"0", "00", ""}) {
            d.BeaconPeriod->setText(QLatin1String(none));
            d.Timer1_Timer();
            QCOMPARE(d.BeaconPeriod->text(), QStringLiteral("1"));
            QCOMPARE(d.BeaconSeconds->text(), QStringLiteral("59"));
        }
    }

    void lastConnectedFollowsEveryConnect()
    {
        DtmfFixture f;
        DtmfWindow &d = f.d;
        d.Text555->setText(QStringLiteral("5"));
        f.node.stationConnects(QStringLiteral("W1AW"), QStringLiteral("Hiram"), QString());
        QCOMPARE(d.LastConnected->text(), QStringLiteral("W1AW"));
        f.node.stationConnects(QStringLiteral("*ECHOTEST*"), QStringLiteral("Conference"), QString());
        QCOMPARE(d.LastConnected->text(), QStringLiteral("*ECHOTEST*"));
        f.node.stationDisconnects(QStringLiteral("*ECHOTEST*"));
        QCOMPARE(d.LastConnected->text(), QStringLiteral("*ECHOTEST*"));
        // Gone already: asked, nothing sent.
        QCOMPARE(f.send(QStringLiteral("5")), QStringList());
    }
};

QTEST_MAIN(TestDtmfCommands)
#include "test_dtmf_commands.moc"
