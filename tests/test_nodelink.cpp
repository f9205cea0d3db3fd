// The node link from both ends: Mirelva's client against a scripted node on a
// real socket (exact lines both ways), and mirelva-node's server serving the
// simulated node to one or several clients.

#include <grp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <QDirIterator>
#include <QLocalServer>
#include <QRegularExpression>
#include <QLocalSocket>
#include <QPointer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include "ui/echolink.h"
#include "core/onairlog.h"
#include "ui/program.h"
#include "node/client/nodefactory.h"
#include "node/client/nodelink.h"
#include "node/link/nodeprotocol.h"
#include "node/link/nodeserver.h"
#include "node/link/nodetoken.h"
#include "node/simulated/simulatednode.h"
#include "support/fixture.h"

using namespace mirelva;
using namespace mirelva::nodelink;

namespace {

const QByteArray kHello = "{\"op\":\"hello\",\"client\":\"mirelva\",\"version\":\"3.0.3\",\"protocol\":3}";

// A node the test scripts line by line.
class ScriptedNode : public QObject {
public:
    ScriptedNode()
    {
        server.listen(dir.filePath("node.sock"));
        connect(&server, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket *s = server.nextPendingConnection()) {
                ++connections;
                socket = s;
                received.clear();
                connect(s, &QLocalSocket::readyRead, this, [this, s] {
                    received += s->readAll();
                    if (answerHello && received.contains(kHello + '\n') && !greeted) {
                        greeted = true;
                        s->write(stateLine);
                    }
                });
            }
        });
    }
    NodeAddress address() const { return *NodeAddress::parse("unix:" + dir.filePath("node.sock")); }
    QList<QByteArray> lines() const
    {
        QList<QByteArray> l = received.split('\n');
        l.removeLast();   // after the last newline
        return l;
    }
    void send(const QByteArray &bytes)
    {
        socket->write(bytes);
        socket->flush();
    }
    void hangUp()
    {
        socket->abort();
        socket = nullptr;
        greeted = false;
    }

    QTemporaryDir dir;
    QLocalServer server;
    QPointer<QLocalSocket> socket;
    QByteArray received;
    int connections = 0;
    bool answerHello = false;
    bool greeted = false;
    QByteArray stateLine = "{\"event\":\"state\",\"localStation\":\"VK2ABC\"}\n";
};

// The on-air log as the test sees it: texts without their time stamps.
class LogCapture {
public:
    LogCapture()
    {
        m_c = QObject::connect(&OnAirLog::instance(), &OnAirLog::line, [this](const QString &l) { lines << l.mid(24); });
    }
    ~LogCapture() { QObject::disconnect(m_c); }
    QStringList matching(const QString &start) const
    {
        QStringList l;
        for (const QString &s : lines)
            if (s.startsWith(start))
                l << s;
        return l;
    }
    QStringList lines;

private:
    QMetaObject::Connection m_c;
};

// A handler that holds the one thread the way a keyed announcement does:
// blocked, but letting waiting events run now and then.
void blockLettingEventsRun()
{
    for (int i = 0; i < 40; ++i) {
        Program::doEvents();
        QThread::msleep(2);
    }
}

// Every event an EchoLink instance raises, as one short text each.
void recordEvents(EchoLink &el, QStringList &seen)
{
    QObject::connect(&el, &EchoLink::connected, &el, [&seen](const QString &c) { seen << "connected " + c; });
    QObject::connect(&el, &EchoLink::Disconnected, &el, [&seen](const QString &c) { seen << "disconnected " + c; });
    QObject::connect(&el, &EchoLink::RX, &el, [&seen](bool b) { seen << QStringLiteral("rx %1").arg(b); });
    QObject::connect(&el, &EchoLink::CarrierDetect, &el, [&seen](bool b) { seen << QStringLiteral("cd %1").arg(b); });
    QObject::connect(&el, &EchoLink::DTMFString, &el, [&seen](const QString &d) { seen << "dtmf " + d; });
    QObject::connect(&el, &EchoLink::ChatTextReceived, &el, [&seen](const QString &t) {
        seen << QStringLiteral("chat %1 %2").arg(t.size()).arg(t.left(8));
    });
    QObject::connect(&el, &EchoLink::Closing, &el, [&seen] { seen << "closing"; });
}

QByteArray chatLine(const QString &text)
{
    return "{\"event\":\"chat\",\"text\":\"" + text.toUtf8() + "\"}\n";
}

} // namespace

class TestNodeLink : public QObject {
    Q_OBJECT

    // Brings a client online against the scripted node.
    void bringUp(ScriptedNode &node, NodeLinkClient &client)
    {
        client.start();
        QTRY_VERIFY_WITH_TIMEOUT(node.socket && node.received.endsWith('\n'), 3000);
        node.send(node.stateLine);
        QTRY_VERIFY_WITH_TIMEOUT(client.online(), 3000);
    }

private slots:
    void initTestCase() { OnAirLog::setEchoToStderr(false); }
    void init() { Program::resetForTests(); }

    void helloFirstThenStateMakesItOnline()
    {
        ScriptedNode node;
        NodeLinkClient client(node.address());
        QCOMPARE(client.describe(), "unix:" + node.dir.filePath("node.sock"));
        QList<bool> onlineSeenOnStateChange;
        QSignalSpy online(&client, &NodeBackend::onlineChanged);
        connect(&client, &NodeBackend::stateChanged, this, [&] { onlineSeenOnStateChange << client.online(); });
        client.start();
        QTRY_COMPARE_WITH_TIMEOUT(node.lines(), QList<QByteArray>{kHello}, 3000);
        QVERIFY(!client.online());

        node.send("{\"event\":\"state\",\"localStation\":\"VK2ABC\",\"connected\":[\"W1AW\"],\"linkBusy\":true}\n");
        QTRY_VERIFY_WITH_TIMEOUT(client.online(), 3000);
        QCOMPARE(online.count(), 1);
        QCOMPARE(online.at(0).at(0).toBool(), true);
        // Whoever redraws on the state change already sees the link up.
        QCOMPARE(onlineSeenOnStateChange, QList<bool>{true});
        EchoLink el(&client, "main");
        QCOMPARE(el.LocalStation(), QString("VK2ABC"));
        QVERIFY(el.IsConnected("W1AW"));
        QVERIFY(!el.IsConnected("W1AX"));
        QVERIFY(el.LinkBusy());

        // A partial state changes only what it names.
        node.send("{\"event\":\"state\",\"transmitterKeyed\":true}\n");
        QTRY_VERIFY_WITH_TIMEOUT(el.TransmitterKeyed(), 3000);
        QCOMPARE(el.LocalStation(), QString("VK2ABC"));
        QVERIFY(el.IsConnected("W1AW"));
        QVERIFY(el.LinkBusy());
        QCOMPARE(online.count(), 1);
    }

    void everyEventReachesEveryInstanceAfterItsState()
    {
        ScriptedNode node;
        NodeLinkClient client(node.address());
        bringUp(node, client);
        EchoLink mainEl(&client, "main"), dtmfEl(&client, "dtmf");
        QStringList seen;
        for (EchoLink *el : {&mainEl, &dtmfEl}) {
            const QString who = el->objectName().section('.', 0, 0);
            connect(el, &EchoLink::connected, this, [&seen, who, el](const QString &c, const QString &n, const QString &a) {
                // The state line before the event is already in the mirror.
                seen << QStringLiteral("%1 connected %2|%3|%4 %5").arg(who, c, n, a).arg(el->IsConnected(c));
            });
            connect(el, &EchoLink::Disconnected, this, [&seen, who](const QString &c) { seen << who + " Disconnected " + c; });
            connect(el, &EchoLink::RX, this, [&seen, who, el](bool b) {
                seen << QStringLiteral("%1 RX %2 busy %3").arg(who).arg(b).arg(el->LinkBusy());
            });
            connect(el, &EchoLink::CarrierDetect, this, [&seen, who](bool b) { seen << QStringLiteral("%1 CD %2").arg(who).arg(b); });
            connect(el, &EchoLink::DTMFString, this, [&seen, who](const QString &d) { seen << who + " DTMF " + d; });
            connect(el, &EchoLink::ChatTextReceived, this, [&seen, who](const QString &t) { seen << who + " chat " + t; });
            connect(el, &EchoLink::Closing, this, [&seen, who] { seen << who + " Closing"; });
        }
        node.send("{\"event\":\"state\",\"connected\":[\"W1AW\"]}\n"
                  "{\"event\":\"connected\",\"call\":\"W1AW\",\"name\":\"John\",\"addr\":\"203.0.113.5\"}\n"
                  "{\"event\":\"state\",\"linkBusy\":true}\n{\"event\":\"rx\",\"on\":true}\n"
                  "{\"event\":\"carrierDetect\",\"on\":false}\n{\"event\":\"dtmf\",\"digits\":\"*1*\"}\n"
                  "{\"event\":\"chat\",\"text\":\"W1AW>hi\"}\n{\"event\":\"disconnected\",\"call\":\"W1AW\"}\n"
                  "{\"event\":\"closing\"}\n");
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 14, 3000);
        QCOMPARE(seen, (QStringList{"main connected W1AW|John|203.0.113.5 1", "dtmf connected W1AW|John|203.0.113.5 1",
                                    "main RX 1 busy 1", "dtmf RX 1 busy 1", "main CD 0", "dtmf CD 0",
                                    "main DTMF *1*", "dtmf DTMF *1*", "main chat W1AW>hi", "dtmf chat W1AW>hi",
                                    "main Disconnected W1AW", "dtmf Disconnected W1AW", "main Closing",
                                    "dtmf Closing"}));
    }

    void requestsGoOutAsLinesOnlyWhileOnline()
    {
        ScriptedNode node;
        NodeLinkClient client(node.address());
        LogCapture log;
        EchoLink el(&client, "main");
        client.start();
        QTRY_COMPARE_WITH_TIMEOUT(node.lines().size(), 1, 3000);
        // Connected but no state yet: dropped, each with its own log line.
        el.SetPTT(true);
        el.SendCW(false, "VK2ABC");
        QCOMPARE(log.matching("node offline"),
                 (QStringList{"node offline, dropped: SetPTT on", "node offline, dropped: SendCW VK2ABC"}));
        node.send(node.stateLine);
        QTRY_VERIFY_WITH_TIMEOUT(client.online(), 3000);

        el.SetPTT(true);
        el.Connect("W1AW");
        el.Disconnect("W1AW");
        el.DisconnectAll();
        el.SendCW(false, "VK2ABC");
        el.SetBusy(true);
        el.SetRTS(true);
        el.SetDTR(false);
        el.SendChatText("Hello \"all\"");
        el.SetPTT(false);
        // Written at once: the lines are there without another turn of our loop.
        QTRY_COMPARE_WITH_TIMEOUT(node.lines().size(), 11, 3000);
        QCOMPARE(node.lines(), (QList<QByteArray>{kHello,
                                                  "{\"op\":\"SetPTT\",\"on\":true}",
                                                  "{\"op\":\"Connect\",\"call\":\"W1AW\"}",
                                                  "{\"op\":\"Disconnect\",\"call\":\"W1AW\"}",
                                                  "{\"op\":\"DisconnectAll\"}",
                                                  "{\"op\":\"SendCW\",\"text\":\"VK2ABC\"}",
                                                  "{\"op\":\"SetBusy\",\"on\":true}",
                                                  "{\"op\":\"SetRTS\",\"on\":true}",
                                                  "{\"op\":\"SetDTR\",\"on\":false}",
                                                  "{\"op\":\"SendChatText\",\"text\":\"Hello \\\"all\\\"\"}",
                                                  "{\"op\":\"SetPTT\",\"on\":false}"}));
        QCOMPARE(log.matching("node offline").size(), 2);
    }

    void releasesAskedForWhileOfflineAreMadeOnceTheNodeHears()
    {
        ScriptedNode node;
        NodeLinkClient client(node.address());
        LogCapture log;
        EchoLink el(&client, "main");
        // The start-up releases, then a key-up, all while the node is not there yet.
        el.SetPTT(false);
        el.SetDTR(false);
        el.SetRTS(false);
        el.SetRTS(true);
        el.SetPTT(true);
        el.SetPTT(false);
        bringUp(node, client);
        QTRY_COMPARE_WITH_TIMEOUT(node.lines().size(), 3, 3000);
        QTest::qWait(20);
        // RTS was last raised: raising it late is not ours to repeat.
        QCOMPARE(node.lines(), (QList<QByteArray>{kHello, "{\"op\":\"SetPTT\",\"on\":false}",
                                                  "{\"op\":\"SetDTR\",\"on\":false}"}));
        QCOMPARE(log.matching("node online, again"),
                 (QStringList{"node online, again: SetPTT off", "node online, again: SetDTR off"}));
    }

    void spokenTextsAreToldToTheNode()
    {
        ScriptedNode node;
        NodeLinkClient client(node.address());
        bringUp(node, client);
        test::RecordingVoice voice;
        tellNodeOfSpeech(voice, client);
        EchoLink el(&client, "main");
        el.SetPTT(true);
        voice.Speak("The Time Is 3 O Clock", SpeechVoice::SVSFPurgeBeforeSpeak);
        el.SetPTT(false);
        voice.Speak("Not keyed", SpeechVoice::SVSFlagsAsync);
        QTRY_COMPARE_WITH_TIMEOUT(node.lines().size(), 5, 3000);
        QCOMPARE(node.lines().mid(1), (QList<QByteArray>{
                                          "{\"op\":\"SetPTT\",\"on\":true}",
                                          "{\"op\":\"Speech\",\"keyed\":true,\"text\":\"The Time Is 3 O Clock\"}",
                                          "{\"op\":\"SetPTT\",\"on\":false}",
                                          "{\"op\":\"Speech\",\"keyed\":false,\"text\":\"Not keyed\"}"}));
    }

    void badLinesAreDroppedOneLogLineEachAndTheLinkStays()
    {
        ScriptedNode node;
        NodeLinkClient client(node.address());
        bringUp(node, client);
        LogCapture log;
        QSignalSpy down(&client, &NodeLinkClient::linkDown);
        QStringList digits;
        connect(&client, &NodeBackend::DTMFString, this, [&](const QString &d) { digits << d; });
        node.send("not json\n"
                  "[1,2]\n"
                  "{\"event\":\"rx\",\"on\":\"yes\"}\n"
                  "{\"event\":\"state\",\"localStation\":42,\"linkBusy\":true}\n"
                  "{\"event\":\"sunrise\"}\n{\"event\":\"sunrise\",\"x\":1}\n{\"event\":\"sunset\"}\n"
                  "\n"
                  "{\"event\":\"dtmf\",\"digits\":\"1\",\"future\":true}\n");
        // The overlong line comes in pieces, as it would from a real node.
        const QByteArray big = "{\"event\":\"chat\",\"text\":\"" + QByteArray(kMaxLineBytes, 'x') + "\"}\n";
        for (int at = 0; at < big.size(); at += 5000)
            node.send(big.mid(at, 5000));
        node.send("{\"event\":\"dtmf\",\"digits\":\"2\"}\n");
        QTRY_COMPARE_WITH_TIMEOUT(digits, (QStringList{"1", "2"}), 3000);
        QCOMPARE(log.lines, (QStringList{
                                "node link: dropped a line from the node: not JSON (illegal value at byte 1): not json",
                                "node link: dropped a line from the node: not a JSON object: [1,2]",
                                "node link: dropped a line from the node: event \"rx\": field \"on\" not true or "
                                "false: {\"event\":\"rx\",\"on\":\"yes\"}",
                                "node link: dropped a line from the node: event \"state\": field \"localStation\" not "
                                "a string: {\"event\":\"state\",\"localStation\":42,\"linkBusy\":true}",
                                "node link: ignoring unknown event \"sunrise\"",
                                "node link: ignoring unknown event \"sunset\"",
                                "node link: dropped a line from the node: longer than 65536 bytes"}));
        // A bad state line changes nothing, not even its good fields.
        QVERIFY(!client.state().linkBusy);
        QCOMPARE(client.state().localStation, QString("VK2ABC"));
        QVERIFY(client.online());
        QCOMPARE(down.count(), 0);
        QCOMPARE(node.connections, 1);
    }

    void aDroppedLinkEmptiesTheMirrorAndComesBackByItself()
    {
        ScriptedNode node;
        node.answerHello = true;
        NodeLinkClient client(node.address());
        client.setRetryPauses(10, 40);
        LogCapture log;
        EchoLink el(&client, "main");
        QSignalSpy online(&client, &NodeBackend::onlineChanged);
        client.start();
        QTRY_VERIFY_WITH_TIMEOUT(client.online(), 3000);
        QCOMPARE(el.LocalStation(), QString("VK2ABC"));

        node.hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(!client.online(), 3000);
        QCOMPARE(el.LocalStation(), QString());
        QCOMPARE(online.count(), 2);
        QCOMPARE(online.at(1).at(0).toBool(), false);
        // Back by itself, with a new hello, and the mirror filled again.
        node.stateLine = "{\"event\":\"state\",\"localStation\":\"VK2XYZ\"}\n";
        QTRY_VERIFY_WITH_TIMEOUT(client.online(), 3000);
        QCOMPARE(node.connections, 2);
        QCOMPARE(node.lines(), QList<QByteArray>{kHello});
        QCOMPARE(el.LocalStation(), QString("VK2XYZ"));
        QCOMPARE(online.count(), 3);
        QVERIFY(log.matching("node link: lost ").size() == 1);
        QVERIFY(!Program::ended());
    }

    void retryPausesGrowToTheirCeilingAndResetOnceOnline()
    {
        QTemporaryDir dir;
        const NodeAddress where = *NodeAddress::parse("unix:" + dir.filePath("later.sock"));
        NodeLinkClient fresh(where);
        QCOMPARE(fresh.nextRetryPauseMs(), 100);

        NodeLinkClient client(where);
        client.setRetryPauses(5, 40);
        LogCapture log;
        QList<int> pauses;
        QTimer sample;
        connect(&sample, &QTimer::timeout, this, [&] {
            if (pauses.isEmpty() || pauses.last() != client.nextRetryPauseMs())
                pauses << client.nextRetryPauseMs();
        });
        sample.start(1);
        client.start();
        QTRY_VERIFY_WITH_TIMEOUT(pauses.contains(40), 3000);
        QTest::qWait(150);
        QCOMPARE(pauses.mid(pauses.indexOf(10)), (QList<int>{10, 20, 40}));
        // One line for the whole outage, however many attempts it took.
        QCOMPARE(log.matching("node link: cannot reach").size(), 1);

        QLocalServer server;
        QVERIFY(server.listen(dir.filePath("later.sock")));
        QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 3000);
        QLocalSocket *s = server.nextPendingConnection();
        s->write("{\"event\":\"state\",\"localStation\":\"VK2ABC\"}\n");
        QTRY_VERIFY_WITH_TIMEOUT(client.online(), 3000);
        QCOMPARE(client.nextRetryPauseMs(), 5);
        QCOMPARE(log.matching("node link: connected to ").size(), 1);
    }

    // Closing: the handler releases the transmitter and ends the program; the
    // three requests are on the socket although our loop never turns again,
    // even when they sit behind a lot of unread data.
    void lastRequestsReachTheNodeWhenTheProgramEnds()
    {
        QTemporaryDir dir;
        const QByteArray path = QFile::encodeName(dir.filePath("raw.sock"));
        const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un sa = {};
        sa.sun_family = AF_UNIX;
        qstrncpy(sa.sun_path, path.constData(), sizeof sa.sun_path);
        QCOMPARE(::bind(listener, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
        QCOMPARE(::listen(listener, 1), 0);
        std::atomic<bool> greet{false};
        QByteArray got;
        // The node side in a thread of its own, reading only after a pause so
        // that the client's socket buffer is full when it is destroyed.
        std::thread nodeSide([&] {
            const int fd = ::accept(listener, nullptr, nullptr);
            const char state[] = "{\"event\":\"state\",\"localStation\":\"VK2ABC\"}\n{\"event\":\"closing\"}\n";
            while (!greet)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            [[maybe_unused]] ssize_t w = ::write(fd, state, sizeof state - 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            char buf[65536];
            ssize_t n;
            while ((n = ::read(fd, buf, sizeof buf)) > 0)
                got.append(buf, int(n));
            ::close(fd);
        });

        auto *client = new NodeLinkClient(*NodeAddress::parse("unix:" + dir.filePath("raw.sock")));
        EchoLink el(client, "main");
        const QString filler(1000, QChar('f'));
        connect(client, &NodeBackend::onlineChanged, this, [&](bool up) {
            // Far more than a socket buffer holds.
            for (int i = 0; up && i < 2000; ++i)
                el.SendChatText(filler);
        });
        bool ended = false;
        connect(&el, &EchoLink::Closing, this, [&] {
            el.SetPTT(false);
            el.SetDTR(false);
            el.SetRTS(false);
            Program::end();
            ended = true;
        });
        client->start();
        greet = true;
        QTRY_VERIFY_WITH_TIMEOUT(ended, 3000);
        delete client;   // as at the end of main()
        nodeSide.join();
        ::close(listener);
        QList<QByteArray> lines = got.split('\n');
        QCOMPARE(lines.takeLast(), QByteArray());
        QCOMPARE(lines.size(), 1 + 2000 + 3);
        QCOMPARE(lines.mid(lines.size() - 3), (QList<QByteArray>{"{\"op\":\"SetPTT\",\"on\":false}",
                                                                "{\"op\":\"SetDTR\",\"on\":false}",
                                                                "{\"op\":\"SetRTS\",\"on\":false}"}));
    }

    void tcpOnLoopback()
    {
        QTemporaryDir dir;
        const std::optional<QByteArray> token = loadOrCreateToken(dir.filePath("t"), nullptr);
        QVERIFY(token);
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        NodeLinkClient client(*NodeAddress::parse(QStringLiteral("tcp:127.0.0.1:%1").arg(server.serverPort())));
        client.setTokenFile(dir.filePath("t"));
        client.start();
        QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 3000);
        QTcpSocket *s = server.nextPendingConnection();
        QTRY_VERIFY_WITH_TIMEOUT(s->canReadLine(), 3000);
        QCOMPARE(s->readLine(), kHello.chopped(1) + ",\"token\":\"" + *token + "\"}\n");
        s->write("{\"event\":\"state\",\"localStation\":\"VK2ABC\"}\n");
        QTRY_VERIFY_WITH_TIMEOUT(client.online(), 3000);
        client.submit(NodeRequest::setPTT(true));
        QTRY_VERIFY_WITH_TIMEOUT(s->canReadLine(), 3000);
        QCOMPARE(s->readLine(), QByteArray("{\"op\":\"SetPTT\",\"on\":true}\n"));
    }

    void factoryAndFirstStateWait()
    {
        test::TempSettings settings;
        auto builtIn = makeNodeBackend(NodeLinkConfig{});
        QVERIFY(qobject_cast<SimulatedNode *>(builtIn.get()));
        QVERIFY(waitForFirstState(builtIn.get(), 10));

        NodeLinkConfig bad;
        bad.address = "serial:/dev/ttyS0";
        QVERIFY(qobject_cast<SimulatedNode *>(makeNodeBackend(bad).get()));

        // Nobody there: the wait gives up at its time and start-up goes on.
        QTemporaryDir dir;
        NodeLinkConfig absent;
        absent.address = "unix:" + dir.filePath("none.sock");
        auto link = makeNodeBackend(absent);
        QVERIFY(qobject_cast<NodeLinkClient *>(link.get()));
        QCOMPARE(link->describe(), absent.address);
        QElapsedTimer t;
        t.start();
        QVERIFY(!waitForFirstState(link.get(), 200));
        QVERIFY(t.elapsed() >= 190);
        QVERIFY(!link->online());
        QCOMPARE(link->state(), NodeState());

        // A node that answers: the wait ends with its state.
        ScriptedNode node;
        node.answerHello = true;
        NodeLinkConfig present;
        present.address = node.address().toString();
        auto up = makeNodeBackend(present);
        QVERIFY(waitForFirstState(up.get(), 3000));
        QCOMPARE(up->state().localStation, QString("VK2ABC"));
    }

    // ---- never wedged ---------------------------------------------------------

    // While a connect announcement holds the thread, the node sends more and
    // then nothing: everything is still handled once the announcement ends.
    void linesSentDuringAnAnnouncementAreHandledWithoutMoreData_data()
    {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<bool>("hangUp");
        QTest::addColumn<QStringList>("expected");
        const QString longText(60000, QChar('L'));
        QTest::newRow("one long chat line") << chatLine(longText) + "{\"event\":\"closing\"}\n" << false
                                            << QStringList{"connected W1AW", "chat 60000 LLLLLLLL", "closing"};
        QByteArray many;
        QStringList manySeen{"connected W1AW"};
        for (int i = 0; i < 300; ++i) {
            many += "{\"event\":\"dtmf\",\"digits\":\"" + QByteArray::number(i) + "\"}\n";
            manySeen << QStringLiteral("dtmf %1").arg(i);
        }
        QTest::newRow("many short lines") << many + "{\"event\":\"closing\"}\n" << false
                                          << manySeen + QStringList{"closing"};
        QTest::newRow("closing, then the node hangs up")
            << chatLine("bye") + "{\"event\":\"closing\"}\n" << true
            << QStringList{"connected W1AW", "chat 3 bye", "closing"};
    }
    void linesSentDuringAnAnnouncementAreHandledWithoutMoreData()
    {
        QFETCH(QByteArray, lines);
        QFETCH(bool, hangUp);
        QFETCH(QStringList, expected);
        ScriptedNode node;
        NodeLinkClient client(node.address());
        bringUp(node, client);
        EchoLink el(&client, "main");
        QStringList seen;
        recordEvents(el, seen);
        connect(&el, &EchoLink::connected, this, [&] {
            node.send(lines);
            if (hangUp)
                node.socket->disconnectFromServer();
            blockLettingEventsRun();
        });
        node.send("{\"event\":\"connected\",\"call\":\"W1AW\"}\n");
        QTRY_COMPARE_WITH_TIMEOUT(seen, expected, 3000);
    }

    // A seeded storm of lines, good and bad, sent in bursts while handlers
    // hold the thread: every good line is handled once, in order, and every
    // bad one dropped with its log line.
    void aStormDuringAnnouncementsIsHandledInOrder()
    {
        ScriptedNode node;
        NodeLinkClient client(node.address());
        bringUp(node, client);
        LogCapture log;
        EchoLink el(&client, "main");
        QStringList seen;
        recordEvents(el, seen);

        QRandomGenerator rng(8);
        QList<QByteArray> bursts(1);
        QStringList expected;
        int bad = 0;
        for (int i = 0; i < 3000; ++i) {
            QByteArray &burst = bursts.last();
            switch (rng.bounded(8)) {
            case 0: {
                const QString call = QStringLiteral("K%1").arg(i);
                burst += "{\"event\":\"state\",\"connected\":[\"" + call.toUtf8() + "\"]}\n";
                burst += "{\"event\":\"connected\",\"call\":\"" + call.toUtf8() + "\"}\n";
                expected << "connected " + call;
                // The next lines go out while this connect is announced.
                bursts.append(QByteArray());
                break;
            }
            case 1: {
                const QString text(int(rng.bounded(1, 4000)), QChar('a' + i % 26));
                burst += chatLine(text);
                expected << QStringLiteral("chat %1 %2").arg(text.size()).arg(text.left(8));
                break;
            }
            case 2:
                burst += "{\"event\":\"dtmf\",\"digits\":\"" + QByteArray::number(i) + "\"}\n";
                expected << QStringLiteral("dtmf %1").arg(i);
                break;
            case 3:
                burst += QByteArray("{\"event\":\"rx\",\"on\":") + (i % 2 ? "true" : "false") + "}\n";
                expected << QStringLiteral("rx %1").arg(i % 2);
                break;
            case 4:
                burst += QByteArray("{\"event\":\"carrierDetect\",\"on\":") + (i % 2 ? "true" : "false") + "}\n";
                expected << QStringLiteral("cd %1").arg(i % 2);
                break;
            case 5:
                burst += "{\"event\":\"disconnected\",\"call\":\"D" + QByteArray::number(i) + "\"}\n";
                expected << QStringLiteral("disconnected D%1").arg(i);
                break;
            case 6:
                burst += rng.bounded(2) ? QByteArray("not json at all\n") : QByteArray(kMaxLineBytes + 10, 'x') + '\n';
                ++bad;
                break;
            default:
                burst += "{\"event\":\"state\",\"linkBusy\":" + QByteArray(i % 2 ? "true" : "false") + "}\n";
                break;
            }
        }
        bursts.last() += "{\"event\":\"closing\"}\n";
        expected << "closing";

        int next = 0;
        connect(&el, &EchoLink::connected, this, [&] {
            if (next < bursts.size())
                node.send(bursts[next++]);
            for (int i = 0; i < 4; ++i) {
                Program::doEvents();
                QThread::msleep(1);
            }
        });
        node.send(bursts[next++]);
        QTRY_VERIFY_WITH_TIMEOUT(seen.size() >= expected.size(), 20000);
        QCOMPARE(seen, expected);
        QCOMPARE(client.droppedLines(), bad);
        QCOMPARE(log.matching("node link: dropped a line").size(), bad);
        QVERIFY(client.online());
    }

    // A flood of chat from one station, far more than the windows take: once
    // the link is behind, one station's lines pass a few a second and the
    // rest are counted; a line from another station after the flood still
    // comes, and nothing is lost uncounted.
    void aChatFloodIsHeldWhileBehindAndCounted()
    {
        ScriptedNode node;
        NodeLinkClient client(node.address());
        bringUp(node, client);
        EchoLink el(&client, "main");
        QStringList seen;
        recordEvents(el, seen);
        int floodSeen = 0;
        qint64 floodHeld = 0;
        connect(&el, &EchoLink::ChatTextReceived, this, [&](const QString &t) {
            static const QRegularExpression held(QStringLiteral("^W1AW>\\((\\d+) more chat lines in a second, not shown\\)$"));
            const QRegularExpressionMatch m = held.match(t);
            if (m.hasMatch())
                floodHeld += m.captured(1).toLongLong();
            else if (t.startsWith(QLatin1String("W1AW>line")))
                ++floodSeen;
        });
        const int lines = 20000;   // some 900 KB, well past kChatBehindBytes
        QByteArray flood;
        for (int i = 0; i < lines; ++i)
            flood += chatLine(QStringLiteral("W1AW>line %1 of a pasted page").arg(i, 5, 10, QLatin1Char('0')));
        node.send(flood + chatLine("K1ABC>/ver/"));
        QTRY_VERIFY_WITH_TIMEOUT(seen.contains("chat 11 K1ABC>/v"), 20000);
        // The counts come once their second is over.
        QTRY_COMPARE_WITH_TIMEOUT(floodSeen + floodHeld, qint64(lines), 5000);
        QVERIFY(floodHeld > 0);
    }

    // Events that come in the same read as the first state line wait for
    // the windows, which start listening only after that state has come.
    void eventsWithTheFirstStateReachTheWindows()
    {
        ScriptedNode node;
        node.answerHello = true;
        node.stateLine = "{\"event\":\"state\",\"localStation\":\"VK2ABC\",\"connected\":[\"W1AW\"]}\n"
                         "{\"event\":\"connected\",\"call\":\"W1AW\",\"name\":\"John\"}\n"
                         "{\"event\":\"chat\",\"text\":\"W1AW>hi\"}\n";
        NodeLinkClient client(node.address());
        client.start();
        QVERIFY(waitForFirstState(&client, 3000));
        EchoLink el(&client, "main");
        QStringList seen;
        recordEvents(el, seen);
        QTRY_COMPARE_WITH_TIMEOUT(seen, (QStringList{"connected W1AW", "chat 7 W1AW>hi"}), 3000);
    }

    // The transmit time-out in nodelink.ini: whole seconds from 5 to 900,
    // a value out of range brought to its nearest end, anything else 180.
    void transmitTimeoutFromNodelinkIni_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("seconds");
        QTest::newRow("missing") << QByteArray() << 180;
        QTest::newRow("set") << QByteArray("TXTIMEOUT=60") << 60;
        QTest::newRow("blanks around") << QByteArray("TXTIMEOUT= 240 ") << 240;
        QTest::newRow("too short") << QByteArray("TXTIMEOUT=0") << 5;
        QTest::newRow("too long") << QByteArray("TXTIMEOUT=99999999999999") << 900;
        QTest::newRow("not a number") << QByteArray("TXTIMEOUT=3 minutes") << 180;
    }
    void transmitTimeoutFromNodelinkIni()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, seconds);
        test::TempSettings settings;
        settings.writeFile("nodelink.ini", "[SETTINGS]\r\n" + line + "\r\n");
        QCOMPARE(NodeLinkConfig::load().transmitTimeoutSeconds, seconds);
    }

    // ---- the server side ----------------------------------------------------

    // Requests a client sends while the node's handler holds the thread, and
    // the releases of a client that hangs up then, are all handled.
    void serverHandlesRequestsThatCameDuringAHandler_data()
    {
        QTest::addColumn<bool>("hangUp");
        QTest::newRow("client stays") << false;
        QTest::newRow("client hangs up") << true;
    }
    void serverHandlesRequestsThatCameDuringAHandler()
    {
        QFETCH(bool, hangUp);
        QTemporaryDir dir;
        SimulatedNode sim;
        NodeServer server(&sim);
        QVERIFY(server.listen(*NodeAddress::parse("unix:" + dir.filePath("n.sock")), false, nullptr));
        QLocalSocket raw;
        raw.connectToServer(dir.filePath("n.sock"));
        QVERIFY(raw.waitForConnected(3000));
        bool first = true;
        connect(&sim, &SimulatedNode::recorded, this, [&] {
            if (!std::exchange(first, false))
                return;
            raw.write("{\"op\":\"SendChatText\",\"text\":\"" + QByteArray(30000, 'c') + "\"}\n"
                      "{\"op\":\"SetPTT\",\"on\":false}\n{\"op\":\"SetDTR\",\"on\":false}\n");
            raw.flush();
            if (hangUp)
                raw.disconnectFromServer();
            blockLettingEventsRun();
        });
        raw.write(kHello + "\n{\"op\":\"SetPTT\",\"on\":true}\n");
        raw.flush();
        QTRY_COMPARE_WITH_TIMEOUT(sim.requestTexts().size(), 4, 3000);
        QCOMPARE(sim.requestTexts().mid(2), (QStringList{"SetPTT off", "SetDTR off"}));
        QVERIFY(!sim.ptt());
        QTRY_COMPARE_WITH_TIMEOUT(server.clientCount(), hangUp ? 0 : 1, 3000);
    }

    void serverGreetsWithFullStateAndSendsStateBeforeEvents()
    {
        QTemporaryDir dir;
        SimulatedNode sim;
        sim.setAnswerDelayMs(0);
        sim.setLocalStation("VK2ABC");
        NodeServer server(&sim);
        QString why;
        QVERIFY2(server.listen(*NodeAddress::parse("unix:" + dir.filePath("n.sock")), false, &why), qPrintable(why));
        QList<QByteArray> sent;
        connect(&server, &NodeServer::sent, this, [&](const QByteArray &l) { sent << l.trimmed(); });

        NodeLinkClient a(server.address()), b(server.address());
        EchoLink elA(&a, "a"), elB(&b, "b");
        QStringList seen;
        for (EchoLink *el : {&elA, &elB})
            connect(el, &EchoLink::connected, this, [&seen, el](const QString &c) {
                seen << el->objectName() + " " + c + (el->IsConnected(c) ? " listed" : " missing");
            });
        a.start();
        b.start();
        QTRY_VERIFY_WITH_TIMEOUT(a.online() && b.online(), 3000);
        QCOMPARE(server.greetedClientCount(), 2);
        QCOMPARE(a.state().localStation, QString("VK2ABC"));
        const QByteArray full = "{\"event\":\"state\",\"carries\":[\"Connect\",\"Disconnect\",\"DisconnectAll\",\"SetPTT\","
                                "\"SendCW\",\"SetBusy\",\"SetRTS\",\"SetDTR\",\"SendChatText\",\"Speech\"],"
                                "\"connected\":[],\"linkActive\":false,\"linkBusy\":false,"
                                "\"localStation\":\"VK2ABC\",\"receivingSignal\":false,\"transmitterKeyed\":false}";
        QCOMPARE(sent, (QList<QByteArray>{full, full}));

        sent.clear();
        sim.stationConnects("w1aw", "John", "203.0.113.5");
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 2, 3000);
        QCOMPARE(seen, (QStringList{"a.EchoLink W1AW listed", "b.EchoLink W1AW listed"}));
        QCOMPARE(sent, (QList<QByteArray>{
                           "{\"event\":\"state\",\"connected\":[\"W1AW\"]}",
                           "{\"event\":\"connected\",\"addr\":\"203.0.113.5\",\"call\":\"W1AW\",\"name\":\"John\"}"}));

        // A request from one client reaches the node; the state it changes
        // reaches both.
        elA.SetPTT(true);
        QTRY_VERIFY_WITH_TIMEOUT(elB.TransmitterKeyed(), 3000);
        QCOMPARE(sim.requestTexts(), QStringList{"SetPTT on"});
        QVERIFY(elA.TransmitterKeyed());
    }

    void serverDropsBadClientLinesButServesTheClient()
    {
        QTemporaryDir dir;
        SimulatedNode sim;
        NodeServer server(&sim);
        QVERIFY(server.listen(*NodeAddress::parse("unix:" + dir.filePath("n.sock")), false, nullptr));
        LogCapture log;
        QLocalSocket raw;
        raw.connectToServer(dir.filePath("n.sock"));
        QVERIFY(raw.waitForConnected(3000));
        raw.write(kHello + "\n{\"op\":\"SetPTT\",\"on\":1}\n{\"op\":\"Reboot\"}\n{\"op\":\"Reboot\"}\n");
        raw.write(QByteArray(kMaxLineBytes + 1, ' ') + "\n{\"op\":\"SetRTS\",\"on\":true}\n");
        raw.flush();
        QTRY_VERIFY_WITH_TIMEOUT(sim.rts(), 3000);
        QCOMPARE(sim.requestTexts(), QStringList{"SetRTS on"});
        QCOMPARE(log.matching("node: dropped").size(), 2);
        QCOMPARE(log.matching("node: ignoring unknown op \"Reboot\"").size(), 1);
        QCOMPARE(log.matching("request "), QStringList{"request SetRTS on"});
        QCOMPARE(server.clientCount(), 1);
    }

    // A line setter asked again with no change (Mirelva's fan asks for DTR
    // every second) is carried out and traced but logged once; anything
    // else is logged each time.
    void repeatedSettingsAreLoggedOnce_data()
    {
        QTest::addColumn<QStringList>("requests");
        QTest::addColumn<QStringList>("logged");
        const QString dtrOn = R"({"op":"SetDTR","on":true})", dtrOff = R"({"op":"SetDTR","on":false})";
        const QString rtsOn = R"({"op":"SetRTS","on":true})", chat = R"({"op":"SendChatText","text":"hi"})";
        QTest::newRow("fan running") << QStringList{dtrOn, dtrOn, dtrOn} << QStringList{"request SetDTR on"};
        QTest::newRow("off and on again") << QStringList{dtrOn, dtrOn, dtrOff, dtrOn}
                                          << QStringList{"request SetDTR on", "request SetDTR off", "request SetDTR on"};
        QTest::newRow("each line its own") << QStringList{dtrOn, rtsOn, dtrOn, rtsOn}
                                           << QStringList{"request SetDTR on", "request SetRTS on"};
        QTest::newRow("chat every time") << QStringList{chat, chat} << QStringList{"request SendChatText hi", "request SendChatText hi"};
    }
    void repeatedSettingsAreLoggedOnce()
    {
        QFETCH(QStringList, requests);
        QFETCH(QStringList, logged);
        QTemporaryDir dir;
        SimulatedNode sim;
        NodeServer server(&sim);
        QVERIFY(server.listen(*NodeAddress::parse("unix:" + dir.filePath("n.sock")), false, nullptr));
        int traced = 0;
        connect(&server, &NodeServer::requestReceived, this, [&traced] { ++traced; });
        LogCapture log;
        QLocalSocket raw;
        raw.connectToServer(dir.filePath("n.sock"));
        QVERIFY(raw.waitForConnected(3000));
        raw.write(kHello + "\n" + requests.join('\n').toUtf8() + "\n");
        raw.flush();
        QTRY_COMPARE_WITH_TIMEOUT(traced, requests.size(), 3000);
        QCOMPARE(sim.requestTexts().size(), requests.size());
        QCOMPARE(log.matching("request "), logged);
    }

    // A client that dies mid-announcement cannot unkey; the node must not
    // stay on the air for it, unless another client holds it keyed.
    void aClientThatGoesKeyedIsReleased()
    {
        QTemporaryDir dir;
        SimulatedNode sim;
        NodeServer server(&sim);
        QVERIFY(server.listen(*NodeAddress::parse("unix:" + dir.filePath("n.sock")), false, nullptr));
        LogCapture log;
        auto attach = [&](QLocalSocket &s, const QByteArray &lines) {
            s.connectToServer(dir.filePath("n.sock"));
            QVERIFY(s.waitForConnected(3000));
            s.write(kHello + '\n' + lines);
            s.flush();
        };
        {
            QLocalSocket dying;
            attach(dying, "{\"op\":\"SetPTT\",\"on\":true}\n");
            QTRY_VERIFY_WITH_TIMEOUT(sim.ptt(), 3000);
            dying.abort();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!sim.ptt(), 3000);
        QCOMPARE(sim.requestTexts(), (QStringList{"SetPTT on", "SetPTT off"}));
        QCOMPARE(log.matching("node: client 1 left the transmitter keyed; released").size(), 1);
        QVERIFY(!sim.state().transmitterKeyed);

        sim.clearRecords();
        QLocalSocket holder, other;
        attach(holder, "{\"op\":\"SetPTT\",\"on\":true}\n");
        QTRY_COMPARE_WITH_TIMEOUT(sim.requestTexts().size(), 1, 3000);
        attach(other, "{\"op\":\"SetPTT\",\"on\":true}\n{\"op\":\"SendCW\",\"text\":\"K\"}\n");
        QTRY_COMPARE_WITH_TIMEOUT(sim.requestTexts().size(), 3, 3000);
        other.abort();
        QTRY_COMPARE_WITH_TIMEOUT(server.clientCount(), 1, 3000);
        QVERIFY(sim.ptt());
        QCOMPARE(sim.requestTexts(), (QStringList{"SetPTT on", "SetPTT on", "SendCW K"}));
    }

    void serverCutsOffAClientThatReadsNothing()
    {
        QTemporaryDir dir;
        SimulatedNode sim;
        NodeServer server(&sim);
        QVERIFY(server.listen(*NodeAddress::parse("unix:" + dir.filePath("n.sock")), false, nullptr));
        QLocalSocket sleeper;
        sleeper.connectToServer(dir.filePath("n.sock"));
        QVERIFY(sleeper.waitForConnected(3000));
        sleeper.write(kHello + '\n');
        sleeper.flush();
        QTRY_COMPARE_WITH_TIMEOUT(server.greetedClientCount(), 1, 3000);
        // The sleeper's socket is never read: our buffer for it grows until
        // the server gives up on it, and the node goes on.
        const QString chunk(60000, QChar('c'));
        for (int i = 0; i < 120 && server.clientCount() == 1; ++i)
            sim.chat(chunk);
        QCOMPARE(server.clientCount(), 0);
    }

    // ---- admission ------------------------------------------------------------

    // On a TCP port anything that can reach it may write: only a hello with
    // the node's token lets a peer drive the node. An HTTP POST (a web page
    // can make one) whose body holds good request lines keys nothing.
    void tcpAdmitsOnlyAHelloWithTheToken_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<bool>("served");
        const QByteArray body = "{\"op\":\"SetPTT\",\"on\":true}\n{\"op\":\"Speech\",\"keyed\":true,\"text\":\"x\"}\n";
        QTest::newRow("HTTP POST") << "POST /node HTTP/1.1\r\nHost: 127.0.0.1:7300\r\nContent-Type: text/plain\r\n"
                                      "Content-Length: 66\r\n\r\n" + body
                                   << "node: client 1 refused: first line is not a hello: POST /node HTTP/1.1" << false;
        QTest::newRow("request first") << body << "node: client 1 refused: first line is not a hello: "
                                                  "{\"op\":\"SetPTT\",\"on\":true}" << false;
        QTest::newRow("version 2 hello, no token")
            << "{\"op\":\"hello\",\"protocol\":2}\n" + body << "node: client 1 refused: no token in its hello" << false;
        QTest::newRow("wrong token") << "{\"op\":\"hello\",\"protocol\":3,\"token\":\"" + QByteArray(64, 'a') + "\"}\n" + body
                                     << "node: client 1 refused: wrong token in its hello" << false;
        QTest::newRow("overlong first line") << QByteArray(kMaxLineBytes + 10, 'x') + "\nTOKEN\n" + body
                                             << "node: client 1 refused: first line is longer than 65536 bytes, not a hello"
                                             << false;
        QTest::newRow("right token") << QByteArray("TOKEN\n") + body << "node: client 1 attached" << true;
    }
    void tcpAdmitsOnlyAHelloWithTheToken()
    {
        QFETCH(QByteArray, sent);
        QFETCH(QString, logged);
        QFETCH(bool, served);
        QTemporaryDir dir;
        SimulatedNode sim;
        NodeServer server(&sim);
        server.setTokenFile(dir.filePath("node.token"));
        QString why;
        NodeAddress any;
        any.kind = NodeAddress::Tcp;
        any.host = "127.0.0.1";
        QVERIFY2(server.listen(any, false, &why), qPrintable(why));
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(dir.filePath("node.token")).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0600u);
        const QByteArray token = *readToken(dir.filePath("node.token"), nullptr);
        QCOMPARE(token.size(), 64);
        sent.replace("TOKEN", "{\"op\":\"hello\",\"protocol\":3,\"token\":\"" + token + "\"}");

        LogCapture log;
        QTcpSocket peer;
        peer.connectToHost("127.0.0.1", server.address().port);
        QVERIFY(peer.waitForConnected(3000));
        peer.write(sent);
        peer.flush();
        if (served) {
            QTRY_VERIFY_WITH_TIMEOUT(sim.ptt(), 3000);
            QCOMPARE(sim.requestTexts(), (QStringList{"SetPTT on", "Speech keyed: x"}));
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(peer.state(), QAbstractSocket::UnconnectedState, 3000);
            QCOMPARE(sim.requestTexts(), QStringList());
            QVERIFY(!sim.ptt());
            QCOMPARE(peer.readAll(), QByteArray());   // not even the state
        }
        QCOMPARE(log.matching("node: "), QStringList{logged});
    }

    // A node program under systemd has its settings folder read-only: it
    // makes its token where its unit lets it write, the state folder before
    // the runtime one (the first of a list), and run by hand in the settings
    // folder, where Mirelva looks by default.
    void theTokenIsMadeWhereTheNodeMayWrite_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("runtime");
        QTest::addColumn<QString>("made");
        QTest::newRow("both") << "DIR/state:DIR/other" << "DIR/run" << "DIR/state/nodelink.token";
        QTest::newRow("runtime only") << "" << "DIR/run" << "DIR/run/nodelink.token";
        QTest::newRow("by hand") << "" << "" << "DIR/mirelva/nodelink.token";
        QTest::newRow("not a path") << "state" << "" << "DIR/mirelva/nodelink.token";
    }
    void theTokenIsMadeWhereTheNodeMayWrite()
    {
        QFETCH(QString, state);
        QFETCH(QString, runtime);
        QFETCH(QString, made);
        test::TempSettings settings;
        const QString dir = QFileInfo(settings.folder()).path();
        QDir(settings.folder()).removeRecursively();
        for (const char *sub : {"state", "other", "run"})   // as systemd makes them
            QDir(dir).mkdir(sub, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("STATE_DIRECTORY", state.replace("DIR", dir).toUtf8());
        qputenv("RUNTIME_DIRECTORY", runtime.replace("DIR", dir).toUtf8());
        SimulatedNode sim;
        NodeServer server(&sim);
        QString why;
        NodeAddress any;
        any.kind = NodeAddress::Tcp;
        any.host = "127.0.0.1";
        const bool listening = server.listen(any, false, &why);
        qunsetenv("STATE_DIRECTORY");
        qunsetenv("RUNTIME_DIRECTORY");
        QVERIFY2(listening, qPrintable(why));
        made.replace("DIR", dir);
        QStringList tokens;
        QDirIterator it(dir, {"nodelink.token"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            tokens << it.next();
        QCOMPARE(tokens, QStringList{made});
        QVERIFY(readToken(made, nullptr));
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(QFileInfo(made).path()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0077, 0u);   // a settings folder made for it too
    }

    // What a peer calls itself reaches the log (and standard error, and the
    // console) as one line: control characters are shown, not obeyed.
    void remoteTextsReachTheLogEscaped()
    {
        QTemporaryDir dir;
        SimulatedNode sim;
        NodeServer server(&sim);
        QVERIFY(server.listen(*NodeAddress::parse("unix:" + dir.filePath("n.sock")), false, nullptr));
        LogCapture log;
        QLocalSocket peer;
        peer.connectToServer(dir.filePath("n.sock"));
        QVERIFY(peer.waitForConnected(3000));
        // ESC[2J, a newline with a forged log line, C1 CSI, DEL, U+2028.
        peer.write("{\"op\":\"hello\",\"protocol\":3,\"client\":\"W1AW\\u001b[2J\\n2026-12-07 08:00:00.000 request SetPTT "
                   "on\\u009b\\u007f\\u2028x\"}\n");
        peer.flush();
        QTRY_COMPARE_WITH_TIMEOUT(log.lines.size(), 1, 3000);
        QCOMPARE(log.lines.first(),
                 QString("node: client 1 attached: W1AW\\x1b[2J\\x0a2026-12-07 08:00:00.000 request SetPTT "
                         "on\\x9b\\x7f\\u2028x"));
        QCOMPARE(OnAirLog::escaped(QString("tab\there\r\x01") + QChar(0x2029) + QChar(0x85) + "ok"),
                 QString("tab\\x09here\\x0d\\x01\\u2029\\x85ok"));
        // Direction marks and isolates would turn the rest of the line around;
        // the characters beside them are left alone.
        QCOMPARE(OnAirLog::escaped(QString("W1AW") + QChar(0x2027) + QChar(0x202a) + QChar(0x202e) + QChar(0x202f)
                                   + QChar(0x2065) + QChar(0x2066) + QChar(0x2069) + QChar(0x206a) + "x"),
                 QString("W1AW") + QChar(0x2027) + "\\u202a\\u202e" + QChar(0x202f) + QChar(0x2065)
                     + "\\u2066\\u2069" + QChar(0x206a) + "x");
    }

    // The node's token is a secret of its user's: a file that anyone else
    // may read or write is refused, whoever else it is.
    void aTokenFileOthersMayReadIsRefused_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("owner only") << 0600 << true;
        QTest::newRow("owner, read-only") << 0400 << true;
        QTest::newRow("readable by the group") << 0640 << false;
        QTest::newRow("writable by the group") << 0620 << false;
        QTest::newRow("readable by anyone") << 0604 << false;
    }
    void aTokenFileOthersMayReadIsRefused()
    {
        QFETCH(int, mode);
        QFETCH(bool, accepted);
        QTemporaryDir dir;
        const QString path = dir.filePath("node.token");
        const QByteArray token(64, 'a');
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(token + '\n');
        }
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode_t(mode)), 0);
        QString why;
        const std::optional<QByteArray> got = loadOrCreateToken(path, &why);
        QCOMPARE(got.has_value(), accepted);
        if (accepted)
            QCOMPARE(*got, token);
        else
            QCOMPARE(why, QString("token file %1: must be a file of this user that nobody else may read (mode 0600)").arg(path));
    }

    // A client that never says hello, and one more than the node serves,
    // hold nothing for long. Connections that say nothing hold no place:
    // twice as many as may wait, made one after another, leave the rightful
    // clients (who say hello at once) room; the places go by hello.
    void silentAndSurplusClientsAreTurnedAway()
    {
        QTemporaryDir dir;
        SimulatedNode sim;
        NodeServer server(&sim);
        server.setHelloTimeoutMs(50);
        QVERIFY(server.listen(*NodeAddress::parse("unix:" + dir.filePath("n.sock")), false, nullptr));
        LogCapture log;
        QLocalSocket silent;
        silent.connectToServer(dir.filePath("n.sock"));
        QVERIFY(silent.waitForConnected(3000));
        QTRY_COMPARE_WITH_TIMEOUT(silent.state(), QLocalSocket::UnconnectedState, 3000);
        QCOMPARE(log.lines, QStringList{"node: client 1 refused: no hello within 50 ms"});

        log.lines.clear();
        server.setHelloTimeoutMs(60000);
        QSignalSpy accepted(&server, &NodeServer::clientAttached);
        std::vector<std::unique_ptr<QLocalSocket>> peers;
        auto connectPeer = [&] {
            peers.push_back(std::make_unique<QLocalSocket>());
            peers.back()->connectToServer(dir.filePath("n.sock"));
            return peers.back().get();
        };
        auto sayHello = [&](QLocalSocket *peer) {
            peer->write(kHello + '\n');
            peer->flush();
        };
        for (int i = 0; i < 2 * NodeServer::kMaxWaiting; ++i) {
            QVERIFY(connectPeer()->waitForConnected(3000));
            QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), i + 1, 3000);
        }
        for (int i = 1; i < NodeServer::kMaxClients; ++i) {
            QLocalSocket *rightful = connectPeer();
            QVERIFY(rightful->waitForConnected(3000));
            sayHello(rightful);
            QTRY_COMPARE_WITH_TIMEOUT(server.greetedClientCount(), i, 3000);
        }
        // Two more connect while one place is left; the first to say hello takes it.
        QLocalSocket *a = connectPeer();
        QLocalSocket *b = connectPeer();
        QVERIFY(a->waitForConnected(3000) && b->waitForConnected(3000));
        QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), 2 * NodeServer::kMaxWaiting + NodeServer::kMaxClients + 1, 3000);
        sayHello(a);
        QTRY_COMPARE_WITH_TIMEOUT(server.greetedClientCount(), NodeServer::kMaxClients, 3000);
        sayHello(b);
        QTRY_COMPARE_WITH_TIMEOUT(b->state(), QLocalSocket::UnconnectedState, 3000);
        QLocalSocket *late = connectPeer();
        late->waitForConnected(3000);
        QTRY_COMPARE_WITH_TIMEOUT(late->state(), QLocalSocket::UnconnectedState, 3000);

        auto evicted = [](int id) { return QStringLiteral("node: client %1 refused: no hello before 8 newer connections came").arg(id); };
        auto attached = [](int id) { return QStringLiteral("node: client %1 attached: mirelva 3.0.3").arg(id); };
        QStringList expected;
        for (int id = 2; id <= 9; ++id)
            expected << evicted(id);
        // Each admitted client leaves one fewer waiting.
        expected << evicted(10) << attached(18) << attached(19) << attached(20) << evicted(11) << attached(21)
                 << "node: client 22 refused: 4 clients are attached already"
                 << "node: connection refused: 4 clients are attached already";
        QCOMPARE(log.lines, expected);
        QCOMPARE(server.greetedClientCount(), NodeServer::kMaxClients);
    }

    // The Unix socket serves the node's own user and root; another user only
    // as a member of a group the node names, even where the socket file's
    // mode lets everybody in.
    void unixSocketServesOnlyItsOwnUsers_data()
    {
        QTest::addColumn<QStringList>("groups");
        QTest::addColumn<QByteArray>("report");
        QTest::addColumn<QString>("logged");
        QTest::newRow("another user") << QStringList{} << QByteArray("closed")
                                      << "node: connection refused: user nobody may not drive this node";
        QTest::newRow("a member of a named group") << QStringList{"audio", "nogroup"} << QByteArray("served")
                                                   << "node: client 1 attached: mirelva 3.0.3";
    }
    void unixSocketServesOnlyItsOwnUsers()
    {
        QFETCH(QStringList, groups);
        QFETCH(QByteArray, report);
        QFETCH(QString, logged);
        if (::geteuid() != 0)
            QSKIP("needs root, to be another user in a child");
        QTemporaryDir dir;
        QFile::setPermissions(dir.path(), QFile::Permissions(0x7755));
        const QString path = dir.filePath("n.sock");
        SimulatedNode sim;
        NodeServer server(&sim);
        server.setAllowedGroups(groups);
        QVERIFY(server.listen(*NodeAddress::parse("unix:" + path), false, nullptr));
        ::chmod(QFile::encodeName(path).constData(), 0777);   // a careless mode: the kernel's word decides
        LogCapture log;
        int fds[2];
        QCOMPARE(::pipe(fds), 0);
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            // As nobody: attach, ask for the transmitter, and see whether the
            // node answers with its state or closes.
            ::close(fds[0]);
            QByteArray out = "no user";
            if (::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 && ::setresuid(65534, 65534, 65534) == 0) {
                const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
                sockaddr_un sa = {};
                sa.sun_family = AF_UNIX;
                qstrncpy(sa.sun_path, QFile::encodeName(path).constData(), sizeof sa.sun_path);
                out = "cannot connect";
                if (::connect(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0) {
                    const QByteArray lines = kHello + "\n{\"op\":\"SetPTT\",\"on\":true}\n";
                    (void)!::write(s, lines.constData(), size_t(lines.size()));
                    pollfd p = {s, POLLIN, 0};
                    char c;
                    out = ::poll(&p, 1, 5000) != 1 ? "no answer" : ::read(s, &c, 1) == 1 ? "served" : "closed";
                }
            }
            (void)!::write(fds[1], out.constData(), size_t(out.size()));
            ::_exit(0);
        }
        ::close(fds[1]);
        // The node is served meanwhile; the child's word ends the wait.
        pollfd answer = {fds[0], POLLIN, 0};
        QTRY_VERIFY_WITH_TIMEOUT(::poll(&answer, 1, 0) == 1, 8000);
        char buf[64];
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        ::close(fds[0]);
        ::waitpid(pid, nullptr, 0);
        QCOMPARE(QByteArray(buf, int(std::max<ssize_t>(n, 0))), report);
        // Served, it keyed (and was released when it left); refused, nothing.
        QTRY_COMPARE_WITH_TIMEOUT(sim.requestTexts().value(0), QString(report == "served" ? "SetPTT on" : ""), 3000);
        QCOMPARE(log.matching("node: c").value(0), logged);
    }

    void serverListensOnlyWhereItMay()
    {
        QTemporaryDir dir;
        SimulatedNode sim;
        QString why;
        {
            NodeServer s(&sim);
            s.setTokenFile(dir.filePath("token"));
            QVERIFY(!s.listen(*NodeAddress::parse("tcp:0.0.0.0:7399"), false, &why));
            QVERIFY(why.contains("--allow-remote"));
            QVERIFY(!s.isListening());
            NodeAddress any;
            any.kind = NodeAddress::Tcp;
            any.host = "127.0.0.1";
            QVERIFY(s.listen(any, false, &why));
            QVERIFY(s.address().port != 0);
        }
        // A file that is not a socket is never removed to make room.
        const QString file = dir.filePath("notes.txt");
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("keep me");
        }
        NodeServer s1(&sim);
        QVERIFY(!s1.listen(*NodeAddress::parse("unix:" + file), false, &why));
        QVERIFY(why.contains("not a socket"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("keep me"));

        // A live node keeps its socket; a dead one's is taken over.
        const NodeAddress sock = *NodeAddress::parse("unix:" + dir.filePath("n.sock"));
        NodeServer live(&sim), second(&sim);
        QVERIFY(live.listen(sock, false, &why));
        QVERIFY(!second.listen(sock, false, &why));
        QVERIFY(why.contains("already listens"));
        live.close();
        QVERIFY(!QFile::exists(sock.path));
        {
            // The file a crashed node leaves: bound, never listened on again.
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un sa = {};
            sa.sun_family = AF_UNIX;
            qstrncpy(sa.sun_path, QFile::encodeName(sock.path).constData(), sizeof sa.sun_path);
            QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
            ::close(fd);
        }
        QVERIFY(QFile::exists(sock.path));
        QVERIFY2(second.listen(sock, false, &why), qPrintable(why));
    }
};

QTEST_MAIN(TestNodeLink)
#include "test_nodelink.moc"
