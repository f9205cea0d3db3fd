#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;

namespace mirelva {

// A timer with the rules the windows were written against:
// - enabling an enabled timer does not restart its period;
// - an interval of 0 never fires; an interval the platform timer cannot take
//   (negative or above 65535 ms) leaves the interval as it was;
// - once the program has ended it never fires again;
// - a tick that comes while the timer's own handler is still running (inside
//   "let waiting events run") is missed, not nested.
// A timer may tick on the wall-clock second instead of every 1000 ms, so a
// handler that compares the time with an exact second never skips one because
// the timer drifted, and acts as the second begins.
class VbTimer : public QObject {
    Q_OBJECT
public:
    VbTimer(QObject *parent, const QString &name, int intervalMs, bool enabled);
    ~VbTimer() override;

    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool on);
    int interval() const { return m_interval; }
    // Returns false when the value was refused and the interval kept.
    bool setInterval(qint64 ms);
    void setWallClockSecond(bool on);
    // A timer whose next ticks could change nothing may rest: it stays enabled
    // with its interval, but its platform timer sleeps, so an idle program is
    // not woken ten times a second for nothing. wake() starts a new period;
    // disabling ends the rest.
    void rest();
    void wake();
    bool isResting() const { return m_resting; }

    static constexpr int kMaxInterval = 65535;
    static void stopAll();

    // A simulation runs the timers on its own clock: while set, no timer
    // starts its platform timer, and the simulation ticks each one through
    // tickForTests(), which keeps the missed-not-nested rule.
    static void setDrivenByTestsForTests(bool on);
    void tickForTests() { fire(); }

signals:
    void Timer();

private:
    void arm();
    void fire();
    bool armSecondClock(bool on);
    void secondCame();

    QTimer m_timer;
    int m_interval;
    bool m_enabled;
    bool m_wallClock = false;
    bool m_resting = false;
    int m_secondFd = -1;                    // wall-clock ticking: a kernel timer on the second
    QSocketNotifier *m_secondNotifier = nullptr;
    bool m_inHandler = false;
};

} // namespace mirelva
