// Start-up time and peak memory of mirelva beside a minimal Qt Widgets
// program, measured as whole processes on the same run.
//
//   bench_startup [path/to/mirelva] [runs]
//
// Each run starts the process on the offscreen platform with an empty
// settings folder, waits for the line each program writes just after its
// window's first paint (mirelva's "started"; the minimal program is this binary with
// --minimal: one window with one label), reads its peak resident memory and
// ends it.

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
#include <QWidget>

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
    return 0;
}
