#pragma once

#include <QDateTime>
#include <QList>

namespace mirelva {

// The seconds a handler that acts on exact seconds of the wall clock still
// owes. A keyed announcement blocks the one thread for seconds, and the tick
// after it comes late: comparing only that tick's second with a schedule
// would lose every second in between (the station talking all night, a net
// skipped for a week). So each tick takes every second since the last one it
// took, oldest first, and acts on each once.
//
// A clock set back by up to kMostSeconds owes nothing until it passes the
// last second taken: those seconds were acted on already, and a net would
// otherwise be called again. The first tick, a clock set back further, and a
// gap longer than kMostSeconds (a clock set forward, a machine that slept)
// start again from the tick's own second: those seconds did not pass while
// the program was busy.
class SecondsOwed {
public:
    static constexpr qint64 kMostSeconds = 15 * 60;

    QList<QDateTime> take(const QDateTime &now)
    {
        const qint64 second = now.toSecsSinceEpoch();
        if (m_last >= 0 && second <= m_last && m_last - second <= kMostSeconds)
            return {};
        qint64 from = second;
        if (m_last >= 0 && second > m_last && second - m_last <= kMostSeconds)
            from = m_last + 1;
        QList<QDateTime> owed;
        owed.reserve(int(second - from + 1));
        for (qint64 s = from; s <= second; ++s)
            owed.append(QDateTime::fromSecsSinceEpoch(s));
        m_last = second;
        return owed;
    }

private:
    qint64 m_last = -1;
};

} // namespace mirelva
