#pragma once

#include <QString>

namespace mirelva {

inline QString versionText()
{
    return QStringLiteral("%1.%2.%3").arg(MIRELVA_VERSION_MAJOR).arg(MIRELVA_VERSION_MINOR).arg(MIRELVA_VERSION_PATCH);
}

// "Mirelva", four blanks, the own callsign, three blanks, "v3.0.3", then a
// window's own title where it has one.
inline QString windowCaption(const QString &ownCall, const QString &title = QString())
{
    return QStringLiteral("Mirelva    ") + ownCall + QStringLiteral("   v") + versionText() + title;
}

} // namespace mirelva
