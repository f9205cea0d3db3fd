#include "core/nodelinkconfig.h"

#include "core/settingsstore.h"

namespace mirelva {

NodeLinkConfig NodeLinkConfig::load()
{
    const IniFile ini(QStringLiteral("nodelink.ini"), kCapacity);
    NodeLinkConfig c;
    c.address = ini.text(QStringLiteral("ADDRESS"), QString());
    c.audioDevice = ini.text(QStringLiteral("AUDIODEVICE"), QStringLiteral("default"));
    if (c.audioDevice.isEmpty())
        c.audioDevice = QStringLiteral("default");
    c.recordDir = ini.text(QStringLiteral("RECORDDIR"), QString());
    return c;
}

} // namespace mirelva
