#pragma once

#include <QString>

namespace mirelva {

// nodelink.ini: which node to drive and where the voice goes.
//   ADDRESS      empty: the built-in simulated node; "unix:PATH" or "tcp:HOST:PORT"
//   AUDIODEVICE  ALSA PCM name, default "default"; "node": the node plays the speech
//   RECORDDIR    when set, every spoken text is also written there as a WAV file
//   TXTIMEOUT    seconds one keyed transmission may last, 5 to 900, default 180
//   TOKENFILE    the node's token file for a tcp: ADDRESS, default nodelink.token
//                in the settings folder
struct NodeLinkConfig {
    QString address;
    QString audioDevice = QStringLiteral("default");
    QString recordDir;
    QString tokenFile;   // empty: the default
    int transmitTimeoutSeconds = kDefaultTransmitTimeoutSeconds;

    static constexpr int kDefaultTransmitTimeoutSeconds = 180;
    static constexpr int kMinTransmitTimeoutSeconds = 5;
    static constexpr int kMaxTransmitTimeoutSeconds = 900;

    static NodeLinkConfig load();
    static constexpr int kCapacity = 256;
};

} // namespace mirelva
