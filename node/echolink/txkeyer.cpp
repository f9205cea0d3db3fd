#include "node/echolink/txkeyer.h"

#include <algorithm>

namespace mirelva {

void TxKeyer::setRequested(bool on, qint64 now)
{
    m_requested = on;
    update(now);
}

void TxKeyer::setAudio(bool going, qint64 now)
{
    if (m_audio && !going)
        m_audioEnded = now;
    m_audio = going;
    update(now);
}

void TxKeyer::shutDown(qint64 now)
{
    m_down = true;
    update(now);
}

void TxKeyer::update(qint64 now)
{
    const bool asked = m_requested || m_audio || hanging(now);
    // The time-out holds until the air is quiet.
    if (m_timedOut && !asked)
        m_timedOut = false;
    bool wanted = !m_down && !m_timedOut && asked;
    if (wanted && m_keyedSince < 0)
        m_keyedSince = now;
    if (wanted && now - m_keyedSince >= m_timeoutMs) {
        m_timedOut = true;
        wanted = false;
    }
    if (!wanted)
        m_keyedSince = -1;
    m_keyed = wanted;
}

qint64 TxKeyer::nextDeadline(qint64 now) const
{
    qint64 next = -1;
    auto consider = [&next, now](qint64 at) {
        if (at > now && (next < 0 || at < next))
            next = at;
    };
    if (hanging(now))
        consider(m_audioEnded + m_hangMs);
    if (m_keyed) {
        consider(m_keyedSince + m_timeoutMs);
        consider(m_keyedSince + m_preKeyMs);
    }
    return next;
}

} // namespace mirelva
