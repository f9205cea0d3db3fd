#include "web/minutelog.h"

#include "core/clock.h"
#include "core/onairlog.h"
#include "ui/vbtimer.h"

namespace mirelva {

MinuteLog::MinuteLog(const QString &what, QObject *parent)
    : QObject(parent), m_what(what), m_timer(new VbTimer(this, QStringLiteral("MinuteLog"), 1000, false))
{
    connect(m_timer, &VbTimer::Timer, this, &MinuteLog::tick);
}

void MinuteLog::note(const QString &line, const QString &from)
{
    const qint64 now = Clock::nowMs();
    // A clock set back starts a new minute too.
    if (m_minuteStart == 0 || now - m_minuteStart >= 60000 || now < m_minuteStart)
        closeMinute(now);
    if (m_linesThisMinute < kLinesAMinute) {
        ++m_linesThisMinute;
        OnAirLog::note(line);
        return;
    }
    ++m_untold;
    if (m_untoldSet.size() < kMostAddresses && !m_untoldSet.contains(from)) {
        m_untoldSet.insert(from);
        m_untoldFrom << from;
    }
    m_timer->setEnabled(true);
}

void MinuteLog::tick()
{
    const qint64 now = Clock::nowMs();
    if (m_minuteStart != 0 && (now - m_minuteStart >= 60000 || now < m_minuteStart))
        closeMinute(now);
    if (m_untold == 0)
        m_timer->setEnabled(false);
}

void MinuteLog::closeMinute(qint64 now)
{
    if (m_untold > 0) {
        QStringList some = m_untoldFrom.mid(0, 5);
        if (m_untoldFrom.size() > 5)
            some << QStringLiteral("...");
        const QString addresses = m_untoldFrom.size() >= kMostAddresses
                                      ? QStringLiteral("%1 or more").arg(kMostAddresses)
                                      : QString::number(m_untoldFrom.size());
        OnAirLog::note(QStringLiteral("web: %1 more %2 in the minute, from %3 addresses (%4)")
                           .arg(m_untold)
                           .arg(m_what, addresses, some.join(QStringLiteral(", "))));
    }
    m_minuteStart = now;
    m_linesThisMinute = 0;
    m_untold = 0;
    m_untoldFrom.clear();
    m_untoldSet.clear();
}

} // namespace mirelva
