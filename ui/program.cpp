#include "ui/program.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <QAbstractButton>
#include <QAbstractEventDispatcher>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSocketNotifier>
#include <QTextEdit>
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
#include "ui/vbtimer.h"

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

// ---- what waits while the thread speaks ----------------------------------

int g_quietWaits = 0;     // quiet waits running, one inside another at most
int g_onAir = 0;          // OnAir objects alive
int g_replaying = 0;      // a held event is being handed on: it passes

struct Held {
    QPointer<QObject> context;
    std::function<void()> run;
};
std::deque<Held> g_held;  // in the order they came
bool g_drainPosted = false;

bool holding() { return g_quietWaits > 0 || g_onAir > 0; }

// The keys that only move the focus: a screen reader follows them and
// speaks where the focus went, so they cannot wait a speech long.
bool movesFocusOnly(const QObject *receiver, const QKeyEvent *k)
{
    const Qt::KeyboardModifiers mods = k->modifiers() & ~Qt::KeypadModifier;
    switch (k->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        if ((mods & ~Qt::ShiftModifier) != 0)
            return false;
        // An editor that takes Tab as text would be typed into.
        if (const auto *t = qobject_cast<const QPlainTextEdit *>(receiver))
            return t->tabChangesFocus();
        if (const auto *t = qobject_cast<const QTextEdit *>(receiver))
            return t->tabChangesFocus();
        return true;
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down: {
        // Between buttons an arrow moves the focus; among exclusive radio
        // buttons it also checks one, and elsewhere it edits or scrolls.
        const auto *b = qobject_cast<const QAbstractButton *>(receiver);
        return mods == 0 && b && !b->autoExclusive() && !b->group();
    }
    default:
        return false;
    }
}

void drainHeld();

void postDrain()
{
    if (g_drainPosted || g_held.empty() || !QCoreApplication::instance())
        return;
    g_drainPosted = true;
    QMetaObject::invokeMethod(QCoreApplication::instance(), drainHeld, Qt::QueuedConnection);
}

// Watches every event of this thread while anything is held or holds:
// rests the socket notifiers that come due in a quiet wait (the GLib event
// dispatcher serves them although told not to), and keeps input back, so
// that what was held is handled in the order it came.
class QuietGate : public QObject {
public:
    bool eventFilter(QObject *o, QEvent *e) override
    {
        switch (e->type()) {
        case QEvent::SockAct:
            if (g_quietWaits > 0) {
                if (auto *n = qobject_cast<QSocketNotifier *>(o)) {
                    n->setEnabled(false);
                    m_resting.append(n);
                    return true;
                }
            }
            return false;
        case QEvent::ShortcutOverride:
            if (!holdsInput() || movesFocusOnly(o, static_cast<QKeyEvent *>(e)))
                return false;
            // Claimed, so no shortcut or mnemonic acts now: the key comes on
            // as a key press and waits below; handed on later, it meets the
            // shortcuts then.
            e->accept();
            return true;
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            // The window hands a key on to its focus widget: held there.
            auto *k = static_cast<QKeyEvent *>(e);
            if (!o->isWidgetType() || !holdsInput() || movesFocusOnly(o, k))
                return false;
            // Handed on as a key made by the program, which Qt first offers
            // to the shortcuts, as it does a key from the keyboard.
            hold(o, std::make_shared<QKeyEvent>(k->type(), k->key(), k->modifiers(), k->nativeScanCode(),
                                                k->nativeVirtualKey(), k->nativeModifiers(), k->text(),
                                                k->isAutoRepeat(), k->count(), k->device()));
            e->accept();
            return true;
        }
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::InputMethod:
            if (!o->isWidgetType() || !holdsInput())
                return false;
            hold(o, std::shared_ptr<QEvent>(e->clone()));
            e->accept();
            return true;
        case QEvent::Close:
            // The window manager's close box: the window's closing asks and
            // saves, so it waits too. Not closed for now.
            if (!o->isWindowType() || !e->spontaneous() || !holdsInput())
                return false;
            hold(o, std::shared_ptr<QEvent>(e->clone()));
            e->ignore();
            return true;
        default:
            return false;
        }
    }

    // Once the last quiet wait is over: the notifiers serve again, and what
    // their sockets hold is read at the next turn of the event loop.
    void wakeResting()
    {
        for (const QPointer<QSocketNotifier> &n : std::exchange(m_resting, {}))
            if (n)
                n->setEnabled(true);
    }

private:
    // While anything holds, or something held still waits (a later key must
    // not overtake it); the one being handed on passes.
    static bool holdsInput() { return holding() || (!g_held.empty() && g_replaying == 0); }

    static void hold(QObject *receiver, std::shared_ptr<QEvent> event)
    {
        g_held.push_back({receiver, [receiver = QPointer<QObject>(receiver), event] {
                              if (receiver)
                                  QCoreApplication::sendEvent(receiver, event.get());
                          }});
        postDrain();
    }

    QList<QPointer<QSocketNotifier>> m_resting;
};

std::unique_ptr<QuietGate> g_gate;

void updateGate()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    const bool wanted = holding() || !g_held.empty();
    if (wanted && !g_gate) {
        g_gate = std::make_unique<QuietGate>();
        // First in line, before the screen reader's bridge takes keys.
        app->installEventFilter(g_gate.get());
    } else if (!wanted && g_gate) {
        g_gate.reset();
    }
}

// Hands on what was held, oldest first, for as long as nothing holds: a
// handler that starts a speech holds what comes after it until it is over.
void drainHeld()
{
    g_drainPosted = false;
    while (!g_held.empty() && !holding() && !g_ended) {
        Held h = std::move(g_held.front());
        g_held.pop_front();
        if (!h.context)
            continue;
        ++g_replaying;
        h.run();
        --g_replaying;
    }
    updateGate();
}

void beginHolding(int &depth)
{
    ++depth;
    updateGate();
}

void endHolding(int &depth)
{
    --depth;
    if (g_quietWaits == 0 && g_gate)
        g_gate->wakeResting();
    if (!holding())
        postDrain();
    updateGate();
}

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
    // Input is let in, to be sorted by the gate: focus moves pass, the rest
    // waits its turn.
    const int replaying = std::exchange(g_replaying, 0);
    beginHolding(g_quietWaits);
    while (!(ok = done()) && !g_ended && !deadline.hasExpired()) {
        showTimeNow();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::ExcludeSocketNotifiers
                                        | QEventLoop::X11ExcludeTimers);
    }
    endHolding(g_quietWaits);
    g_replaying = replaying;
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

void post(QObject *context, std::function<void()> call)
{
    g_held.push_back({context, std::move(call)});
    updateGate();
    postDrain();
}

OnAir::OnAir()
{
    beginHolding(g_onAir);
}

OnAir::~OnAir()
{
    endHolding(g_onAir);
}

void resetForTests()
{
    g_ended = false;
    g_held.clear();
    g_drainPosted = false;
    updateGate();
}

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
