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
    const Verdict now = judge(from, callsign, false, why);
    if (now == Verdict::Pass || waiting(from))
        return now == Verdict::Pass ? Verdict::Pass : Verdict::Wait;
    if (m_waiting.size() >= kMaxWaiting) {
        if (why)
            *why = QStringLiteral("%1 callers are already waiting for the directory").arg(m_waiting.size());
        return Verdict::Refuse;
    }
    m_waiting.push_back({from, callsign});
    askForList(false);
    return Verdict::Wait;
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
    const int ended = m_directory->listsEnded();
    QList<Waiting> done;
    for (qsizetype i = 0; i < m_waiting.size();)
        if (m_waiting[i].list >= 0 && m_waiting[i].list <= ended)
            done << m_waiting.takeAt(i);
        else
            ++i;
    for (const Waiting &w : done) {
        QString why;
        bool pass = false;
        if (failed && !inRanges(m_allowed, w.from)) {
            // An older list may still show it where it calls from.
            pass = judge(w.from, w.callsign, true, &why) == Verdict::Pass;
            if (!pass)
                why = QStringLiteral("the directory could not be asked about %1 (%2)").arg(w.callsign, failure);
        } else {
            pass = judge(w.from, w.callsign, true, &why) == Verdict::Pass;
        }
        emit decided(w.from, w.callsign, pass, why);
    }
}

} // namespace mirelva::echolink
