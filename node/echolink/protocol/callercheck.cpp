#include "node/echolink/protocol/callercheck.h"

namespace mirelva::echolink {

bool inRanges(const AddressRanges &ranges, const QHostAddress &address)
{
    return std::any_of(ranges.begin(), ranges.end(), [&address](const QPair<QHostAddress, int> &r) {
        return address.isInSubnet(r);
    });
}

CallerCheck::CallerCheck(Directory *directory, AddressRanges allowed, Clock clock, QObject *parent)
    : QObject(parent), m_directory(directory), m_allowed(std::move(allowed)), m_clock(std::move(clock))
{
    m_gap.setSingleShot(true);
    connect(&m_gap, &QTimer::timeout, this, [this] { askForList(true); });
    connect(m_directory, &Directory::listUpdated, this, [this] { listEnded(false, QString()); });
    connect(m_directory, &Directory::listFailed, this, [this](const QString &why) { listEnded(true, why); });
}

bool CallerCheck::waiting(const QHostAddress &from) const
{
    return std::any_of(m_waiting.begin(), m_waiting.end(), [&from](const Waiting &w) { return w.from == from; });
}

CallerCheck::Verdict CallerCheck::judge(const QHostAddress &from, const QString &callsign, bool final, QString *why) const
{
    if (inRanges(m_allowed, from))
        return Verdict::Pass;
    const StationEntry *e = m_directory->findCall(callsign);
    if (e && e->address == from)
        return Verdict::Pass;
    if (!final)
        return Verdict::Wait;
    if (why)
        *why = e ? QStringLiteral("the directory lists %1 at %2, not at %3").arg(callsign, e->address.toString(), from.toString())
                 : QStringLiteral("%1 is not in the EchoLink directory").arg(callsign);
    return Verdict::Refuse;
}

CallerCheck::Verdict CallerCheck::check(const QHostAddress &from, const QString &callsign, QString *why)
{
    const qint64 t = m_clock();
    for (Waiting &w : m_waiting)
        if (w.from == from) {
            // Its keep-alive while it waits: heard, decided with the others.
            w.heard = t;
            w.callsign = callsign;
            return Verdict::Wait;
        }
    const Verdict now = judge(from, callsign, false, why);
    // Nobody called before it: nothing to keep the order for.
    if (now == Verdict::Pass && m_waiting.isEmpty())
        return Verdict::Pass;
    if (m_waiting.size() >= kMaxWaiting) {
        if (why)
            *why = QStringLiteral("%1 callers are already waiting for the directory").arg(m_waiting.size());
        return Verdict::Refuse;
    }
    m_waiting.push_back({from, callsign, -1, t});
    if (now != Verdict::Pass) {
        emit asking(from, callsign);
        askForList(false);
    }
    return Verdict::Wait;
}

void CallerCheck::forget(const QHostAddress &from)
{
    if (m_waiting.removeIf([&from](const Waiting &w) { return w.from == from; }) > 0)
        settle(-1, false, QString());   // those it held back may go now
}

void CallerCheck::askForList(bool force)
{
    const qint64 t = m_clock();
    if (!force && m_lastAsked >= 0 && t - m_lastAsked < kRefreshGapMs) {
        if (!m_gap.isActive())
            m_gap.start(int(kRefreshGapMs - (t - m_lastAsked)));
        return;
    }
    m_gap.stop();
    m_lastAsked = t;
    const int list = m_directory->refreshList();
    for (Waiting &w : m_waiting)
        if (w.list < 0)
            w.list = list;
}

void CallerCheck::listEnded(bool failed, const QString &failure)
{
    settle(m_directory->listsEnded(), failed, failure);
}

void CallerCheck::settle(int ended, bool failed, const QString &failure)
{
    const qint64 t = m_clock();
    // From the first caller on: any list lets a listed one in; one asked for
    // after it called refuses one it does not show. The first that needs a
    // later list holds those behind it, so the order stands.
    bool later = false;
    while (!m_waiting.isEmpty()) {
        const Waiting w = m_waiting.front();
        QString why;
        bool pass = judge(w.from, w.callsign, false, &why) == Verdict::Pass;
        if (t - w.heard > kGoneMs) {
            // Gone without a BYE: a QSO now would be a phantom.
            pass = false;
            why = QStringLiteral("%1 stopped calling before the directory answered").arg(w.callsign);
        } else if (!pass && (ended < 0 || w.list < 0 || w.list > ended)) {
            later = true;
            break;
        } else if (!pass && failed) {
            // An older list may still have shown it where it calls from;
            // it did not, and no newer one came: refused, never let in unseen.
            why = QStringLiteral("the directory could not be asked about %1 (%2)").arg(w.callsign, failure);
        } else if (!pass) {
            judge(w.from, w.callsign, true, &why);
        }
        m_waiting.pop_front();
        emit decided(w.from, w.callsign, pass, why);
    }
    if (later && ended >= 0)
        for (const Waiting &w : std::as_const(m_waiting))
            if (w.list < 0 || w.list <= ended) {
                askForList(false);
                break;
            }
}

} // namespace mirelva::echolink
