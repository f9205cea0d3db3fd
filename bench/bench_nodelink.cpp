// How long the node link takes to turn an event from the node into the
// request it leads to, beside the raw round trip of the same kind of socket.
//
// 1. In process, many times: the node side is a thread of its own on a Unix
//    socket, timing from writing a `closing` line to reading the `SetPTT`
//    off line back. On Mirelva's side the line goes through the client,
//    every signal, a window's EchoLink instance and its handler, exactly as
//    in the program (the handler only does not end the program). The raw
//    round trip is the same thread writing the same line to a socket whose
//    other end, served by the same event loop, echoes it; the two are timed
//    turn about.
// 2. The real program, a few times: `mirelva` started against this
//    benchmark as its node, timing `closing` to `SetPTT` off. Each run ends
//    the program, so it is started anew every time.
//
//   bench_nodelink [--count N] [--real-count N] [--mirelva PATH]

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include "ui/echolink.h"
#include "core/onairlog.h"
#include "node/client/nodelink.h"
#include "node/link/nodeprotocol.h"

using namespace mirelva;
using Clock = std::chrono::steady_clock;

namespace {

struct Figures {
    double median, min, max, p99;
};

Figures figures(std::vector<double> us)
{
    std::sort(us.begin(), us.end());
    const size_t n = us.size();
    return {n % 2 ? us[n / 2] : (us[n / 2 - 1] + us[n / 2]) / 2, us.front(), us.back(), us[std::min(n - 1, n * 99 / 100)]};
}

void print(const char *what, size_t n, const Figures &f)
{
    std::printf("%-44s n=%-5zu median %8.1f us  min %8.1f us  max %9.1f us  p99 %8.1f us\n", what, n, f.median, f.min,
                f.max, f.p99);
}

sockaddr_un addressOf(const QString &path)
{
    sockaddr_un sa = {};
    sa.sun_family = AF_UNIX;
    const QByteArray p = QFile::encodeName(path);
    std::memcpy(sa.sun_path, p.constData(), std::min<size_t>(size_t(p.size()), sizeof sa.sun_path - 1));
    return sa;
}

// Blocking line reader for the node side.
class Lines {
public:
    explicit Lines(int fd) : m_fd(fd) {}
    bool next(std::string *line)
    {
        for (;;) {
            const size_t nl = m_buf.find('\n');
            if (nl != std::string::npos) {
                *line = m_buf.substr(0, nl);
                m_buf.erase(0, nl + 1);
                return true;
            }
            char tmp[4096];
            const ssize_t n = ::read(m_fd, tmp, sizeof tmp);
            if (n <= 0)
                return false;
            m_buf.append(tmp, size_t(n));
        }
    }

private:
    int m_fd;
    std::string m_buf;
};

void writeAll(int fd, const std::string &s)
{
    size_t at = 0;
    while (at < s.size()) {
        const ssize_t n = ::write(fd, s.data() + at, s.size() - at);
        if (n <= 0)
            return;
        at += size_t(n);
    }
}

const std::string kClosing = "{\"event\":\"closing\"}\n";
const std::string kPttOff = "{\"op\":\"SetPTT\",\"on\":false}";

// ---- 1. in process -----------------------------------------------------------

void inProcess(int count, int warmup)
{
    QTemporaryDir dir;
    const QString linkPath = dir.filePath("link.sock");
    const QString echoPath = dir.filePath("echo.sock");

    // The node end of the link.
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un sa = addressOf(linkPath);
    if (::bind(listener, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 || ::listen(listener, 1) != 0) {
        std::perror("bench_nodelink: link socket");
        return;
    }
    // The echo end, served by our event loop like the client is.
    QLocalServer echo;
    echo.listen(echoPath);
    QObject::connect(&echo, &QLocalServer::newConnection, &echo, [&echo] {
        QLocalSocket *s = echo.nextPendingConnection();
        QObject::connect(s, &QLocalSocket::readyRead, s, [s] {
            s->write(s->readAll());
            s->flush();
        });
    });

    NodeLinkClient client(*nodelink::NodeAddress::parse("unix:" + linkPath));
    EchoLink window(&client, QStringLiteral("main"));
    QObject::connect(&window, &EchoLink::Closing, &window, [&window] { window.SetPTT(false); });

    std::vector<double> linkUs, rawUs;
    std::thread node([&] {
        const int fd = ::accept(listener, nullptr, nullptr);
        Lines lines(fd);
        std::string line;
        lines.next(&line);   // hello
        writeAll(fd, "{\"event\":\"state\",\"localStation\":\"VK2ABC\"}\n");
        const int e = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un ea = addressOf(echoPath);
        if (::connect(e, reinterpret_cast<sockaddr *>(&ea), sizeof ea) != 0)
            return;
        Lines echoed(e);
        // Turn about, so that both see the same load on the machine.
        for (int i = 0; i < warmup + count; ++i) {
            auto t0 = Clock::now();
            writeAll(fd, kClosing);
            do {
                if (!lines.next(&line))
                    return;
            } while (line != kPttOff);
            const double link = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
            t0 = Clock::now();
            writeAll(e, kClosing);
            if (!echoed.next(&line))
                return;
            const double raw = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
            if (i >= warmup) {
                linkUs.push_back(link);
                rawUs.push_back(raw);
            }
        }
        ::close(fd);
        ::close(e);
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
    });
    client.start();
    QCoreApplication::exec();
    node.join();
    ::close(listener);

    if (linkUs.size() != size_t(count) || rawUs.size() != size_t(count)) {
        std::printf("in process: the node side stopped early (%zu link, %zu raw)\n", linkUs.size(), rawUs.size());
        return;
    }
    const Figures link = figures(linkUs), raw = figures(rawUs);
    print("closing -> SetPTT off, through the link", linkUs.size(), link);
    print("raw round trip of the same socket (echo)", rawUs.size(), raw);
    std::printf("%-44s %.2f x the raw round trip (target: under 1000 us median, within 5 x)\n", "median",
                link.median / raw.median);
}

// ---- 2. the real program -------------------------------------------------------

void realProgram(const QString &mirelva, int count)
{
    QTemporaryDir dir;
    const QString sock = dir.filePath("node.sock");
    QDir().mkpath(dir.filePath("config/mirelva"));
    QDir().mkpath(dir.filePath("run"));
    QFile::setPermissions(dir.filePath("run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile ini(dir.filePath("config/mirelva/nodelink.ini"));
    if (!ini.open(QIODevice::WriteOnly))
        return;
    ini.write(("[SETTINGS]\nADDRESS=unix:" + sock + "\nAUDIODEVICE=none-such\n").toUtf8());
    ini.close();

    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un sa = addressOf(sock);
    if (::bind(listener, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 || ::listen(listener, 1) != 0) {
        std::perror("bench_nodelink: node socket");
        return;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    env.insert("XDG_RUNTIME_DIR", dir.filePath("run"));

    std::vector<double> us;
    for (int i = 0; i < count; ++i) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setProgram(mirelva);
        p.setStandardErrorFile(QProcess::nullDevice());
        p.setStandardOutputFile(QProcess::nullDevice());
        p.start();
        if (!p.waitForStarted(5000))
            break;
        const int fd = ::accept(listener, nullptr, nullptr);
        Lines lines(fd);
        std::string line;
        lines.next(&line);   // hello
        writeAll(fd, "{\"event\":\"state\",\"localStation\":\"VK2ABC\"}\n");
        for (int k = 0; k < 3; ++k)   // PTT, DTR and RTS released at start-up
            lines.next(&line);
        // Let the window finish coming up before the node closes.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const auto t0 = Clock::now();
        writeAll(fd, kClosing);
        bool got = false;
        while (lines.next(&line))
            if (line == kPttOff) {
                got = true;
                break;
            }
        const double t = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
        while (lines.next(&line)) {
        }
        ::close(fd);
        p.waitForFinished(5000);
        if (got)
            us.push_back(t);
    }
    ::close(listener);
    if (us.empty()) {
        std::printf("real program: no run completed\n");
        return;
    }
    print("real mirelva: closing -> SetPTT off", us.size(), figures(us));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    OnAirLog::setEchoToStderr(false);
    int count = 2000;
    int realCount = 10;
    QString mirelva = QCoreApplication::applicationDirPath() + "/../mirelva";
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--count")
            count = std::max(1, args[i + 1].toInt());
        else if (args[i] == "--real-count")
            realCount = std::max(0, args[i + 1].toInt());
        else if (args[i] == "--mirelva")
            mirelva = args[i + 1];
    }
    inProcess(count, 200);
    if (realCount > 0 && QFileInfo(mirelva).isExecutable())
        realProgram(QFileInfo(mirelva).absoluteFilePath(), realCount);
    else if (realCount > 0)
        std::printf("real program: %s not found, skipped\n", qPrintable(mirelva));
    return 0;
}
