// Floods from outside against the station, with figures for each.
//
//   bench_floods [--stage chat|real] [--seconds 5] [--bin DIR]
//
// chat: chat lines from the node into the real windows (message box shown,
//   notices and the log as the program makes them), in process: the time
//   1,000, 5,000 and 30,000 lines take, per line, and how long one "/ver/"
//   question takes to be answered before a flood and after 30,000 lines.
// real: the real programs, headless, in a temporary folder: mirelva-node
//   serving the simulated node and mirelva with its web console on
//   loopback. Each flood runs for a few seconds while a "/ver/" probe goes to
//   mirelva every 250 ms through the node (its answer is handled on the same
//   thread and the same turns as a timed announcement: how late it comes is
//   how late a mark due then would be), and prints the probes' worst delay,
//   mirelva's peak resident memory beside its memory before, the on-air log
//   lines written and the flood's rate.

#include <cstdio>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QNetworkRequest>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QWebSocket>

#include "benchsupport.h"
#include "core/onairlog.h"
#include "support/chat_fixture.h"
#include "web/webpassword.h"

using namespace mirelva;
using namespace mirelva::test;

namespace {

// Microseconds from a "/ver/" coming to its answer reaching the node.
double versionAnswerUs(ChatFixture &f)
{
    const qsizetype before = f.chats().size();
    QElapsedTimer t;
    t.start();
    f.node.chat(QStringLiteral("W1AW>/ver/"));
    const double us = t.nsecsElapsed() / 1e3;
    return f.chats().size() == before + 1 ? us : -1;
}

void chatStage()
{
    std::printf("chat lines from the node, message box shown\n");
    std::printf("  %8s %10s %12s\n", "lines", "seconds", "us per line");
    double perLine1000 = 0;
    for (int n : {1000, 5000, 30000}) {
        ChatFixture f;
        f.mb().show();
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < n; ++i)
            f.node.chat(QStringLiteral("W1AW>line %1 of a pasted text").arg(i));
        const double s = t.nsecsElapsed() / 1e9;
        if (n == 1000)
            perLine1000 = s / n;
        std::printf("  %8d %10.3f %12.1f", n, s, s / n * 1e6);
        if (n != 1000)
            std::printf("   (%.2fx the time of 1,000 for %dx the lines)", s / (perLine1000 * 1000), n / 1000);
        std::printf("\n");
        std::fflush(stdout);
    }
    std::vector<double> fresh, after;
    {
        ChatFixture f;
        f.mb().show();
        for (int i = 0; i < 20; ++i)
            fresh.push_back(versionAnswerUs(f));
        for (int i = 0; i < 30000; ++i)
            f.node.chat(QStringLiteral("W1AW>line %1 of a pasted text").arg(i));
        for (int i = 0; i < 20; ++i)
            after.push_back(versionAnswerUs(f));
    }
    std::printf("  \"/ver/\" answered: median %.0f us before, %.0f us after 30,000 lines\n", bench::median(fresh),
                bench::median(after));
}

// The real programs and the floods against them.
class RealStation {
public:
    RealStation(const QString &bin, int seconds) : m_bin(bin), m_seconds(seconds) {}

    bool start()
    {
        if (!m_dir.isValid())
            return false;
        QDir().mkpath(m_dir.filePath("config/mirelva"));
        QDir().mkpath(m_dir.filePath("run"));
        QFile::setPermissions(m_dir.filePath("run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        write("nodelink.ini", "[SETTINGS]\r\nADDRESS=unix:" + m_dir.filePath("node.sock").toUtf8()
                                  + "\r\nAUDIODEVICE=none-such\r\n");
        m_webPort = 18000 + int(QCoreApplication::applicationPid() % 2000);
        write("web.ini", "[SETTINGS]\r\nENABLED=1\r\nADDRESS=127.0.0.1\r\nPORT=" + QByteArray::number(m_webPort)
                             + "\r\nPASSWORD=" + WebPassword::hash(QStringLiteral("flood bench"), 10).toLatin1() + "\r\n");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_CONFIG_HOME", m_dir.filePath("config"));
        env.insert("XDG_RUNTIME_DIR", m_dir.filePath("run"));
        m_node.setProcessEnvironment(env);
        m_node.setStandardOutputFile(QProcess::nullDevice());
        m_node.setStandardErrorFile(QProcess::nullDevice());
        m_node.start(m_bin + "/mirelva-node", {"--listen", "unix:" + m_dir.filePath("node.sock"), "--callsign", "vk2abc",
                                               "--headless", "--answer-delay", "0"});
        for (int i = 0; i < 100 && !QFile::exists(m_dir.filePath("node.sock")); ++i)
            QThread::msleep(50);
        m_mirelva.setProcessEnvironment(env);
        m_mirelva.setStandardOutputFile(QProcess::nullDevice());
        QObject::connect(&m_mirelva, &QProcess::readyReadStandardError, &m_mirelva, [this] { readLog(); });
        m_mirelva.start(m_bin + "/mirelva", {"--headless"});
        bench::waitFor([this] { return m_listening; }, 15000);
        return m_listening;
    }
    ~RealStation()
    {
        m_node.write("close\n");
        m_node.closeWriteChannel();
        m_mirelva.waitForFinished(5000);
        m_mirelva.kill();
        m_node.waitForFinished(2000);
        m_node.kill();
        m_mirelva.waitForFinished(2000);
        m_node.waitForFinished(2000);
    }

    // One flood: `step` sends a share of it and returns what it sent, called
    // as often as the loop allows for the stage's seconds.
    void flood(const char *name, const char *unit, const std::function<qint64()> &step)
    {
        bench::waitFor([] { return false; }, 1500);   // the last flood's tail
        const long rssBefore = rssKb("VmRSS");
        const int linesBefore = m_lines;
        m_worstProbeMs = 0;
        m_probesLost = 0;
        qint64 sent = 0;
        QElapsedTimer t;
        t.start();
        qint64 nextProbe = 0;
        while (t.elapsed() < m_seconds * 1000) {
            if (t.elapsed() >= nextProbe) {
                probe();
                nextProbe += 250;
            }
            sent += step();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        const double seconds = t.nsecsElapsed() / 1e9;
        bench::waitFor([this] { return m_probes.isEmpty(); }, 10000);
        for (auto it = m_probes.begin(); it != m_probes.end(); ++it)
            m_worstProbeMs = std::max(m_worstProbeMs, m_clock.elapsed() - it.value());
        m_probesLost += int(m_probes.size());
        m_probes.clear();
        std::printf("  %-40s %9.0f %s/s  probe worst %6lld ms%s  RSS %6ld -> peak %6ld kB  log lines %d\n", name,
                    sent / seconds, unit, m_worstProbeMs,
                    m_probesLost ? qPrintable(QStringLiteral(" (%1 unanswered)").arg(m_probesLost)) : "", rssBefore,
                    rssKb("VmHWM"), m_lines - linesBefore);
        std::fflush(stdout);
    }

    void chatToNode(int lines)
    {
        QByteArray batch;
        for (int i = 0; i < lines; ++i)
            batch += "chat W1AW>pasted line " + QByteArray::number(m_chatLine++) + "\n";
        m_node.write(batch);
    }
    quint16 webPort() const { return quint16(m_webPort); }
    QByteArray host() const { return "Host: 127.0.0.1:" + QByteArray::number(m_webPort) + "\r\n"; }
    QByteArray origin() const { return "http://127.0.0.1:" + QByteArray::number(m_webPort); }
    qint64 nodeBacklog() { return m_node.bytesToWrite(); }

private:
    void write(const QString &name, const QByteArray &text)
    {
        QFile f(m_dir.filePath("config/mirelva/" + name));
        if (f.open(QIODevice::WriteOnly))
            f.write(text);
    }
    long rssKb(const char *field) const
    {
        return bench::procKb(QStringLiteral("/proc/%1/status").arg(m_mirelva.processId()), field);
    }
    void probe()
    {
        if (!m_clock.isValid())
            m_clock.start();
        const QString id = QStringLiteral("P%1").arg(++m_probeCount);
        m_probes.insert(id, m_clock.elapsed());
        m_node.write("chat " + id.toUtf8() + ">/ver/\n");
    }
    void readLog()
    {
        m_pending += m_mirelva.readAllStandardError();
        qsizetype end;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            const QByteArray line = m_pending.left(end);
            m_pending.remove(0, end + 1);
            ++m_lines;
            if (line.contains("web console: listening"))
                m_listening = true;
            // The answers come in the order asked: the oldest probe is answered.
            if (line.contains("request SendChatText Mirelva") && !m_probes.isEmpty()) {
                auto oldest = std::min_element(m_probes.begin(), m_probes.end());
                m_worstProbeMs = std::max(m_worstProbeMs, m_clock.elapsed() - oldest.value());
                m_probes.erase(oldest);
            }
        }
    }

    QString m_bin;
    int m_seconds;
    QTemporaryDir m_dir;
    QProcess m_node, m_mirelva;
    int m_webPort = 0;
    bool m_listening = false;
    QByteArray m_pending;
    int m_lines = 0;
    QElapsedTimer m_clock;
    QHash<QString, qint64> m_probes;
    int m_probeCount = 0;
    qint64 m_worstProbeMs = 0;
    int m_probesLost = 0;
    qint64 m_chatLine = 0;
};

QByteArray logIn(RealStation &s)
{
    QTcpSocket login;
    QByteArray got;
    login.connectToHost(QHostAddress::LocalHost, s.webPort());
    login.write("POST /login HTTP/1.1\r\n" + s.host() + "Origin: " + s.origin()
                + "\r\nContent-Length: 20\r\n\r\npassword=flood+bench");
    bench::waitFor([&] { got += login.readAll(); return got.contains("\r\n\r\n"); }, 10000);
    const qsizetype at = got.indexOf("mirelva_session=");
    return at < 0 ? QByteArray() : got.mid(at, got.indexOf(';', at) - at);
}

void realStage(const QString &bin, int seconds)
{
    RealStation s(bin, seconds);
    if (!s.start()) {
        std::printf("real: mirelva did not start its web console\n");
        return;
    }
    std::printf("the real programs, %d s a flood, a \"/ver/\" probe every 250 ms\n", seconds);
    s.flood("nothing (the probe alone)", "", [] { return 0; });
    // At set rates: mirelva-node takes its console commands one by one, and
    // faster than it does, the probes would wait behind the flood in the
    // node, not in mirelva.
    for (int rate : {2000, 10000}) {
        QElapsedTimer paced;
        qint64 sentLines = 0;
        s.flood(qPrintable(QStringLiteral("chat lines from the node, %1 a second").arg(rate)), "lines", [&] {
            if (!paced.isValid())
                paced.start();
            const qint64 due = paced.elapsed() * rate / 1000 - sentLines;
            if (due <= 0)
                return qint64(0);
            s.chatToNode(int(due));
            sentLines += due;
            return due;
        });
    }
    {
        QTcpSocket unread;
        unread.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
        unread.connectToHost(QHostAddress::LocalHost, s.webPort());
        const QByteArray request = "GET /app.js HTTP/1.1\r\n" + s.host() + "\r\n";
        qint64 left = 100000;
        s.flood("100,000 pipelined GETs, never read", "requests", [&] {
            if (left == 0 || unread.bytesToWrite() > 1024 * 1024)
                return qint64(0);
            left -= 10000;
            unread.write(request.repeated(10000));
            return qint64(10000);
        });
    }
    {
        QTcpSocket refused;
        refused.connectToHost(QHostAddress::LocalHost, s.webPort());
        QObject::connect(&refused, &QTcpSocket::readyRead, &refused, [&] { refused.readAll(); });
        const QByteArray request = "POST /api/action HTTP/1.1\r\n" + s.host()
                                   + "Origin: http://elsewhere.example\r\nContent-Length: 2\r\n\r\n{}";
        s.flood("POSTs from another site", "requests", [&] {
            if (refused.bytesToWrite() > 256 * 1024)
                return qint64(0);
            refused.write(request.repeated(1000));
            return qint64(1000);
        });
    }
    {
        const QByteArray cookie = logIn(s);
        QWebSocket page(QString::fromLatin1(s.origin()));
        QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(s.webPort())));
        request.setRawHeader("Cookie", cookie);
        page.open(request);
        bench::waitFor([&] { return page.state() == QAbstractSocket::ConnectedState; }, 5000);
        if (page.state() != QAbstractSocket::ConnectedState) {
            std::printf("  a logged-in page: could not connect\n");
            return;
        }
        s.flood("WebSocket messages from a logged-in page", "messages", [&] {
            if (page.state() != QAbstractSocket::ConnectedState || page.bytesToWrite() > 256 * 1024)
                return qint64(0);
            for (int i = 0; i < 200; ++i)
                page.sendTextMessage(QStringLiteral("{\"action\":\"none\",\"id\":1}"));
            return qint64(200);
        });
        std::printf("  the page was %s\n", page.state() == QAbstractSocket::ConnectedState ? "kept" : "closed");
    }
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    OnAirLog::setEchoToStderr(false);
    const QStringList args = app.arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--stage"));
    const QString stage = at >= 0 ? args.value(at + 1) : QString();
    const qsizetype secondsAt = args.indexOf(QStringLiteral("--seconds"));
    const int seconds = secondsAt >= 0 ? args.value(secondsAt + 1).toInt() : 5;
    const qsizetype binAt = args.indexOf(QStringLiteral("--bin"));
    const QString bin = binAt >= 0 ? args.value(binAt + 1)
                                   : QCoreApplication::applicationDirPath() + QStringLiteral("/..");
    if (stage.isEmpty() || stage == QLatin1String("chat"))
        chatStage();
    if (stage.isEmpty() || stage == QLatin1String("real"))
        realStage(bin, std::max(1, seconds));
    return 0;
}
