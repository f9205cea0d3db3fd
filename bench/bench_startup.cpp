// Start-up time and peak memory of mirelva beside a minimal Qt Widgets
// program, measured as whole processes on the same run; then the peak memory
// of a station whose web tools window has opened a page in its browser view.
//
//   bench_startup [path/to/mirelva] [runs]
//
// Each run starts the process on the offscreen platform with an empty
// settings folder, waits for the line each program writes just after its
// window's first paint (mirelva's "started"; the minimal program is this binary with
// --minimal: one window with one label), reads its peak resident memory and
// ends it. mirelva loads all its windows hidden at start-up.
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
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QDir>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWidget>

#include "announcer/mainwindow.h"
#include "core/nodebackend.h"
#include "core/speechvoice.h"
#include "core/station.h"
#include "node/simulatednode.h"
#include "side/webtoolswindow.h"

namespace {

int minimalProgram(int argc, char **argv)
{
    QApplication app(argc, argv);
    // The classic smallest program: one window with one line of text, so the
    // baseline pays for fonts as any real window does.
    QLabel w(QStringLiteral("Hello, world"));
    w.resize(400, 300);
    // Timed, as mirelva is, to just after the window's first paint.
    struct FirstPaint : QObject {
        bool done = false;
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::Paint && !done) {
                done = true;
                QTimer::singleShot(0, [] {
                    std::fprintf(stderr, "minimal started\n");
                    std::fflush(stderr);
                });
            }
            return false;
        }
    } watcher;
    w.installEventFilter(&watcher);
    w.show();
    return app.exec();
}

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

class SilentVoice : public mirelva::SpeechVoice {
protected:
    void play(const QString &, int) override {}
};

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
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

struct Sample {
    double ms;
    long kb;
};

Sample runOnce(const QString &program, const QStringList &args, const QByteArray &marker)
{
    QTemporaryDir dir;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", dir.path());
    env.insert("XDG_RUNTIME_DIR", dir.path());
    p.setProcessEnvironment(env);
    QElapsedTimer t;
    t.start();
    p.setReadChannel(QProcess::StandardError);
    p.start(program, args);
    QByteArray err;
    while (!err.contains(marker)) {
        if (!p.waitForReadyRead(10000) && p.state() != QProcess::Running)
            return {-1, -1};
        err += p.readAllStandardError();
        if (t.elapsed() > 20000)
            return {-1, -1};
    }
    const double ms = t.nsecsElapsed() / 1e6;
    const long kb = peakKb(p.processId());
    p.kill();
    p.waitForFinished(3000);
    return {ms, kb};
}

void report(const char *name, std::vector<Sample> s)
{
    std::vector<double> ms;
    std::vector<long> kb;
    for (const auto &x : s) {
        ms.push_back(x.ms);
        kb.push_back(x.kb);
    }
    std::sort(ms.begin(), ms.end());
    std::sort(kb.begin(), kb.end());
    std::printf("%-8s start-up ms: min %.1f  median %.1f  max %.1f   peak memory MB: median %.1f  max %.1f\n", name,
                ms.front(), ms[ms.size() / 2], ms.back(), kb[kb.size() / 2] / 1024.0, kb.back() / 1024.0);
}

double median(std::vector<Sample> s)
{
    std::sort(s.begin(), s.end(), [](const Sample &a, const Sample &b) { return a.ms < b.ms; });
    return s[s.size() / 2].ms;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && QByteArray(argv[1]) == "--minimal")
        return minimalProgram(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "--web-view")
        return webViewProgram(argc, argv);

    QCoreApplication app(argc, argv);
    const QString self = QCoreApplication::applicationFilePath();
    const QString mirelva = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                     : QFileInfo(self).absolutePath() + QStringLiteral("/../mirelva");
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 15;

    std::vector<Sample> m, q;
    for (int i = 0; i < runs; ++i) {
        const Sample a = runOnce(mirelva, {}, "started");
        const Sample b = runOnce(self, {QStringLiteral("--minimal")}, "minimal started");
        if (a.ms < 0 || b.ms < 0) {
            std::fprintf(stderr, "a run failed (mirelva at %s)\n", qPrintable(mirelva));
            return 1;
        }
        m.push_back(a);
        q.push_back(b);
    }
    report("mirelva", m);
    report("minimal", q);
    std::printf("ratio of medians: %.2f (target at most 1.5); mirelva peak memory target under 80 MB\n",
                median(m) / median(q));

    // Once, with the browser view opened on a page.
    QTemporaryDir dir;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", dir.path());
    env.insert("XDG_RUNTIME_DIR", dir.path());
    p.setProcessEnvironment(env);
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
