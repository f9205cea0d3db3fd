#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QHostAddress>
#include <QObject>
#include <QString>

#include "node/echolink/audio/gsmcodec.h"

namespace mirelva::echolink {

// A sound device as echolink.ini names it: "alsa:DEVICE" (any ALSA PCM name,
// e.g. plughw:1,0 or default) or "udp:ADDRESS:PORT" (16-bit little-endian
// mono samples in datagrams: an input listens on PORT, on ADDRESS when that
// is a loopback address, else on every address; an output sends to
// ADDRESS:PORT). Audio is always mono, 8 kHz, 16-bit.
struct SoundDevice {
    enum Kind { Alsa, Udp } kind = Alsa;
    QString alsaName;
    QHostAddress host;
    quint16 port = 0;
    static std::optional<SoundDevice> parse(const QString &text);
};

// The receiver's audio: frame() with 160 samples for every 20 ms captured.
// (A raw socket for udp:, so its notifier can rest while the owner's tick
// reads it.)
// A device that fails (unplugged) is opened again every second; problem()
// says so, once per cause. Never blocks the thread.
class SoundInput : public QObject {
    Q_OBJECT
public:
    // Null, with the reason in `error`, when the text names no device or it
    // cannot be opened now.
    static std::unique_ptr<SoundInput> open(const QString &device, QString *error, QObject *parent = nullptr);
    // Samples lost because the thread came too late to read them (ALSA
    // overruns), in 20 ms frames; malformed datagrams for UDP.
    int overruns() const { return m_overruns; }
    // While the owner's 20 ms tick runs it reads the device at each tick
    // (pump()) and the device does not wake the thread by itself: one
    // wake-up a tick for the receiver and the transmitter together. Not
    // paced, it reads whenever audio comes.
    void setPaced(bool paced);
    void pump() { readNow(); }

signals:
    void frame(const qint16 *samples);
    void problem(const QString &text);

protected:
    using QObject::QObject;
    void deliver(const qint16 *samples, int count);
    // What has come, all of it (bounded a call); the notifiers on or off.
    virtual void readNow() = 0;
    virtual void listen(bool on) = 0;
    int m_overruns = 0;
    bool m_paced = false;

private:
    qint16 m_frame[kFrameSamples] = {};
    int m_fill = 0;
};

// The transmitter's audio, pulled at the owner's tick: each pump() (every
// 20 ms, right after the owner has made its frame) the device asks `source`
// for 160 samples (false: nothing) as far as it has room: UDP sends the one
// frame, ALSA fills the card to its 60 ms. The device never wakes up by
// itself: one timer, the owner's, paces the node's audio. After half a
// second of nothing it rests (pump() does nothing); wake() when there may be
// audio again. ALSA plays silence while it has nothing and is not yet
// resting, only as much as keeps the card from running dry; UDP sends
// nothing. Never blocks.
class SoundOutput : public QObject {
    Q_OBJECT
public:
    using Source = std::function<bool(qint16 *samples)>;
    static std::unique_ptr<SoundOutput> open(const QString &device, Source source, QString *error,
                                             QObject *parent = nullptr);
    virtual void wake() = 0;
    virtual void pump() = 0;
    bool resting() const { return m_resting; }
    // Times the device ran out of samples while playing (ALSA underruns).
    int underruns() const { return m_underruns; }

    static constexpr int kRestAfterMs = 500;

signals:
    void problem(const QString &text);

protected:
    SoundOutput(Source source, QObject *parent) : QObject(parent), m_source(std::move(source)) {}
    // One frame from the source; false when it had nothing (then silence).
    bool pullFrame(qint16 *samples);
    Source m_source;
    bool m_resting = false;
    int m_idleFrames = 0;
    int m_underruns = 0;
};

} // namespace mirelva::echolink
