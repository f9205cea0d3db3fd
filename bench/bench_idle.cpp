// What an idle station costs: the whole mirelva process, every window loaded
// and every timer running, on a node of its own (mirelva-node over a socket),
// with nothing happening on the node.
//
//   bench_idle [--defaults] [seconds] [path/to/mirelva] [path/to/mirelva-node]
//
// On the X display DISPLAY names, else on the offscreen platform. The station
// has its idents, beacons, time marks and fan control switched on, so their
// countdowns run as they would on the air (--defaults: a new station's
// settings instead). Once mirelva says it started, and
// a few seconds more, the benchmark reads over the given seconds (30 by
// default, at least 30 for the figures to count):
// - thread wake-ups: the context switches of every thread of the process,
//   voluntary and not, a second (target: at most 20);
// - CPU: the run time of every thread, as the kernel accounts it in
//   nanoseconds, as a share of one core (target: at most 0.2%).

#include <algorithm>
#include <cstdio>
#include <map>

#include <QCoreApplication>
#include <QStringList>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

namespace {

struct ThreadFigures {
    QString name;
    qint64 switches = 0;
    qint64 runNs = 0;
};

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every thread of pid, by thread id.
std::map<qint64, ThreadFigures> sample(qint64 pid)
{
    std::map<qint64, ThreadFigures> out;
    const QString taskDir = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString &tid : QDir(taskDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString base = taskDir + QLatin1Char('/') + tid;
        ThreadFigures t;
        t.name = QString::fromUtf8(readFile(base + QStringLiteral("/comm")).trimmed());
        for (const QByteArray &line : readFile(base + QStringLiteral("/status")).split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:") || line.startsWith("nonvoluntary_ctxt_switches:"))
                t.switches += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
        t.runNs = readFile(base + QStringLiteral("/schedstat")).split(' ').value(0).toLongLong();
        out[tid.toLongLong()] = t;
    }
    return out;
}

bool waitForLine(QProcess &p, const QByteArray &needle, int ms, QByteArray *seen)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        p.waitForReadyRead(100);
        seen->append(p.readAllStandardError());
        if (seen->contains(needle))
            return true;
        if (p.state() == QProcess::NotRunning)
            return false;
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    const bool defaults = args.removeAll(QStringLiteral("--defaults")) > 0;
    const int seconds = std::max(1, args.value(0, QStringLiteral("30")).toInt());
    const QString binDir = QCoreApplication::applicationDirPath() + QStringLiteral("/..");
    const QString mirelva = args.value(1, binDir + QStringLiteral("/mirelva"));
    const QString nodeProgram = args.value(2, binDir + QStringLiteral("/mirelva-node"));

    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("cfg/mirelva"));
    QDir(dir.path()).mkpath(QStringLiteral("run"));
    QFile::setPermissions(dir.filePath(QStringLiteral("run")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString address = QStringLiteral("unix:") + dir.filePath(QStringLiteral("node.sock"));
    auto writeIni = [&](const QString &name, const QByteArray &body) {
        QFile f(dir.filePath(QStringLiteral("cfg/mirelva/") + name));
        f.open(QIODevice::WriteOnly);
        f.write("[SETTINGS]\n" + body);
    };
    writeIni(QStringLiteral("nodelink.ini"), "ADDRESS=" + address.toUtf8() + "\n");
    if (!defaults)
        writeIni(QStringLiteral("mirelva.ini"), "CALLSIGN=N0CALL\nIDCHECK=1\nSTOPCLOCK3=1\nSTOPCLOCK6=1\nSTOPCLOCK7=1\n"
                                                "TXTIMEHOUR=1\nTXQUARTERHOUR=1\nTXHALFHOUR=1\nFANCTRL=1\nDELAYCTRL=1\n");

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("cfg")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("run")));
    if (!env.contains(QStringLiteral("DISPLAY")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const char *platform = env.contains(QStringLiteral("DISPLAY")) ? "X" : "offscreen";

    QProcess node;
    node.setProcessEnvironment(env);
    node.start(nodeProgram, {QStringLiteral("--headless"), QStringLiteral("--listen"), address});
    if (!node.waitForStarted(5000)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(nodeProgram));
        return 1;
    }
    for (int i = 0; i < 50 && !QFile::exists(dir.filePath(QStringLiteral("node.sock"))); ++i)
        QThread::msleep(100);

    QProcess station;
    station.setProcessEnvironment(env);
    station.start(mirelva, {});
    QByteArray seen;
    if (!waitForLine(station, "started", 20000, &seen)) {
        std::fprintf(stderr, "mirelva did not start:\n%s\n", seen.constData());
        return 1;
    }
    // Windows loaded after the first paint, and start-up's own work, settle.
    QThread::sleep(5);
    station.readAllStandardError();

    const qint64 pid = station.processId();
    const auto before = sample(pid);
    QElapsedTimer wall;
    wall.start();
    QThread::sleep(unsigned(seconds));
    const auto after = sample(pid);
    const double elapsed = double(wall.nsecsElapsed()) / 1e9;

    qint64 switches = 0, runNs = 0;
    std::printf("idle on %s over %.1f s, every window loaded, %s (%s):\n", platform, elapsed,
                defaults ? "a new station's settings" : "idents, beacons, marks and fan on", qPrintable(mirelva));
    for (const auto &[tid, a] : after) {
        const auto b = before.find(tid);
        const qint64 s = a.switches - (b == before.end() ? 0 : b->second.switches);
        const qint64 ns = a.runNs - (b == before.end() ? 0 : b->second.runNs);
        switches += s;
        runNs += ns;
        std::printf("  thread %-18s %7.2f wake-ups/s %8.4f%% of a core\n", qPrintable(a.name), double(s) / elapsed,
                    100.0 * double(ns) / 1e9 / elapsed);
    }
    std::printf("idle wake-ups: %.2f a second (target: at most 20)\n", double(switches) / elapsed);
    std::printf("idle CPU: %.3f%% of one core (target: at most 0.2%%)\n", 100.0 * double(runNs) / 1e9 / elapsed);

    station.terminate();
    station.waitForFinished(5000);
    node.terminate();
    node.waitForFinished(5000);
    return 0;
}
