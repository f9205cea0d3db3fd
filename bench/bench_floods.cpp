// Floods from outside against the station, with figures for each.
//
//   bench_floods [--stage chat]
//
// chat: chat lines from the node into the real windows (message box shown,
//   notices and the log as the program makes them), in process: the time
//   1,000, 5,000 and 30,000 lines take, per line, and how long one "/ver/"
//   question takes to be answered before a flood and after 30,000 lines.

#include <cstdio>

#include <QApplication>
#include <QElapsedTimer>

#include "benchsupport.h"
#include "core/onairlog.h"
#include "support/chat_fixture.h"

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

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    OnAirLog::setEchoToStderr(false);
    const QStringList args = app.arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--stage"));
    const QString stage = at >= 0 ? args.value(at + 1) : QString();
    if (stage.isEmpty() || stage == QLatin1String("chat"))
        chatStage();
    return 0;
}
