// How soon a station calling in is let in, mirelva-echolink beside SvxLink,
// on loopback with the tests' stand-in directory on 127.0.0.1:5200 and
// stand-in stations on 127.0.3.x, no ALLOWIP (every caller is looked up).
// For each node:
//   - a station listed before the node fetched its list (the warm-up, which
//     makes the node fetch);
//   - a station that logs in to the directory after that fetch, alone;
//   - three such stations calling at once;
//   - one such station while one byte comes from each of 4,200 other
//     loopback addresses (the burst again every 30 s; a forged flood that
//     once filled the node's table of senders);
// the time from the station's first SDES to the node's first SDES back
// (stations repeat their SDES every 10 s, as EchoLink's do). Also the
// directory's list requests during the whole run.
//
//   flock /tmp/mirelva-echolink-ports.lock bench_admission [--mirelva-only]

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <cstdio>
#include <memory>

#include "benchsupport.h"
#include "support/echolinkdirectory.h"
#include "support/echolinkstation.h"
#include "support/svxlinkstation.h"

using namespace mirelva::test;
using mirelva::bench::waitFor;

namespace {

const QString kNodeCall = QStringLiteral("VK2XYZ-L");
const QHostAddress kNode(QStringLiteral("127.0.0.1"));
constexpr int kAdmitWaitMs = 40000;

QHostAddress stationAddress(int i) { return QHostAddress(QStringLiteral("127.0.3.%1").arg(10 + i)); }

// One byte from each of `count` loopback addresses 127.1.x.y.
void forgedBurst(int count)
{
    for (int i = 0; i < count; ++i) {
        QUdpSocket s;
        if (s.bind(QHostAddress(quint32(0x7F010000 + 1 + i)), 0))
            s.writeDatagram("\x05", 1, kNode, quint16(5198 + (i & 1)));
    }
}

struct Caller {
    std::unique_ptr<EchoLinkStation> el;
    QByteArray call;
    qint64 calledAt = -1;
};

class Run {
public:
    explicit Run(bool svxlink) : m_svxlink(svxlink) {}

    bool start(QString *why)
    {
        m_clock.start();
        if (!m_directory.listen(why))
            return false;
        if (m_svxlink) {
            SvxLinkConf c;
            c.echolinkCallsign = kNodeCall;
            c.bindAddr = kNode.toString();
            c.maxQsos = 20;
            m_svx = std::make_unique<SvxLinkStation>(m_dir.filePath("svxlink"), c, m_clock);
            if (!SvxLinkStation::available(why) || !m_svx->start(why))
                return false;
        } else {
            writeFile(m_dir.filePath("mirelva/echolink.ini"),
                      QStringLiteral("[SETTINGS]\nCALLSIGN=%1\nPASSWORD=x\nSERVERS=127.0.0.1\nBINDADDR=127.0.0.1\n"
                                     "LISTEN=unix:%2/node.sock\nRXAUDIO=none\nTXAUDIO=none\nSQL=none\nMAXQSOS=20\n")
                          .arg(kNodeCall, m_dir.path())
                          .toUtf8());
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.path());
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
            m_node = std::make_unique<Program>(binDir() + QStringLiteral("/mirelva-echolink"), QStringList{}, env, m_clock);
        }
        waitFor([&] { return m_directory.status(kNodeCall) == QLatin1String("ONLINE"); }, 20000);
        if (m_directory.status(kNodeCall) != QLatin1String("ONLINE")) {
            *why = QStringLiteral("the node did not log in to the directory");
            return false;
        }
        return true;
    }

    // A station the directory lists from now on, bound at its address.
    Caller *station(const QString &call)
    {
        const int i = int(m_callers.size());
        auto c = std::make_unique<Caller>();
        c->call = call.toLatin1();
        c->el = std::make_unique<EchoLinkStation>(stationAddress(i), kNode);
        QString why;
        if (!c->el->bind(&why)) {
            std::printf("problem %s\n", qPrintable(why));
            return nullptr;
        }
        m_directory.addStation({call, QStringLiteral("Bench"), QStringLiteral("ON"), 3000 + i, stationAddress(i)});
        m_callers.push_back(std::move(c));
        return m_callers.back().get();
    }

    void call(Caller *c)
    {
        c->calledAt = m_clock.elapsed();
        c->el->connectToNode(c->call, "Bench");
        c->el->keepAlive();
    }

    QElapsedTimer m_clock;
    EchoLinkDirectory m_directory;

private:
    bool m_svxlink;
    QTemporaryDir m_dir;
    std::unique_ptr<Program> m_node;
    std::unique_ptr<SvxLinkStation> m_svx;
    std::vector<std::unique_ptr<Caller>> m_callers;
};

// Waits for each caller's answer, noting the time it came.
std::vector<qint64> answers(Run &run, const std::vector<Caller *> &callers)
{
    std::vector<qint64> at(callers.size(), -1);
    waitFor([&] {
        bool all = true;
        for (size_t i = 0; i < callers.size(); ++i) {
            if (at[i] < 0 && callers[i]->el->sdesReceived > 0)
                at[i] = run.m_clock.elapsed() - callers[i]->calledAt;
            all = all && at[i] >= 0;
        }
        return all;
    }, kAdmitWaitMs);
    return at;
}

void measure(bool svxlink)
{
    const char *name = svxlink ? "SvxLink" : "mirelva-echolink";
    Run run(svxlink);
    QString why;
    if (!run.start(&why)) {
        std::printf("%s: problem %s\n", name, qPrintable(why));
        return;
    }
    const auto show = [name](const char *what, const std::vector<qint64> &ms) {
        std::printf("%-18s %-44s", name, what);
        for (const qint64 m : ms)
            std::printf(" %s", m < 0 ? "none in 40 s" : qPrintable(QStringLiteral("%1 ms").arg(m)));
        std::printf("\n");
    };
    // Warm-up: listed from the start; the node fetches its list for it.
    Caller *first = run.station(QStringLiteral("VK3AA"));
    if (!first)
        return;
    run.call(first);
    show("listed before the node's fetch", answers(run, {first}));
    mirelva::bench::runEventLoopFor(2000);

    Caller *late = run.station(QStringLiteral("VK3AB"));
    run.call(late);
    show("logged in after the node's fetch", answers(run, {late}));
    mirelva::bench::runEventLoopFor(4000);

    std::vector<Caller *> three{run.station(QStringLiteral("VK3AC")), run.station(QStringLiteral("VK3AD")),
                                run.station(QStringLiteral("VK3AE"))};
    for (Caller *c : three)
        run.call(c);
    show("three logged in after it, calling at once", answers(run, three));
    mirelva::bench::runEventLoopFor(4000);

    QElapsedTimer burst;
    burst.start();
    forgedBurst(4200);
    const qint64 burstMs = burst.elapsed();
    QTimer again;
    QObject::connect(&again, &QTimer::timeout, [] { forgedBurst(4200); });
    again.start(30000);
    Caller *flooded = run.station(QStringLiteral("VK3AF"));
    run.call(flooded);
    show("logged in after it, 4,200 forged senders", answers(run, {flooded}));
    again.stop();
    std::printf("%-18s %-44s %lld ms\n", name, "(one forged burst took)", burstMs);
    std::printf("%-18s %-44s %d\n", name, "directory list requests, whole run", run.m_directory.listRequests);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const bool mirelvaOnly = app.arguments().contains(QStringLiteral("--mirelva-only"));
    measure(false);
    if (!mirelvaOnly)
        measure(true);
    return 0;
}
