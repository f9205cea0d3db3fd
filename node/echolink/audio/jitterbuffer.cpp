#include "node/echolink/audio/jitterbuffer.h"

#include <algorithm>

#include "node/echolink/audio/gsmcodec.h"

namespace mirelva::echolink {

namespace {

qint64 floorDiv(qint64 a, qint64 b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// Received sequence numbers remembered, to tell a duplicate from a late one.
constexpr size_t kSeenKept = 2 * JitterBuffer::kFarPackets + 8;

// A GSM frame whose four sub-blocks all have a small amplitude (xmaxc, six
// bits at bit 11 of each 56-bit sub-block after the 40-bit header): a pause,
// where skipping 20 ms is not heard. 12 is about -35 dBFS.
bool quiet(const QByteArray &packet, int part)
{
    const auto *b = reinterpret_cast<const unsigned char *>(packet.constData()) + part * kGsmFrameBytes;
    for (int sub = 0; sub < 4; ++sub) {
        const int at = 5 + 7 * sub;
        if ((((b[at + 1] & 0x1F) << 1) | (b[at + 2] >> 7)) > 12)
            return false;
    }
    return true;
}

} // namespace

void JitterBuffer::startOver(quint16 seq, qint64 nowMs)
{
    m_active = true;
    m_playing = false;
    m_baseSeq = seq;
    m_cursor = 0;
    m_firstArrival = nowMs;
    m_packets.clear();
    m_arrivals.clear();
    m_seen.clear();
    m_lastGood.clear();
    m_standIns = 0;
    m_stallMs = 0;
    m_growing = false;
    m_pendingMissing = 0;
    m_excessSince = -1;
    ++m_stats.overs;
}

qint64 JitterBuffer::cursorPacket() const { return floorDiv(m_cursor, kFramesPerPacket); }

// When packet 0 of this over would have come had every packet been as quick
// as the quickest of the recent ones.
qint64 JitterBuffer::base() const
{
    if (m_arrivals.empty())
        return m_firstArrival;
    qint64 b = m_arrivals.front().at - m_arrivals.front().rel * kPacketMs;
    for (const Arrival &a : m_arrivals)
        b = std::min(b, a.at - a.rel * kPacketMs);
    return b;
}

bool JitterBuffer::seen(qint64 rel) const { return std::find(m_seen.begin(), m_seen.end(), rel) != m_seen.end(); }

void LatenessHistory::add(int ms)
{
    if (m_ring.empty()) {
        m_ring.assign(kPackets, 0);
        m_histogram.assign(kMaxMs + 1, 0);
    }
    const quint16 v = quint16(std::clamp(ms, 0, kMaxMs));
    if (m_count == kPackets)
        --m_histogram[m_ring[m_next]];
    else
        ++m_count;
    m_ring[m_next] = v;
    ++m_histogram[v];
    m_next = (m_next + 1) % kPackets;
    m_stale = true;
}

int LatenessHistory::needMs() const
{
    if (m_count == 0)
        return -1;
    if (m_stale) {
        // Later than the delay: allowed for one packet in kPacketsPerGap.
        const int allowed = m_count / kPacketsPerGap;
        int later = 0;
        int ms = kMaxMs;
        while (ms > 0 && later + m_histogram[size_t(ms)] <= allowed)
            later += m_histogram[size_t(ms--)];
        m_need = ms;
        const int early = m_count / 10;
        int sooner = 0;
        ms = 0;
        while (ms < kMaxMs && sooner + m_histogram[size_t(ms)] <= early)
            sooner += m_histogram[size_t(ms++)];
        m_early = ms;
        m_stale = false;
    }
    return m_need;
}

int LatenessHistory::earlyMs() const
{
    needMs();
    return m_early;
}

int JitterBuffer::targetMs() const
{
    int need = m_jitter.needMs();
    if (m_jitter.size() < kLearnPackets) {
        // Too few of its own to know its path: what the node knows of the
        // network, else a guess, raised by what it has seen itself.
        const int known = m_network && m_network->size() >= kLearnPackets ? m_network->needMs() : kColdTargetMs;
        need = std::max(need, known);
    }
    return std::min(std::max(need, 0) + kMarginMs, kMaxTargetMs);
}

qint64 JitterBuffer::startsAtMs() const
{
    if (!m_active || m_playing)
        return -1;
    const LatenessHistory &known = m_jitter.size() < kLearnPackets && m_network && m_network->size() >= kLearnPackets
                                       ? *m_network
                                       : m_jitter;
    return base() + std::max(targetMs() - known.earlyMs(), 0);
}

int JitterBuffer::delayMs(qint64 nowMs) const
{
    return m_active ? int(nowMs - base() - m_cursor * kFrameMs) : 0;
}

void JitterBuffer::endStall(bool resumed)
{
    if (resumed && m_stallMs > 0) {
        ++m_stats.underruns;
        m_stats.underrunMs += m_stallMs;
    }
    m_stallMs = 0;
}

bool JitterBuffer::push(quint16 seq, const QByteArray &payload, qint64 nowMs)
{
    if (payload.size() < kGsmPayloadBytes) {
        ++m_stats.malformed;
        return false;
    }
    if (!m_active)
        startOver(seq, nowMs);
    const qint64 cursor = cursorPacket();
    const qint16 diff = qint16(quint16(seq - quint16(m_baseSeq + cursor)));
    if (diff > kFarPackets || diff < -kFarPackets) {
        ++m_stats.farOff;
        return false;
    }
    const qint64 rel = cursor + diff;
    if (seen(rel)) {
        ++m_stats.duplicates;
        return false;
    }
    m_seen.push_back(rel);
    if (m_seen.size() > kSeenKept)
        m_seen.pop_front();
    m_arrivals.push_back({rel, nowMs});
    if (m_arrivals.size() > size_t(kHistory))
        m_arrivals.pop_front();
    // A late packet tells of the network's jitter as much as any.
    const int lateness = int(std::clamp<qint64>(nowMs - rel * kPacketMs - base(), 0, kMaxTargetMs));
    m_jitter.add(lateness);
    if (m_network)
        m_network->add(lateness);
    if (m_playing && rel < cursor) {
        ++m_stats.late;
        return false;
    }
    m_packets[rel] = payload.left(kGsmPayloadBytes);
    m_lastArrival = nowMs;
    ++m_stats.packets;
    m_stats.lostFrames += m_pendingMissing;
    m_pendingMissing = 0;
    endStall(true);
    return true;
}

JitterBuffer::Frame JitterBuffer::pull(qint64 nowMs)
{
    Frame out;
    if (!m_active)
        return out;
    if (!m_playing) {
        // From when the over's first packet would have come on time, as
        // the packets so far tell: a late first packet does not add its
        // lateness to the whole over.
        if (nowMs < startsAtMs())
            return out;
        m_playing = true;
        m_cursor = m_packets.begin()->first * kFramesPerPacket;
    }
    auto it = m_packets.find(cursorPacket());
    if (it != m_packets.end() && m_growing && delayMs(nowMs) < targetMs() && !m_lastGood.isEmpty()) {
        // A wait goes on until the delay is what the network needs, so it
        // grows in one gap rather than a gap at each late packet.
        out.kind = Kind::Stall;
        out.gsm = m_lastGood;
        out.standIn = ++m_standIns;
        out.seq = quint16(m_baseSeq + cursorPacket());
        out.part = int(m_cursor - cursorPacket() * kFramesPerPacket);
        m_stats.underrunMs += kFrameMs;
        return out;
    }
    m_growing = false;
    if (it != m_packets.end()) {
        // Held well above what the network needs for a while: one frame
        // goes, sooner the further above, in a pause where there is one
        // (else after three times as long). Never into a gap.
        const int excess = delayMs(nowMs) - targetMs();
        if (excess >= kFrameMs) {
            if (m_excessSince < 0)
                m_excessSince = nowMs;
            const qint64 next = m_cursor + 1;
            const bool nextHere = m_packets.count(floorDiv(next, kFramesPerPacket)) > 0;
            const int part = int(m_cursor - cursorPacket() * kFramesPerPacket);
            const qint64 hold = (excess >= 40 ? 200 : 1000) * (quiet(it->second, part) ? 1 : 2);
            if (nowMs - m_excessSince >= hold && nextHere) {
                out.skipped = it->second.mid(part * kGsmFrameBytes, kGsmFrameBytes);
                if (next % kFramesPerPacket == 0)
                    m_packets.erase(it);
                m_cursor = next;
                ++m_stats.shrunkFrames;
                m_excessSince = nowMs;
                it = m_packets.find(cursorPacket());
            }
        } else {
            m_excessSince = -1;
        }
        const qint64 packet = cursorPacket();
        const int part = int(m_cursor - packet * kFramesPerPacket);
        out.kind = Kind::Audio;
        out.gsm = it->second.mid(part * kGsmFrameBytes, kGsmFrameBytes);
        out.seq = quint16(m_baseSeq + packet);
        out.part = part;
        m_lastGood = out.gsm;
        m_standIns = 0;
        if (part == kFramesPerPacket - 1)
            m_packets.erase(it);
        ++m_cursor;
        return out;
    }
    if (m_packets.empty() && nowMs - m_lastArrival >= kPacketMs + targetMs() + kEndExtraMs) {
        // The over has ended: the stand-ins before were its tail, not a gap.
        m_active = false;
        m_playing = false;
        m_pendingMissing = 0;
        endStall(false);
        return out;
    }
    out.gsm = m_lastGood;
    out.standIn = ++m_standIns;
    out.seq = quint16(m_baseSeq + cursorPacket());
    out.part = int(m_cursor - cursorPacket() * kFramesPerPacket);
    if (delayMs(nowMs) < targetMs()) {
        // Played well inside the network's jitter: wait for it, which makes
        // the delay what the network needs.
        out.kind = Kind::Stall;
        m_stallMs += kFrameMs;
        m_growing = true;
        return out;
    }
    // Late or lost; its packet is dropped if it still comes.
    out.kind = Kind::Lost;
    if (m_packets.empty())
        ++m_pendingMissing;
    else
        ++m_stats.lostFrames;
    ++m_cursor;
    return out;
}

} // namespace mirelva::echolink
