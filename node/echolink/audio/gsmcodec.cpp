#include "node/echolink/audio/gsmcodec.h"

#include <cstring>

extern "C" {
#include <gsm.h>
}

namespace mirelva::echolink {

// The top nibble of a GSM 06.10 frame's first byte.
constexpr unsigned char kGsmMagic = 0xD0;

GsmCodec::GsmCodec() : m_gsm(gsm_create()) {}

GsmCodec::~GsmCodec() { gsm_destroy(m_gsm); }

QByteArray GsmCodec::encodeFrame(const qint16 *samples)
{
    gsm_signal in[kFrameSamples];
    std::memcpy(in, samples, sizeof in);
    QByteArray out(kGsmFrameBytes, Qt::Uninitialized);
    gsm_encode(m_gsm, in, reinterpret_cast<gsm_byte *>(out.data()));
    return out;
}

QByteArray GsmCodec::encodePacket(const qint16 *samples)
{
    QByteArray out;
    out.reserve(kGsmPayloadBytes);
    for (int f = 0; f < kFramesPerPacket; ++f)
        out += encodeFrame(samples + f * kFrameSamples);
    return out;
}

bool GsmCodec::decodeFrame(const char *frame, int size, qint16 *out)
{
    if (size < kGsmFrameBytes || (static_cast<unsigned char>(frame[0]) & 0xF0) != kGsmMagic) {
        std::memset(out, 0, kFrameSamples * sizeof(qint16));
        return false;
    }
    gsm_byte in[kGsmFrameBytes];
    std::memcpy(in, frame, sizeof in);
    gsm_signal pcm[kFrameSamples];
    if (gsm_decode(m_gsm, in, pcm) != 0) {
        std::memset(out, 0, kFrameSamples * sizeof(qint16));
        return false;
    }
    std::memcpy(out, pcm, sizeof pcm);
    return true;
}

bool GsmCodec::decodePacket(const QByteArray &payload, qint16 *out)
{
    bool ok = payload.size() >= kGsmPayloadBytes;
    for (int f = 0; f < kFramesPerPacket; ++f) {
        qint16 *to = out + f * kFrameSamples;
        if (payload.size() >= (f + 1) * kGsmFrameBytes)
            ok = decodeFrame(payload.constData() + f * kGsmFrameBytes, kGsmFrameBytes, to) && ok;
        else
            std::memset(to, 0, kFrameSamples * sizeof(qint16));
    }
    return ok;
}

} // namespace mirelva::echolink
