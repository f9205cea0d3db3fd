#include <QRegularExpression>
#include <QTest>

#include <QFile>
#include <QNetworkRequest>
#include <QPointer>
#include <QTcpSocket>
#include <QWebSocket>

#include "core/onairlog.h"
#include "ui/program.h"
#include "ui/vbtimer.h"
#include "station/windowstation.h"
#include "support/chat_fixture.h"
#include "web/minutelog.h"
#include "web/webconsole.h"
#include "web/webfront.h"
#include "web/webpassword.h"

using namespace mirelva;
using namespace mirelva::test;

namespace {

// The station under a flood from one source, with its clock a second before
// a quarter hour and the time announcement on: the flood comes in two
// halves around the tick at the mark, so the mark is due while it runs.
class FloodStation : public ChatFixture {
public:
    FloodStation() : ChatFixture(QDateTime(QDate(2024, 3, 5), QTime(10, 14, 59)))
    {
        w().QuarterHour->setValue(1);
        (w().Option1)->setValue(true);
        QObject::connect(&OnAirLog::instance(), &OnAirLog::line, &m_listening, [this] { ++onAirLines; });
        QObject::connect(&ScreenReaderNotices::instance(), &ScreenReaderNotices::told, &m_listening,
                         [this](QWidget *, const QString &text) { told << text; });
    }

    // The web console on loopback, as web.ini would start it.
    WebFront &startConsole()
    {
        WebSettings s;
        s.port = 0;
        s.passwordHash = WebPassword::hash(QStringLiteral("correct horse battery"), 10);
        settings.writeFile(WebSettings::fileName(), "[SETTINGS]\r\nPASSWORD=" + s.passwordHash.toLatin1() + "\r\n");
        stationPort = std::make_unique<WindowStation>(station);
        console = std::make_unique<WebConsole>(*stationPort, s);
        QString why;
        if (!console->start(&why))
            qFatal("%s", qPrintable(why));
        own = "Host: 127.0.0.1:" + QByteArray::number(console->front()->port()) + "\r\n";
        return *console->front();
    }
    quint16 port() const { return console->front()->port(); }
    // The console's own minute of refusals, ticked as its timer would.
    void tickRefusals()
    {
        for (VbTimer *t : console->findChildren<VbTimer *>(QStringLiteral("MinuteLog")))
            t->tickForTests();
    }

    // The tick at the mark, between the halves: the time is said on it.
    void markDue()
    {
        AnnouncerFixture::setTime(10, 15, 0);
        const int before = onAirLines;
        w().Timer1_Timer();
        markLines = onAirLines - before;
        markSpoken = voice.texts() == QStringList({QStringLiteral("Good Morning, The Time Is10 15 AM")});
    }

    // The most any one window keeps of screen-reader notices.
    int mostNotices() const
    {
        int most = 0;
        for (QWidget *win : {static_cast<QWidget *>(window.get()), static_cast<QWidget *>(station.messageBox)})
            most = std::max(most, int(win->findChildren<ScreenReaderNotice *>().size()));
        return most;
    }

    std::unique_ptr<WindowStation> stationPort;
    std::unique_ptr<WebConsole> console;
    QByteArray own;       // the Host header of the console's own page
    int onAirLines = 0;   // the flood's own and the mark's
    int markLines = 0;
    QStringList told;
    bool markSpoken = false;

private:
    QObject m_listening;
};

// Logs in to the station's console; the session's cookie ("name=value").
QByteArray logIn(FloodStation &f, const QByteArray &origin)
{
    QTcpSocket login;
    QByteArray got;
    QObject::connect(&login, &QTcpSocket::readyRead, &login, [&] { got += login.readAll(); });
    login.connectToHost(QHostAddress::LocalHost, f.port());
    login.write("POST /login HTTP/1.1\r\n" + f.own + "Origin: " + origin
                + "\r\nContent-Length: 30\r\n\r\npassword=correct+horse+battery");
    if (!QTest::qWaitFor([&] { return got.contains("\r\n\r\n"); }, 10000))
        return {};
    const qsizetype at = got.indexOf("mirelva_session=");
    return at < 0 ? QByteArray() : got.mid(at, got.indexOf(';', at) - at);
}

} // namespace

// Floods from outside, one table: each row sends many of one thing and
// checks what the program kept of it (its bound on memory), the on-air log
// lines it wrote, and that the time mark due meanwhile was spoken.
class TestFloods : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { VbTimer::setDrivenByTestsForTests(true); }
    void init()
    {
        Program::resetForTests();
        OnAirLog::setEchoToStderr(false);
    }

    void floodIsBounded_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("mostKept");     // notices, lines, bytes: what the row's source holds
        QTest::addColumn<int>("mostLogLines");
        QTest::newRow("chat from the node, message box shown") << "chat shown" << 3000 << kMostNotices << 0;
        QTest::newRow("chat from the node, message box hidden") << "chat hidden" << 12000 << kMostNotices << 0;
        // Kept: the bytes answered and not taken, beyond the one answer that
        // went over the limit.
        QTest::newRow("pipelined requests, answers never read") << "http unread" << 20000 << 0 << 0;
        // Logged: the minute's first few, then one line with the rest.
        QTest::newRow("POSTs from another site") << "http foreign" << 3000 << 0 << MinuteLog::kLinesAMinute + 1;
        QTest::newRow("live connections without a session") << "http upgrade" << 200 << 0 << MinuteLog::kLinesAMinute + 1;
        // Kept: the messages answered, at most the page's share a second;
        // logged: the closing.
        // Kept: what waits for the page beyond the limit, at most one message.
        QTest::newRow("a logged-in page that reads nothing") << "websocket unread" << 100000 << 0 << 100000;
        QTest::newRow("messages from a logged-in page") << "websocket" << 4000
                                                        << WebConsole::kMostMessagesASecond * (WebConsole::kMostFloodSeconds + 1)
                                                        << 2;
    }

    void floodIsBounded()
    {
        QFETCH(QString, source);
        QFETCH(int, count);
        QFETCH(int, mostKept);
        QFETCH(int, mostLogLines);
        FloodStation f;
        int kept = 0;
        if (source.startsWith(QLatin1String("chat"))) {
            if (source == QLatin1String("chat shown"))
                f.mb().show();
            // Told at once, both kinds of notice, so the window keeps its
            // share of notices besides the chat.
            for (int i = 0; i < kMostNotices + 4; ++i)
                tellScreenReader(f.station.messageBox, QStringLiteral("earlier %1").arg(i));
            f.told.clear();
            const auto send = [&](int from, int to) {
                for (int i = from; i < to; ++i)
                    f.node.chat(QStringLiteral("W1AW>line %1").arg(i));
            };
            send(0, count / 2);
            f.markDue();
            send(count / 2, count);
            f.mb().ChatNotice_Timer();
            kept = f.mostNotices();
            // The first line at once, the rest of the burst as one, with
            // its number: never a notice per line.
            QCOMPARE(f.told.filter(QRegularExpression("^Chat: ")), QStringList({"Chat: W1AW>line 0",
                                          QStringLiteral("Chat: %1 more texts, the last: W1AW>line %2")
                                              .arg(count - 1)
                                              .arg(count - 1)}));
            // Every line is in the message box, which keeps its own bound.
            const QStringList box = f.logLines();
            QVERIFY(box.size() <= std::min(count, LogBox::kMostLines + LogBox::kTrimStep));
            QCOMPARE(box.last(), QStringLiteral("W1AW> (10:15)>line %1").arg(count - 1));
        }
        if (source == QLatin1String("http unread")) {
            WebFront &front = f.startConsole();
            const QByteArray request = "GET /app.js HTTP/1.1\r\n" + f.own + "\r\n";
            QTcpSocket client;
            // A small window of its own, so the kernels' buffers fill soon.
            client.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
            client.connectToHost(QHostAddress::LocalHost, f.port());
            client.write(request.repeated(count));
            // The console reads until the answers stop going out, then waits
            // for the client, which never reads.
            QTRY_COMPARE_WITH_TIMEOUT(front.waitingForClients(), 1, 20000);
            const int answerBytes = int(QFile(QStringLiteral(":/web/app.js")).size()) + 2048;
            f.markDue();
            kept = int(front.unsentBytes() - WebFront::kMostUnsentBytes - answerBytes);
            // Reading nothing for the body's time, it is let go; a second
            // less is not enough.
            Clock::advanceForTests(WebFront::kBodySeconds - 1);
            front.sweep();
            QCOMPARE(front.connectionCount(), 1);
            Clock::advanceForTests(1);
            front.sweep();
            QCOMPARE(front.connectionCount(), 0);
            QCOMPARE(front.unsentBytes(), 0);
        }
        if (source.startsWith(QLatin1String("http "))) {
            // Refused requests on one connection, their answers read.
            f.startConsole();
            const QByteArray head = source == QLatin1String("http foreign")
                                        ? "Origin: http://elsewhere.example\r\n"
                                        : "Origin: http://127.0.0.1:" + QByteArray::number(f.port()) + "\r\n";
            if (source == QLatin1String("http upgrade")) {
                // Each refused and closed: a connection each, twenty at a time.
                const QByteArray request = "GET /ws HTTP/1.1\r\n" + f.own + head
                                           + "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                                             "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
                int refused = 0;
                for (int sent = 0; sent < count; sent += 20) {
                    if (sent == count / 2)
                        f.markDue();
                    std::vector<std::unique_ptr<QTcpSocket>> batch;
                    for (int i = 0; i < 20; ++i) {
                        batch.push_back(std::make_unique<QTcpSocket>());
                        QTcpSocket *c = batch.back().get();
                        QObject::connect(c, &QTcpSocket::readyRead, c, [c, &refused] {
                            if (c->readAll().startsWith("HTTP/1.1 403"))
                                ++refused;
                        });
                        c->connectToHost(QHostAddress::LocalHost, f.port());
                        c->write(request);
                    }
                    QTRY_COMPARE_WITH_TIMEOUT(refused, sent + 20, 10000);
                }
            } else if (source != QLatin1String("http unread")) {
                const QByteArray request = "POST /api/action HTTP/1.1\r\n" + f.own + head
                                           + "Content-Length: 2\r\n\r\n{}";
                QTcpSocket client;
                client.connectToHost(QHostAddress::LocalHost, f.port());
                int answers = 0;
                QByteArray got;
                QObject::connect(&client, &QTcpSocket::readyRead, &client, [&] {
                    got += client.readAll();
                    answers += int(got.count("HTTP/1.1 40"));
                    got = got.mid(got.lastIndexOf("HTTP/1.1 40") + 1);
                });
                client.write(request.repeated(count / 2));
                QTRY_COMPARE_WITH_TIMEOUT(answers, count / 2, 30000);
                f.markDue();
                client.write(request.repeated(count - count / 2));
                QTRY_COMPARE_WITH_TIMEOUT(answers, count, 30000);
            }
            if (source != QLatin1String("http unread")) {
                QCOMPARE(f.onAirLines - f.markLines, MinuteLog::kLinesAMinute);
                // The rest are told as the minute ends, not before.
                Clock::advanceForTests(58);
                f.tickRefusals();
                QCOMPARE(f.onAirLines - f.markLines, MinuteLog::kLinesAMinute);
                Clock::advanceForTests(1);
                f.tickRefusals();
                QCOMPARE(f.onAirLines - f.markLines, MinuteLog::kLinesAMinute + 1);
            }
        }
        if (source == QLatin1String("websocket")) {
            f.startConsole();
            const QByteArray origin = "http://127.0.0.1:" + QByteArray::number(f.port());
            const QByteArray cookie = logIn(f, origin);
            QVERIFY(!cookie.isEmpty());
            QWebSocket page(QString::fromLatin1(origin));
            int results = 0;
            QObject::connect(&page, &QWebSocket::textMessageReceived, &page, [&](const QString &m) {
                results += m.contains(QLatin1String("\"result\""));
            });
            QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(f.port())));
            request.setRawHeader("Cookie", cookie);
            page.open(request);
            QTRY_COMPARE_WITH_TIMEOUT(page.state(), QAbstractSocket::ConnectedState, 10000);
            const int before = f.onAirLines;
            // A second at a time, each with a quarter of the flood: the first
            // few a second answered, the rest dropped, until it is closed.
            for (int second = 0; second <= WebConsole::kMostFloodSeconds; ++second) {
                if (second == 1)
                    f.markDue();
                for (int i = 0; i < count / 4; ++i)
                    page.sendTextMessage(QStringLiteral("{\"action\":\"none\",\"id\":%1}").arg(i));
                page.flush();
                if (second < WebConsole::kMostFloodSeconds) {
                    QTRY_COMPARE_WITH_TIMEOUT(results, (second + 1) * WebConsole::kMostMessagesASecond, 10000);
                    // Let the rest of the second's flood come in and be dropped.
                    for (int turn = 0; turn < 50 && page.bytesToWrite() > 0; ++turn)
                        QTest::qWait(10);
                    QTest::qWait(50);
                    QCOMPARE(page.state(), QAbstractSocket::ConnectedState);
                    Clock::advanceForTests(1);
                }
            }
            QTRY_COMPARE_WITH_TIMEOUT(page.state(), QAbstractSocket::UnconnectedState, 10000);
            QCOMPARE(page.closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
            kept = results;
            QVERIFY(f.onAirLines - f.markLines - before >= 1);
        }
        if (source == QLatin1String("websocket unread")) {
            f.startConsole();
            const QByteArray origin = "http://127.0.0.1:" + QByteArray::number(f.port());
            const QByteArray cookie = logIn(f, origin);
            QVERIFY(!cookie.isEmpty());
            QTcpSocket raw;
            raw.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
            raw.connectToHost(QHostAddress::LocalHost, f.port());
            raw.write("GET /ws HTTP/1.1\r\n" + f.own + "Origin: " + origin + "\r\nCookie: " + cookie
                      + "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n");
            QTRY_VERIFY_WITH_TIMEOUT(raw.bytesAvailable() > 0, 10000);
            // From here on the page takes nothing: Qt reads no further.
            raw.setReadBufferSize(1);
            QTRY_COMPARE_WITH_TIMEOUT(f.console->liveConnections(), 1, 10000);
            // Every on-air log line goes to the page, which takes none: it is
            // closed once what waits for it passes the limit, long before
            // the flood is over.
            int sent = 0;
            for (; sent < count && f.console->liveConnections() == 1; ++sent) {
                OnAirLog::note(QStringLiteral("a line for the page %1 ").arg(sent) + QString(60, QLatin1Char('x')));
                if (sent % 100 == 0)
                    QCoreApplication::processEvents();
                if (sent == count / 4)
                    f.markDue();
            }
            QCOMPARE(f.console->liveConnections(), 0);
            // Let go once the kernels' buffers and the limit were full, long
            // before the flood's end.
            QVERIFY2(sent < count / 2, qPrintable(QStringLiteral("%1 lines sent").arg(sent)));
            if (!f.markSpoken)
                f.markDue();
        }
        QVERIFY2(kept <= mostKept, qPrintable(QStringLiteral("kept %1").arg(kept)));
        const int floodLines = f.onAirLines - f.markLines;
        QVERIFY2(floodLines <= mostLogLines, qPrintable(QStringLiteral("%1 log lines").arg(floodLines)));
        QVERIFY(f.markSpoken);
    }
};

QTEST_MAIN(TestFloods)
#include "test_floods.moc"
