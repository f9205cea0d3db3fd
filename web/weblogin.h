#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>

#include <QObject>
#include <QString>
#include <QStringList>

class QThreadPool;

namespace mirelva {

class MinuteLog;
class VbTimer;

// The console's password checks, off the program's thread: at most
// kRunning at a time on workers of their own, so no tick, announcement or
// page waits for one. Wrong guesses slow guessing without keeping anyone
// out: each wrong password makes that address's next check wait (2 s,
// doubling up to a minute), but an attempt is queued, not refused, and the
// next check goes to the waiting address with the fewest wrong passwords, so
// an operator typing the right one is checked at once while guessers wait.
// Every wrong password goes to the on-air log; when more than
// MinuteLog::kLinesAMinute come in a minute, the rest are counted in one line
// at the minute's end.
class WebLogin : public QObject {
    Q_OBJECT
public:
    enum class Outcome { Right, Wrong, Busy };
    using Verifier = std::function<bool(const QString &password, const QString &stored)>;

    explicit WebLogin(QObject *parent = nullptr);
    ~WebLogin() override;

    // Checks the password against the stored hash once `from`'s wait is
    // over, and tells `done`; Busy at once when too many attempts wait.
    // `from` is the address the slowing counts by; `shown` how the log names it.
    void submit(const QString &from, const QString &shown, const QString &password, const QString &stored,
                std::function<void(Outcome)> done);

    // Tells the waiting attempt from the address with the most wrong
    // passwords to come back later (Busy); false when none waits.
    bool giveWayOnce();

    // Once a second while attempts wait (and from tests, with Clock set).
    void tick();
    int waiting() const { return int(m_queue.size()); }
    int running() const { return m_running; }
    // Tests replace the check (one that blocks shows what waits for it).
    void setVerifierForTests(Verifier v) { m_verify = std::move(v); }

    static constexpr int kRunning = 2;
    static constexpr int kWaitingPerAddress = 4;
    static constexpr int kWaiting = 64;
    static constexpr int kMostWaitSeconds = 60;

private:
    struct Attempt {
        quint64 id;
        QString from, shown, password, stored;
        std::function<void(Outcome)> done;
    };
    struct Failures {
        int count = 0;
        qint64 notBefore = 0;   // ms on the clock
        bool checking = false;
    };

    void startWhatMay();
    std::deque<Attempt>::iterator worstWaiting();
    void finished(quint64 id, const QString &from, const QString &shown, bool right, std::function<void(Outcome)> done);
    int failuresOf(const QString &from) const;

    Verifier m_verify;
    std::deque<Attempt> m_queue;
    std::map<QString, Failures> m_failures;
    int m_running = 0;
    quint64 m_nextId = 1;
    VbTimer *m_timer = nullptr;
    MinuteLog *m_wrongLog;           // the on-air log's minute of wrong passwords
    std::unique_ptr<QThreadPool> m_pool;   // last: its end waits for running checks
};

} // namespace mirelva
