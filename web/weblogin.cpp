#include "web/weblogin.h"

#include <QPointer>
#include <QThreadPool>

#include "core/clock.h"
#include "core/onairlog.h"
#include "ui/vbtimer.h"
#include "web/minutelog.h"
#include "web/webpassword.h"

namespace mirelva {

namespace {
qint64 nowMs() { return Clock::now().toMSecsSinceEpoch(); }
} // namespace

WebLogin::WebLogin(QObject *parent)
    : QObject(parent),
      m_verify(&WebPassword::verify),
      m_timer(new VbTimer(this, QStringLiteral("WebLoginWait"), 1000, false)),
      m_wrongLog(new MinuteLog(QStringLiteral("wrong passwords"), this)),
      m_pool(std::make_unique<QThreadPool>())
{
    m_pool->setMaxThreadCount(kRunning);
    m_pool->setExpiryTimeout(30000);
    connect(m_timer, &VbTimer::Timer, this, &WebLogin::tick);
}

WebLogin::~WebLogin()
{
    // Checks still running end unanswered: their connections close with the console.
    m_pool->clear();
    m_pool->waitForDone();
}

int WebLogin::failuresOf(const QString &from) const
{
    const auto it = m_failures.find(from);
    return it == m_failures.end() ? 0 : it->second.count;
}

void WebLogin::submit(const QString &from, const QString &shown, const QString &password, const QString &stored,
                      std::function<void(Outcome)> done)
{
    const int mine = int(std::count_if(m_queue.begin(), m_queue.end(), [&from](const Attempt &a) { return a.from == from; }));
    if (mine >= kWaitingPerAddress) {
        done(Outcome::Busy);
        return;
    }
    if (m_queue.size() >= size_t(kWaiting)) {
        // The waiting attempt from the address with the most wrong passwords
        // gives way to one from an address with fewer.
        if (failuresOf(worstWaiting()->from) <= failuresOf(from)) {
            done(Outcome::Busy);
            return;
        }
        giveWayOnce();
    }
    m_queue.push_back({m_nextId++, from, shown, password, stored, std::move(done)});
    // Addresses whose wait is long over are forgotten, so many of them
    // cannot make the list grow without end.
    if (m_failures.size() > 1024) {
        const qint64 now = nowMs();
        std::erase_if(m_failures, [now](const auto &e) { return !e.second.checking && now - e.second.notBefore > 3600 * 1000; });
    }
    m_timer->setEnabled(true);
    startWhatMay();
}

std::deque<WebLogin::Attempt>::iterator WebLogin::worstWaiting()
{
    return std::max_element(m_queue.begin(), m_queue.end(), [this](const Attempt &a, const Attempt &b) {
        return failuresOf(a.from) < failuresOf(b.from);
    });
}

bool WebLogin::giveWayOnce()
{
    if (m_queue.empty())
        return false;
    const auto worst = worstWaiting();
    auto told = std::move(worst->done);
    m_queue.erase(worst);
    told(Outcome::Busy);
    return true;
}

void WebLogin::startWhatMay()
{
    const qint64 now = nowMs();
    while (m_running < kRunning) {
        auto best = m_queue.end();
        for (auto it = m_queue.begin(); it != m_queue.end(); ++it) {
            const auto f = m_failures.find(it->from);
            if (f != m_failures.end() && (f->second.checking || now < f->second.notBefore))
                continue;
            if (best == m_queue.end() || failuresOf(it->from) < failuresOf(best->from))
                best = it;
        }
        if (best == m_queue.end())
            return;
        Attempt a = std::move(*best);
        m_queue.erase(best);
        m_failures[a.from].checking = true;
        ++m_running;
        QPointer<WebLogin> self(this);
        m_pool->start([self, verify = m_verify, a = std::move(a)]() mutable {
            const bool right = !a.password.isEmpty() && verify(a.password, a.stored);
            QMetaObject::invokeMethod(self, [self, a = std::move(a), right]() mutable {
                if (self)
                    self->finished(a.id, a.from, a.shown, right, std::move(a.done));
            }, Qt::QueuedConnection);
        });
    }
}

void WebLogin::finished(quint64, const QString &from, const QString &shown, bool right, std::function<void(Outcome)> done)
{
    --m_running;
    Failures &f = m_failures[from];
    f.checking = false;
    if (right) {
        m_failures.erase(from);
    } else {
        ++f.count;
        f.notBefore = nowMs() + 1000LL * std::min(kMostWaitSeconds, 2 << std::min(f.count - 1, 5));
        m_wrongLog->note(QStringLiteral("web: wrong password from %1").arg(shown), shown);
    }
    done(right ? Outcome::Right : Outcome::Wrong);
    startWhatMay();
}

void WebLogin::tick()
{
    m_wrongLog->tick();
    startWhatMay();
    if (m_queue.empty() && m_running == 0)
        m_timer->setEnabled(false);
}

} // namespace mirelva
