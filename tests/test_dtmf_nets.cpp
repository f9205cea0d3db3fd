#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "ui/program.h"
#include "support/announcer_fixture.h"

using namespace mirelva;
using namespace mirelva::test;

namespace {

const QDate kWednesday(2024, 3, 6);
const QDate kThursday(2024, 3, 7);

struct NetFixture : AnnouncerFixture {
    DtmfWindow &d = *station.dtmf;

    // Net n on Wednesdays at hh:mm, calling call.
    void plan(int n, const QString &call, const QString &hour = QStringLiteral("20"),
              const QString &mins = QStringLiteral("00"))
    {
        const DtmfWindow::Net x = d.net(n);
        x.NetCall->setText(call);
        x.Hour->setText(hour);
        x.Mins->setText(mins);
        x.days[3]->setValue(1);
    }
    // One scheduler tick at that second; the requests it made.
    QStringList tickAt(const QDate &day, const QTime &time)
    {
        Clock::setForTests(QDateTime(day, time));
        node.clearRecords();
        d.Timer2_Timer();
        return requests();
    }
    // Countdown ticks of net n until its timer stops (at most limit).
    int ticksToDisconnect(int n, int limit = 5000)
    {
        const DtmfWindow::Net x = d.net(n);
        int ticks = 0;
        while (x.timer->isEnabled() && ticks < limit) {
            ++ticks;
            switch (n) {
            case 1: d.Timer3_Timer(); break;
            case 2: d.Timer4_Timer(); break;
            case 3: d.Timer5_Timer(); break;
            default: d.Timer6_Timer(); break;
            }
        }
        return ticks;
    }
};

} // namespace

// The net scheduler: starts on the exact second and weekday, in the order
// 4, 3, 2, 1, held back by a busy channel; timed disconnects that give the
// main window's auto-connect back.
class TestDtmfNets : public QObject {
    Q_OBJECT
private slots:
    void init() { Program::resetForTests(); }

    void aNetStartsOnItsSecondAndWeekdayOnly_data()
    {
        QTest::addColumn<QString>("hour");
        QTest::addColumn<QDate>("day");
        QTest::addColumn<QTime>("time");
        QTest::addColumn<bool>("starts");
        QTest::newRow("20:00:15 Wednesday") << "20" << kWednesday << QTime(20, 0, 15) << true;
        QTest::newRow("20:00:14") << "20" << kWednesday << QTime(20, 0, 14) << false;
        QTest::newRow("20:00:16") << "20" << kWednesday << QTime(20, 0, 16) << false;
        QTest::newRow("Thursday") << "20" << kThursday << QTime(20, 0, 15) << false;
        QTest::newRow("hour 08") << "08" << kWednesday << QTime(8, 0, 15) << true;
        QTest::newRow("hour 8 as 08") << "8" << kWednesday << QTime(8, 0, 15) << true;
        QTest::newRow("hour 8 not 18") << "8" << kWednesday << QTime(18, 0, 15) << false;
        QTest::newRow("hour 24 never") << "24" << kWednesday << QTime(0, 0, 15) << false;
    }

    void aNetStartsOnItsSecondAndWeekdayOnly()
    {
        QFETCH(QString, hour);
        QFETCH(QDate, day);
        QFETCH(QTime, time);
        QFETCH(bool, starts);
        NetFixture f;
        f.plan(1, QStringLiteral("vk3net"), hour);
        QCOMPARE(f.tickAt(day, time), starts ? QStringList{"Connect VK3NET"} : QStringList());
        QCOMPARE(f.d.ShowTime->text(), time.toString(QStringLiteral("HH:mm:ss")));
        QCOMPARE(f.d.Timer3->isEnabled(), starts);
    }

    void aSpeechInsideTheTickDoesNotCostTheStart()
    {
        NetFixture f;
        f.plan(2, QStringLiteral("NET2"));
        // Something handled while the tick lets events run takes three seconds.
        QTimer::singleShot(0, [] { Clock::advanceForTests(3); });
        QCOMPARE(f.tickAt(kWednesday, QTime(20, 0, 15)), QStringList{"Connect NET2"});
        QCOMPARE(f.d.ShowTime->text(), QStringLiteral("20:00:15"));
    }

    void netsStartInTheOrderFourToOne()
    {
        NetFixture f;
        f.plan(1, QStringLiteral("NET1"));
        f.plan(2, QStringLiteral("LOCAL"));
        f.plan(3, QStringLiteral("NET3"));
        f.plan(4, QStringLiteral("NET4"));
        f.d.ShowBusy3->setValue(1);
        f.d.DisconnectAll2->setValue(1);
        f.d.DisconnectAll1->setValue(1);
        // Net 1 disconnects the nets started before it on the same tick.
        QCOMPARE(f.tickAt(kWednesday, QTime(20, 0, 15)),
                 QStringList({"Connect NET4", "SetBusy on", "Connect NET3", "DisconnectAll", "Connect LOCAL",
                              "DisconnectAll", "Connect NET1"}));
        for (VbTimer *t : {f.d.Timer3, f.d.Timer4, f.d.Timer5, f.d.Timer6})
            QVERIFY(t->isEnabled());
    }

    void anEmptyCallsignSkipsTheNetButBlanksDoNot()
    {
        NetFixture f;
        MainWindow &w = f.w();
        w.StayCon1->setValue(1);
        f.plan(1, QString());
        QCOMPARE(f.tickAt(kWednesday, QTime(20, 0, 15)), QStringList());
        QCOMPARE(w.StayCon1->value(), 1);
        QVERIFY(!f.d.Timer3->isEnabled());
        f.plan(1, QStringLiteral("  "));
        QCOMPARE(f.tickAt(kWednesday.addDays(7), QTime(20, 0, 15)), QStringList{"Connect   "});
        QCOMPARE(w.StayCon1->value(), 0);
    }

    void aBusyChannelHoldsTheNetBack()
    {
        NetFixture f;
        MainWindow &w = f.w();
        f.plan(1, QStringLiteral("NET1"));
        f.d.RFBusy->setValue(1);
        f.node.setReceivingSignal(true);
        w.Timer1_Timer();
        QCOMPARE(w.PTT2->text(), QStringLiteral("Receiving Signal"));
        QCOMPARE(f.tickAt(kWednesday, QTime(20, 0, 15)), QStringList());
        // The second has passed; the net waits for next week.
        f.node.setReceivingSignal(false);
        w.Timer1_Timer();
        QCOMPARE(f.tickAt(kWednesday, QTime(20, 0, 16)), QStringList());
        QCOMPARE(f.tickAt(kWednesday.addDays(7), QTime(20, 0, 15)), QStringList{"Connect NET1"});
        // Without the box a reception does not matter.
        f.d.RFBusy->setValue(0);
        f.node.setReceivingSignal(true);
        w.Timer1_Timer();
        QCOMPARE(f.tickAt(kWednesday.addDays(14), QTime(20, 0, 15)), QStringList{"Connect NET1"});
    }

    void theTimedDisconnectGivesAutoConnectBack()
    {
        NetFixture f;
        MainWindow &w = f.w();
        DtmfWindow &d = f.d;
        w.StayCon1->setValue(1);
        w.StayCon2->setValue(0);
        f.plan(1, QStringLiteral("vk3net"));
        d.Check3->setValue(1);
        d.ShowBusy1->setValue(1);
        d.DiscMins1->setText(QStringLiteral("2"));
        f.node.setAnswerDelayMs(0);
        QCOMPARE(f.tickAt(kWednesday, QTime(20, 0, 15)), QStringList({"SetBusy on", "Connect VK3NET"}));
        QCOMPARE(w.StayCon1->value(), 0);
        QCOMPARE(w.StayCon2->value(), 0);
        QCOMPARE(d.DiscPeriod1->text(), QStringLiteral("120"));
        // The node answers the connect; a busy node still makes our own.
        QTRY_VERIFY(f.node.state().connected.contains(QStringLiteral("VK3NET")));
        f.node.clearRecords();
        for (int tick = 1; tick < 120; ++tick)
            d.Timer3_Timer();
        QCOMPARE(d.DiscPeriod1->text(), QStringLiteral("1"));
        QCOMPARE(f.requests(), QStringList());
        QCOMPARE(w.StayCon1->value(), 0);
        d.Timer3_Timer();
        QCOMPARE(f.requests(), QStringList({"SetBusy off", "Disconnect VK3NET"}));
        QCOMPARE(w.StayCon1->value(), 1);
        QCOMPARE(w.StayCon2->value(), 0);
        QVERIFY(!d.Timer3->isEnabled());
        QCOMPARE(d.DiscPeriod1->text(), QStringLiteral("120"));
    }

    void withoutTheUseBoxTheNetStays()
    {
        NetFixture f;
        MainWindow &w = f.w();
        w.StayCon2->setValue(1);
        f.plan(3, QStringLiteral("NET3"));
        f.d.DiscMins3->setText(QStringLiteral("1"));
        f.tickAt(kWednesday, QTime(20, 0, 15));
        f.node.clearRecords();
        QCOMPARE(f.ticksToDisconnect(3, 500), 500);
        QCOMPARE(f.d.DiscPeriod3->text(), QStringLiteral("60"));
        QCOMPARE(w.StayCon2->value(), 0);
        QCOMPARE(f.requests(), QStringList());
        // Emptying the minutes stops the countdown.
        f.d.DiscMins3->clear();
        QVERIFY(!f.d.Timer5->isEnabled());
        QCOMPARE(f.d.DiscMins3->text(), QStringLiteral("0"));
        QCOMPARE(w.StayCon2->value(), 1);
    }

    void zeroMinutesCountAsOne_data()
    {
        QTest::addColumn<int>("net");
        QTest::addColumn<int>("ticks");
        // Nets 2 and 3 count before the minutes are mended: one tick later.
        QTest::newRow("net 1") << 1 << 60;
        QTest::newRow("net 2") << 2 << 61;
        QTest::newRow("net 3") << 3 << 61;
        QTest::newRow("net 4") << 4 << 60;
    }

    void zeroMinutesCountAsOne()
    {
        QFETCH(int, net);
        QFETCH(int, ticks);
        NetFixture f;
        const DtmfWindow::Net x = f.d.net(net);
        QCOMPARE(x.DiscMins->text(), QStringLiteral("0"));
        f.plan(net, QStringLiteral("NET"));
        x.Use->setValue(1);
        f.tickAt(kWednesday, QTime(20, 0, 15));
        QCOMPARE(x.DiscPeriod->text(), QStringLiteral("0"));
        QCOMPARE(f.ticksToDisconnect(net), ticks);
        QCOMPARE(x.DiscMins->text(), QStringLiteral("1"));
    }

    // The operator's boxes are taken when the first net starts and given
    // back when the last ends; a save meanwhile writes the operator's values.
    void overlappingNetsGiveTheOperatorsStayConBack()
    {
        NetFixture f;
        MainWindow &w = f.w();
        w.StayCon1->setValue(1);
        w.StayCon2->setValue(0);
        f.plan(1, QStringLiteral("NET1"), QStringLiteral("20"), QStringLiteral("00"));
        f.plan(2, QStringLiteral("NET2"), QStringLiteral("20"), QStringLiteral("01"));
        f.d.Check3->setValue(1);
        f.d.Check2->setValue(1);
        f.d.DiscMins1->setText(QStringLiteral("1"));
        f.d.DiscMins2->setText(QStringLiteral("5"));
        f.tickAt(kWednesday, QTime(20, 0, 15));
        f.tickAt(kWednesday, QTime(20, 1, 15));
        QCOMPARE(w.StayCon1->value() + w.StayCon2->value(), 0);
        w.SaveData();
        const QStringList saved = f.settings.readLines(QStringLiteral("mirelva.ini"));
        QVERIFY(saved.contains("STAYCON1=1"));
        QVERIFY(saved.contains("STAYCON2=0"));
        QCOMPARE(f.ticksToDisconnect(1), 60);
        QCOMPARE(w.StayCon1->value(), 0);   // net 2 still runs
        QCOMPARE(f.ticksToDisconnect(2), 300);
        QCOMPARE(w.StayCon1->value(), 1);
        QCOMPARE(w.StayCon2->value(), 0);
    }

    // However the last net ends, the boxes come back; a box changed during
    // the net comes back as changed.
    void theLastNetEndingAnyWayGivesStayConBack_data()
    {
        QTest::addColumn<QString>("end");
        QTest::addColumn<int>("stayCon1");
        QTest::addColumn<int>("stayCon2");
        QTest::newRow("minutes emptied") << "emptied" << 0 << 1;
        QTest::newRow("untimed net's station leaves") << "leaves" << 0 << 1;
        QTest::newRow("ticked by a code during the net") << "code" << 1 << 1;
        // The net has cleared both boxes: the code changes neither.
        QTest::newRow("disabled by a code during the net") << "disable" << 0 << 0;
    }

    void theLastNetEndingAnyWayGivesStayConBack()
    {
        QFETCH(QString, end);
        QFETCH(int, stayCon1);
        QFETCH(int, stayCon2);
        NetFixture f;
        MainWindow &w = f.w();
        w.StayCon1->setValue(0);
        w.StayCon2->setValue(1);
        f.plan(3, QStringLiteral("net3"));
        f.d.ShowBusy3->setValue(1);
        f.node.setAnswerDelayMs(0);
        f.tickAt(kWednesday, QTime(20, 0, 15));
        QTRY_VERIFY(f.node.state().connected.contains(QStringLiteral("NET3")));
        QCOMPARE(w.StayCon2->value(), 0);
        f.node.clearRecords();
        if (end == "emptied") {
            f.d.DiscMins3->clear();
        } else if (end == "leaves") {
            f.node.stationDisconnects(QStringLiteral("NET3"));
            QVERIFY(f.requests().contains("SetBusy off"));
        } else {
            const QString code = end == "code" ? QStringLiteral("*1*") : QStringLiteral("*0*");
            f.node.dtmf(code);
            QTRY_COMPARE(w.SayTheText, end == "code" ? QStringLiteral("Auto Connects Enabled.")
                                                     : QStringLiteral("Auto Connects Disabled."));
            QCOMPARE(w.StayCon1->value(), stayCon1);
            // A save meanwhile writes what the operator chose, not the net's 0.
            w.SaveData();
            const QStringList saved = f.settings.readLines(QStringLiteral("mirelva.ini"));
            QVERIFY(saved.contains(QStringLiteral("STAYCON1=%1").arg(stayCon1)));
            QVERIFY(saved.contains(QStringLiteral("STAYCON2=%1").arg(stayCon2)));
            f.d.DiscMins3->clear();
        }
        QVERIFY(!f.d.anyNetRunning());
        QCOMPARE(w.StayCon1->value(), stayCon1);
        QCOMPARE(w.StayCon2->value(), stayCon2);
    }

    // "Disconnect All" drops the net's own station when it is there already;
    // the node then connects it again. That leave is the net's doing and
    // does not end it; the station leaving once it is back does. Announced,
    // the leave is spoken while the station comes back, so this window hears
    // of the return before the leave.
    void anUntimedNetOutlivesItsOwnDisconnectAll_data()
    {
        QTest::addColumn<int>("announced");
        QTest::newRow("connects announced") << 1;
        QTest::newRow("connects not announced") << 0;
    }

    void anUntimedNetOutlivesItsOwnDisconnectAll()
    {
        QFETCH(int, announced);
        NetFixture f;
        MainWindow &w = f.w();
        w.ConDisc->setValue(announced);
        w.StayCon1->setValue(1);
        f.plan(2, QStringLiteral("net2"), QStringLiteral("20"), QStringLiteral("10"));
        f.d.DisconnectAll2->setValue(1);
        f.d.ShowBusy2->setValue(1);
        f.node.setAnswerDelayMs(0);
        QSignalSpy connects(&f.node, &SimulatedNode::connected);
        f.node.stationConnects(QStringLiteral("NET2"), QString(), QString());
        QTRY_COMPARE(f.d.LastConnected->text(), QStringLiteral("NET2"));
        QCOMPARE(f.tickAt(kWednesday, QTime(20, 10, 15)),
                 QStringList({"SetBusy on", "DisconnectAll", "Connect NET2"}));
        QTRY_COMPARE(connects.size(), 2);
        QVERIFY(f.d.netRunning(2));
        const auto netRequests = [&f] {
            QStringList l = f.requests();
            l.removeIf([](const QString &r) {
                return !r.startsWith("SetBusy") && !r.startsWith("Connect") && !r.startsWith("Disconnect");
            });
            return l;
        };
        QCOMPARE(netRequests(), QStringList({"SetBusy on", "DisconnectAll", "Connect NET2"}));
        QCOMPARE(w.StayCon1->value(), 0);
        f.node.clearRecords();
        f.node.stationDisconnects(QStringLiteral("NET2"));
        QTRY_VERIFY(!f.d.netRunning(2));
        QCOMPARE(netRequests(), QStringList{"SetBusy off"});
        QCOMPARE(w.StayCon1->value(), 1);
    }

    // The node has one busy flag: a net ending clears it only when no net
    // still running shows it, however the first net ended.
    void theBusyFlagStaysWhileARunningNetShowsIt_data()
    {
        QTest::addColumn<QString>("end");
        QTest::addColumn<int>("busy2");
        QTest::addColumn<QStringList>("atFirstEnd");
        QTest::addColumn<QStringList>("atSecondEnd");
        const QStringList off{"SetBusy off"}, none;
        QTest::newRow("dropped by the next net's Disconnect All, next busy") << "dropped" << 1 << none << off;
        QTest::newRow("dropped by the next net's Disconnect All, next not busy") << "dropped" << 0 << off << none;
        QTest::newRow("timed out first, other busy") << "timed" << 1 << none << off;
        QTest::newRow("timed out first, other not busy") << "timed" << 0 << off << none;
    }

    void theBusyFlagStaysWhileARunningNetShowsIt()
    {
        QFETCH(QString, end);
        QFETCH(int, busy2);
        QFETCH(QStringList, atFirstEnd);
        QFETCH(QStringList, atSecondEnd);
        NetFixture f;
        f.node.setAnswerDelayMs(0);
        const auto busyRequests = [&f] {
            QStringList l = f.requests();
            l.removeIf([](const QString &r) { return !r.startsWith("SetBusy"); });
            return l;
        };
        f.plan(1, QStringLiteral("NET1"));
        f.d.ShowBusy1->setValue(1);
        f.plan(2, QStringLiteral("NET2"), QStringLiteral("20"), end == "dropped" ? QStringLiteral("01") : QStringLiteral("00"));
        f.d.ShowBusy2->setValue(busy2);
        f.d.Check2->setValue(1);
        f.d.DiscMins2->setText(QStringLiteral("5"));
        if (end == "dropped") {
            // Net 1 untimed and joined; net 2 drops everyone as it starts.
            f.d.DisconnectAll2->setValue(1);
            f.tickAt(kWednesday, QTime(20, 0, 15));
            QTRY_VERIFY(f.node.state().connected.contains(QStringLiteral("NET1")));
            f.tickAt(kWednesday, QTime(20, 1, 15));
            QTRY_VERIFY(!f.d.netRunning(1));
            const QStringList started = busy2 ? QStringList({"SetBusy on", "DisconnectAll", "Connect NET2"})
                                              : QStringList({"DisconnectAll", "Connect NET2"});
            QCOMPARE(f.requests().mid(0, started.size()), started);
            QCOMPARE(busyRequests(), (busy2 ? QStringList{"SetBusy on"} : QStringList()) + atFirstEnd);
        } else {
            f.d.Check3->setValue(1);
            f.d.DiscMins1->setText(QStringLiteral("1"));
            f.tickAt(kWednesday, QTime(20, 0, 15));
            f.node.clearRecords();
            QCOMPARE(f.ticksToDisconnect(1), 60);
            QCOMPARE(busyRequests(), atFirstEnd);
        }
        QVERIFY(f.d.netRunning(2));
        f.node.clearRecords();
        QVERIFY(f.ticksToDisconnect(2) > 0);
        QCOMPARE(busyRequests(), atSecondEnd);
    }

    // A clock set back repeats nothing already done: the seconds up to the
    // last one taken are owed nothing. Set back further than a quarter of an
    // hour, the seconds count afresh, as after a long sleep.
    void aClockSetBackCallsTheNetOnce_data()
    {
        QTest::addColumn<QList<QTime>>("spans");   // pairs: ticked every second from, to
        QTest::addColumn<int>("connects");
        QTest::newRow("a second back") << QList<QTime>{{20, 0, 14}, {20, 0, 16}, {20, 0, 15}, {20, 0, 17}} << 1;
        QTest::newRow("ten minutes back") << QList<QTime>{{20, 0, 15}, {20, 0, 16}, {19, 50, 16}, {20, 0, 20}} << 1;
        QTest::newRow("sixteen minutes back")
            << QList<QTime>{{20, 0, 15}, {20, 0, 16}, {19, 44, 16}, {20, 0, 20}} << 2;
    }

    void aClockSetBackCallsTheNetOnce()
    {
        QFETCH(QList<QTime>, spans);
        QFETCH(int, connects);
        NetFixture f;
        f.plan(1, QStringLiteral("NET1"));
        QStringList requests;
        for (qsizetype i = 0; i + 1 < spans.size(); i += 2)
            for (QTime t = spans[i]; t <= spans[i + 1]; t = t.addSecs(1))
                requests += f.tickAt(kWednesday, t);
        QCOMPARE(requests, QStringList(connects, QStringLiteral("Connect NET1")));
    }
};

QTEST_MAIN(TestDtmfNets)
#include "test_dtmf_nets.moc"
