#include "node/echolink/audio/stationaudio.h"

#include <cstring>

namespace mirelva::echolink {

bool StationAudio::pull(qint64 nowMs, qint16 *out)
{
    const JitterBuffer::Frame f = m_buffer.pull(nowMs);
    m_lastSeq = f.seq;
    const bool standIn = f.kind == JitterBuffer::Kind::Lost || f.kind == JitterBuffer::Kind::Stall;
    if (f.kind == JitterBuffer::Kind::Idle || (standIn && (f.standIn > kStandIns || f.gsm.isEmpty()))) {
        std::memset(out, 0, kFrameSamples * sizeof(qint16));
        return false;
    }
    if (standIn) {
        const int shift = f.standIn - 1;
        for (int i = 0; i < kFrameSamples; ++i)
            out[i] = qint16(m_lastDecoded[i] >> shift);
        return true;
    }
    if (!f.skipped.isEmpty()) {
        // Not heard, but the decoder's history needs it.
        qint16 unheard[kFrameSamples];
        m_decoder.decodeFrame(f.skipped.constData(), int(f.skipped.size()), unheard);
    }
    m_decoder.decodeFrame(f.gsm.constData(), int(f.gsm.size()), out);
    std::memcpy(m_lastDecoded, out, sizeof m_lastDecoded);
    return true;
}

QByteArray GsmPacketizer::add(const qint16 *frame)
{
    static const qint16 silence[kFrameSamples] = {};
    if (!frame) {
        if (m_frames == 0)
            return {};
        while (m_frames < kFramesPerPacket) {
            m_payload += m_encoder.encodeFrame(silence);
            ++m_frames;
        }
    } else {
        m_payload += m_encoder.encodeFrame(frame);
        ++m_frames;
    }
    if (m_frames < kFramesPerPacket)
        return {};
    QByteArray out = m_payload;
    m_payload.clear();
    m_frames = 0;
    return out;
}

} // namespace mirelva::echolink
