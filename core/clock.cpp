#include "core/clock.h"

#include <optional>

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

} // namespace mirelva::Clock
