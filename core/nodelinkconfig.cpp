#include "core/nodelinkconfig.h"

#include <algorithm>
#include <cstdio>

#include "core/speechvoice.h"
#include "core/settingsstore.h"

namespace mirelva {

namespace {

void warn(const QString &text)
{
    const QByteArray line = QStringLiteral("mirelva: nodelink.ini %1\n").arg(text).toUtf8();
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

// A value out of range is brought to the nearest end of it; one that is no
// number gives the default. Either is said on standard error: the operator
// who set it expects it to count.
int transmitTimeout(const QString &value)
{
    using C = NodeLinkConfig;
    const QString v = value.trimmed();
    if (v.isEmpty())
        return C::kDefaultTransmitTimeoutSeconds;
    bool ok = false;
    const qlonglong n = v.toLongLong(&ok);
    if (!ok) {
        warn(QStringLiteral("TXTIMEOUT: \"%1\" is not a number of seconds; using %2")
                 .arg(v.left(40))
                 .arg(C::kDefaultTransmitTimeoutSeconds));
        return C::kDefaultTransmitTimeoutSeconds;
    }
    const int bounded = int(std::clamp<qlonglong>(n, C::kMinTransmitTimeoutSeconds, C::kMaxTransmitTimeoutSeconds));
    if (bounded != n)
        warn(QStringLiteral("TXTIMEOUT: %1 seconds is outside %2 to %3; using %4")
                 .arg(v.left(40))
                 .arg(C::kMinTransmitTimeoutSeconds)
                 .arg(C::kMaxTransmitTimeoutSeconds)
                 .arg(bounded));
    return bounded;
}

} // namespace

NodeLinkConfig NodeLinkConfig::load()
{
    const IniFile ini(QStringLiteral("nodelink.ini"), kCapacity);
    NodeLinkConfig c;
    c.address = ini.text(QStringLiteral("ADDRESS"), QString());
    c.audioDevice = ini.text(QStringLiteral("AUDIODEVICE"), QStringLiteral("default"));
    if (c.audioDevice.isEmpty())
        c.audioDevice = QStringLiteral("default");
    else if (c.audioDevice.compare(kNodeAudioDevice, Qt::CaseInsensitive) == 0)
        c.audioDevice = kNodeAudioDevice;
    c.recordDir = ini.text(QStringLiteral("RECORDDIR"), QString());
    c.tokenFile = ini.text(QStringLiteral("TOKENFILE"), QString());
    c.transmitTimeoutSeconds = transmitTimeout(ini.text(QStringLiteral("TXTIMEOUT"), QString()));
    return c;
}

} // namespace mirelva
