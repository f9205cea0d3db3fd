#pragma once

#include <QDateTime>
#include <QString>

namespace mirelva {

// Local wall-clock time as every handler sees it. Tests set it; the program
// reads the system clock.
namespace Clock {
QDateTime now();
void setForTests(const QDateTime &when);
void advanceForTests(int seconds);
void useSystemClock();
// The time as chat texts carry it: "HH:MM", 24-hour, two digits each.
QString chatTime();
} // namespace Clock

} // namespace mirelva
