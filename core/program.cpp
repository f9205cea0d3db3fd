#include "core/program.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QLabel>
#include <QThread>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QPointer>
#include <QStandardPaths>
#include <QTimer>
#include <QWidget>

#include "core/clock.h"
#include "core/settingsstore.h"
#include "core/vbtimer.h"

namespace mirelva::Program {

namespace {
bool g_ended = false;
bool g_anotherCopy = false;
bool g_paintingNow = false;

// Holds each window's paint request until the event loop is about to wait.
// A window asks once and then waits for its paint, so one request a window
// is held at most.
class IdlePainter : public QObject {
public:
    IdlePainter()
    {
        connect(QCoreApplication::eventDispatcher(), &QAbstractEventDispatcher::aboutToBlock, this,
                &IdlePainter::paintHeld);
        m_late.setSingleShot(true);
        m_late.setInterval(kLongestPaintHoldMs);
        connect(&m_late, &QTimer::timeout, this, &IdlePainter::paintHeld);
        QCoreApplication::instance()->installEventFilter(this);
    }

    bool eventFilter(QObject *o, QEvent *e) override
    {
        // Only the requests the widgets' painting sends to their windows;
        // a widget that asks itself to update (a web view) is left alone.
        if (e->type() != QEvent::UpdateRequest || m_releasing || g_paintingNow || !o->isWidgetType())
            return false;
        auto *w = static_cast<QWidget *>(o);
        if (!w->isWindow())
            return false;
        if (!m_held.contains(w))
            m_held.append(w);
        if (!m_late.isActive())
            m_late.start();
        return true;
    }

    void paintHeld()
    {
        m_late.stop();
        if (m_held.isEmpty())
            return;
        const auto held = std::exchange(m_held, {});
        m_releasing = true;
        for (const QPointer<QWidget> &w : held) {
            if (w) {
                QEvent request(QEvent::UpdateRequest);
                QCoreApplication::sendEvent(w, &request);
            }
        }
        m_releasing = false;
    }

private:
    QList<QPointer<QWidget>> m_held;
    QTimer m_late;
    bool m_releasing = false;
};

std::unique_ptr<IdlePainter> g_idlePainter;

} // namespace

// The user's runtime folder ($XDG_RUNTIME_DIR, when it is a folder of the
// user's own, mode 0700); failing that, the user's settings folder. Never a
// folder all users share (Qt's fallback lies in /tmp): anyone could take the
// lock there first, or plant a link in its place.
QString singleCopyLockPath()
{
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    struct stat st;
    if (dir.isEmpty() || ::lstat(QFile::encodeName(dir).constData(), &st) != 0 || !S_ISDIR(st.st_mode)
        || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
        dir = SettingsStore::folder();
        SettingsStore::makeFolder();
    }
    return dir + QStringLiteral("/mirelva.lock");
}

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
    g_paintingNow = true;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    if (g_idlePainter)
        g_idlePainter->paintHeld();
    g_paintingNow = false;
}

void paintWhenIdle(bool on)
{
    if (on && !g_idlePainter && QCoreApplication::instance())
        g_idlePainter = std::make_unique<IdlePainter>();
    else if (!on)
        g_idlePainter.reset();
}

bool waitQuietly(const std::function<bool()> &done, int timeoutMs)
{
    QAbstractEventDispatcher *dispatcher = QCoreApplication::eventDispatcher();
    if (!dispatcher || g_ended)
        return done() && !g_ended;

    // No timer runs meanwhile (X11ExcludeTimers is honoured by every Unix
    // event dispatcher, not only on X), so a thread of its own wakes the
    // loop at each second of the wall clock, for the labels that show the
    // time, and at the deadline.
    std::mutex m;
    std::condition_variable cv;
    bool over = false;
    std::thread alarm([&] {
        using namespace std::chrono;
        const auto deadline =
            timeoutMs < 0 ? steady_clock::time_point::max() : steady_clock::now() + milliseconds(timeoutMs);
        std::unique_lock lock(m);
        while (!over) {
            const auto now = system_clock::now();
            const auto toNextSecond = floor<seconds>(now) + seconds(1) - now;
            const auto wake = std::min(deadline, steady_clock::now() + toNextSecond);
            if (cv.wait_until(lock, wake, [&] { return over; }))
                break;
            dispatcher->wakeUp();
            if (wake == deadline)
                break;
        }
    });
    const QDeadlineTimer deadline(timeoutMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(timeoutMs));
    bool ok = false;
    while (!(ok = done()) && !g_ended && !deadline.hasExpired()) {
        showTimeNow();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::ExcludeUserInputEvents
                                        | QEventLoop::ExcludeSocketNotifiers | QEventLoop::X11ExcludeTimers);
    }
    {
        std::lock_guard lock(m);
        over = true;
    }
    cv.notify_all();
    alarm.join();
    return ok && !g_ended;
}

void wakeUp()
{
    if (QAbstractEventDispatcher *dispatcher = QCoreApplication::eventDispatcher())
        dispatcher->wakeUp();
}

void runQuietly(const std::function<void()> &work)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || !QCoreApplication::eventDispatcher() || QThread::currentThread() != app->thread()) {
        work();
        return;
    }
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        work();
        finished = true;
        wakeUp();
    });
    waitQuietly([&] { return finished.load(); });
    // Ended meanwhile: the work still ends first.
    worker.join();
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
    const bool painted = waitQuietly([&] { return watcher.painted; }, timeoutMs);
    window->removeEventFilter(&watcher);
    return painted;
}

namespace {
struct ShownTime {
    QPointer<QLabel> label;
    std::function<QString(const QDateTime &)> text;
};
std::vector<ShownTime> g_shownTimes;
} // namespace

void showsTime(QLabel *label, std::function<QString(const QDateTime &)> text)
{
    g_shownTimes.push_back({label, std::move(text)});
}

void showTimeNow()
{
    std::erase_if(g_shownTimes, [](const ShownTime &t) { return !t.label; });
    if (g_shownTimes.empty())
        return;
    const QDateTime now = Clock::now();
    for (const ShownTime &t : g_shownTimes)
        if (const QString text = t.text(now); t.label->text() != text)
            t.label->setText(text);
}

void resetForTests() { g_ended = false; }

bool claimSingleCopy()
{
    static QLockFile lock(singleCopyLockPath());
    lock.setStaleLockTime(0);
    g_anotherCopy = !lock.isLocked() && !lock.tryLock(0);
    return !g_anotherCopy;
}

bool anotherCopyRunning() { return g_anotherCopy; }

void setAnotherCopyRunningForTests(bool running) { g_anotherCopy = running; }

} // namespace mirelva::Program
