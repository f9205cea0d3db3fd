// The node link's wire format: addresses, cutting a stream into lines, reading
// and writing every event and request, and a seeded storm of damaged lines
// that neither the parser nor a live link may trip over.

#include <QDir>
#include <QJsonArray>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "core/onairlog.h"
#include "node/client/nodelink.h"
#include "node/link/nodeprotocol.h"

using namespace mirelva;
using namespace mirelva::nodelink;

namespace {

QStringList lineTexts(const QVector<LineReader::Item> &items)
{
    QStringList l;
    for (const auto &i : items)
        l << (i.overlong ? QStringLiteral("<overlong>") : QString::fromUtf8(i.line));
    return l;
}

// Found through the source folder CTest names: with a shared compiler cache
// __FILE__ is relative to the build folder, not to where the test runs.
QString corpusDir()
{
    const QString source = qEnvironmentVariable("MIRELVA_SOURCE_DIR");
    if (!source.isEmpty())
        return source + QStringLiteral("/tests/fuzz/corpus");
    return QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/fuzz/corpus");
}

QList<QByteArray> corpusLines()
{
    QList<QByteArray> lines;
    const QDir dir(corpusDir());
    for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
        QFile f(dir.filePath(name));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &l : f.readAll().split('\n'))
            if (!l.isEmpty())
                lines << l;
    }
    return lines;
}

// One damaged copy of a line: a few byte-level and JSON-level changes.
QByteArray mutate(QByteArray line, const QList<QByteArray> &corpus, QRandomGenerator &rng)
{
    static const char *const tokens[] = {"{", "}", "[", "]", "\"", ":", ",", "true", "false", "null", "1e999", "-0",
                                         "\\u0000", "\\ud800", "\"event\"", "\"op\"", "\"on\"", "\xff", "\xc3", "\r"};
    const int changes = 1 + int(rng.bounded(4));
    for (int i = 0; i < changes; ++i) {
        const int n = int(line.size());
        const int at = n ? int(rng.bounded(n)) : 0;
        switch (rng.bounded(7)) {
        case 0:
            if (n)
                line[at] = char(rng.bounded(256));
            break;
        case 1:
            line.insert(at, char(rng.bounded(256)));
            break;
        case 2:
            line.remove(at, int(rng.bounded(8)) + 1);
            break;
        case 3:
            line.insert(at, tokens[rng.bounded(int(std::size(tokens)))]);
            break;
        case 4:
            line.insert(at, line.mid(at, int(rng.bounded(16))));
            break;
        case 5: {
            const QByteArray &other = corpus.at(int(rng.bounded(corpus.size())));
            line = line.left(at) + other.mid(int(rng.bounded(int(other.size()))));
            break;
        }
        case 6:
            line.truncate(at);
            break;
        }
    }
    return line;
}

} // namespace

class TestNodeProtocol : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { OnAirLog::setEchoToStderr(false); }

    void addresses_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("normal");
        QTest::addColumn<bool>("loopback");
        QTest::newRow("unix") << "unix:/run/user/1000/node.sock" << true << "unix:/run/user/1000/node.sock" << true;
        QTest::newRow("unix relative") << "unix:node.sock" << true << "unix:node.sock" << true;
        QTest::newRow("unix blanks around") << "  unix:/tmp/a b  " << true << "unix:/tmp/a b" << true;
        QTest::newRow("tcp v4") << "tcp:127.0.0.1:7300" << true << "tcp:127.0.0.1:7300" << true;
        QTest::newRow("tcp other loopback") << "tcp:127.3.2.1:1" << true << "tcp:127.3.2.1:1" << true;
        QTest::newRow("tcp localhost") << "tcp:localhost:65535" << true << "tcp:localhost:65535" << true;
        QTest::newRow("tcp v6") << "tcp:[::1]:7300" << true << "tcp:[::1]:7300" << true;
        QTest::newRow("tcp remote") << "tcp:192.0.2.7:7300" << true << "tcp:192.0.2.7:7300" << false;
        QTest::newRow("tcp any") << "tcp:0.0.0.0:7300" << true << "tcp:0.0.0.0:7300" << false;
        QTest::newRow("empty") << "" << false << "" << false;
        QTest::newRow("no scheme") << "/tmp/node.sock" << false << "" << false;
        QTest::newRow("unix no path") << "unix:" << false << "" << false;
        QTest::newRow("tcp no port") << "tcp:127.0.0.1" << false << "" << false;
        QTest::newRow("tcp empty port") << "tcp:127.0.0.1:" << false << "" << false;
        QTest::newRow("tcp port 0") << "tcp:127.0.0.1:0" << false << "" << false;
        QTest::newRow("tcp port too big") << "tcp:127.0.0.1:65536" << false << "" << false;
        QTest::newRow("tcp port signed") << "tcp:127.0.0.1:+80" << false << "" << false;
        QTest::newRow("tcp port words") << "tcp:127.0.0.1:http" << false << "" << false;
        QTest::newRow("tcp no host") << "tcp::7300" << false << "" << false;
        QTest::newRow("tcp bare v6") << "tcp:::1:7300" << false << "" << false;
        QTest::newRow("upper case scheme") << "UNIX:/tmp/x" << false << "" << false;
    }
    void addresses()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(QString, normal);
        QFETCH(bool, loopback);
        QString why;
        const auto a = NodeAddress::parse(text, &why);
        QCOMPARE(a.has_value(), ok);
        if (!ok) {
            QVERIFY(!why.isEmpty());
            return;
        }
        QCOMPARE(a->toString(), normal);
        QCOMPARE(a->isLoopback(), loopback);
    }

    void linesAcrossChunks()
    {
        LineReader r(16);
        QCOMPARE(lineTexts(r.feed("ab")), QStringList());
        QCOMPARE(r.pending(), 2);
        QCOMPARE(lineTexts(r.feed("c\nde")), QStringList{"abc"});
        QCOMPARE(lineTexts(r.feed("\r\n\n\nf\n")), (QStringList{"de", "", "", "f"}));
        QCOMPARE(r.pending(), 0);
    }

    void lineAtTheLimitPassesOneOverIsSkipped()
    {
        LineReader r(16);
        const QByteArray exact(16, 'x');
        QCOMPARE(lineTexts(r.feed(exact + '\n')), QStringList{QString(exact)});
        // 17 bytes: reported once, skipped to the newline, and the next line
        // is whole again.
        QCOMPARE(lineTexts(r.feed(QByteArray(17, 'y') + "\nok\n")), (QStringList{"<overlong>", "ok"}));
    }

    void overlongLineIsNeverHeld()
    {
        LineReader r(kMaxLineBytes);
        QStringList seen;
        // A megabyte without a newline, fed as the socket would deliver it.
        for (int i = 0; i < 64; ++i) {
            seen << lineTexts(r.feed(QByteArray(16384, 'z')));
            QVERIFY(r.pending() <= kMaxLineBytes + 1);
        }
        seen << lineTexts(r.feed("tail\n{\"event\":\"closing\"}\n"));
        QCOMPARE(seen, (QStringList{"<overlong>", "{\"event\":\"closing\"}"}));
    }

    void helloLineIsTheDocumentedOne()
    {
        QCOMPARE(helloLine("mirelva", "3.0.3"),
                 QByteArray("{\"op\":\"hello\",\"client\":\"mirelva\",\"version\":\"3.0.3\",\"protocol\":3}\n"));
        QCOMPARE(helloLine("mirelva", "3.0.3", "00ff"),
                 QByteArray("{\"op\":\"hello\",\"client\":\"mirelva\",\"version\":\"3.0.3\",\"protocol\":3,"
                            "\"token\":\"00ff\"}\n"));
        // Quotes in a name are escaped, not allowed to end the string.
        const ParsedRequest p = parseRequest(helloLine("a\"b", "1\n2").trimmed());
        QCOMPARE(p.status, ParseStatus::Ok);
        QVERIFY(p.isHello);
        QCOMPARE(p.hello.client, QString("a\"b"));
        QCOMPARE(p.hello.version, QString("1\n2"));
        QCOMPARE(p.hello.protocol, kProtocolVersion);
    }

    // Version 2: a speech the node plays, with the voice's rate and volume.
    // Half a play request is never read as a plain speech.
    void speechToPlay()
    {
        QCOMPARE(requestLine(NodeRequest::speechOnAir("W 1 A W", -3, 80)),
                 QByteArray(R"({"op":"Speech","keyed":true,"play":true,"rate":-3,"text":"W 1 A W","volume":80})" "\n"));
        const QList<QPair<QByteArray, QString>> cases{
            {R"({"op":"Speech","keyed":true,"play":true,"rate":-3,"text":"x","volume":80})", "Speech on air by the node: x"},
            {R"({"op":"Speech","keyed":true,"play":false,"text":"x"})", "Speech keyed: x"},
            {R"({"op":"Speech","keyed":false,"text":"x"})", "Speech local: x"},
            {R"({"op":"Speech","keyed":true,"play":true,"text":"x","volume":80})", "field \"rate\" missing"},
            {R"({"op":"Speech","keyed":true,"play":true,"rate":0.5,"text":"x","volume":80})", "field \"rate\" not a whole number"},
            {R"({"op":"Speech","keyed":true,"play":"yes","text":"x"})", "field \"play\" not true or false"},
            {R"({"op":"Speech","keyed":true,"play":true,"rate":11,"text":"x","volume":80})",
             "a speech to play needs \"keyed\" true, \"rate\" -10..10 and \"volume\" 0..100"},
            {R"({"op":"Speech","keyed":false,"play":true,"rate":0,"text":"x","volume":80})",
             "a speech to play needs \"keyed\" true, \"rate\" -10..10 and \"volume\" 0..100"},
            {R"({"op":"Speech","keyed":true,"play":true,"rate":0,"text":"x","volume":101})",
             "a speech to play needs \"keyed\" true, \"rate\" -10..10 and \"volume\" 0..100"},
        };
        for (const auto &[line, expected] : cases) {
            const ParsedRequest p = parseRequest(line);
            const QString got = p.status == ParseStatus::Ok ? p.request.toText() : p.error.section(QStringLiteral(": "), 1);
            QCOMPARE(got, expected);
        }
    }

    void requestLines()
    {
        QCOMPARE(requestLine(NodeRequest::setPTT(true)), QByteArray("{\"op\":\"SetPTT\",\"on\":true}\n"));
        QCOMPARE(requestLine(NodeRequest::disconnectAll()), QByteArray("{\"op\":\"DisconnectAll\"}\n"));
        QCOMPARE(requestLine(NodeRequest::speech("Hi \"there\"", false)),
                 QByteArray("{\"op\":\"Speech\",\"keyed\":false,\"text\":\"Hi \\\"there\\\"\"}\n"));
        // Every request reads back as itself, and is the same object the
        // core's own encoding gives.
        const QList<NodeRequest> all{NodeRequest::connect("W1AW"),     NodeRequest::disconnect("VK2RAG-R"),
                                     NodeRequest::disconnectAll(),     NodeRequest::setPTT(false),
                                     NodeRequest::sendCW("VK2ABC"),    NodeRequest::setBusy(true),
                                     NodeRequest::setRTS(true),        NodeRequest::setDTR(false),
                                     NodeRequest::sendChatText("hi"), NodeRequest::speech("The Time", true)};
        for (const NodeRequest &r : all) {
            const ParsedRequest p = parseRequest(requestLine(r).trimmed());
            QCOMPARE(p.status, ParseStatus::Ok);
            QCOMPARE(p.request.toJson(), r.toJson());
            QCOMPARE(QJsonDocument::fromJson(requestLine(r)).object(), QJsonDocument::fromJson(r.toLine()).object());
        }
    }

    // The op and event names on the wire, each from the one table: a table
    // out of step with its enum would send one op under another's name.
    void vocabulary_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QString>("wrongCase");
        const auto row = [](const char *name, const QByteArray &line, const char *expected, const char *wrongCase) {
            QTest::newRow(name) << line << QByteArray(expected) << QString::fromLatin1(wrongCase);
        };
        row("Connect", requestLine(NodeRequest::connect("W1AW")), R"({"op":"Connect","call":"W1AW"})", "connect");
        row("Disconnect", requestLine(NodeRequest::disconnect("W1AW")), R"({"op":"Disconnect","call":"W1AW"})",
            "DISCONNECT");
        row("DisconnectAll", requestLine(NodeRequest::disconnectAll()), R"({"op":"DisconnectAll"})", "Disconnectall");
        row("SetPTT", requestLine(NodeRequest::setPTT(true)), R"({"op":"SetPTT","on":true})", "SetPtt");
        row("SendCW", requestLine(NodeRequest::sendCW("ID")), R"({"op":"SendCW","text":"ID"})", "SendCw");
        row("SetBusy", requestLine(NodeRequest::setBusy(false)), R"({"op":"SetBusy","on":false})", "setbusy");
        row("SetRTS", requestLine(NodeRequest::setRTS(true)), R"({"op":"SetRTS","on":true})", "SetRts");
        row("SetDTR", requestLine(NodeRequest::setDTR(false)), R"({"op":"SetDTR","on":false})", "SetDtr");
        row("SendChatText", requestLine(NodeRequest::sendChatText("hi")), R"({"op":"SendChatText","text":"hi"})",
            "SendChattext");
        row("Speech", requestLine(NodeRequest::speech("x", false)), R"({"op":"Speech","keyed":false,"text":"x"})",
            "speech");
        row("state", NodeEvent::stateLine(StatePatch{}).toLine(), R"({"event":"state"})", "State");
        row("connected", NodeEvent::connected("A", "B", "C").toLine(),
            R"({"event":"connected","addr":"C","call":"A","name":"B"})", "Connected");
        row("disconnected", NodeEvent::disconnected("A").toLine(), R"({"event":"disconnected","call":"A"})",
            "disConnected");
        row("rx", NodeEvent::rx(true).toLine(), R"({"event":"rx","on":true})", "RX");
        row("carrierDetect", NodeEvent::carrierDetect(false).toLine(), R"({"event":"carrierDetect","on":false})",
            "carrierdetect");
        row("dtmf", NodeEvent::dtmf("1").toLine(), R"({"event":"dtmf","digits":"1"})", "DTMF");
        row("chat", NodeEvent::chat("t").toLine(), R"({"event":"chat","text":"t"})", "Chat");
        row("closing", NodeEvent::closing().toLine(), R"({"event":"closing"})", "closing ");
    }
    void vocabulary()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, expected);
        QFETCH(QString, wrongCase);
        QCOMPARE(line, expected + '\n');
        const bool isRequest = expected.startsWith("{\"op\"");
        const QString name = QString::fromLatin1(QTest::currentDataTag());
        if (isRequest) {
            // The name reads back as the op that wrote it, and only in its exact letter case.
            const std::optional<NodeOp> op = nodeOpNamed(name);
            QVERIFY(op);
            QCOMPARE(nameOf(*op), name);
            QCOMPARE(parseRequest(expected).request.toLine(), parseRequest(line).request.toLine());
            QVERIFY(!nodeOpNamed(wrongCase));
            QCOMPARE(parseRequest(QByteArray("{\"op\":\"") + wrongCase.toLatin1() + "\"}").status,
                     ParseStatus::UnknownName);
            QVERIFY(NodeState().carriesOut(*op));
        } else {
            const std::optional<NodeEvent::Kind> kind = nodeEventNamed(name);
            QVERIFY(kind);
            QCOMPARE(parseEvent(line).event.kind, *kind);
            QVERIFY(!nodeEventNamed(wrongCase));
            QCOMPARE(parseEvent(QByteArray("{\"event\":\"") + wrongCase.toLatin1() + "\"}").status,
                     ParseStatus::UnknownName);
        }
    }

    void eventsRoundTrip()
    {
        StatePatch part;
        part.transmitterKeyed = true;
        part.connected = QStringList{"W1AW", "*ECHOTEST*"};
        const QList<NodeEvent> all{NodeEvent::stateLine(part),
                                   NodeEvent::stateLine(StatePatch{}),
                                   NodeEvent::connected("W1AW", "John Smith", "203.0.113.5"),
                                   NodeEvent::disconnected("W1AW"),
                                   NodeEvent::rx(true),
                                   NodeEvent::carrierDetect(false),
                                   NodeEvent::dtmf("*1*"),
                                   NodeEvent::chat(QString::fromUtf8("W1AW>h\u00e9llo \xf0\x9f\x98\x80")),
                                   NodeEvent::closing()};
        for (const NodeEvent &e : all) {
            const QByteArray line = e.toLine();
            QVERIFY(line.startsWith("{\"event\":\""));
            QVERIFY(line.endsWith("}\n"));
            QCOMPARE(line.count('\n'), 1);
            const ParsedEvent p = parseEvent(line.chopped(1));
            QCOMPARE(p.status, ParseStatus::Ok);
            QCOMPARE(p.event.toLine(), line);
        }
        QCOMPARE(NodeEvent::closing().toLine(), QByteArray("{\"event\":\"closing\"}\n"));
        QCOMPARE(NodeEvent::stateLine(part).toLine(),
                 QByteArray("{\"event\":\"state\",\"connected\":[\"W1AW\",\"*ECHOTEST*\"],\"transmitterKeyed\":true}\n"));
    }

    void eventFields()
    {
        // Missing name and address read as empty; unknown fields are ignored.
        ParsedEvent p = parseEvent(R"({"event":"connected","call":"W1AW","future":{"x":[1]}})");
        QCOMPARE(p.status, ParseStatus::Ok);
        QCOMPARE(p.event.kind, NodeEvent::Connected);
        QCOMPARE(p.event.call, QString("W1AW"));
        QCOMPARE(p.event.name, QString());

        p = parseEvent(R"(  {"on":true,"event":"rx"}  )");
        QCOMPARE(p.status, ParseStatus::Ok);
        QCOMPARE(p.event.kind, NodeEvent::RX);
        QCOMPARE(p.event.on, true);

        p = parseEvent(R"({"event":"state","localStation":"VK2ABC"})");
        QCOMPARE(p.status, ParseStatus::Ok);
        NodeState s;
        s.linkBusy = true;
        s.connected = {"W1AW"};
        p.event.state.applyTo(s);
        QCOMPARE(s.localStation, QString("VK2ABC"));
        QCOMPARE(s.linkBusy, true);                    // not sent: kept
        QCOMPARE(s.connected, QStringList{"W1AW"});    // not sent: kept
    }

    void badEvents_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");
        const int notObject = int(ParseStatus::NotJsonObject), missing = int(ParseStatus::MissingName),
                  unknown = int(ParseStatus::UnknownName), bad = int(ParseStatus::BadField);
        QTest::newRow("garbage") << QByteArray("hello") << notObject << "";
        QTest::newRow("array") << QByteArray("[{\"event\":\"closing\"}]") << notObject << "not a JSON object";
        QTest::newRow("string") << QByteArray("\"closing\"") << notObject << "";
        QTest::newRow("two objects") << QByteArray("{\"event\":\"closing\"}{}") << notObject << "";
        QTest::newRow("cut short") << QByteArray("{\"event\":\"closing\"") << notObject << "";
        QTest::newRow("bad utf-8") << QByteArray("{\"event\":\"chat\",\"text\":\"\xff\xfe\"}") << notObject << "";
        QTest::newRow("no event") << QByteArray("{\"op\":\"SetPTT\",\"on\":true}") << missing << "no \"event\" field";
        QTest::newRow("event number") << QByteArray("{\"event\":7}") << missing << "\"event\" is not a string";
        QTest::newRow("unknown") << QByteArray("{\"event\":\"sunrise\"}") << unknown << "unknown event \"sunrise\"";
        QTest::newRow("unknown, on two lines") << QByteArray("{\"event\":\"closi\\ng\"}") << unknown
                                               << "unknown event \"closi.g\"";
        QTest::newRow("case matters") << QByteArray("{\"event\":\"Closing\"}") << unknown << "unknown event \"Closing\"";
        QTest::newRow("rx string") << QByteArray("{\"event\":\"rx\",\"on\":\"true\"}") << bad
                                   << "event \"rx\": field \"on\" not true or false";
        QTest::newRow("rx number") << QByteArray("{\"event\":\"rx\",\"on\":1}") << bad
                                   << "event \"rx\": field \"on\" not true or false";
        QTest::newRow("rx missing") << QByteArray("{\"event\":\"rx\"}") << bad << "event \"rx\": field \"on\" missing";
        QTest::newRow("dtmf number") << QByteArray("{\"event\":\"dtmf\",\"digits\":123}") << bad
                                     << "event \"dtmf\": field \"digits\" not a string";
        QTest::newRow("connected no call") << QByteArray("{\"event\":\"connected\",\"name\":\"J\"}") << bad
                                           << "event \"connected\": field \"call\" missing";
        QTest::newRow("connected name null") << QByteArray("{\"event\":\"connected\",\"call\":\"A\",\"name\":null}")
                                             << bad << "event \"connected\": field \"name\" not a string";
        QTest::newRow("chat missing") << QByteArray("{\"event\":\"chat\"}") << bad
                                      << "event \"chat\": field \"text\" missing";
        QTest::newRow("state bool as string") << QByteArray("{\"event\":\"state\",\"linkBusy\":\"no\"}") << bad
                                              << "event \"state\": field \"linkBusy\" not true or false";
        QTest::newRow("state call number") << QByteArray("{\"event\":\"state\",\"localStation\":5}") << bad
                                           << "event \"state\": field \"localStation\" not a string";
        QTest::newRow("state list of mixed") << QByteArray("{\"event\":\"state\",\"connected\":[\"A\",1]}") << bad
                                             << "event \"state\": field \"connected\" holds something other than strings";
        QTest::newRow("state list not list") << QByteArray("{\"event\":\"state\",\"connected\":\"A\"}") << bad
                                             << "event \"state\": field \"connected\" not an array";
    }
    void badEvents()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, status);
        QFETCH(QString, error);
        const ParsedEvent p = parseEvent(line);
        QCOMPARE(int(p.status), status);
        if (!error.isEmpty())
            QCOMPARE(p.error, error);
        QVERIFY(!p.error.isEmpty());
        QVERIFY(!p.error.contains('\n'));
    }

    void requestFields()
    {
        ParsedRequest p = parseRequest(R"({"op":"SetPTT","on":"yes"})");
        QCOMPARE(p.status, ParseStatus::BadField);
        QCOMPARE(p.error, QString("op \"SetPTT\": field \"on\" not true or false"));
        p = parseRequest(R"({"op":"Speech","text":"x"})");
        QCOMPARE(p.status, ParseStatus::BadField);
        QCOMPARE(p.error, QString("op \"Speech\": field \"keyed\" missing"));
        p = parseRequest(R"({"op":"hello","protocol":1.5})");
        QCOMPARE(p.status, ParseStatus::BadField);
        QVERIFY(!p.isHello);
        p = parseRequest(R"({"op":"hello","protocol":2,"client":"x","colour":"red"})");
        QCOMPARE(p.status, ParseStatus::Ok);
        QCOMPARE(p.hello.protocol, 2);
        QCOMPARE(p.hello.version, QString());
        p = parseRequest(R"({"op":"Reboot"})");
        QCOMPARE(p.status, ParseStatus::UnknownName);
        QCOMPARE(p.name, QString("Reboot"));
        // An unknown field cannot smuggle itself into the request the node
        // acts on.
        p = parseRequest(R"({"op":"Connect","call":"W1AW","on":true})");
        QCOMPARE(p.status, ParseStatus::Ok);
        QCOMPARE(p.request.toJson(), NodeRequest::connect("W1AW").toJson());
    }

    void statePatches()
    {
        NodeState a;
        NodeState b = a;
        QVERIFY(StatePatch::diff(a, b).isEmpty());
        b.localStation = "VK2ABC";
        b.connected = {"W1AW"};
        const StatePatch d = StatePatch::diff(a, b);
        QCOMPARE(NodeEvent::stateLine(d).toLine(),
                 QByteArray("{\"event\":\"state\",\"connected\":[\"W1AW\"],\"localStation\":\"VK2ABC\"}\n"));
        NodeState c = a;
        d.applyTo(c);
        QCOMPARE(c, b);
        // Emptying the list is a change too, and is sent as an empty array.
        NodeState e = b;
        e.connected.clear();
        QCOMPARE(NodeEvent::stateLine(StatePatch::diff(b, e)).toLine(),
                 QByteArray("{\"event\":\"state\",\"connected\":[]}\n"));

        // What the node carries out: a node that never says carries it all;
        // one that says so, only what it lists.
        NodeState old;
        parseEvent(R"({"event":"state","localStation":"VK2ABC"})").event.state.applyTo(old);
        QVERIFY(old.carriesOut(NodeOp::SendChatText) && old.carriesOut(NodeOp::SetBusy));
        NodeState svx;
        const ParsedEvent p = parseEvent(R"({"event":"state","carries":["Connect","SetPTT"]})");
        QCOMPARE(p.status, ParseStatus::Ok);
        p.event.state.applyTo(svx);
        QCOMPARE(svx.carries, QStringList({"Connect", "SetPTT"}));
        QVERIFY(!svx.carriesOut(NodeOp::SendChatText));
        QCOMPARE(StatePatch::full(svx).toJson().value("carries").toArray().size(), 2);
    }

    void corpusIsSmallAndReadable()
    {
        const QDir dir(corpusDir());
        const int files = int(dir.entryList(QDir::Files).size());
        QVERIFY2(files > 0 && files <= 20, qPrintable(QString::number(files)));
        QVERIFY(corpusLines().size() >= files);
    }

    // Thousands of damaged lines: the parser never crashes, never lets a
    // line through half-read (what it accepts it writes back the same), and
    // never puts a newline into a log text.
    void damagedLinesNeverConfuseTheParser()
    {
        const QList<QByteArray> corpus = corpusLines();
        QVERIFY(!corpus.isEmpty());
        QRandomGenerator rng(20240611);
        int accepted = 0;
        for (int i = 0; i < 5000; ++i) {
            const QByteArray line = mutate(corpus.at(int(rng.bounded(corpus.size()))), corpus, rng);
            const ParsedEvent e = parseEvent(line);
            if (e.status == ParseStatus::Ok) {
                ++accepted;
                const ParsedEvent again = parseEvent(e.event.toLine().chopped(1));
                QCOMPARE(again.status, ParseStatus::Ok);
                QCOMPARE(again.event.toLine(), e.event.toLine());
            } else {
                QVERIFY(!e.error.isEmpty());
                QVERIFY(!e.error.contains('\n'));
            }
            const ParsedRequest r = parseRequest(line);
            if (r.status == ParseStatus::Ok && !r.isHello) {
                const ParsedRequest again = parseRequest(requestLine(r.request).chopped(1));
                QCOMPARE(again.status, ParseStatus::Ok);
                QCOMPARE(again.request.toJson(), r.request.toJson());
            }
            NodeAddress::parse(QString::fromUtf8(line));
        }
        // The mutations are mild enough that some lines still read.
        QVERIFY(accepted > 0);
    }

    // The same storm down a real socket into the client: the link stays up
    // and the good line after it is handled.
    void damagedLinesKeepTheLinkUp()
    {
        QTemporaryDir dir;
        QLocalServer server;
        QVERIFY(server.listen(dir.filePath("n.sock")));
        auto address = NodeAddress::parse("unix:" + dir.filePath("n.sock"));
        NodeLinkClient client(*address);
        QSignalSpy down(&client, &NodeLinkClient::linkDown);
        QStringList digits;
        connect(&client, &NodeBackend::DTMFString, this, [&](const QString &d) { digits << d; });
        client.start();
        QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 3000);
        QLocalSocket *node = server.nextPendingConnection();
        node->write(NodeEvent::stateLine(StatePatch::full(NodeState{"VK2ABC"})).toLine());
        QTRY_VERIFY_WITH_TIMEOUT(client.online(), 3000);

        const QList<QByteArray> corpus = corpusLines();
        QRandomGenerator rng(7);
        QByteArray stream;
        for (int i = 0; i < 3000; ++i)
            stream += mutate(corpus.at(int(rng.bounded(corpus.size()))), corpus, rng) + '\n';
        // An overlong line last, so the good line must come through right
        // after the skipping ends.
        stream += QByteArray(kMaxLineBytes + 10, 'q') + '\n';
        stream += "{\"event\":\"dtmf\",\"digits\":\"END\"}\n";
        qsizetype at = 0;
        while (at < stream.size()) {
            const qsizetype n = 1 + qsizetype(rng.bounded(9000));
            node->write(stream.mid(at, n));
            at += n;
            node->flush();
            QCoreApplication::processEvents();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!digits.isEmpty() && digits.last() == "END", 5000);
        QVERIFY(client.online());
        QCOMPARE(down.count(), 0);
        QVERIFY(client.droppedLines() > 0);
    }
};

QTEST_MAIN(TestNodeProtocol)
#include "test_nodeprotocol.moc"
