#pragma once

#include <QByteArray>

struct gsm_state;

namespace mirelva::echolink {

// Sizes of EchoLink's GSM audio: 8 kHz, 20 ms frames, four to a packet.
constexpr int kSampleRate = 8000;
constexpr int kFrameSamples = 160;
constexpr int kGsmFrameBytes = 33;
constexpr int kFramesPerPacket = 4;
constexpr int kPacketSamples = kFrameSamples * kFramesPerPacket;   // 640, 80 ms
constexpr int kGsmPayloadBytes = kGsmFrameBytes * kFramesPerPacket; // 132
constexpr int kFrameMs = 20;
constexpr int kPacketMs = 80;

// One direction of GSM 06.10 (Debian's libgsm). Each stream needs its own:
// the coder carries state from frame to frame. Not copyable.
class GsmCodec {
public:
    GsmCodec();
    ~GsmCodec();
    GsmCodec(const GsmCodec &) = delete;
    GsmCodec &operator=(const GsmCodec &) = delete;

    // 160 samples -> one 33-byte frame.
    QByteArray encodeFrame(const qint16 *samples);
    // 640 samples -> a packet's 132-byte payload.
    QByteArray encodePacket(const qint16 *samples);
    // One 33-byte frame -> 160 samples; false (and silence) when it is not a
    // GSM frame (wrong size or magic).
    bool decodeFrame(const char *frame, int size, qint16 *out);
    // A payload of at least 132 bytes -> 640 samples; bytes beyond the four
    // frames are ignored, as other nodes do. False when too short or a frame
    // is not GSM; the samples of the bad frames are silence.
    bool decodePacket(const QByteArray &payload, qint16 *out);

private:
    gsm_state *m_gsm;
};

} // namespace mirelva::echolink
