#pragma once

// Rules the windows' countdown and transmission handlers share.

#include <algorithm>
#include <limits>

#include <QLabel>
#include <QString>

#include "ui/controls.h"

namespace mirelva::countdowns {

// A period box read as a number of minutes or seconds. A period that does not
// read as a positive number (a settings file may hold "00" or junk) would
// reload its countdown with 0 and leave it counting below zero for good, so it
// is put back to 1 like "0" is.
inline void keepPeriodPositive(TextBox *period)
{
    if (period->text() == QLatin1String("0") || period->number() <= 0)
        period->setText(QStringLiteral("1"));
}

// Minutes in a box as seconds for a countdown; a number too large for the
// product stays at the largest count instead of wrapping round.
inline qint64 minutesAsSeconds(const TextBox *box)
{
    constexpr qint64 most = std::numeric_limits<qint64>::max() / 60;
    return std::clamp<qint64>(box->number(), 0, most) * 60;
}

inline void countDown(QLabel *countdown) { setLabelNumber(countdown, labelNumber(countdown) - 1); }

// Text that would key the transmitter and carry nothing: empty, blanks only,
// or only asterisks, which the speech turns into blanks. A timer that would
// send such a text skips its transmission: an unidentified carrier is not
// something a licensed station may put on the air unattended.
inline bool carriesNothing(const QString &text)
{
    for (const QChar c : text) {
        if (!c.isSpace() && c != QLatin1Char('*'))
            return false;
    }
    return true;
}

} // namespace mirelva::countdowns
