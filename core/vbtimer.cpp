#include "core/vbtimer.h"

#include <QDateTime>
#include <QPointer>
#include <QSet>

#include "core/program.h"

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

VbTimer::~VbTimer() { liveTimers().remove(this); }

void VbTimer::setEnabled(bool on)
{
    if (on == m_enabled)
        return;
    m_enabled = on;
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

void VbTimer::arm()
{
    if (!m_enabled || m_interval == 0 || Program::ended() || g_drivenByTests) {
        m_timer.stop();
        return;
    }
    if (m_wallClock) {
        // Land a few milliseconds past the next second so the handler reads
        // the second it was meant for, whatever the previous tick cost.
        const qint64 ms = QDateTime::currentMSecsSinceEpoch() % 1000;
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.start(int(1000 - ms) + 5);
        return;
    }
    m_timer.setSingleShot(false);
    m_timer.setTimerType(m_interval < 20 ? Qt::PreciseTimer : Qt::CoarseTimer);
    m_timer.start(m_interval);
}

void VbTimer::fire()
{
    if (Program::ended()) {
        m_timer.stop();
        return;
    }
    if (m_wallClock)
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
    for (VbTimer *t : liveTimers())
        t->m_timer.stop();
}

} // namespace mirelva
