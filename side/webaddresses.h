#pragma once

#include <QString>

namespace mirelva::WebAddresses {

// Every web address the program opens, in one place.

// The callsign look-up: the callsign is appended as it stands, so the page's
// address ends in the callsign. The web tools window's "QRZ" button and the
// main window's automatic look-up of connecting stations both use it.
inline QString callLookupBase() { return QStringLiteral("https://www.qrz.com/db/"); }
inline QString callLookup(const QString &callsign) { return callLookupBase() + callsign; }

inline QString echoLinkHome() { return QStringLiteral("https://www.echolink.org/"); }
inline QString echoLinkLogins() { return QStringLiteral("https://www.echolink.org/logins.jsp"); }
inline QString echoLinkProxyList() { return QStringLiteral("https://www.echolink.org/proxylist.jsp"); }
inline QString eqslHome() { return QStringLiteral("https://www.eqsl.cc/"); }
inline QString translator() { return QStringLiteral("https://www.babelfish.com/babelfish/tr?"); }

// The About window's donation pages, one per amount in its list, and the
// maker's contact addresses shown there.
inline QString donationPage(const QString &amount)
{
    return QStringLiteral("https://mirelva.example.org/donate?amount=") + amount;
}
inline QString makerWebSite() { return QStringLiteral("https://mirelva.example.org/"); }
inline QString makerMail() { return QStringLiteral("mirelva@example.org"); }

} // namespace mirelva::WebAddresses
