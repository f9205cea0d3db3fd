#include <QCoreApplication>
#include <QTest>

#include "support/announcer_fixture.h"

using namespace mirelva;
using namespace mirelva::test;

// The two auto-connect stations: "Con/Disc" by hand, and "Stay Con" once a
// minute.
class TestAnnouncerAutoConnect : public QObject {
    Q_OBJECT

    struct StationControls {
        TextBox *call;
        CheckBox *stayCon;
        QPushButton *button;
        void (MainWindow::*tick)();
    };

    static StationControls station(MainWindow &w, int n)
    {
        if (n == 1)
            return {w.ConnectStation1, w.StayCon1, w.Connect1, &MainWindow::Timer2_Timer};
        return {w.ConnectStation2, w.StayCon2, w.Command2, &MainWindow::Timer3_Timer};
    }

    // The node answers a connect or disconnect at the next turn of the loop.
    static void nodeAnswers() { QCoreApplication::processEvents(); }

    static void bothStations()
    {
        QTest::addColumn<int>("n");
        QTest::newRow("station 1, Connect1, Timer2") << 1;
        QTest::newRow("station 2, Command2, Timer3") << 2;
    }

private slots:
    void conDiscTogglesTheStation_data() { bothStations(); }

    void conDiscTogglesTheStation()
    {
        QFETCH(int, n);
        AnnouncerFixture f;
        MainWindow &w = f.w();
        f.node.setAnswerDelayMs(0);
        w.ConDisc->setValue(0);
        const StationControls s = station(w, n);
        s.call->setFocus();
        QTest::keyClicks(s.call, "w1aw");
        QCOMPARE(s.call->text(), QString("W1AW"));

        s.button->click();
        nodeAnswers();
        s.button->click();
        nodeAnswers();
        s.button->click();
        nodeAnswers();
        QCOMPARE(f.requests(), QStringList({"Connect W1AW", "Disconnect W1AW", "Connect W1AW"}));

        // Set from code the box keeps what it was given; the call sent is
        // in capitals and without blanks around it.
        s.call->setText(" vk2abc ");
        s.button->click();
        QCOMPARE(f.requests().last(), QString("Connect VK2ABC"));

        // An empty callsign is never sent to the node; the status line says
        // so until the box holds something again.
        f.node.clearRecords();
        const QString warning = QString("Con/Disc %1: Station %1 has no callsign, nothing was sent").arg(n);
        for (const char *empty : {"", "   "}) {
            s.call->setText(empty);
            s.button->click();
            QCOMPARE(w.lastingWarnings(), QStringList({warning}));
        }
        QVERIFY(f.requests().isEmpty());
        QTest::keyClicks(s.call, "k");
        QVERIFY(w.lastingWarnings().isEmpty());
    }

    void stayConReconnectsADroppedStation_data() { bothStations(); }

    void stayConReconnectsADroppedStation()
    {
        QFETCH(int, n);
        AnnouncerFixture f;
        MainWindow &w = f.w();
        const StationControls s = station(w, n);
        const StationControls other = station(w, 3 - n);
        w.ConDisc->setValue(0);
        s.call->setText("w1aw");
        other.call->setText("VK2ABC");
        s.stayCon->setValue(1);
        f.node.stationConnects("W1AW", "Hiram", "192.0.2.1");

        // Connected: left alone.
        (w.*s.tick)();
        QVERIFY(f.requests().isEmpty());

        // Dropped: called again at the next tick, and only by its own timer.
        f.node.stationDisconnects("W1AW");
        (w.*other.tick)();
        QVERIFY(f.requests().isEmpty());
        (w.*s.tick)();
        QCOMPARE(f.requests(), QStringList({"Connect W1AW"}));

        // "Stay Con" not ticked (greyed counts as not ticked): no call, and
        // nothing is ever disconnected.
        f.node.clearRecords();
        for (int value : {0, 2}) {
            s.stayCon->setValue(value);
            (w.*s.tick)();
        }
        f.node.stationConnects("W1AW", "Hiram", "192.0.2.1");
        (w.*s.tick)();
        QVERIFY(f.requests().isEmpty());

        // Ticked with an empty box: nothing is sent.
        f.node.stationDisconnects("W1AW");
        s.stayCon->setValue(1);
        s.call->clear();
        (w.*s.tick)();
        QVERIFY(f.requests().isEmpty());
    }
};

QTEST_MAIN(TestAnnouncerAutoConnect)
#include "test_announcer_autoconnect.moc"
