#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include "ui/echolink.h"
#include "core/onairlog.h"
#include "ui/program.h"
#include "node/console/nodeconsole.h"
#include "support/fixture.h"

using namespace mirelva;

namespace {

template <typename T>
T *child(QWidget &w, const char *name)
{
    T *c = w.findChild<T *>(QString::fromLatin1(name));
    if (!c)
        qFatal("no child %s", name);
    return c;
}

void click(QWidget &w, const char *name) { QTest::mouseClick(child<QAbstractButton>(w, name), Qt::LeftButton); }

void type(QWidget &w, const char *name, const QString &text)
{
    auto *e = child<QLineEdit>(w, name);
    e->clear();
    QTest::keyClicks(e, text);
}

// Log lines without their "HH:mm:ss.zzz  " stamp, after checking it is there.
QStringList logTexts(const NodeConsole &console)
{
    static const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  "));
    QStringList l;
    for (const QString &line : console.logLines()) {
        if (!stamp.match(line).hasMatch())
            qFatal("unstamped log line: %s", qPrintable(line));
        l << line.mid(14);
    }
    return l;
}

} // namespace

class TestNodeConsole : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { OnAirLog::setEchoToStderr(false); }
    void init() { Program::resetForTests(); }

    void stationsConnectAndDisconnectByHand()
    {
        SimulatedNode node;
        NodeConsole console(&node);
        QCOMPARE(console.windowTitle(), QString("Mirelva node console"));
        QSignalSpy connected(&node, &NodeBackend::connected);
        QSignalSpy disconnected(&node, &NodeBackend::Disconnected);

        type(console, "stationCall", "w1aw");
        type(console, "stationName", "Hiram");
        type(console, "stationAddress", "203.0.113.5");
        click(console, "connectStation");
        QCOMPARE(connected.count(), 1);
        QCOMPARE(connected.at(0), QVariantList({"W1AW", "Hiram", "203.0.113.5"}));
        auto *list = child<QListWidget>(console, "connectedStations");
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->item(0)->text(), QString("W1AW"));

        // A second press is refused, with a reason, and raises nothing.
        click(console, "connectStation");
        QCOMPARE(connected.count(), 1);
        QCOMPARE(child<QLabel>(console, "status")->text(), QString("W1AW is connected already."));

        // No address: a documentation one is made up.
        type(console, "stationCall", "K1ABC");
        child<QLineEdit>(console, "stationAddress")->clear();
        click(console, "connectStation");
        QCOMPARE(connected.count(), 2);
        QCOMPARE(connected.at(1).at(2).toString(), SimulatedNode::documentationAddress("K1ABC"));
        QVERIFY(child<QLabel>(console, "status")->text().isEmpty());

        type(console, "stationCall", "not a call");
        click(console, "connectStation");
        QCOMPARE(connected.count(), 2);
        QCOMPARE(child<QLabel>(console, "status")->text(), QString("\"NOT A CALL\" is not a callsign."));

        // Picking a station in the list makes it the one to disconnect.
        list->setCurrentRow(0);
        QCOMPARE(child<QLineEdit>(console, "stationCall")->text(), QString("W1AW"));
        click(console, "disconnectStation");
        QCOMPARE(disconnected.count(), 1);
        QCOMPARE(disconnected.at(0).at(0).toString(), QString("W1AW"));
        QCOMPARE(node.state().connected, QStringList({"K1ABC"}));
        QCOMPARE(list->count(), 1);

        click(console, "disconnectStation");
        QCOMPARE(disconnected.count(), 1);
        QCOMPARE(child<QLabel>(console, "status")->text(), QString("W1AW is not connected."));
    }

    void switchesFireTheirEventsAndFollowTheState()
    {
        SimulatedNode node;
        NodeConsole console(&node);
        QSignalSpy cd(&node, &NodeBackend::CarrierDetect);
        QSignalSpy rx(&node, &NodeBackend::RX);

        click(console, "localCarrier");
        QCOMPARE(cd.count(), 1);
        QCOMPARE(cd.at(0).at(0).toBool(), true);
        QVERIFY(node.state().receivingSignal && node.state().linkBusy);
        QVERIFY(child<QAbstractButton>(console, "localCarrier")->isChecked());
        QVERIFY(child<QAbstractButton>(console, "linkBusy")->isChecked());
        QCOMPARE(child<QLabel>(console, "stateReceiving")->text(), QString("Receiving: on"));
        click(console, "localCarrier");
        QCOMPARE(cd.count(), 2);
        QCOMPARE(cd.at(1).at(0).toBool(), false);
        QVERIFY(!child<QAbstractButton>(console, "linkBusy")->isChecked());

        click(console, "internetTalking");
        QCOMPARE(rx.count(), 1);
        QCOMPARE(rx.at(0).at(0).toBool(), true);
        QVERIFY(node.state().linkActive);
        QVERIFY(child<QAbstractButton>(console, "linkActive")->isChecked());
        click(console, "internetTalking");
        QCOMPARE(rx.at(1).at(0).toBool(), false);

        click(console, "linkBusy");
        QVERIFY(node.state().linkBusy);
        QCOMPARE(child<QLabel>(console, "stateLinkBusy")->text(), QString("Link busy: on"));
        click(console, "linkActive");
        QVERIFY(node.state().linkActive);
        click(console, "linkBusy");
        QVERIFY(!node.state().linkBusy);

        // State set from elsewhere shows on the buttons too.
        node.localCarrier(true);
        QVERIFY(child<QAbstractButton>(console, "localCarrier")->isChecked());
    }

    void dtmfChatCallsignAndClosing()
    {
        SimulatedNode node;
        NodeConsole console(&node);
        QSignalSpy dtmf(&node, &NodeBackend::DTMFString);
        QSignalSpy chat(&node, &NodeBackend::ChatTextReceived);
        QSignalSpy closing(&node, &NodeBackend::Closing);

        // Enter in the DTMF box sends it.
        type(console, "dtmfDigits", "*12#");
        QTest::keyClick(child<QLineEdit>(console, "dtmfDigits"), Qt::Key_Return);
        QCOMPARE(dtmf.count(), 1);
        QCOMPARE(dtmf.at(0).at(0).toString(), QString("*12#"));
        click(console, "sendDtmf");
        QCOMPARE(dtmf.count(), 2);
        type(console, "dtmfDigits", "12x");
        click(console, "sendDtmf");
        QCOMPARE(dtmf.count(), 2);
        QCOMPARE(child<QLabel>(console, "status")->text(), QString("DTMF takes the digits 0-9, A-D, * and #."));

        type(console, "chatText", "W1AW>hello  all");
        click(console, "sendChat");
        QCOMPARE(chat.count(), 1);
        QCOMPARE(chat.at(0).at(0).toString(), QString("W1AW>hello  all"));
        QVERIFY(child<QLineEdit>(console, "chatText")->text().isEmpty());
        click(console, "sendChat");
        QCOMPARE(chat.count(), 1);

        type(console, "ownCallsign", "vk2abc-l");
        click(console, "setCallsign");
        QCOMPARE(node.state().localStation, QString("VK2ABC-L"));
        QCOMPARE(child<QLabel>(console, "stateCallsign")->text(), QString("Own callsign: VK2ABC-L"));
        type(console, "ownCallsign", "  ");
        click(console, "setCallsign");
        QCOMPARE(node.state().localStation, QString("VK2ABC-L"));

        click(console, "nodeClosing");
        QCOMPARE(closing.count(), 1);
    }

    void logShowsEachRequestOnceWithWhatWentOnAir()
    {
        SimulatedNode node;
        node.setAnswerDelayMs(0);
        NodeConsole console(&node);
        EchoLink el(&node, "main");

        // The voice tells the node and the on-air log, as the program wires it.
        test::RecordingVoice voice;
        tellNodeOfSpeech(voice, node);

        el.SetPTT(true);
        voice.Speak("The Time Is 12 o'clock", SpeechVoice::SVSFPurgeBeforeSpeak);
        el.SetPTT(false);
        voice.Speak("Say Call Now", SpeechVoice::SVSFlagsAsync);
        el.SendCW(false, "VK2ABC");
        OnAirLog::note("link idle");
        el.Connect("W1AW");
        QCoreApplication::processEvents();

        QCOMPARE(logTexts(console),
                 QStringList({"SetPTT on", "on air speech: The Time Is 12 o'clock", "SetPTT off",
                              "Speech local: Say Call Now", "on air cw: VK2ABC",
                              "SendCW VK2ABC", "link idle", "Connect W1AW",
                              "event connected W1AW, name \"\", address " + SimulatedNode::documentationAddress("W1AW")}));
        QCOMPARE(child<QLabel>(console, "statePtt")->text(), QString("PTT: off"));
        QCOMPARE(child<QLabel>(console, "stateKeyed")->text(), QString("Transmitter: keyed"));
        node.finishMorse();
        QCOMPARE(child<QLabel>(console, "stateKeyed")->text(), QString("Transmitter: not keyed"));
        el.SetRTS(true);
        QCOMPARE(child<QLabel>(console, "stateRts")->text(), QString("RTS: on"));
    }

    void logStartsWithWhatWasAskedBeforeItOpened()
    {
        SimulatedNode node;
        EchoLink el(&node, "main");
        el.SetPTT(false);
        el.SetDTR(false);
        NodeConsole console(&node);
        el.SetRTS(false);
        QCOMPARE(logTexts(console), QStringList({"SetPTT off", "SetDTR off", "SetRTS off"}));
    }

    void logIsBounded()
    {
        SimulatedNode node;
        NodeConsole console(&node);
        for (int i = 0; i < NodeConsole::kMaxLogLines + 50; ++i)
            OnAirLog::note(QString("note %1").arg(i));
        const QStringList l = logTexts(console);
        QCOMPARE(l.size(), NodeConsole::kMaxLogLines);
        QCOMPARE(l.first(), QString("note 50"));
        QCOMPARE(l.last(), QString("note %1").arg(NodeConsole::kMaxLogLines + 49));
    }

    void commandLine()
    {
        SimulatedNode node;
        NodeConsole console(&node);
        QSignalSpy connected(&node, &NodeBackend::connected);
        QString why;
        QVERIFY(console.runCommand("connect W1AW \"Hiram Percy\"", &why));
        QCOMPARE(connected.count(), 1);
        QCOMPARE(connected.at(0).at(1).toString(), QString("Hiram Percy"));

        QVERIFY(!console.runCommand("carrier sideways", &why));
        QCOMPARE(why, QString("carrier: say on or off"));
        QCOMPARE(child<QLabel>(console, "status")->text(), why);

        // Typed into the box: Enter runs it, and a good line clears the box.
        type(console, "command", "state");
        QTest::keyClick(child<QLineEdit>(console, "command"), Qt::Key_Return);
        QVERIFY(child<QLineEdit>(console, "command")->text().isEmpty());
        QVERIFY(child<QLabel>(console, "status")->text().isEmpty());
        // The state is one line in the log, as on mirelva-node's output.
        QCOMPARE(logTexts(console).filter(QRegularExpression(R"(^state \{"connected":\["W1AW"\],.*\}$)")).size(), 1);
        type(console, "command", "frobnicate");
        click(console, "runCommand");
        QCOMPARE(child<QLineEdit>(console, "command")->text(), QString("frobnicate"));
        QCOMPARE(child<QLabel>(console, "status")->text(), QString("unknown command \"frobnicate\"; try help"));
    }

    void everyControlIsNamed()
    {
        SimulatedNode node;
        NodeConsole console(&node);
        const auto widgets = console.findChildren<QWidget *>();
        int controls = 0;
        for (QWidget *w : widgets) {
            if (!qobject_cast<QAbstractButton *>(w) && !qobject_cast<QLineEdit *>(w) && !qobject_cast<QListWidget *>(w))
                continue;
            ++controls;
            QVERIFY2(!w->accessibleName().trimmed().isEmpty(), qPrintable(w->objectName()));
        }
        QVERIFY(controls >= 18);
        QCOMPARE(child<QLineEdit>(console, "dtmfDigits")->accessibleName(), QString("DTMF"));
        // Tab goes from each box to its own button.
        QCOMPARE(child<QLineEdit>(console, "dtmfDigits")->nextInFocusChain(), child<QWidget>(console, "sendDtmf"));
        QCOMPARE(child<QLineEdit>(console, "chatText")->nextInFocusChain(), child<QWidget>(console, "sendChat"));
    }

    // The rule itself is tested in test_controls; here the console follows
    // it with the frames the window system gives both windows.
    void placedBesideAWindowOnItsScreen()
    {
        QWidget main;
        main.resize(200, 150);
        main.move(0, 0);
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        const QRect avail = main.screen()->availableGeometry();
        const struct {
            QPoint mainAt;
            bool right;
        } cases[] = {
            {{0, 0}, true},
            // No room on the right but room on the left.
            {{avail.right() + 1 - main.frameGeometry().width(), 0}, false},
        };
        for (const auto &c : cases) {
            main.move(c.mainAt);
            SimulatedNode node;
            NodeConsole console(&node);
            console.placeBeside(&main);
            console.show();
            QVERIFY(QTest::qWaitForWindowExposed(&console));
            const QRect m = main.frameGeometry();
            QTRY_COMPARE(console.frameGeometry().top(), m.top());
            const QRect f = console.frameGeometry();
            QCOMPARE(c.right ? f.left() : f.right(), c.right ? m.right() + 1 : m.left() - 1);
            QVERIFY(!f.intersects(m));
            QVERIFY(avail.contains(f));
        }

        // Wider than the room beside it: narrowed to the room, on the screen.
        SimulatedNode node;
        NodeConsole console(&node);
        console.resize(avail.width() - 50, avail.height() - 50);
        console.placeBeside(&main);
        QVERIFY(console.pos().x() >= avail.left());
        QVERIFY(console.pos().x() + console.width() <= avail.right() + 1);
        const QPoint before = console.pos();
        console.placeBeside(nullptr);     // nothing to go by: stays put
        QCOMPARE(console.pos(), before);
    }

    void survivesItsNode()
    {
        auto *node = new SimulatedNode;
        NodeConsole console(node);
        delete node;
        click(console, "connectStation");
        click(console, "localCarrier");
        QString why;
        QVERIFY(!console.runCommand("carrier on", &why));
        QCOMPARE(why, QString("no node to drive"));
    }
};

QTEST_MAIN(TestNodeConsole)
#include "test_nodeconsole.moc"
