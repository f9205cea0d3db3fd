#include "core/clock.h"

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
QString chatTime() { return now().toString(QStringLiteral("HH:mm")); }

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
