#pragma once

#include <QtGlobal>

namespace mirelva {

// When the transmitter is keyed: while Mirelva holds PTT, while audio goes
// out, and TXHANG after the last audio; never longer than TXTIMEOUT at a
// stretch. Past it the transmitter is released and audio is dropped until
// nothing asks for the air any more. Audio passes PREKEY after the key goes
// down. Times are milliseconds on a clock that never jumps, given by the
// caller, so the rules are the same in tests as on the air.
class TxKeyer {
public:
    TxKeyer(int hangMs, int timeoutMs, int preKeyMs) : m_hangMs(hangMs), m_timeoutMs(timeoutMs), m_preKeyMs(preKeyMs) {}

    void setRequested(bool on, qint64 now);
    // Audio is going out (active or still flushing); false once all of it has.
    void setAudio(bool going, qint64 now);
    // Nothing may go out any more (the node is ending).
    void shutDown(qint64 now);
    // Looks at the clock: call at nextDeadline().
    void update(qint64 now);

    bool keyed() const { return m_keyed; }
    bool timedOut() const { return m_timedOut; }
    bool audioPasses(qint64 now) const { return m_keyed && now >= m_keyedSince + m_preKeyMs; }
    // When update() is next due; -1 when nothing is.
    qint64 nextDeadline(qint64 now) const;

private:
    bool hanging(qint64 now) const { return m_audioEnded >= 0 && now < m_audioEnded + m_hangMs; }

    int m_hangMs;
    int m_timeoutMs;
    int m_preKeyMs;
    bool m_requested = false;
    bool m_audio = false;
    bool m_down = false;
    qint64 m_audioEnded = -1;
    qint64 m_keyedSince = -1;
    bool m_keyed = false;
    bool m_timedOut = false;
};

} // namespace mirelva
