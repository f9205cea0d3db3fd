#include "core/program.h"

#include <QCoreApplication>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

#include "core/vbtimer.h"

namespace mirelva::Program {

namespace {
bool g_ended = false;
bool g_anotherCopy = false;

QString lockPath()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir + QStringLiteral("/mirelva.lock");
}
} // namespace

void end(int exitCode)
{
    if (g_ended)
        return;
    g_ended = true;
    VbTimer::stopAll();
    if (QCoreApplication::instance())
        QCoreApplication::exit(exitCode);
}

bool ended() { return g_ended; }

void doEvents()
{
    if (!g_ended && QCoreApplication::instance())
        QCoreApplication::processEvents();
}

void paintNow()
{
    if (g_ended || !QCoreApplication::instance())
        return;
    // A caption that changed its size lays its window out first; then only
    // the paint requests are delivered, no timer, input or node event.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
}

void resetForTests() { g_ended = false; }

bool claimSingleCopy()
{
    static QLockFile lock(lockPath());
    lock.setStaleLockTime(0);
    g_anotherCopy = !lock.isLocked() && !lock.tryLock(0);
    return !g_anotherCopy;
}

bool anotherCopyRunning() { return g_anotherCopy; }

void setAnotherCopyRunningForTests(bool running) { g_anotherCopy = running; }

} // namespace mirelva::Program
