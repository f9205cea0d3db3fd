#pragma once

#include <deque>
#include <map>
#include <vector>

#include <QByteArray>
#include <QtGlobal>

namespace mirelva::echolink {

// What one station's buffer has done since it was made.
struct JitterStats {
    int packets = 0;        // accepted
    int duplicates = 0;     // a sequence number already had
    int late = 0;           // came after its time had been played
    int farOff = 0;         // sequence number far from the over's: dropped
    int malformed = 0;      // payload shorter than four GSM frames
    int lostFrames = 0;     // played as a stand-in: the packet never came in time
    int underruns = 0;      // waits inside an over for a packet behind its time
    int underrunMs = 0;     // what those waits cost
    int shrunkFrames = 0;   // frames skipped to bring the delay back down
    int overs = 0;
};

// Packets' lateness (ms, each against the quickest of its over), the last
// kPackets of them, and the delay that would have taken all of them but one
// packet in kPacketsPerGap: at most one gap a minute of talk, rather than
// the worst lateness ever seen, which a single straggler would set. Constant
// work a packet; needMs() counts down a histogram of kMaxMs + 1 entries.
class LatenessHistory {
public:
    void add(int ms);
    int size() const { return m_count; }
    // -1 while nothing has been added.
    int needMs() const;
    // The lateness a tenth of the packets came within: what an over's first
    // packet was late by at least, nine times in ten. 0 while nothing has
    // been added.
    int earlyMs() const;

    static constexpr int kPackets = 1500;        // two minutes of talk
    static constexpr int kPacketsPerGap = 750;   // one a minute at 12.5 packets a second
    static constexpr int kMaxMs = 600;

private:
    std::vector<quint16> m_ring;
    size_t m_next = 0;
    int m_count = 0;
    std::vector<quint16> m_histogram;
    mutable int m_need = -1;
    mutable int m_early = 0;
    mutable bool m_stale = false;
};

// One station's adaptive jitter buffer for EchoLink's GSM packets (four 20 ms
// frames, a 16-bit sequence number that wraps). The sound output pulls one
// frame every 20 ms; time is always given by the caller (the packet's arrival
// as the kernel stamped it, where known), so it runs the same under a test's
// clock as on the air.
//
// It holds as little as the network needs: the delay it aims at is what its
// LatenessHistory asks for plus a couple of ms. Until it has heard
// kLearnPackets of its own it starts from what the node has learnt of the
// network from every station (the history given at construction), or from
// kColdTargetMs when the node has heard no one yet, and grows from there only
// on need. The play-out runs on: a frame missing at its time is stood in for
// (the last frame again, fading) and its packet dropped if it still comes,
// unless the delay is below the aim (the network got worse), when the buffer
// waits for it instead, which lengthens the delay to what the network needs.
// When the delay has stayed a frame or more above the aim for a second (0.2 s
// when 40 ms above), one quiet frame is skipped (any frame after twice as
// long). Duplicates and packets far from the over's sequence (a restarted
// sender) are dropped. An over ends when nothing has come for a packet's time
// plus the aim plus 100 ms; the next packet starts a new one at any sequence
// number.
class JitterBuffer {
public:
    // `network`: the node's history of every station's lateness, fed by this
    // buffer too; null for a buffer on its own.
    explicit JitterBuffer(LatenessHistory *network = nullptr) : m_network(network) {}

    enum class Kind {
        Idle,   // no over, or the start of one is being held back
        Audio,  // a received frame
        Lost,   // a stand-in for a frame not here in time; play-out goes on
        Stall,  // a stand-in while the buffer waits for a late frame
    };
    struct Frame {
        Kind kind = Kind::Idle;
        QByteArray gsm;          // 33 bytes: the frame, or the last one for a stand-in
        int standIn = 0;         // stand-ins in a row so far (1 = the first)
        quint16 seq = 0;         // the packet's sequence number (of the missing one for a stand-in)
        int part = 0;            // which of its four frames
        QByteArray skipped;      // a frame skipped just before this one (shrinking): for the decoder, not heard
    };

    // False when the packet is dropped (see stats() for why).
    bool push(quint16 seq, const QByteArray &payload, qint64 nowMs);
    Frame pull(qint64 nowMs);

    bool overActive() const { return m_active; }
    int targetMs() const;
    // When an over waiting to begin will play its first frame (a pull at or
    // after it plays); -1 when none is waiting. Its first packet was most
    // likely late itself, so the start is that much before the aim from it,
    // the bet lost about one over in ten (a wait then grows the delay).
    qint64 startsAtMs() const;
    // The delay audio is played at now, from a packet's expected arrival.
    int delayMs(qint64 nowMs) const;
    const JitterStats &stats() const { return m_stats; }

    static constexpr int kHistory = 256;        // this over's arrivals the base is judged on
    static constexpr int kColdTargetMs = 60;    // before the node has heard any station
    static constexpr int kLearnPackets = 16;    // the node's history stands in until this many of its own
    static constexpr int kMarginMs = 2;         // the step's timer, not the network
    static constexpr int kMaxTargetMs = LatenessHistory::kMaxMs;
    static constexpr int kFarPackets = 64;      // 5 s of audio either way
    static constexpr int kEndExtraMs = 100;

private:
    struct Arrival {
        qint64 rel;
        qint64 at;
    };
    void startOver(quint16 seq, qint64 nowMs);
    qint64 base() const;
    qint64 cursorPacket() const;
    void endStall(bool resumed);
    bool seen(qint64 rel) const;

    bool m_active = false;
    bool m_playing = false;
    quint16 m_baseSeq = 0;           // the over's first packet: relative index 0
    qint64 m_cursor = 0;             // frame to play next, 4 per relative packet
    qint64 m_firstArrival = 0;
    qint64 m_lastArrival = 0;
    std::map<qint64, QByteArray> m_packets;   // relative index -> payload
    std::deque<Arrival> m_arrivals;           // this over's, newest last, for the base
    std::deque<qint64> m_seen;                // relative indexes received this over
    LatenessHistory m_jitter;                 // this station's lateness, across overs
    LatenessHistory *m_network = nullptr;
    QByteArray m_lastGood;
    int m_standIns = 0;
    int m_stallMs = 0;
    bool m_growing = false;                   // waiting until the delay is what is needed
    int m_pendingMissing = 0;                 // stood in with nothing here: lost, unless the over has ended
    qint64 m_excessSince = -1;
    JitterStats m_stats;
};

} // namespace mirelva::echolink
