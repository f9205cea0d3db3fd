#pragma once

#include <QByteArray>

#include "node/echolink/audio/gsmcodec.h"
#include "node/echolink/audio/jitterbuffer.h"

namespace mirelva::echolink {

// What one station sends, made playable: its jitter buffer and GSM decoder.
// A missing frame is stood in for by the last decoded 20 ms played again,
// each repeat 6 dB down, silent after four. The decoder never sees a stand-in
// and sees every frame the buffer skips: its state stays what the sender's
// stream makes it. (Decoding the last frame again in a stand-in's place, as
// GSM's own substitution does, leaves the long-term predictor's history out
// of step with the sender's; on a steady tone that held the level several dB
// down for over a second after a single lost packet.)
class StationAudio {
public:
    // `network`: the node's lateness history, shared by every station's buffer.
    explicit StationAudio(LatenessHistory *network = nullptr) : m_buffer(network) {}

    // A received packet's sequence number and payload (the bytes after the
    // 12-byte header); false when the buffer drops it.
    bool push(quint16 seq, const QByteArray &payload, qint64 nowMs) { return m_buffer.push(seq, payload, nowMs); }
    // The next 20 ms, 160 samples into `out`; false (and silence) when the
    // station gives nothing to hear now.
    bool pull(qint64 nowMs, qint16 *out);
    // An over is in progress (from its first packet until it has ended),
    // whether or not this moment is heard: what the one-talker rule goes by.
    bool talking() const { return m_buffer.overActive(); }
    const JitterBuffer &buffer() const { return m_buffer; }
    // The sequence number of the packet the last pull() played from (or
    // stood in for).
    quint16 lastSeq() const { return m_lastSeq; }

    static constexpr int kStandIns = 4;

private:
    JitterBuffer m_buffer;
    GsmCodec m_decoder;
    quint16 m_lastSeq = 0;
    qint16 m_lastDecoded[kFrameSamples] = {};
};

// Cuts a stream of 20 ms frames into EchoLink packets: every fourth frame
// gives a 132-byte GSM payload; a gap (no frame) after audio ends the over,
// the last packet filled with silence, as other nodes end theirs.
class GsmPacketizer {
public:
    // One frame of 160 samples, or nullptr for nothing this 20 ms. Returns
    // the payload completed by it, or an empty array.
    QByteArray add(const qint16 *frame);

private:
    GsmCodec m_encoder;
    QByteArray m_payload;
    int m_frames = 0;
};

} // namespace mirelva::echolink
