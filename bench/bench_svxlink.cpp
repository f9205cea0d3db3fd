// How long a node event takes through mirelva-svxlink to Mirelva and back to
// the transmitter, beside the same event on the direct node link.
//
// The event is the squelch closing, and the answer a courtesy key-up: the
// window's handler keys the transmitter when the carrier drops (and releases
// it when the carrier comes back, between runs).
//
// - Through the bridge: a thread plays SvxLink, writing the hook's line
//   "<time> Mirelva:sql 0" into the STATE_PTY the bridge reads, and times
//   until the bridge writes "T" on the transmitter's PTY. In between: the
//   bridge parses the line, serves the event on its Unix socket, Mirelva's
//   client and EchoLink instance raise it, the handler's SetPTT goes back,
//   and the bridge keys its transmitter.
// - Direct: the same thread plays a node program, writing
//   {"event":"carrierDetect","on":false} on a Unix socket and timing until
//   the SetPTT on line comes back through the same client path.
// The two are timed turn about, so both see the same load on the machine.
//
//   bench_svxlink [--count N]

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "ui/echolink.h"
#include "core/onairlog.h"
#include "node/client/nodelink.h"
#include "node/link/nodeprotocol.h"
#include "node/link/nodeserver.h"
#include "node/svxlink/svxlinknode.h"

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
    std::printf("%-48s n=%-5zu median %8.1f us  min %8.1f us  max %9.1f us  p99 %8.1f us\n", what, n, f.median, f.min,
                f.max, f.p99);
}

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

// Blocks until `want` is read from fd; false at the end of the stream.
bool readUntil(int fd, std::string &buf, const std::string &want)
{
    for (;;) {
        const size_t at = buf.find(want);
        if (at != std::string::npos) {
            buf.erase(0, at + want.size());
            return true;
        }
        char tmp[4096];
        const ssize_t n = ::read(fd, tmp, sizeof tmp);
        if (n <= 0)
            return false;
        buf.append(tmp, size_t(n));
    }
}

void raw(int fd)
{
    struct termios t;
    if (::tcgetattr(fd, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    OnAirLog::setEchoToStderr(false);
    int count = 2000;
    const QStringList args = app.arguments();
    if (const qsizetype i = args.indexOf("--count"); i >= 0 && i + 1 < args.size())
        count = std::max(10, args[i + 1].toInt());
    const int warmup = 50;

    QTemporaryDir dir;
    // SvxLink's stock event scripts, as far as the bridge's folder needs them.
    QDir().mkpath(dir.filePath("share/events.d"));
    QFile(dir.filePath("share/events.tcl")).open(QIODevice::WriteOnly);

    // The STATE_PTY: the thread writes the master, the bridge reads the slave.
    int stateMaster = -1, stateSlave = -1;
    if (::openpty(&stateMaster, &stateSlave, nullptr, nullptr, nullptr) != 0) {
        std::perror("bench_svxlink: openpty");
        return 1;
    }
    raw(stateSlave);
    QFile::link(QString::fromLocal8Bit(::ttyname(stateSlave)), dir.filePath("state"));

    SvxLinkConfig config;
    config.folder = dir.filePath("run");
    config.attach = true;
    config.share = dir.filePath("share");
    config.statePty = dir.filePath("state");
    config.svxlinkPttPty = dir.filePath("none");
    config.ptt = "pty:" + dir.filePath("ptt");
    config.callsign = "VK2ABC-L";
    SvxLinkNode bridge(config);
    QString why;
    if (!bridge.prepare(&why) || !bridge.start(&why)) {
        std::printf("bench_svxlink: %s\n", qPrintable(why));
        return 1;
    }
    NodeServer server(&bridge);
    if (!server.listen(*nodelink::NodeAddress::parse("unix:" + dir.filePath("bridge.sock")), false, &why)) {
        std::printf("bench_svxlink: %s\n", qPrintable(why));
        return 1;
    }
    const int pttFd = ::open(QFile::encodeName(dir.filePath("ptt")).constData(), O_RDONLY | O_NOCTTY);
    raw(pttFd);

    // The direct node: a plain listening socket the thread serves.
    const QByteArray directPath = QFile::encodeName(dir.filePath("direct.sock"));
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un sa = {};
    sa.sun_family = AF_UNIX;
    std::strncpy(sa.sun_path, directPath.constData(), sizeof sa.sun_path - 1);
    if (::bind(listener, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 || ::listen(listener, 1) != 0) {
        std::perror("bench_svxlink: direct socket");
        return 1;
    }

    // Mirelva's side twice over: a client and a window on each node, the
    // window keying when the carrier drops.
    NodeLinkClient viaBridge(*nodelink::NodeAddress::parse("unix:" + dir.filePath("bridge.sock")));
    NodeLinkClient direct(*nodelink::NodeAddress::parse("unix:" + QString::fromLocal8Bit(directPath)));
    EchoLink w1(&viaBridge, "main"), w2(&direct, "main");
    for (EchoLink *w : {&w1, &w2})
        QObject::connect(w, &EchoLink::CarrierDetect, w, [w](bool on) { w->SetPTT(!on); });

    std::atomic<bool> bridgeOnline{false};
    QObject::connect(&viaBridge, &NodeBackend::onlineChanged, &viaBridge, [&](bool on) { bridgeOnline = on; });

    std::vector<double> bridgeUs, directUs;
    std::thread svx([&] {
        const int fd = ::accept(listener, nullptr, nullptr);
        std::string line, pttBuf, sockBuf;
        readUntil(fd, sockBuf, "\n");   // hello
        writeAll(fd, "{\"event\":\"state\",\"localStation\":\"VK2ABC\"}\n");
        // Wait until Mirelva's side of the bridge is online too.
        while (!bridgeOnline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        for (int i = 0; i < warmup + count; ++i) {
            // Carrier up: released (not timed).
            writeAll(stateMaster, "1.0 Mirelva:sql 1\n");
            if (!readUntil(pttFd, pttBuf, "R"))
                break;
            auto t0 = Clock::now();
            writeAll(stateMaster, "1.0 Mirelva:sql 0\n");
            if (!readUntil(pttFd, pttBuf, "T"))
                break;
            const double viaBridgeUs = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();

            writeAll(fd, "{\"event\":\"carrierDetect\",\"on\":true}\n");
            if (!readUntil(fd, sockBuf, "{\"op\":\"SetPTT\",\"on\":false}\n"))
                break;
            t0 = Clock::now();
            writeAll(fd, "{\"event\":\"carrierDetect\",\"on\":false}\n");
            if (!readUntil(fd, sockBuf, "{\"op\":\"SetPTT\",\"on\":true}\n"))
                break;
            const double directUsOne = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
            if (i >= warmup) {
                bridgeUs.push_back(viaBridgeUs);
                directUs.push_back(directUsOne);
            }
        }
        ::close(fd);
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    viaBridge.start();
    direct.start();
    app.exec();
    svx.join();

    if (bridgeUs.size() != size_t(count)) {
        std::printf("bench_svxlink: stopped early (%zu of %d)\n", bridgeUs.size(), count);
        return 1;
    }
    const Figures b = figures(bridgeUs), d = figures(directUs);
    print("squelch close -> PTT keyed, through the bridge", bridgeUs.size(), b);
    print("carrierDetect off -> SetPTT on, direct link", directUs.size(), d);
    std::printf("%-48s %.2f x the direct link\n", "median", b.median / d.median);
    return 0;
}
