// Start-up time and peak memory of mirelva beside the smallest Qt Widgets
// program, measured as whole processes; then the peak memory of a station
// whose web tools window has opened a page in its browser view.
//
//   bench_startup [--platform offscreen|xcb] [path/to/mirelva] [runs]
//
// Each run starts the process on the platform (offscreen unless told; xcb
// uses the X display in DISPLAY, an Xvfb for instance) with an empty settings
// folder, and times the line each program writes just after its window's
// first paint: mirelva's "started", and the baseline's "minimal started"
// (startup_minimal, built beside this program: one window with one label,
// linked with Qt Widgets alone; the target is against it). For mirelva it
// also times "all windows loaded", written once the windows the first paint
// did not need are loaded. Then it reads the peak resident memory and ends
// the process. The same minimal program linked with every library mirelva
// links (startup_minimal_linked) is timed too: the gap between it and the
// minimal one is the cost of those libraries, the rest is mirelva's own work
// before its paint. The programs take turns, run after run, so a machine busy
// with something else weighs on all alike; the figures are medians, and the
// ratio is given both as the ratio of the medians and as the median of each
// round's ratio.
//
// The web view figure comes from this binary with --web-view: the program's
// windows built as mirelva builds them, the web tools window shown and a page
// served by the benchmark itself opened in it; the peak is read once the page
// has loaded, for the program and for the browser engine's own processes.

#include <algorithm>
#include <cstdio>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QDir>
#include <QTcpServer>
#include <QTcpSocket>

#include "announcer/mainwindow.h"
#include "bench/benchsupport.h"
#include "core/nodebackend.h"
#include "core/speechvoice.h"
#include "ui/station.h"
#include "node/simulated/simulatednode.h"
#include "side/webtoolswindow.h"

namespace {

using mirelva::bench::median;
using mirelva::bench::SilentVoice;

long peakKb(qint64 pid);

// Peak memory of every process below pid (the browser engine's helpers).
long descendantsPeakKb(qint64 pid)
{
    long total = 0;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        const qint64 child = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(child));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // The parent is the second field after the command in parentheses.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == pid) {
            const long kb = peakKb(child);
            total += std::max(0L, kb) + descendantsPeakKb(child);
        }
    }
    return total;
}

// The station as mirelva builds it, the web tools window shown with a page
// of our own in its view.
int webViewProgram(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost))
        return 1;
    QObject::connect(&server, &QTcpServer::newConnection, [&server] {
        while (QTcpSocket *s = server.nextPendingConnection()) {
            QObject::connect(s, &QTcpSocket::readyRead, s, [s] {
                s->readAll();
                s->write("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html><head><title>Look-up</title>"
                         "</head><body><h1>VK2ABC</h1><p>Operator Bob, Sydney.</p></body></html>");
                s->disconnectFromHost();
            });
        }
    });

    mirelva::SimulatedNode node;
    SilentVoice voice;
    mirelva::tellNodeOfSpeech(voice, node);
    mirelva::Station station;
    station.node = &node;
    station.voice = &voice;
    mirelva::MainWindow window(station);
    window.Form_Load();
    std::fprintf(stderr, "loaded peak %ld\n", peakKb(QCoreApplication::applicationPid()));

    QTimer::singleShot(0, [&] {
        window.Command12->click();
        mirelva::BrowserView *view = station.webTools->WebBrowser1;
        QObject::connect(view, &mirelva::BrowserView::loadFinished, [](bool ok) {
            // Let the page be painted before the figures are read.
            QTimer::singleShot(500, [ok] {
                const qint64 self = QCoreApplication::applicationPid();
                std::fprintf(stderr, "web view %s peak %ld helpers %ld\n", ok ? "loaded" : "failed", peakKb(self),
                             descendantsPeakKb(self));
                std::fflush(stderr);
                QCoreApplication::exit(0);
            });
        });
        view->Navigate(QStringLiteral("http://127.0.0.1:%1/VK2ABC").arg(server.serverPort()));
    });
    QTimer::singleShot(60000, [] { QCoreApplication::exit(2); });
    return app.exec();
}

long peakKb(qint64 pid)
{
    return mirelva::bench::procKb(QStringLiteral("/proc/%1/status").arg(pid), "VmHWM");
}

QString g_platform = QStringLiteral("offscreen");

// A run's folders: settings on disk, and the runtime folder (where the
// single-copy lock is taken and synced) in memory where the machine has a
// memory file system, as a desktop session's runtime folder is.
struct RunFolders {
    QTemporaryDir config;
    QTemporaryDir runtime{QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm/bench_startup-XXXXXX")
                                                                     : QDir::tempPath() + QStringLiteral("/bench_startup-XXXXXX")};
};

QProcessEnvironment runEnvironment(const RunFolders &dirs)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", g_platform);
    env.insert("XDG_CONFIG_HOME", dirs.config.path());
    env.insert("XDG_RUNTIME_DIR", dirs.runtime.path());
    return env;
}

struct Sample {
    double ms = -1;       // to the first marker: the first paint
    double laterMs = -1;  // to the second, when there is one
    long kb = -1;
};

// A program built before it wrote "all windows loaded" is still timed to its
// first paint: the second marker is given up 3 s after the first, and not
// waited for again.
bool g_laterMarkerSeen = true;

Sample runOnce(const QString &program, const QByteArray &marker, QByteArray laterMarker = {})
{
    if (!g_laterMarkerSeen)
        laterMarker.clear();
    RunFolders dirs;
    QProcess p;
    p.setProcessEnvironment(runEnvironment(dirs));
    QElapsedTimer t;
    t.start();
    p.setReadChannel(QProcess::StandardError);
    p.start(program, {});
    QByteArray err;
    Sample s;
    while (s.ms < 0 || (!laterMarker.isEmpty() && s.laterMs < 0)) {
        if (!p.waitForReadyRead(100) && p.state() != QProcess::Running)
            return {};
        err += p.readAllStandardError();
        const double now = t.nsecsElapsed() / 1e6;
        if (s.ms < 0 && err.contains(marker))
            s.ms = now;
        if (!laterMarker.isEmpty() && s.laterMs < 0 && err.contains(laterMarker))
            s.laterMs = now;
        if (t.elapsed() > 20000)
            return {};
        if (s.ms >= 0 && s.laterMs < 0 && !laterMarker.isEmpty() && now - s.ms > 3000) {
            g_laterMarkerSeen = false;
            break;
        }
    }
    s.kb = peakKb(p.processId());
    p.kill();
    p.waitForFinished(3000);
    return s;
}

void report(const char *name, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    std::printf("  %-34s min %6.1f  median %6.1f  max %6.1f\n", name, ms.front(), median(ms), ms.back());
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && QByteArray(argv[1]) == "--web-view")
        return webViewProgram(argc, argv);

    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.size() > 1 && args[0] == QLatin1String("--platform")) {
        g_platform = args[1];
        args = args.mid(2);
    }
    const QString self = QCoreApplication::applicationFilePath();
    const QString here = QFileInfo(self).absolutePath();
    const QString mirelva = !args.isEmpty() ? args[0] : here + QStringLiteral("/../mirelva");
    const QString minimal = here + QStringLiteral("/startup_minimal");
    const QString linked = here + QStringLiteral("/startup_minimal_linked");
    const int runs = args.size() > 1 ? std::max(1, args[1].toInt()) : 31;

    std::vector<double> paint, allLoaded, base, baseLinked, ratios, linkedRatios;
    std::vector<long> kb, baseKb;
    for (int i = 0; i < runs; ++i) {
        // The order turns round, so none always follows another.
        Sample a, b, c;
        const auto runMirelva = [&] { a = runOnce(mirelva, "started", "all windows loaded"); };
        const auto runMinimal = [&] { b = runOnce(minimal, "minimal started"); };
        const auto runLinked = [&] { c = runOnce(linked, "minimal started"); };
        switch (i % 3) {
        case 0:
            runMirelva();
            runMinimal();
            runLinked();
            break;
        case 1:
            runMinimal();
            runLinked();
            runMirelva();
            break;
        default:
            runLinked();
            runMirelva();
            runMinimal();
            break;
        }
        if (a.ms < 0 || b.ms < 0 || c.ms < 0) {
            std::fprintf(stderr, "a run failed (mirelva at %s, baselines beside this program, platform %s)\n",
                         qPrintable(mirelva), qPrintable(g_platform));
            return 1;
        }
        paint.push_back(a.ms);
        allLoaded.push_back(a.laterMs);
        base.push_back(b.ms);
        baseLinked.push_back(c.ms);
        ratios.push_back(a.ms / b.ms);
        linkedRatios.push_back(a.ms / c.ms);
        kb.push_back(a.kb);
        baseKb.push_back(b.kb);
    }
    std::printf("start-up on the %s platform, %d rounds, each program once a round (ms):\n", qPrintable(g_platform), runs);
    report("mirelva to its first paint", paint);
    if (g_laterMarkerSeen)
        report("mirelva to all windows loaded", allLoaded);
    else
        std::printf("  mirelva to all windows loaded      (this mirelva does not say)\n");
    report("minimal Qt Widgets program", base);
    report("the same, linked as mirelva is", baseLinked);
    std::printf("first paint / minimal: ratio of medians %.2f, median of the rounds' ratios %.2f (target at most 1.5)\n",
                median(paint) / median(base), median(ratios));
    std::printf("first paint / minimal linked as mirelva is: ratio of medians %.2f, median of the rounds' ratios %.2f\n",
                median(paint) / median(baseLinked), median(linkedRatios));
    std::sort(kb.begin(), kb.end());
    std::sort(baseKb.begin(), baseKb.end());
    std::printf("peak memory MB: mirelva median %.1f max %.1f, minimal median %.1f; mirelva target under 80 MB\n",
                kb[kb.size() / 2] / 1024.0, kb.back() / 1024.0, baseKb[baseKb.size() / 2] / 1024.0);

    // Once, with the browser view opened on a page.
    RunFolders dirs;
    QProcess p;
    p.setProcessEnvironment(runEnvironment(dirs));
    p.start(self, {QStringLiteral("--web-view")});
    p.waitForFinished(90000);
    const QByteArray err = p.readAllStandardError();
    long loaded = -1, viewed = -1, helpers = -1;
    for (const QByteArray &line : err.split('\n')) {
        if (line.startsWith("loaded peak "))
            loaded = line.mid(12).toLong();
        if (line.startsWith("web view loaded peak ")) {
            const QList<QByteArray> f = line.split(' ');
            viewed = f.value(4).toLong();
            helpers = f.value(6).toLong();
        }
    }
    if (viewed < 0) {
        std::fprintf(stderr, "the web view run failed:\n%s\n", err.constData());
        return 1;
    }
    std::printf("web view: peak memory MB before opening %.1f, after a page has loaded %.1f "
                "(program) + %.1f (browser engine processes)\n",
                loaded / 1024.0, viewed / 1024.0, helpers / 1024.0);
    return 0;
}
