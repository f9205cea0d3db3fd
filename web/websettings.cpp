#include "web/websettings.h"

#include <cstdio>

#include "core/settingsstore.h"

namespace mirelva {

WebSettings WebSettings::load()
{
    const IniFile ini(fileName(), kCapacity);
    WebSettings s;
    s.enabled = ini.text(QStringLiteral("ENABLED"), QStringLiteral("0")) == QLatin1String("1");
    const QString address = ini.text(QStringLiteral("ADDRESS"), QString());
    if (!address.isEmpty())
        s.address = address;
    const QString port = ini.text(QStringLiteral("PORT"), QString());
    if (!port.isEmpty()) {
        bool ok = false;
        const int n = port.toInt(&ok);
        if (ok && n > 0 && n < 65536) {
            s.port = n;
        } else {
            const QByteArray line = QStringLiteral("mirelva: web.ini PORT: \"%1\" is no port number; using %2\n")
                                        .arg(port.left(40))
                                        .arg(kDefaultPort)
                                        .toUtf8();
            std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        }
    }
    s.certificate = ini.text(QStringLiteral("CERTIFICATE"), QString());
    s.key = ini.text(QStringLiteral("KEY"), QString());
    s.allowPlain = ini.text(QStringLiteral("ALLOWPLAIN"), QStringLiteral("0")) == QLatin1String("1");
    for (const QString &o : ini.text(QStringLiteral("ORIGINS"), QString()).split(QLatin1Char(','), Qt::SkipEmptyParts))
        if (!o.trimmed().isEmpty())
            s.origins << o.trimmed().toLower();
    for (const QString &p : ini.text(QStringLiteral("PROXIES"), QString()).split(QLatin1Char(','), Qt::SkipEmptyParts))
        if (!p.trimmed().isEmpty())
            s.proxies << p.trimmed();
    s.passwordHash = ini.text(QStringLiteral("PASSWORD"), QString());
    return s;
}

} // namespace mirelva
