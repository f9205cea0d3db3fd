#include "core/clock.h"

#include <optional>

namespace mirelva::Clock {

namespace {
std::optional<QDateTime> g_fixed;
}

QDateTime now() { return g_fixed ? *g_fixed : QDateTime::currentDateTime(); }
void setForTests(const QDateTime &when) { g_fixed = when; }
void advanceForTests(int seconds) { g_fixed = now().addSecs(seconds); }
void useSystemClock() { g_fixed.reset(); }
QString chatTime() { return now().toString(QStringLiteral("HH:mm")); }

} // namespace mirelva::Clock
