#pragma once

#include <deque>
#include <map>

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

// One station's adaptive jitter buffer for EchoLink's GSM packets (four 20 ms
// frames, a 16-bit sequence number that wraps). The sound output pulls one
// frame every 20 ms; time is always given by the caller, so it runs the same
// under a test's clock as on the air.
//
// It holds as little as the network needs: the delay it aims at is the worst
// lateness of the last 128 packets (against the earliest of them) plus a few
// ms. The play-out runs on: a frame missing at its time is stood in for (the
// last frame again, fading) and its packet dropped if it still comes, unless
// the delay is below the aim (the network got worse), when the buffer waits
// for it instead, which lengthens the delay to what the network needs. When
// the delay has stayed a frame or more above the aim for a second (0.2 s
// when 60 ms above), one quiet frame is skipped (any frame after three
// times as long). Duplicates and packets far from
// the over's sequence (a restarted sender) are dropped. An over ends when
// nothing has come for a packet's time plus the aim plus 100 ms; the next
// packet starts a new one at any sequence number.
class JitterBuffer {
public:
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
    };

    // False when the packet is dropped (see stats() for why).
    bool push(quint16 seq, const QByteArray &payload, qint64 nowMs);
    Frame pull(qint64 nowMs);

    bool overActive() const { return m_active; }
    int targetMs() const;
    // The delay audio is played at now, from a packet's expected arrival.
    int delayMs(qint64 nowMs) const;
    const JitterStats &stats() const { return m_stats; }

    static constexpr int kHistory = 256;        // packets (20 s of talk) the jitter is judged on
    static constexpr int kInitialTargetMs = 80; // before any jitter has been seen
    static constexpr int kLearnPackets = 16;    // ... until this many have come
    static constexpr int kMarginMs = 10;
    static constexpr int kMaxTargetMs = 600;
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
    std::deque<int> m_jitter;                 // lateness of recent packets, ms, across overs
    QByteArray m_lastGood;
    int m_standIns = 0;
    int m_stallMs = 0;
    int m_pendingMissing = 0;                 // stood in with nothing here: lost, unless the over has ended
    qint64 m_excessSince = -1;
    JitterStats m_stats;
};

} // namespace mirelva::echolink
