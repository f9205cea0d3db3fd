// What mirelva-svxlink reads from SvxLink (hook lines, SvxLink's output, the
// PTT PTY) and writes to it (hook commands, keypad digits), table by table;
// a seeded storm of damaged hook lines; and the node the bridge serves,
// driven by hook lines alone: the exact events and state a client sees.

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

#include <sys/stat.h>

#include <QLocalSocket>
#include <QTemporaryDir>

#include "core/clock.h"
#include "core/onairlog.h"
#include "node/link/nodeserver.h"
#include "node/svxlink/svxlinkhook.h"
#include "node/svxlink/svxlinknode.h"

using namespace mirelva;
using namespace mirelva::svxlink;

namespace {

QString describe(const ParsedHookLine &p)
{
    if (p.status == ParsedHookLine::NotOurs)
        return QStringLiteral("not ours");
    if (p.status == ParsedHookLine::Bad)
        return QStringLiteral("bad: ") + p.error;
    const HookEvent &e = p.event;
    static const char *const names[] = {"squelch", "dtmf",    "connected", "disconnected",  "clients",
                                        "rx",      "chat",    "cbc",       "connectfailed", "tx"};
    QString s = QLatin1String(names[e.kind]);
    if (e.kind == HookEvent::Squelch || e.kind == HookEvent::Receiving || e.kind == HookEvent::Transmit)
        s += e.on ? QStringLiteral(" on") : QStringLiteral(" off");
    if (!e.call.isEmpty())
        s += QStringLiteral(" call=") + e.call;
    if (!e.calls.isEmpty() || e.kind == HookEvent::Clients)
        s += QStringLiteral(" calls=[") + e.calls.join(QLatin1Char(',')) + QLatin1Char(']');
    if (!e.text.isEmpty())
        s += QStringLiteral(" text=<") + e.text + QLatin1Char('>');
    return s;
}

// Everything a client of the node would see, in order.
struct Recorder {
    QStringList seen;
    explicit Recorder(NodeBackend &n)
    {
        QObject::connect(&n, &NodeBackend::connected, [this](const QString &c, const QString &name, const QString &a) {
            seen << QStringLiteral("connected %1 (%2) %3").arg(c, name, a);
        });
        QObject::connect(&n, &NodeBackend::Disconnected, [this](const QString &c) { seen << QStringLiteral("disconnected ") + c; });
        QObject::connect(&n, &NodeBackend::RX, [this](bool on) { seen << QStringLiteral("rx %1").arg(on); });
        QObject::connect(&n, &NodeBackend::CarrierDetect, [this](bool on) { seen << QStringLiteral("cd %1").arg(on); });
        QObject::connect(&n, &NodeBackend::DTMFString, [this](const QString &d) { seen << QStringLiteral("dtmf ") + d; });
        QObject::connect(&n, &NodeBackend::ChatTextReceived, [this](const QString &t) { seen << QStringLiteral("chat ") + t; });
        QObject::connect(&n, &NodeBackend::Closing, [this] { seen << QStringLiteral("closing"); });
    }
};

} // namespace

class TestSvxLinkHook : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { OnAirLog::setEchoToStderr(false); }

    void hookLines_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("expected");
        auto row = [](const char *name, const QByteArray &line, const QString &expected) {
            QTest::newRow(name) << line << expected;
        };
        row("squelch open", "1796641358.603 Mirelva:sql 1", "squelch on");
        row("squelch closed, CR LF", "1796641358.603 Mirelva:sql 0\r", "squelch off");
        row("transmitter", "1.0 Mirelva:tx 1", "tx on");
        row("digit", "1.0 Mirelva:dtmf *", "dtmf text=<*>");
        row("digit, encoded hash", "1.0 Mirelva:dtmf %23", "dtmf text=<#>");
        row("not a radio digit", "1.0 Mirelva:dtmf E", "bad: hook event \"dtmf\" with wrong arguments");
        row("two digits at once", "1.0 Mirelva:dtmf 12", "bad: hook event \"dtmf\" with wrong arguments");
        row("connected", "1.0 Mirelva:connected W1AW", "connected call=W1AW");
        row("connected conference", "1.0 Mirelva:connected *ECHOTEST*", "connected call=*ECHOTEST*");
        row("connected node suffix", "1.0 Mirelva:connected VK2ABC-L", "connected call=VK2ABC-L");
        row("connected lower case", "1.0 Mirelva:connected w1aw", "connected call=w1aw");
        row("connected with Tcl in it", "1.0 Mirelva:connected [exec%20rm]", "bad: hook event \"connected\" with wrong arguments");
        row("connected without call", "1.0 Mirelva:connected", "bad: hook event \"connected\" with wrong arguments");
        row("disconnected", "1.0 Mirelva:disconnected W1AW", "disconnected call=W1AW");
        row("clients", "1.0 Mirelva:clients W1AW VK2XYZ-R", "clients calls=[W1AW,VK2XYZ-R]");
        row("no clients", "1.0 Mirelva:clients ", "clients calls=[]");
        row("remote talks", "1.0 Mirelva:rx 1 W1AW", "rx on call=W1AW");
        row("remote stops", "1.0 Mirelva:rx 0 W1AW", "rx off call=W1AW");
        row("rx, flag not 0/1", "1.0 Mirelva:rx yes W1AW", "bad: hook event \"rx\" with wrong arguments");
        row("chat", "1.0 Mirelva:chat W1AW>hello%20there%0A%0A", "chat text=<W1AW>hello there>");
        row("chat, UTF-8", "1.0 Mirelva:chat W1AW>gr%C3%BC%C3%9Fe", QStringLiteral("chat text=<W1AW>grüße>"));
        row("chat, Tcl stays text", "1.0 Mirelva:chat W1AW>[exec%20reboot]%20$x", "chat text=<W1AW>[exec reboot] $x>");
        row("chat, percent itself", "1.0 Mirelva:chat 100%25", "chat text=<100%>");
        row("chat, empty", "1.0 Mirelva:chat %", "chat");
        row("chat, broken escape", "1.0 Mirelva:chat abc%4", "bad: broken %-escape in \"abc%4\"");
        row("chat, bad hex", "1.0 Mirelva:chat %GG", "bad: broken %-escape in \"%GG\"");
        row("cbc list", "1.0 Mirelva:cbc W1AW W1AX-L", "cbc calls=[W1AW,W1AX-L]");
        row("connect failed", "1.0 Mirelva:connectfailed the%20EchoLink%20directory%20is%20offline",
            "connectfailed text=<the EchoLink directory is offline>");
        row("unknown kind", "1.0 Mirelva:sunrise 1", "bad: unknown hook event \"sunrise\"");
        row("another publisher", "1.0 Logic:online 1", "not ours");
        row("no time stamp", "Mirelva:sql 1", "not ours");
        row("empty", "", "not ours");
        row("doubled blanks", "1.0 Mirelva:rx  1  W1AW", "rx on call=W1AW");
    }
    void hookLines()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, expected);
        QCOMPARE(describe(parseHookLine(line)), expected);
    }

    // Whatever the hook encodes comes back as it was, and is one word.
    void encodingRoundTrips()
    {
        const QStringList texts{QString(), QStringLiteral("W1AW>hello"), QStringLiteral("a b\tc\r\nd"),
                                QStringLiteral("100% [x] {y} \"z\" $v ;"), QStringLiteral("grüße ✓"),
                                QString(QChar(0)) + QStringLiteral("x")};
        for (const QString &t : texts) {
            const QByteArray word = percentEncode(t);
            QVERIFY(!word.isEmpty());
            QVERIFY2(!word.contains(' ') && !word.contains('\n') && !word.contains('\r'), word.constData());
            QCOMPARE(percentDecode(word).value_or(QStringLiteral("<broken>")), t);
        }
    }

    // Random damage to good lines: never a crash, never an event a good
    // line could not give (calls stay callsigns, digits stay digits).
    void damagedHookLines()
    {
        const QList<QByteArray> good{"1.0 Mirelva:sql 1", "1.0 Mirelva:dtmf %23", "1.0 Mirelva:connected W1AW",
                                     "1.0 Mirelva:clients W1AW VK2XYZ-R", "1.0 Mirelva:rx 1 W1AW",
                                     "1.0 Mirelva:chat W1AW>hi%0A", "1.0 Mirelva:cbc W1AW W1AX-L"};
        QRandomGenerator rng(20261207);
        int ok = 0;
        for (int i = 0; i < 20000; ++i) {
            QByteArray line = good[int(rng.bounded(good.size()))];
            const int edits = 1 + int(rng.bounded(4));
            for (int e = 0; e < edits && !line.isEmpty(); ++e) {
                const int at = int(rng.bounded(line.size()));
                switch (rng.bounded(3)) {
                case 0: line[at] = char(rng.bounded(256)); break;
                case 1: line.remove(at, 1 + int(rng.bounded(3))); break;
                default: line.insert(at, char(rng.bounded(256))); break;
                }
            }
            const ParsedHookLine p = parseHookLine(line);
            if (p.status != ParsedHookLine::Ok)
                continue;
            ++ok;
            if (!p.event.call.isEmpty())
                QVERIFY2(isEchoLinkCall(p.event.call), line.constData());
            for (const QString &c : p.event.calls)
                QVERIFY2(isEchoLinkCall(c), line.constData());
            if (p.event.kind == HookEvent::Dtmf)
                QVERIFY2(QStringLiteral("0123456789ABCD*#").contains(p.event.text) && p.event.text.size() == 1, line.constData());
        }
        QVERIFY(ok > 0);
    }

    void outputLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");
        QTest::newRow("incoming") << "Incoming EchoLink connection from W1AW (John) at 127.0.0.2" << "W1AW|John|127.0.0.2";
        QTest::newRow("no name") << "Incoming EchoLink connection from VK2XYZ-R () at 203.0.113.5" << "VK2XYZ-R||203.0.113.5";
        QTest::newRow("brackets in name") << "Incoming EchoLink connection from W1AW (Jo(h)n) at 10.0.0.1" << "W1AW|Jo(h)n|10.0.0.1";
        QTest::newRow("ipv6") << "Incoming EchoLink connection from W1AW (John) at ::1" << "W1AW|John|::1";
        QTest::newRow("lower-case call") << "Incoming EchoLink connection from w1aw (John) at 127.0.0.2" << "w1aw|John|127.0.0.2";
        QTest::newRow("call with a blank") << "Incoming EchoLink connection from W1 AW (John) at 127.0.0.2" << "";
        QTest::newRow("warning") << "*** WARNING: Ignoring incoming connection from W1AW" << "";
        QTest::newRow("address not an address") << "Incoming EchoLink connection from W1AW (John) at host.example" << "";
        QTest::newRow("other") << "W1AW: EchoLink QSO state changed to CONNECTED" << "";
    }
    void outputLines()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        const std::optional<StationSeen> s = parseOutputLine(line);
        QCOMPARE(s ? (QStringList{s->call, s->name, s->addr}).join(QLatin1Char('|')) : QString(), expected);
    }

    void commands()
    {
        const QList<QPair<QString, QString>> cw{{"vk2abc", "VK2ABC"},
                                                {"  de  vk2abc k ", "DE VK2ABC K"},
                                                {"VK2ABC-L", "VK2ABCL"},
                                                {"QTH? 5/9 = ok.", "QTH? 5/9 = OK."},
                                                {"[exec rm]; $x", "EXEC RM X"},
                                                {"---", ""}};
        for (const auto &[in, out] : cw)
            QCOMPARE(cwText(in), out);
        QCOMPARE(cwCommand("de vk2abc"), QByteArray("cw DE VK2ABC\n"));
        QCOMPARE(playCommand(12), QByteArray("play speech-12.wav\n"));
        QCOMPARE(passCommand("D9#6*9129#"), QByteArray("pass D9#6*9129#\n"));

        const QList<QPair<QString, QString>> keys{{"W1AW", "9129"}, {"VK2ABC-L", "8522225"}, {"*ECHOTEST*", "32468378"}};
        for (const auto &[call, digits] : keys)
            QCOMPARE(keypadDigits(call), digits);
        QVERIFY(isNodeNumber("9999") && !isNodeNumber("W1AW") && !isNodeNumber("12345678"));
        QVERIFY(isEchoLinkCall("W1AW") && isEchoLinkCall("*ECHOTEST*") && !isEchoLinkCall("W1AW;") && !isEchoLinkCall(""));
    }

    void dtmfStrings()
    {
        // Ended by the squelch closing...
        DtmfCollector d(3000);
        QCOMPARE(d.deadline(), qint64(-1));
        d.digit("*", 1000);
        d.digit("1", 1500);
        QVERIFY(!d.tick(4499));
        QCOMPARE(d.squelchClosed().value_or("-"), QStringLiteral("*1"));
        QVERIFY(!d.squelchClosed());
        // ...or by the time-out after the last digit.
        d.digit("0", 10000);
        QCOMPARE(d.deadline(), qint64(13000));
        QVERIFY(!d.tick(12999));
        QCOMPARE(d.tick(13000).value_or("-"), QStringLiteral("0"));
        // A runaway string is cut, not grown without end.
        for (int i = 0; i < 200; ++i)
            d.digit("5", 20000 + i);
        QCOMPARE(d.squelchClosed()->size(), DtmfCollector::kMaxDigits);
    }

    void pttBytes()
    {
        QCOMPARE(pttFromBytes("T").value_or(false), true);
        QCOMPARE(pttFromBytes("TR").value_or(true), false);
        QCOMPARE(pttFromBytes("RT\n").value_or(false), true);
        QVERIFY(!pttFromBytes("x\n"));
    }

    // The node a client sees, from hook and output lines alone: the name and
    // address join the connect, state leads each event, DTMF is one string.
    void nodeFromHookLines()
    {
        SvxLinkConfig c;
        c.callsign = QStringLiteral("VK2ABC-L");
        c.dtmfTimeoutMs = 3000;
        SvxLinkNode node(c);
        Recorder r(node);
        QCOMPARE(node.state().localStation, QStringLiteral("VK2ABC-L"));

        node.outputLine("Incoming EchoLink connection from W1AW (John) at 127.0.0.2");
        node.hookLine("1.0 Mirelva:connected W1AW");
        QCOMPARE(node.state().connected, QStringList{"W1AW"});
        QVERIFY(node.state().linkActive);
        node.hookLine("1.0 Mirelva:clients W1AW");
        node.hookLine("1.0 Mirelva:rx 1 W1AW");
        QVERIFY(node.state().linkBusy);
        node.hookLine("1.0 Mirelva:rx 0 W1AW");
        node.hookLine("1.0 Mirelva:chat W1AW>hello%0A");
        node.hookLine("1.0 Mirelva:sql 1");
        QVERIFY(node.state().receivingSignal);
        for (const char *d : {"%2A", "1", "%2A"})
            node.hookLine(QByteArray("1.0 Mirelva:dtmf ") + d);
        node.hookLine("1.0 Mirelva:sql 0");
        node.hookLine("1.0 Mirelva:disconnected W1AW");
        QCOMPARE(node.state().connected, QStringList{});
        QVERIFY(!node.state().linkActive);
        QCOMPARE(r.seen, (QStringList{"connected W1AW (John) 127.0.0.2", "rx 1", "rx 0", "chat W1AW>hello", "cd 1",
                                      "cd 0", "dtmf *1*", "disconnected W1AW"}));

        // An outgoing connect has no output line: it goes out without a name
        // once SvxLink's next event shows nothing more is coming.
        r.seen.clear();
        node.hookLine("1.0 Mirelva:connected VK2XYZ-R");
        QCOMPARE(r.seen, QStringList{});
        node.hookLine("1.0 Mirelva:chat x");
        QCOMPARE(r.seen, (QStringList{"connected VK2XYZ-R () ", "chat x"}));

        // Bad lines change nothing.
        const NodeState before = node.state();
        node.hookLine("1.0 Mirelva:connected bad;call");
        node.hookLine("1.0 Mirelva:sql maybe");
        QCOMPARE(node.state(), before);
    }

    // SvxLink's transmitter or the client's SetPTT keys the real one; it is
    // released only when both are done.
    void transmitterIsEitherOne()
    {
        SvxLinkNode node(SvxLinkConfig{});
        node.submit(NodeRequest::setPTT(true));
        QVERIFY(node.transmitterKeyed() && node.state().transmitterKeyed);
        node.svxlinkTransmits(true);
        node.submit(NodeRequest::setPTT(false));
        QVERIFY(node.transmitterKeyed());
        node.svxlinkTransmits(false);
        QVERIFY(!node.transmitterKeyed() && !node.state().transmitterKeyed);
        node.svxlinkTransmits(true);
        QVERIFY(node.transmitterKeyed());
        node.svxlinkTransmits(false);
        QVERIFY(!node.transmitterKeyed());
    }

    // A client that hangs while keyed (or never releases) holds the real
    // transmitter no longer than the bridge's own time-out; its key-up counts
    // again only after a release.
    void aHungClientIsTakenOffTheAirAtTheTimeout()
    {
        QTemporaryDir dir;
        SvxLinkConfig c;
        c.transmitTimeoutSeconds = 5;
        SvxLinkNode node(c);
        NodeServer server(&node);
        QVERIFY(server.listen(*nodelink::NodeAddress::parse("unix:" + dir.filePath("n.sock")), false, nullptr));
        QStringList log;
        connect(&OnAirLog::instance(), &OnAirLog::line, this, [&](const QString &l) { log << l.mid(24); });
        Clock::setForTests(QDateTime(QDate(2026, 12, 7), QTime(8, 0)));
        QLocalSocket hung;
        hung.connectToServer(dir.filePath("n.sock"));
        QVERIFY(hung.waitForConnected(3000));
        hung.write("{\"op\":\"hello\",\"protocol\":3}\n{\"op\":\"SetPTT\",\"on\":true}\n");
        hung.flush();
        QTRY_VERIFY_WITH_TIMEOUT(node.transmitterKeyed(), 3000);
        node.tick();
        QVERIFY(node.transmitterKeyed());
        Clock::advanceForTests(5);
        node.tick();
        QVERIFY(!node.transmitterKeyed() && !node.state().transmitterKeyed);
        QVERIFY(log.contains("svxlink: transmit time-out after 5 s: the client's key-up is released; it counts again "
                             "after the client's next release"));
        node.submit(NodeRequest::setPTT(true));
        QVERIFY(!node.transmitterKeyed());
        node.submit(NodeRequest::setPTT(false));
        node.submit(NodeRequest::setPTT(true));
        QVERIFY(node.transmitterKeyed());
        Clock::useSystemClock();
        disconnect(&OnAirLog::instance(), nullptr, this, nullptr);
    }

    // SvxLink names every incoming station, also those it then refuses: a
    // flood of them leaves a bounded memory that empties with time, and a
    // station that does connect still gets its name.
    void namesOfStationsThatNeverConnectAreForgotten()
    {
        SvxLinkNode node(SvxLinkConfig{});
        Recorder r(node);
        Clock::setForTests(QDateTime(QDate(2026, 12, 7), QTime(8, 0)));
        for (int i = 0; i < 10000; ++i)
            node.outputLine(QStringLiteral("Incoming EchoLink connection from K%1X (Flood) at 192.0.2.1").arg(i));
        QCOMPARE(node.stationsRemembered(), SvxLinkNode::kMaxStationsRemembered);
        node.outputLine("Incoming EchoLink connection from W1AW (John) at 127.0.0.2");
        node.hookLine("1.0 Mirelva:connected W1AW");
        QCOMPARE(r.seen, QStringList{"connected W1AW (John) 127.0.0.2"});
        Clock::advanceForTests(SvxLinkNode::kStationMemorySeconds);
        node.outputLine("Incoming EchoLink connection from W2XYZ (Jane) at 127.0.0.3");
        QCOMPARE(node.stationsRemembered(), 1);
        Clock::useSystemClock();
    }

    // A speech to play is cut as Mirelva cuts its own, and the folder keeps
    // only the last few.
    void speechIsCutForTheAir()
    {
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("speech")));
        SvxLinkConfig c;
        c.folder = dir.path();
        SvxLinkNode node(c);
        QStringList log;
        connect(&OnAirLog::instance(), &OnAirLog::line, this, [&](const QString &l) { log << l.mid(24); });
        node.submit(NodeRequest::speechOnAir(QString(60000, QChar('a')), 10, 100));
        for (int i = 0; i < SvxLinkNode::kSpeechFilesKept + 2; ++i)
            node.submit(NodeRequest::speechOnAir("ok", 10, 100));
        disconnect(&OnAirLog::instance(), nullptr, this, nullptr);
        QCOMPARE(log.first(), QString("svxlink: speech cut to 250 characters for the air (it had 60000)"));
        QCOMPARE(QDir(dir.filePath("speech")).entryList(QDir::Files).size(), SvxLinkNode::kSpeechFilesKept);
    }

    // FOLDER holds what keys the transmitter: the bridge's user's alone.
    void folderMustBeTheBridgesAlone_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("link");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("0700") << 0700 << false << "";
        QTest::newRow("0755") << 0755 << false << "a folder, owned by 0, mode 0755";
        QTest::newRow("symbolic link") << 0700 << true << "a symbolic link";
    }
    void folderMustBeTheBridgesAlone()
    {
        QFETCH(int, mode);
        QFETCH(bool, link);
        QFETCH(QString, refusal);
        QTemporaryDir dir;
        const QString real = dir.filePath("real"), folder = dir.filePath("bridge");
        QVERIFY(QDir().mkpath(real));
        QCOMPARE(::chmod(QFile::encodeName(real).constData(), mode_t(mode)), 0);
        QVERIFY(link ? QFile::link(real, folder) : QDir().rename(real, folder));
        SvxLinkConfig c;
        c.folder = folder;
        c.share = dir.filePath("none");
        SvxLinkNode node(c);
        QString why;
        QVERIFY(!node.prepare(&why));
        if (refusal.isEmpty())
            QVERIFY2(!why.startsWith("FOLDER"), qPrintable(why));
        else
            QVERIFY2(why.startsWith("FOLDER " + folder + " must be") && why.contains("; it is " + refusal), qPrintable(why));
    }
};

QTEST_GUILESS_MAIN(TestSvxLinkHook)
#include "test_svxlinkhook.moc"
