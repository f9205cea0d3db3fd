#pragma once

#include <QRegularExpression>
#include <QString>
#include <QUrl>

namespace mirelva::WebAddresses {

// Every web address the program opens, in one place.

// Whether the text reads as a callsign for a look-up: letters and digits,
// with at most one suffix after "-" or "/" ("VK2ABC", "VK2ABC-", "W1AW/P").
// A station's name comes from the network: nothing else may become part of
// an address the browser opens.
inline bool isLookupCall(const QString &text)
{
    static const QRegularExpression call(QStringLiteral("^[A-Za-z0-9]{1,10}([-/][A-Za-z0-9]{0,4})?$"));
    return call.match(text).hasMatch();
}

// The callsign look-up: the callsign, percent-encoded, ends the page's
// address; no callsign gives the site's own page. Anything that is not a
// callsign gives no address at all (empty), and nothing is opened. The web
// tools window's "QRZ" button and the main window's automatic look-up of
// connecting stations both use it.
inline QString callLookupBase() { return QStringLiteral("https://www.qrz.com/db/"); }
inline QString callLookup(const QString &callsign)
{
    if (callsign.isEmpty())
        return callLookupBase();
    if (!isLookupCall(callsign))
        return QString();
    return callLookupBase() + QString::fromLatin1(QUrl::toPercentEncoding(callsign));
}

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
