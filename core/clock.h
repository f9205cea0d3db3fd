#pragma once

#include <QDateTime>

namespace mirelva {

// Local wall-clock time as every handler sees it. Tests set it; the program
// reads the system clock.
namespace Clock {
QDateTime now();
void setForTests(const QDateTime &when);
void advanceForTests(int seconds);
void useSystemClock();
} // namespace Clock

} // namespace mirelva
