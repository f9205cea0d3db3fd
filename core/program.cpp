#include "core/program.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>
#include <QWidget>

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

bool waitForFirstPaint(QWidget *window, int timeoutMs)
{
    struct PaintWatcher : QObject {
        bool painted = false;
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::Paint)
                painted = true;
            return false;
        }
    } watcher;
    window->installEventFilter(&watcher);

    // No timer runs meanwhile (X11ExcludeTimers is honoured by every Unix
    // event dispatcher, not only on X), so a thread of its own wakes the
    // loop at the deadline.
    QAbstractEventDispatcher *dispatcher = QCoreApplication::eventDispatcher();
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::thread alarm([&] {
        std::unique_lock lock(m);
        if (!cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return done; }))
            dispatcher->wakeUp();
    });
    const QDeadlineTimer deadline(timeoutMs);
    while (!watcher.painted && !g_ended && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::ExcludeUserInputEvents
                                        | QEventLoop::ExcludeSocketNotifiers | QEventLoop::X11ExcludeTimers);
    {
        std::lock_guard lock(m);
        done = true;
    }
    cv.notify_all();
    alarm.join();
    window->removeEventFilter(&watcher);
    return watcher.painted && !g_ended;
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
