#include "node/echolink/protocol/dispatcher.h"

#include <QElapsedTimer>

#include "node/echolink/protocol/arrival.h"
#include "node/echolink/protocol/proxy.h"

namespace mirelva::echolink {

namespace {

// The rules name their limits (Settings' defaults), so a station dropped as a
// dead link can be seen to have sent too fast.
const char *const kAudioRate = "over the audio port's rate limit (40 a second)";
const char *const kControlRate = "over the control port's rate limit (10 a second)";
const char *const kUnknown = "from an address with no QSO";
const char *const kRefused = "refused";
constexpr qsizetype kMaxDatagram = 65536;

Dispatcher::Clock steadyClock()
{
    auto t = std::make_shared<QElapsedTimer>();
    t->start();
    return [t] { return t->elapsed(); };
}

} // namespace

Dispatcher::Dispatcher(Settings settings, Clock clock, QObject *parent)
    : QObject(parent), m_settings(std::move(settings)), m_clock(clock ? std::move(clock) : steadyClock())
{
    m_buffer.resize(kMaxDatagram);
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &Dispatcher::tick);
    connect(&m_audio, &QUdpSocket::readyRead, this, [this] { readSocket(m_audio, false); });
    connect(&m_control, &QUdpSocket::readyRead, this, [this] { readSocket(m_control, true); });
    m_windowStart = now();
}

Dispatcher::~Dispatcher()
{
    // The QSOs are children; their owners hold QPointers.
    m_timer.stop();
}

bool Dispatcher::open(QString *why)
{
    if (!m_audio.bind(m_settings.bind, m_settings.portBase) || !m_control.bind(m_settings.bind, m_settings.portBase + 1)) {
        if (why)
            *why = QStringLiteral("cannot open EchoLink's UDP ports %1 and %2 on %3 (%4; another EchoLink program running?)")
                       .arg(m_settings.portBase)
                       .arg(m_settings.portBase + 1)
                       .arg(m_settings.bind == QHostAddress::AnyIPv4 ? QStringLiteral("any address") : m_settings.bind.toString(),
                            m_audio.state() == QAbstractSocket::BoundState ? m_control.errorString() : m_audio.errorString());
        m_audio.close();
        m_control.close();
        return false;
    }
    return true;
}

void Dispatcher::useProxy(Proxy *proxy)
{
    m_audio.close();
    m_control.close();
    m_proxy = proxy;
    connect(proxy, &Proxy::udpReceived, this, [this](bool control, const QHostAddress &from, const QByteArray &d) {
        datagram(control, from, d.constData(), d.size());
    });
}

void Dispatcher::send(bool control, const QHostAddress &to, const QByteArray &bytes)
{
    if (m_proxy) {
        m_proxy->sendUdp(control, to, bytes);
        return;
    }
    // Stations send from and to the same port numbers.
    (control ? m_control : m_audio).writeDatagram(bytes, to, quint16(m_settings.portBase + (control ? 1 : 0)));
}

Qso *Dispatcher::createQso(const QHostAddress &remote, const LocalStation &local)
{
    if (Qso *q = m_qsos.value(remote)) {
        if (q->state() != Qso::State::Ended)
            return nullptr;
        m_qsos.remove(remote);
        m_endedAt.remove(q);
        q->deleteLater();
    }
    auto *q = new Qso(remote, local, [this](bool control, const QHostAddress &to, const QByteArray &b) { send(control, to, b); }, this);
    m_qsos.insert(remote, q);
    connect(q, &Qso::stateChanged, this, [this, q](Qso::State s) {
        if (s == Qso::State::Ended)
            m_endedAt.insert(q, now());
        schedule();
    });
    schedule();
    return q;
}

Qso *Dispatcher::qso(const QHostAddress &remote) const
{
    Qso *q = m_qsos.value(remote);
    return q && q->state() != Qso::State::Ended ? q : nullptr;
}

QList<Qso *> Dispatcher::qsos() const
{
    QList<Qso *> l;
    for (Qso *q : m_qsos)
        if (q->state() != Qso::State::Ended)
            l << q;
    return l;
}

void Dispatcher::readSocket(QUdpSocket &s, bool control)
{
    QHostAddress from;
    while (s.hasPendingDatagrams()) {
        const qint64 n = s.readDatagram(m_buffer.data(), m_buffer.size(), &from);
        if (n < 0)
            break;
        // Mapped IPv4 and plain IPv4 are one station.
        bool ok = false;
        const quint32 v4 = from.toIPv4Address(&ok);
        // Only audio is timed by its arrival.
        m_ageNs = control ? -1 : receiveAgeNs(s.socketDescriptor());
        datagram(control, ok ? QHostAddress(v4) : from, m_buffer.constData(), qsizetype(n));
        m_ageNs = -1;
    }
}

Dispatcher::Source &Dispatcher::source(const QHostAddress &from, qint64 now)
{
    auto it = m_sources.find(from);
    if (it != m_sources.end()) {
        m_byAge.splice(m_byAge.end(), m_byAge, it->age);
        return *it;
    }
    if (m_sources.size() >= kMaxSources)
        makeRoom(now);
    Source s;
    s.audio = {m_settings.burst, now};
    s.control = {m_settings.controlBurst, now};
    s.age = m_byAge.insert(m_byAge.end(), from);
    return *m_sources.insert(from, s);
}

void Dispatcher::makeRoom(qint64 now)
{
    // The least recently heard without a QSO; a QSO's own goes to the back
    // (there are few QSOs, so the walk is short).
    for (qsizetype tries = m_byAge.size(); tries > 0 && !m_byAge.empty(); --tries) {
        const QHostAddress oldest = m_byAge.front();
        if (m_qsos.contains(oldest)) {
            m_byAge.splice(m_byAge.end(), m_byAge, m_byAge.begin());
            continue;
        }
        auto it = m_sources.find(oldest);
        // Its untold drops are told with the minute's rest.
        m_overflowDrops += quint64(it->pending);
        m_pendingTotal -= it->pending;
        m_byAge.pop_front();
        m_sources.erase(it);
        ++m_counters.forgotten;
        ++m_forgottenInWindow;
        if (m_forgetToldAt < 0 || now - m_forgetToldAt >= kMinuteMs) {
            m_forgetToldAt = now;
            emit note(QStringLiteral("packets from more than %1 addresses: the least recently heard are forgotten to make room "
                                     "(told once a minute)")
                          .arg(kMaxSources));
        }
        return;
    }
}

bool Dispatcher::admit(Bucket &b, double rate, double burst, qint64 now)
{
    const double elapsed = double(now - b.refilled) / 1000.0;
    b.tokens = std::min(burst, b.tokens + elapsed * rate);
    b.refilled = now;
    if (b.tokens < 1.0)
        return false;
    b.tokens -= 1.0;
    return true;
}

void Dispatcher::datagram(bool control, const QHostAddress &from, const char *data, qsizetype size)
{
    const qint64 t = now();
    m_receivedAt = arrivalMs(t, m_ageNs);
    ++m_counters.received;
    Source &src = source(from, t);
    src.lastSeen = t;
    const bool passes = control ? admit(src.control, m_settings.controlPerSecond, m_settings.controlBurst, t)
                                : admit(src.audio, m_settings.packetsPerSecond, m_settings.burst, t);
    if (!passes) {
        drop(from, src, control ? kControlRate : kAudioRate, m_counters.rateLimited);
        return;
    }
    const char *why = nullptr;
    Qso *q = m_qsos.value(from);
    if (control) {
        const std::optional<ControlPacket> p = parseControl(data, size, &why);
        if (!p) {
            drop(from, src, why, m_counters.malformed);
            return;
        }
        if (q) {
            q->controlIn(*p, t);
        } else if (p->kind == ControlPacket::Sdes && !p->callsign.isEmpty()) {
            emit incomingConnection(from, *p);
        } else {
            if (p->kind == ControlPacket::Bye) {
                emit callerLeft(from);
                // What that set going may have added to the table moved it.
                drop(from, source(from, t), kUnknown, m_counters.unknownSource);
                return;
            }
            drop(from, src, kUnknown, m_counters.unknownSource);
            return;
        }
    } else {
        const AudioPortPacket p = parseAudioPort(data, size, &why);
        if (!p.audio && !p.text) {
            drop(from, src, why, m_counters.malformed);
            return;
        }
        if (!q || q->state() == Qso::State::Ended) {
            drop(from, src, kUnknown, m_counters.unknownSource);
            return;
        }
        if (p.audio)
            q->audioIn(*p.audio, t);
        else
            q->textIn(*p.text, t);
    }
    schedule();
}

void Dispatcher::refuse(const QHostAddress &from, const QString &why)
{
    Source &src = source(from, now());
    src.lastRefusal = why;
    drop(from, src, kRefused, m_counters.refused);
}

void Dispatcher::drop(const QHostAddress &from, Source &s, const char *rule, quint64 &counter)
{
    ++counter;
    ++s.pending;
    ++m_pendingTotal;
    const auto r = std::find_if(s.reasons.begin(), s.reasons.end(), [rule](const Reason &x) { return x.rule == rule; });
    if (r != s.reasons.end())
        ++r->count;
    else
        s.reasons.push_back({rule ? rule : "unreadable", 1});
    const qint64 t = now();
    rollWindow(t);
    logDrops(from, s, t);
    schedule();
}

void Dispatcher::forgetDrops(Source &s)
{
    m_pendingTotal -= s.pending;
    s.pending = 0;
    s.reasons.clear();
    s.lastRefusal.clear();
}

void Dispatcher::logDrops(const QHostAddress &from, Source &s, qint64 t)
{
    if (s.pending == 0 || (s.loggedAt >= 0 && t - s.loggedAt < kMinuteMs) || m_linesInWindow >= kDropLinesPerMinute)
        return;
    ++m_linesInWindow;
    QStringList parts;
    for (const Reason &r : s.reasons) {
        if (r.rule != kRefused)
            parts << QStringLiteral("%1 %2").arg(r.count).arg(QLatin1String(r.rule));
        else if (r.count == 1)
            parts << QStringLiteral("1 %1").arg(s.lastRefusal);
        else
            parts << QStringLiteral("%1 callers refused, the last: %2").arg(r.count).arg(s.lastRefusal);
    }
    const bool first = s.loggedAt < 0;
    emit note(QStringLiteral("dropped %1 packet%2 from %3%4: %5")
                  .arg(s.pending)
                  .arg(s.pending == 1 ? "" : "s")
                  .arg(from.toString(), first ? QString() : QStringLiteral(" in the last minute"), parts.join(QStringLiteral(", "))));
    s.loggedAt = t;
    forgetDrops(s);
}

void Dispatcher::rollWindow(qint64 t)
{
    if (t - m_windowStart < kMinuteMs)
        return;
    // The minute is over: the drops no line could be spent on are told in
    // one, and the next minute has its lines again.
    quint64 rest = m_overflowDrops;
    int sources = m_overflowDrops > 0 ? 1 : 0;
    for (auto it = m_sources.begin(); it != m_sources.end(); ++it) {
        if (it->pending == 0 || (it->loggedAt >= 0 && t - it->loggedAt < kMinuteMs))
            continue;
        rest += quint64(it->pending);
        ++sources;
        forgetDrops(*it);
        it->loggedAt = t;
    }
    m_windowStart = t;
    m_linesInWindow = 0;
    m_overflowDrops = 0;
    if (rest > 0)
        emit note(QStringLiteral("dropped %1 packet%2 from %3 address%4 in the last minute, besides those told one by one")
                      .arg(rest)
                      .arg(rest == 1 ? "" : "s")
                      .arg(sources)
                      .arg(sources == 1 ? "" : "es"));
    if (m_forgottenInWindow > 0)
        emit note(QStringLiteral("forgot %1 address%2 in the last minute to make room for new ones").arg(m_forgottenInWindow)
                      .arg(m_forgottenInWindow == 1 ? "" : "es"));
    m_forgottenInWindow = 0;
}

void Dispatcher::flushDropLines(qint64 t)
{
    rollWindow(t);
    for (auto it = m_sources.begin(); it != m_sources.end() && m_pendingTotal > 0; ++it)
        logDrops(it.key(), *it, t);
}

void Dispatcher::reap(qint64 t)
{
    for (auto it = m_endedAt.begin(); it != m_endedAt.end();) {
        Qso *q = it.key();
        // Only a QSO this node ended waits for a late keep-alive.
        if (q->endedBy() != Qso::End::ByUs || t - it.value() >= kLingerMs) {
            if (m_qsos.value(q->remote()) == q)
                m_qsos.remove(q->remote());
            q->deleteLater();
            it = m_endedAt.erase(it);
        } else {
            ++it;
        }
    }
}

void Dispatcher::tick()
{
    const qint64 t = now();
    // A QSO may end in its tick; the list is taken first.
    const QList<Qso *> live = m_qsos.values();
    for (Qso *q : live)
        if (q->state() != Qso::State::Ended)
            q->tick(t);
    reap(t);
    flushDropLines(t);
    schedule();
}

void Dispatcher::schedule()
{
    const qint64 t = now();
    qint64 next = -1;
    auto consider = [&next](qint64 d) {
        if (d >= 0 && (next < 0 || d < next))
            next = d;
    };
    for (Qso *q : std::as_const(m_qsos))
        consider(q->nextDeadline());
    for (auto it = m_endedAt.cbegin(); it != m_endedAt.cend(); ++it)
        consider(it.key()->endedBy() == Qso::End::ByUs ? it.value() + kLingerMs : t);
    // Drops waiting to be told are looked at each second.
    if (m_pendingTotal > 0 || m_overflowDrops > 0)
        consider(t + 1000);
    if (next < 0) {
        m_timer.stop();
        return;
    }
    const qint64 wait = std::max<qint64>(0, next - t);
    if (!m_timer.isActive() || m_timer.remainingTime() > wait + 1 || m_timer.remainingTime() < 0)
        m_timer.start(int(std::min<qint64>(wait, 24 * 3600 * 1000)));
}

} // namespace mirelva::echolink
