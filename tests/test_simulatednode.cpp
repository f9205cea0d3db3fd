#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "ui/echolink.h"
#include "core/onairlog.h"
#include "ui/program.h"
#include "node/simulated/nodecommands.h"
#include "node/simulated/simulatednode.h"

using namespace mirelva;

namespace {

void turn() { QCoreApplication::processEvents(); }

// What a handler of each event sees of the node when the event arrives.
struct Seen {
    QString event;
    NodeState state;
};

QVector<Seen> *watch(SimulatedNode &node, QObject *ctx)
{
    auto *seen = new QVector<Seen>;
    QObject::connect(ctx, &QObject::destroyed, [seen] { delete seen; });
    auto add = [seen, &node](const QString &e) { seen->append({e, node.state()}); };
    QObject::connect(&node, &NodeBackend::connected, ctx,
                     [add](const QString &c, const QString &n, const QString &a) { add("connected " + c + '|' + n + '|' + a); });
    QObject::connect(&node, &NodeBackend::Disconnected, ctx, [add](const QString &c) { add("Disconnected " + c); });
    QObject::connect(&node, &NodeBackend::RX, ctx, [add](bool on) { add(on ? "RX on" : "RX off"); });
    QObject::connect(&node, &NodeBackend::CarrierDetect, ctx, [add](bool on) { add(on ? "CD on" : "CD off"); });
    QObject::connect(&node, &NodeBackend::DTMFString, ctx, [add](const QString &d) { add("DTMF " + d); });
    QObject::connect(&node, &NodeBackend::ChatTextReceived, ctx, [add](const QString &t) { add("chat " + t); });
    QObject::connect(&node, &NodeBackend::Closing, ctx, [add] { add("Closing"); });
    return seen;
}

QStringList events(const QVector<Seen> &seen)
{
    QStringList l;
    for (const auto &s : seen)
        l << s.event;
    return l;
}

} // namespace

class TestSimulatedNode : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { OnAirLog::setEchoToStderr(false); }
    void init() { Program::resetForTests(); }

    void recordsEveryRequestExactly()
    {
        SimulatedNode node;
        EchoLink el(&node, "main");
        QSignalSpy spy(&node, &SimulatedNode::recorded);
        const QDateTime before = QDateTime::currentDateTime();

        el.Connect("W1AW");
        el.SetPTT(true);
        el.SendCW(false, "VK2ABC");
        el.SetPTT(false);
        el.SetBusy(true);
        el.SetRTS(true);
        el.SetDTR(false);
        el.SendChatText("(12:00) hello all");
        el.Disconnect("W1AW");
        el.DisconnectAll();
        node.submit(NodeRequest::speech("The Time Is 12 o'clock", true));
        node.submit(NodeRequest::speechOnAir("Hello", 2, 80));

        QCOMPARE(node.requestTexts(),
                 QStringList({"Connect W1AW", "SetPTT on", "SendCW VK2ABC", "SetPTT off", "SetBusy on", "SetRTS on",
                              "SetDTR off", "SendChatText (12:00) hello all", "Disconnect W1AW", "DisconnectAll",
                              "Speech keyed: The Time Is 12 o'clock", "Speech on air by the node: Hello"}));
        QCOMPARE(spy.count(), 12);
        QCOMPARE(spy.at(2).at(0).value<SimulatedNode::Record>().request.toText(), QString("SendCW VK2ABC"));
        for (const auto &r : node.records())
            QVERIFY(r.when >= before.addMSecs(-1) && r.when <= QDateTime::currentDateTime().addMSecs(1));
        QVERIFY(node.busy());
        QVERIFY(node.rts());
        QVERIFY(!node.dtr());
        QVERIFY(!node.ptt());

        node.clearRecords();
        QVERIFY(node.requestTexts().isEmpty());
    }

    void keepsTheNewestRecordsOnly()
    {
        // Weeks of requests must not pile up; what was asked last is always there.
        SimulatedNode node;
        EchoLink el(&node, "main");
        const qsizetype total = 3 * SimulatedNode::kRecordsKept + 7;
        for (qsizetype i = 0; i < total; ++i)
            el.SendChatText(QString::number(i));
        QVERIFY(node.records().size() <= SimulatedNode::kRecordsKept);
        QVERIFY(node.records().size() >= SimulatedNode::kRecordsKept * 9 / 10);
        const QStringList texts = node.requestTexts();
        QCOMPARE(texts.last(), QStringLiteral("SendChatText %1").arg(total - 1));
        for (qsizetype i = 1; i < texts.size(); ++i)
            QCOMPARE(texts.at(i), QStringLiteral("SendChatText %1").arg(total - texts.size() + i));
    }

    void connectChangesStateThenRaisesEventAfterTheDelay()
    {
        SimulatedNode node;
        auto *seen = watch(node, &node);
        node.submit(NodeRequest::connect("W1AW"));
        turn();
        // The default delay has not passed within one turn.
        QVERIFY(events(*seen).isEmpty());
        QVERIFY(node.state().connected.isEmpty());

        node.setAnswerDelayMs(0);
        node.submit(NodeRequest::connect("K1ABC"));
        QVERIFY(node.state().connected.isEmpty());    // not before the event loop turns
        turn();
        QCOMPARE(events(*seen), QStringList({"connected K1ABC||" + SimulatedNode::documentationAddress("K1ABC")}));
        QCOMPARE(seen->at(0).state.connected, QStringList({"K1ABC"}));
        QVERIFY(SimulatedNode::documentationAddress("K1ABC").startsWith("192.0.2."));
        QCOMPARE(SimulatedNode::documentationAddress("k1abc"), SimulatedNode::documentationAddress("K1ABC"));
    }

    void connectsThatMakeNoConnection()
    {
        SimulatedNode node;
        node.setAnswerDelayMs(0);
        node.setLocalStation("VK2XYZ-L");
        auto *seen = watch(node, &node);
        for (const QString &call : {QString(" w1aw "), QString("W1AW"), QString("LOCAL"), QString("VK2XYZ-L"),
                                    QString("   "), QString()})
            node.submit(NodeRequest::connect(call));
        turn();
        // Trimmed and in capitals; the second is a repeat; LOCAL, the node
        // itself and an empty call connect nothing.
        QCOMPARE(events(*seen), QStringList({"connected W1AW||" + SimulatedNode::documentationAddress("W1AW")}));
        QCOMPARE(node.state().connected, QStringList({"W1AW"}));
    }

    void disconnectAndDisconnectAllRaiseOneEventPerStation()
    {
        SimulatedNode node;
        node.setAnswerDelayMs(0);
        node.stationConnects("W1AW", "Hiram", "203.0.113.5");
        node.stationConnects("K1ABC", "", "203.0.113.6");
        node.stationConnects("*ECHOTEST*", "", "203.0.113.7");
        auto *seen = watch(node, &node);

        node.submit(NodeRequest::disconnect("NOBODY"));
        node.submit(NodeRequest::disconnect(" k1abc"));
        turn();
        QCOMPARE(events(*seen), QStringList({"Disconnected K1ABC"}));
        QCOMPARE(seen->at(0).state.connected, QStringList({"W1AW", "*ECHOTEST*"}));

        seen->clear();
        node.submit(NodeRequest::disconnectAll());
        turn();
        QCOMPARE(events(*seen), QStringList({"Disconnected W1AW", "Disconnected *ECHOTEST*"}));
        QCOMPARE(seen->at(0).state.connected, QStringList({"*ECHOTEST*"}));
        QVERIFY(seen->at(1).state.connected.isEmpty());

        // Nobody left: nothing more to say.
        seen->clear();
        node.submit(NodeRequest::disconnectAll());
        turn();
        QVERIFY(seen->isEmpty());
    }

    void busyTurnsCallersAwayButNotOurConnects()
    {
        SimulatedNode node;
        node.setAnswerDelayMs(0);
        QSignalSpy notes(&node, &SimulatedNode::note);
        auto *seen = watch(node, &node);
        node.submit(NodeRequest::setBusy(true));
        QVERIFY(node.busy());
        QVERIFY(!node.state().linkBusy);

        node.stationConnects("K1ABC", "Ann", "203.0.113.9");
        QCOMPARE(notes.count(), 1);
        QCOMPARE(notes.at(0).at(0).toString(), QString("K1ABC was turned away: the node is busy"));

        // A net is started by marking the node busy and then connecting.
        node.submit(NodeRequest::connect("*NET*"));
        turn();
        QCOMPARE(events(*seen), QStringList({"connected *NET*||" + SimulatedNode::documentationAddress("*NET*")}));

        node.submit(NodeRequest::setBusy(false));
        node.stationConnects("K1ABC", "Ann", "203.0.113.9");
        QCOMPARE(events(*seen).last(), QString("connected K1ABC|Ann|203.0.113.9"));
    }

    void pttKeysTheTransmitter()
    {
        SimulatedNode node;
        QSignalSpy changed(&node, &NodeBackend::stateChanged);
        node.submit(NodeRequest::setPTT(true));
        QVERIFY(node.ptt());
        QVERIFY(node.state().transmitterKeyed);
        node.submit(NodeRequest::setPTT(true));
        QCOMPARE(changed.count(), 1);     // no change, no news
        node.submit(NodeRequest::setPTT(false));
        QVERIFY(!node.state().transmitterKeyed);
        QCOMPARE(changed.count(), 2);
    }

    void morseDuration_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("wpm");
        QTest::addColumn<int>("ms");
        // One unit is 1200/wpm ms: 60 ms at 20 wpm.
        QTest::newRow("PARIS") << "PARIS" << 20 << 43 * 60;
        QTest::newRow("two words") << "PARIS PARIS" << 20 << (43 + 7 + 43) * 60;
        QTest::newRow("blank run is one gap") << "PARIS   PARIS" << 20 << (43 + 7 + 43) * 60;
        QTest::newRow("E") << "E" << 20 << 60;
        QTest::newRow("T") << "T" << 20 << 180;
        QTest::newRow("EE") << "EE" << 20 << 5 * 60;
        QTest::newRow("E E") << "E E" << 20 << 9 * 60;
        QTest::newRow("edge blanks") << "  E  " << 20 << 60;
        QTest::newRow("lower case") << "paris" << 20 << 43 * 60;
        QTest::newRow("zero") << "0" << 20 << 19 * 60;
        QTest::newRow("question mark") << "?" << 20 << 15 * 60;
        QTest::newRow("slash") << "/" << 20 << 13 * 60;
        QTest::newRow("unknown skipped") << "E#E" << 20 << 5 * 60;
        QTest::newRow("only unknown") << "#~" << 20 << 0;
        QTest::newRow("blank") << " " << 20 << 0;
        QTest::newRow("empty") << "" << 20 << 0;
        QTest::newRow("5 wpm") << "PARIS" << 5 << 43 * 240;
        QTest::newRow("13 wpm rounds") << "PARIS" << 13 << 3969;
        QTest::newRow("0 wpm is 1") << "E" << 0 << 1200;
        QTest::newRow("negative wpm is 1") << "E" << -5 << 1200;
    }
    void morseDuration()
    {
        QFETCH(QString, text);
        QFETCH(int, wpm);
        QFETCH(int, ms);
        QCOMPARE(SimulatedNode::morseDurationMs(text, wpm), ms);
    }

    void sendCWKeysForTheMorseThenUnkeys()
    {
        SimulatedNode node;
        auto *timer = node.findChild<QTimer *>();
        QVERIFY(timer);
        QVector<bool> keyed;
        connect(&node, &NodeBackend::stateChanged, &node, [&] { keyed << node.state().transmitterKeyed; });

        node.submit(NodeRequest::sendCW("PARIS"));
        QVERIFY(node.morseSending());
        QVERIFY(node.state().transmitterKeyed);
        QVERIFY(!node.ptt());
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), 2580);

        // A second text queues behind the first.
        node.setMorseWpm(10);
        node.submit(NodeRequest::sendCW("E"));
        QVERIFY2(timer->interval() >= 120 && timer->interval() <= 2580 + 120, qPrintable(QString::number(timer->interval())));

        node.finishMorse();
        QVERIFY(!node.morseSending());
        QVERIFY(!timer->isActive());
        QCOMPARE(keyed, QVector<bool>({true, false}));

        // Nothing to send keys nothing.
        node.submit(NodeRequest::sendCW(" "));
        QVERIFY(!node.morseSending());
        QCOMPARE(keyed, QVector<bool>({true, false}));
    }

    void morseLeavesAHeldPttKeyed()
    {
        SimulatedNode node;
        node.submit(NodeRequest::setPTT(true));
        node.submit(NodeRequest::sendCW("S"));
        node.finishMorse();
        QVERIFY(node.state().transmitterKeyed);

        // PTT let go during the Morse: the keyer holds the transmitter until done.
        node.submit(NodeRequest::sendCW("S"));
        node.submit(NodeRequest::setPTT(false));
        QVERIFY(node.state().transmitterKeyed);
        node.finishMorse();
        QVERIFY(!node.state().transmitterKeyed);
    }

    void sceneChangesStateBeforeItsEvent()
    {
        SimulatedNode node;
        auto *seen = watch(node, &node);

        node.localCarrier(true);
        node.internetTalking(true);
        node.localCarrier(false);
        node.internetTalking(false);
        node.dtmf("*1#");
        node.chat("W1AW>hello");
        node.closing();

        QCOMPARE(events(*seen), QStringList({"CD on", "RX on", "CD off", "RX off", "DTMF *1#", "chat W1AW>hello", "Closing"}));
        const NodeState &cdOn = seen->at(0).state;
        QVERIFY(cdOn.receivingSignal && cdOn.linkBusy && !cdOn.linkActive);
        const NodeState &rxOn = seen->at(1).state;
        QVERIFY(rxOn.receivingSignal && rxOn.linkBusy && rxOn.linkActive);
        // The internet station still talks: the link stays busy.
        const NodeState &cdOff = seen->at(2).state;
        QVERIFY(!cdOff.receivingSignal && cdOff.linkBusy && cdOff.linkActive);
        const NodeState &rxOff = seen->at(3).state;
        QVERIFY(!rxOff.receivingSignal && !rxOff.linkBusy && !rxOff.linkActive);

        node.stationConnects(" vk2abc-l ", "Link", "203.0.113.1");
        QCOMPARE(seen->last().event, QString("connected VK2ABC-L|Link|203.0.113.1"));
        QCOMPARE(seen->last().state.connected, QStringList({"VK2ABC-L"}));
        node.stationConnects("VK2ABC-L", "Link", "203.0.113.1");      // already there
        node.stationDisconnects("NOBODY");
        QCOMPARE(seen->last().event, QString("connected VK2ABC-L|Link|203.0.113.1"));
        node.stationDisconnects("vk2abc-l");
        QCOMPARE(seen->last().event, QString("Disconnected VK2ABC-L"));
        QVERIFY(seen->last().state.connected.isEmpty());
    }

    void stateSetters()
    {
        SimulatedNode node;
        QCOMPARE(node.state().localStation, QString("N0CALL"));
        node.setLocalStation(" vk2xyz ");
        QCOMPARE(node.state().localStation, QString("VK2XYZ"));
        node.setLocalStation("  ");
        QCOMPARE(node.state().localStation, QString("VK2XYZ"));
        node.setLinkActive(true);
        node.setLinkBusy(true);
        node.setReceivingSignal(true);
        node.setTransmitterKeyed(true);
        const NodeState s = node.state();
        QVERIFY(s.linkActive && s.linkBusy && s.receivingSignal && s.transmitterKeyed);
        // PTT works out the transmitter afresh.
        node.submit(NodeRequest::setPTT(false));
        QVERIFY(!node.state().transmitterKeyed);
    }

    void windowsSeeEventsUntilTheProgramEnds()
    {
        SimulatedNode node;
        node.setAnswerDelayMs(0);
        EchoLink main(&node, "main");
        EchoLink dtmf(&node, "dtmf");
        QStringList order;
        connect(&main, &EchoLink::connected, &main, [&](const QString &c) { order << "main " + c + (main.IsConnected(c) ? " yes" : " no"); });
        connect(&dtmf, &EchoLink::connected, &dtmf, [&](const QString &c) { order << "dtmf " + c; });
        main.Connect("W1AW");
        turn();
        QCOMPARE(order, QStringList({"main W1AW yes", "dtmf W1AW"}));

        QSignalSpy closing(&main, &EchoLink::Closing);
        Program::end();
        main.Connect("K1ABC");            // dropped by the instance
        node.submit(NodeRequest::connect("K2ABC"));
        node.submit(NodeRequest::sendCW("CQ"));
        node.localCarrier(true);
        node.closing();
        turn();
        QCOMPARE(closing.count(), 0);
        QCOMPARE(order.size(), 2);
        QCOMPARE(node.requestTexts(), QStringList({"Connect W1AW", "Connect K2ABC", "SendCW CQ"}));
        QCOMPARE(node.state().connected, QStringList({"W1AW", "K2ABC"}));
        node.finishMorse();
    }

    void aPendingAnswerDiesWithTheNode()
    {
        auto *node = new SimulatedNode;
        node->setAnswerDelayMs(0);
        QSignalSpy spy(node, &NodeBackend::connected);
        node->submit(NodeRequest::connect("W1AW"));
        node->submit(NodeRequest::sendCW("CQ"));
        delete node;
        turn();      // must not touch the dead node
    }

    void commands_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QString>("error");
        const QString doc = SimulatedNode::documentationAddress("W1AW");
        QTest::newRow("connect") << "connect w1aw" << true << QStringList{"connected W1AW||" + doc} << "";
        QTest::newRow("connect name addr") << "  CONNECT W1AW \"Hiram Percy\" 203.0.113.5 \n" << true
                                           << QStringList{"connected W1AW|Hiram Percy|203.0.113.5"} << "";
        QTest::newRow("connect no call") << "connect" << false << QStringList{}
                                         << "connect: give CALL [NAME] [ADDR] (quote a name with blanks)";
        QTest::newRow("connect too many") << "connect W1AW Hiram Percy 203.0.113.5" << false << QStringList{}
                                          << "connect: give CALL [NAME] [ADDR] (quote a name with blanks)";
        QTest::newRow("connect bad call") << "connect W1AW! John" << false << QStringList{}
                                          << "connect: \"W1AW!\" is not a callsign";
        QTest::newRow("open quote") << "connect W1AW \"John" << false << QStringList{}
                                    << "connect: a quote is not closed";
        QTest::newRow("disconnect not there") << "disconnect W1AW" << false << QStringList{}
                                              << "disconnect: W1AW is not connected";
        QTest::newRow("disconnect two") << "disconnect W1AW K1ABC" << false << QStringList{}
                                        << "disconnect: give one callsign";
        QTest::newRow("carrier") << "carrier on" << true << QStringList{"CD on"} << "";
        QTest::newRow("carrier word") << "carrier maybe" << false << QStringList{} << "carrier: say on or off";
        QTest::newRow("rx") << "rx OFF" << true << QStringList{"RX off"} << "";
        QTest::newRow("rx nothing") << "rx" << false << QStringList{} << "rx: say on or off";
        QTest::newRow("dtmf") << "dtmf *12a#" << true << QStringList{"DTMF *12A#"} << "";
        QTest::newRow("dtmf bad") << "dtmf 12E" << false << QStringList{} << "dtmf: give digits 0-9, A-D, * or #";
        QTest::newRow("dtmf none") << "dtmf" << false << QStringList{} << "dtmf: give digits 0-9, A-D, * or #";
        QTest::newRow("chat keeps blanks") << "chat W1AW>hello   there" << true << QStringList{"chat W1AW>hello   there"} << "";
        QTest::newRow("chat quotes") << "chat say \"hi" << true << QStringList{"chat say \"hi"} << "";
        QTest::newRow("chat empty") << "chat   " << false << QStringList{} << "chat: give the text";
        QTest::newRow("closing") << "closing" << true << QStringList{"Closing"} << "";
        QTest::newRow("closing extra") << "closing now" << false << QStringList{} << "closing takes nothing more";
        QTest::newRow("blank") << "   " << true << QStringList{} << "";
        QTest::newRow("comment") << "# carrier on" << true << QStringList{} << "";
        QTest::newRow("unknown") << "launch rockets" << false << QStringList{} << "unknown command \"launch\"; try help";
        QTest::newRow("callsign bad") << "callsign" << false << QStringList{} << "callsign: give one callsign";
        QTest::newRow("binary junk") << QString::fromUtf8("\x01\xc3\xa9 \xe2\x82\xac") << false << QStringList{}
                                     << QString::fromUtf8("unknown command \"\x01\xc3\xa9\"; try help");
    }
    void commands()
    {
        QFETCH(QString, line);
        QFETCH(bool, ok);
        QFETCH(QStringList, events);
        QFETCH(QString, error);
        SimulatedNode node;
        const NodeState before = node.state();
        auto *seen = watch(node, &node);
        QString why;
        QCOMPARE(NodeCommands::run(&node, line, &why), ok);
        QCOMPARE(why, error);
        QCOMPARE(::events(*seen), events);
        if (!ok)
            QCOMPARE(node.state(), before);
    }

    void commandsChangingState()
    {
        SimulatedNode node;
        QString why;
        QStringList out;
        QVERIFY(NodeCommands::run(&node, "callsign vk2abc-r", &why));
        QVERIFY(NodeCommands::run(&node, "busy on", &why));
        QVERIFY(NodeCommands::run(&node, "active yes", &why));
        QVERIFY(NodeCommands::run(&node, "receiving 1", &why));
        QVERIFY(NodeCommands::run(&node, "keyed true", &why));
        QVERIFY(NodeCommands::run(&node, "connect W1AW", &why));
        QVERIFY(!NodeCommands::run(&node, "connect w1aw", &why));
        QCOMPARE(why, QString("connect: W1AW is connected already"));
        node.submit(NodeRequest::setRTS(true));
        QVERIFY(NodeCommands::run(&node, "state", &why, &out));
        QCOMPARE(out, QStringList({R"(state {"connected":["W1AW"],"dtr":false,"linkActive":true,"linkBusy":true,)"
                                   R"("localStation":"VK2ABC-R","nodeBusy":false,"ptt":false,"receivingSignal":true,)"
                                   R"("rts":true,"transmitterKeyed":true})"}));
        QVERIFY(NodeCommands::run(&node, "disconnect w1aw", &why));
        QVERIFY(node.state().connected.isEmpty());

        node.submit(NodeRequest::setBusy(true));
        QVERIFY(!NodeCommands::run(&node, "connect K1ABC", &why));
        QCOMPARE(why, QString("connect: the node is marked busy and turns callers away"));

        out.clear();
        QVERIFY(NodeCommands::run(&node, "help", &why, &out));
        QCOMPARE(out, NodeCommands::helpText());
        QVERIFY(!NodeCommands::run(nullptr, "state", &why));
        QVERIFY(!NodeCommands::run(&node, "nonsense", nullptr));
    }

    // "state" answers with one line shaped like the request and event lines
    // a script reads around it: a word, then compact JSON with sorted keys.
    void stateIsOneJsonLine()
    {
        const struct {
            QStringList commands;
            QList<NodeRequest> requests;
            QString line;
        } cases[] = {
            {{}, {},
             R"(state {"connected":[],"dtr":false,"linkActive":false,"linkBusy":false,"localStation":"N0CALL",)"
             R"("nodeBusy":false,"ptt":false,"receivingSignal":false,"rts":false,"transmitterKeyed":false})"},
            {{R"(connect W1AW "John Smith")", "connect *ECHOTEST*", "callsign vk2abc-l"},
             {NodeRequest::setPTT(true), NodeRequest::setDTR(true), NodeRequest::setBusy(true)},
             R"(state {"connected":["W1AW","*ECHOTEST*"],"dtr":true,"linkActive":false,"linkBusy":false,)"
             R"("localStation":"VK2ABC-L","nodeBusy":true,"ptt":true,"receivingSignal":false,"rts":false,)"
             R"("transmitterKeyed":true})"},
            {{"receiving on", "active on", "busy on", "keyed on"}, {NodeRequest::setRTS(true)},
             R"(state {"connected":[],"dtr":false,"linkActive":true,"linkBusy":true,"localStation":"N0CALL",)"
             R"("nodeBusy":false,"ptt":false,"receivingSignal":true,"rts":true,"transmitterKeyed":true})"},
        };
        for (const auto &c : cases) {
            SimulatedNode node;
            QString why;
            for (const QString &command : c.commands)
                QVERIFY2(NodeCommands::run(&node, command, &why), qPrintable(why));
            for (const NodeRequest &r : c.requests)
                node.submit(r);
            QCoreApplication::processEvents();
            QStringList out;
            QVERIFY(NodeCommands::run(&node, "state", &why, &out));
            QCOMPARE(out, QStringList{c.line});
        }
    }
};

QTEST_GUILESS_MAIN(TestSimulatedNode)
#include "test_simulatednode.moc"
