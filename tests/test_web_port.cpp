// The web console against a station port of the test's own: what the page
// asks reaches the port as asked, a save is answered only once the port has
// had its turn, and what the port refuses reaches the page in its words.

#include <QtTest>

#include "core/onairlog.h"
#include "support/fakestation.h"
#include "web/webconsole.h"

using namespace mirelva;
using namespace mirelva::test;

class TestWebPort : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { OnAirLog::setEchoToStderr(false); }

    // A save's changes go to the port as the page sent them; the answer
    // waits for the port (as a press waits for an announcement on air).
    // One malformed change refuses the whole save before the port hears of it.
    void aSaveIsAnsweredOnceThePortHadItsTurn_data()
    {
        QTest::addColumn<QJsonArray>("changes");
        QTest::addColumn<bool>("loaded");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<int>("status");
        const QJsonObject good{{"key", "BEACONPERIOD6"}, {"value", "2"}, {"was", "10"}};
        QTest::newRow("a change") << QJsonArray{good} << true << "change main BEACONPERIOD6=2 (10) 192.0.2.1" << 200;
        QTest::newRow("two") << QJsonArray{good, QJsonObject{{"key", "CHECK2"}, {"value", "1"}, {"was", "0"}}} << true
                             << "change main BEACONPERIOD6=2 (10) CHECK2=1 (0) 192.0.2.1" << 200;
        QTest::newRow("no was") << QJsonArray{good, QJsonObject{{"key", "CHECK2"}, {"value", "1"}}} << true << "" << 400;
        QTest::newRow("a number for a text") << QJsonArray{QJsonObject{{"key", "CHECK2"}, {"value", 1}, {"was", "0"}}}
                                             << true << "" << 400;
        QTest::newRow("still loading") << QJsonArray{good} << false << "" << 503;
    }
    void aSaveIsAnsweredOnceThePortHadItsTurn()
    {
        QFETCH(QJsonArray, changes);
        QFETCH(bool, loaded);
        QFETCH(QString, asked);
        QFETCH(int, status);
        FakeStation port;
        port.loaded = loaded;
        WebConsole console(port, WebSettings{});
        std::optional<StationPort::Outcome> out;
        console.saveSettings({{"window", "main"}, {"changes", changes}}, "192.0.2.1",
                             [&out](const StationPort::Outcome &o) { out = o; });
        QCOMPARE(port.asked, asked.isEmpty() ? QStringList() : QStringList{asked});
        if (asked.isEmpty()) {
            QVERIFY(out);
            QCOMPARE(out->status, status);
            return;
        }
        QVERIFY(!out);
        port.finishChanges();
        QVERIFY(out);
        QCOMPARE(out->status, status);
    }

    // An action reaches the port by its name, with its arguments; the
    // port's refusal is the page's answer.
    void anActionIsRunByName()
    {
        FakeStation port;
        WebConsole console(port, WebSettings{});
        QCOMPARE(console.act({{"action", "station"}, {"n", 3}}, "192.0.2.1"), QString());
        port.refusal = QStringLiteral("No such station.");
        QCOMPARE(console.act({{"action", "station"}, {"n", 9}}, "192.0.2.1"), QStringLiteral("No such station."));
        port.loaded = false;
        QCOMPARE(console.act({{"action", "time"}}, "192.0.2.1"), QStringLiteral("The station is still loading."));
        QCOMPARE(port.asked, (QStringList{"run station {\"n\":3} 192.0.2.1", "run station {\"n\":9} 192.0.2.1"}));
    }

    // The page's whole state comes from the port: its live values and its
    // logs, the newest lines only.
    void theStateIsThePorts()
    {
        FakeStation port;
        port.live.insert("countdowns", QJsonArray{QJsonObject{{"id", "IDSeconds"}, {"label", "Seconds to idle"}, {"value", "60"}}});
        for (int n = 0; n < WebConsole::kLogLines + 5; ++n)
            port.history << QString::number(n);
        WebConsole console(port, WebSettings{});
        const QJsonObject s = console.snapshot();
        QCOMPARE(s["countdowns"], port.live["countdowns"]);
        QCOMPARE(s["history"].toArray().size(), WebConsole::kLogLines);
        QCOMPARE(s["history"].toArray().first(), QJsonValue("5"));
        QCOMPARE(s["chat"].toArray(), QJsonArray());
    }
};

QTEST_MAIN(TestWebPort)
#include "test_web_port.moc"
