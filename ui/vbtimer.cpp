#include "ui/vbtimer.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include <QDateTime>
#include <QPointer>
#include <QSet>
#include <QSocketNotifier>

#include "ui/program.h"

namespace mirelva {

namespace {
QSet<VbTimer *> &liveTimers()
{
    static QSet<VbTimer *> timers;
    return timers;
}
bool g_drivenByTests = false;
} // namespace

VbTimer::VbTimer(QObject *parent, const QString &name, int intervalMs, bool enabled)
    : QObject(parent), m_interval(intervalMs), m_enabled(enabled)
{
    setObjectName(name);
    m_timer.setSingleShot(false);
    connect(&m_timer, &QTimer::timeout, this, &VbTimer::fire);
    liveTimers().insert(this);
    arm();
}

VbTimer::~VbTimer()
{
    liveTimers().remove(this);
    if (m_secondFd >= 0)
        ::close(m_secondFd);
}

void VbTimer::setEnabled(bool on)
{
    if (on == m_enabled)
        return;
    m_enabled = on;
    m_resting = false;
    arm();
}

void VbTimer::rest()
{
    if (!m_enabled || m_resting)
        return;
    m_resting = true;
    arm();
}

void VbTimer::wake()
{
    if (!m_resting)
        return;
    m_resting = false;
    arm();
}

bool VbTimer::setInterval(qint64 ms)
{
    if (ms < 0 || ms > kMaxInterval)
        return false;
    if (ms == m_interval)
        return true;
    m_interval = int(ms);
    arm();
    return true;
}

void VbTimer::setWallClockSecond(bool on)
{
    m_wallClock = on;
    arm();
}

bool VbTimer::armSecondClock(bool on)
{
    if (!on) {
        if (m_secondFd >= 0) {
            const itimerspec off{};
            ::timerfd_settime(m_secondFd, 0, &off, nullptr);
            m_secondNotifier->setEnabled(false);
        }
        return true;
    }
    if (m_secondFd < 0) {
        m_secondFd = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
        if (m_secondFd < 0)
            return false;
        m_secondNotifier = new QSocketNotifier(qintptr(m_secondFd), QSocketNotifier::Read, this);
        connect(m_secondNotifier, &QSocketNotifier::activated, this, &VbTimer::secondCame);
    }
    // Every whole second of the wall clock, as the kernel keeps it: no drift,
    // no rounding to the millisecond, and told when the clock is set.
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    itimerspec every{};
    every.it_value.tv_sec = now.tv_sec + 1;
    every.it_interval.tv_sec = 1;
    if (::timerfd_settime(m_secondFd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &every, nullptr) != 0)
        return false;
    m_secondNotifier->setEnabled(true);
    return true;
}

void VbTimer::arm()
{
    const bool running = m_enabled && !m_resting && m_interval != 0 && !Program::ended() && !g_drivenByTests;
    if (m_wallClock && running) {
        m_timer.stop();
        if (armSecondClock(true))
            return;
        // No kernel timer to be had: a platform timer due just after the
        // next second, set again at every tick.
        const qint64 ms = QDateTime::currentMSecsSinceEpoch() % 1000;
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.start(int(1000 - ms) + 1);
        return;
    }
    armSecondClock(false);
    if (!running) {
        m_timer.stop();
        return;
    }
    m_timer.setSingleShot(false);
    m_timer.setTimerType(m_interval < 20 ? Qt::PreciseTimer : Qt::CoarseTimer);
    m_timer.start(m_interval);
}

void VbTimer::secondCame()
{
    quint64 expirations = 0;
    const ssize_t n = ::read(m_secondFd, &expirations, sizeof expirations);
    if (n == ssize_t(sizeof expirations)) {
        // Seconds that passed while the thread was blocked are missed, as a
        // platform timer's would be: one tick stands for them all.
        fire();
        return;
    }
    // The wall clock was set: the seconds start again from the new time.
    if (n < 0 && errno == ECANCELED)
        arm();
    // Otherwise the second was already taken (inside "let waiting events
    // run", the notifier is told of it twice).
}

void VbTimer::fire()
{
    if (Program::ended()) {
        m_timer.stop();
        armSecondClock(false);
        return;
    }
    // Without the kernel timer, the platform timer is set again each second.
    if (m_wallClock && !(m_secondNotifier && m_secondNotifier->isEnabled()))
        arm();
    // A handler that lets waiting events run must not be entered again by its
    // own next tick: that tick is missed, as every tick is while a handler
    // blocks. Otherwise a queued announcement would key again from inside
    // itself and never unkey.
    if (m_inHandler)
        return;
    m_inHandler = true;
    const QPointer<VbTimer> alive(this);
    emit Timer();
    if (alive)
        m_inHandler = false;
}

void VbTimer::setDrivenByTestsForTests(bool on)
{
    g_drivenByTests = on;
    if (on)
        stopAll();
}

void VbTimer::stopAll()
{
    for (VbTimer *t : liveTimers()) {
        t->m_timer.stop();
        t->armSecondClock(false);
    }
}

} // namespace mirelva
