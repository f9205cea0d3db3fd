#include "core/clock.h"

#include <limits>
#include <optional>

#include <QLocale>

namespace mirelva::Clock {

namespace {
std::optional<QDateTime> g_fixed;
qint64 g_shift = 0;
}

QDateTime now()
{
    if (g_fixed)
        return *g_fixed;
    const QDateTime system = QDateTime::currentDateTime();
    return g_shift ? system.addSecs(g_shift) : system;
}
void setForTests(const QDateTime &when) { g_fixed = when; }
void advanceForTests(int seconds) { g_fixed = now().addSecs(seconds); }
void useSystemClock()
{
    g_fixed.reset();
    g_shift = 0;
}
void shiftForTests(qint64 seconds)
{
    g_fixed.reset();
    g_shift = seconds;
}
qint64 nowMs()
{
    if (g_fixed)
        return g_fixed->toMSecsSinceEpoch();
    return QDateTime::currentMSecsSinceEpoch() + g_shift * 1000;
}

QString chatTime()
{
    if (g_fixed)
        return g_fixed->toString(QStringLiteral("HH:mm"));
    static qint64 shownMinute = std::numeric_limits<qint64>::min();
    static QString shown;
    const qint64 ms = nowMs();
    const qint64 minute = ms / 60000;
    if (minute != shownMinute) {
        shown = QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm"));
        shownMinute = minute;
    }
    return shown;
}

QString clockFace(const QDateTime &when)
{
    // An "a" or "A" outside quotes in the locale's own time pattern is its
    // AM/PM marker.
    const QString pattern = QLocale().timeFormat(QLocale::ShortFormat);
    bool quoted = false;
    bool twelveHour = false;
    for (const QChar c : pattern) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        else if (!quoted && (c == QLatin1Char('a') || c == QLatin1Char('A')))
            twelveHour = true;
    }
    // AM and PM in English whatever the language, as the voice says them.
    return twelveHour ? QLocale::c().toString(when.time(), QStringLiteral("h:mm:ss AP"))
                      : when.toString(QStringLiteral("HH:mm:ss"));
}

} // namespace mirelva::Clock
