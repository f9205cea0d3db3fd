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
// The system clock, running, moved by whole seconds: a rehearsal of a time of
// day that keeps the real second boundaries.
void shiftForTests(qint64 seconds);
// The same clock as milliseconds since the epoch, without the local time
// zone: what a cost per line (a notice, a rate) is measured with.
qint64 nowMs();
// The time as chat texts carry it: "HH:MM", 24-hour, two digits each. On the
// system clock it is worked out once a minute, not per text: a zone changes
// its offset only on a whole minute.
QString chatTime();
// The time as the windows' clocks show it, to the second, in the desktop's
// own form: a 12-hour clock where the locale writes the time with AM and PM
// ("9:05:07 PM"), else 24-hour ("21:05:07").
QString clockFace(const QDateTime &when);
} // namespace Clock

} // namespace mirelva
