#include "node/echolink/protocol/dispatcher.h"

#include <QElapsedTimer>

#include "node/echolink/protocol/arrival.h"
#include "node/echolink/protocol/proxy.h"

namespace mirelva::echolink {

namespace {

const QString kRateLimited = QStringLiteral("over the rate limit");
const QString kUnknown = QStringLiteral("from an address with no QSO");
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

Dispatcher::Source *Dispatcher::source(const QHostAddress &from, qint64 now)
{
    auto it = m_sources.find(from);
    if (it != m_sources.end())
        return &*it;
    if (m_sources.size() >= kMaxSources) {
        // Room is made from sources quiet for a minute with nothing to tell.
        for (auto i = m_sources.begin(); i != m_sources.end();)
            if (now - i->lastSeen > kMinuteMs && i->pending == 0 && !m_qsos.contains(i.key()))
                i = m_sources.erase(i);
            else
                ++i;
        if (m_sources.size() >= kMaxSources)
            return nullptr;
    }
    Source s;
    s.tokens = m_settings.burst;
    s.refilled = now;
    return &*m_sources.insert(from, s);
}

bool Dispatcher::admit(Source &s, qint64 now)
{
    const double elapsed = double(now - s.refilled) / 1000.0;
    s.tokens = std::min(m_settings.burst, s.tokens + elapsed * m_settings.packetsPerSecond);
    s.refilled = now;
    if (s.tokens < 1.0)
        return false;
    s.tokens -= 1.0;
    return true;
}

void Dispatcher::datagram(bool control, const QHostAddress &from, const char *data, qsizetype size)
{
    const qint64 t = now();
    m_receivedAt = arrivalMs(t, m_ageNs);
    ++m_counters.received;
    Source *src = source(from, t);
    if (!src) {
        // A flood from more addresses than are kept: counted, told in the
        // minute's summary.
        ++m_counters.rateLimited;
        ++m_overflowDrops;
        schedule();
        return;
    }
    src->lastSeen = t;
    if (!admit(*src, t)) {
        drop(from, src, kRateLimited, m_counters.rateLimited);
        return;
    }
    const char *why = nullptr;
    Qso *q = m_qsos.value(from);
    if (control) {
        const std::optional<ControlPacket> p = parseControl(data, size, &why);
        if (!p) {
            drop(from, src, QLatin1String(why), m_counters.malformed);
            return;
        }
        if (q) {
            q->controlIn(*p, t);
        } else if (p->kind == ControlPacket::Sdes && !p->callsign.isEmpty()) {
            emit incomingConnection(from, *p);
        } else {
            drop(from, src, kUnknown, m_counters.unknownSource);
            return;
        }
    } else {
        const AudioPortPacket p = parseAudioPort(data, size, &why);
        if (!p.audio && !p.text) {
            drop(from, src, QLatin1String(why), m_counters.malformed);
            return;
        }
        if (!q || q->state() == Qso::State::Ended) {
            drop(from, src, kUnknown, m_counters.unknownSource);
            return;
        }
        if (p.audio)
            q->audioIn(*p.audio, t);
        else
            q->textIn(*p.text);
    }
    schedule();
}

void Dispatcher::refuse(const QHostAddress &from, const QString &why)
{
    Source *src = source(from, now());
    if (!src) {
        ++m_counters.refused;
        ++m_overflowDrops;
        return;
    }
    drop(from, src, why, m_counters.refused);
}

void Dispatcher::drop(const QHostAddress &from, Source *s, const QString &why, quint64 &counter)
{
    ++counter;
    ++s->pending;
    ++m_pendingTotal;
    ++s->reasons[why];
    const qint64 t = now();
    rollWindow(t);
    logDrops(from, *s, t);
    schedule();
}

void Dispatcher::logDrops(const QHostAddress &from, Source &s, qint64 t)
{
    if (s.pending == 0 || (s.loggedAt >= 0 && t - s.loggedAt < kMinuteMs) || m_linesInWindow >= kDropLinesPerMinute)
        return;
    ++m_linesInWindow;
    QStringList parts;
    for (const auto &[reason, n] : s.reasons)
        parts << QStringLiteral("%1 %2").arg(n).arg(reason);
    const bool first = s.loggedAt < 0;
    emit note(QStringLiteral("dropped %1 packet%2 from %3%4: %5")
                  .arg(s.pending)
                  .arg(s.pending == 1 ? "" : "s")
                  .arg(from.toString(), first ? QString() : QStringLiteral(" in the last minute"), parts.join(QStringLiteral(", "))));
    s.loggedAt = t;
    m_pendingTotal -= s.pending;
    s.pending = 0;
    s.reasons.clear();
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
        m_pendingTotal -= it->pending;
        it->pending = 0;
        it->reasons.clear();
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
