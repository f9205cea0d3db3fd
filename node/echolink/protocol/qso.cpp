#include "node/echolink/protocol/qso.h"

#include <algorithm>

namespace mirelva::echolink {

Qso::Qso(QHostAddress remote, LocalStation local, Send send, QObject *parent)
    : QObject(parent), m_remote(std::move(remote)), m_local(std::move(local)), m_send(std::move(send))
{
}

void Qso::sendSdes() { m_send(true, m_remote, buildSdes(m_local.callsign, m_local.name)); }

void Qso::setState(State s, End why)
{
    if (s == m_state)
        return;
    m_state = s;
    if (s == State::Ended) {
        m_end = why;
        m_nextSdes = -1;
        setReceiving(false);
    }
    emit stateChanged(s);
}

void Qso::setReceiving(bool on)
{
    if (!on)
        m_receiveUntil = -1;
    if (on == m_receiving)
        return;
    m_receiving = on;
    emit receivingChanged(on);
}

void Qso::connectTo(qint64 now)
{
    if (m_state != State::Idle)
        return;
    m_began = now;
    sendSdes();
    m_nextSdes = now + kKeepAliveMs;
    setState(State::Connecting);
}

void Qso::accept(qint64 now)
{
    if (m_state != State::Idle && m_state != State::Connecting)
        return;
    sendSdes();
    m_lastSdesIn = now;
    m_nextSdes = now + kKeepAliveMs;
    setState(State::Connected);
    if (m_state == State::Connected && !m_local.info.isEmpty())
        sendInfo(m_local.info);
}

void Qso::end()
{
    if (m_state == State::Ended || m_state == State::Idle) {
        setState(State::Ended, End::ByUs);
        return;
    }
    m_send(true, m_remote, buildBye());
    setState(State::Ended, End::ByUs);
}

bool Qso::sendChat(const QString &message)
{
    if (m_state != State::Connected)
        return false;
    m_send(false, m_remote, buildChat(m_local.callsign, message));
    return true;
}

bool Qso::sendInfo(const QString &text)
{
    if (m_state != State::Connected)
        return false;
    m_send(false, m_remote, buildInfo(text));
    return true;
}

bool Qso::sendAudio(const QByteArray &gsm)
{
    if (m_state != State::Connected || gsm.size() != kGsmPayloadBytes)
        return false;
    m_send(false, m_remote, buildAudio(m_sequence++, gsm));
    return true;
}

void Qso::controlIn(const ControlPacket &p, qint64 now)
{
    if (m_state == State::Ended) {
        m_send(true, m_remote, buildBye());
        return;
    }
    if (p.kind == ControlPacket::Bye) {
        setState(State::Ended, End::ByeReceived);
        return;
    }
    m_lastSdesIn = now;
    if (!p.name.isEmpty())
        m_remoteName = p.name;
    if (m_state == State::Connecting) {
        // The station answered: the QSO stands, and it hears who we are.
        m_nextSdes = now + kKeepAliveMs;
        setState(State::Connected);
        if (m_state == State::Connected && !m_local.info.isEmpty())
            sendInfo(m_local.info);
    }
}

void Qso::textIn(const TextPacket &t, qint64 now)
{
    if (m_state != State::Connected)
        return;
    QString text = t.text, octets = t.octets;
    if (t.kind == TextPacket::Info) {
        if (text == m_lastInfo)
            return;
    } else {
        while (text.endsWith(QLatin1Char('\n')))
            text.chop(1);
        while (octets.endsWith(QLatin1Char('\n')))
            octets.chop(1);
        if (text.isEmpty())
            return;
    }
    // A station pasting a book or looping a script is heard a few lines a
    // second; the rest is counted.
    if (m_textRefilled >= 0)
        m_textTokens = std::min(kTextBurst, m_textTokens + double(now - m_textRefilled) / 1000.0 * kTextsPerSecond);
    m_textRefilled = now;
    if (m_textTokens < 1.0) {
        ++m_textsHeld;
        if (m_tellHeldAt < 0)
            m_tellHeldAt = now + kHeldTellMs;
        return;
    }
    m_textTokens -= 1.0;
    if (t.kind == TextPacket::Info) {
        m_lastInfo = text;
        emit infoReceived(text);
    } else {
        emit chatReceived(text, octets);
    }
}

void Qso::audioIn(const AudioPacket &a, qint64 now)
{
    if (m_state != State::Connected)
        return;
    // Each packet holds "receiving" a while longer: the credit left plus its
    // 80 ms, within bounds, so a late packet does not end an over.
    const qint64 left = m_receiveUntil > now ? m_receiveUntil - now : 0;
    m_receiveUntil = now + std::clamp(left + kAudioCreditMs, kMinReceiveHoldMs, kMaxReceiveHoldMs);
    setReceiving(true);
    emit audioReceived(a.sequence, a.gsm);
}

qint64 Qso::nextDeadline() const
{
    qint64 next = -1;
    auto consider = [&next](qint64 t) {
        if (t >= 0 && (next < 0 || t < next))
            next = t;
    };
    switch (m_state) {
    case State::Connecting:
        consider(m_nextSdes);
        consider(m_began + kConnectGiveUpMs);
        break;
    case State::Connected:
        consider(m_nextSdes);
        consider(m_lastSdesIn + kDeadLinkMs);
        consider(m_receiveUntil);
        consider(m_tellHeldAt);
        break;
    default:
        break;
    }
    return next;
}

void Qso::tick(qint64 now)
{
    if (m_tellHeldAt >= 0 && now >= m_tellHeldAt) {
        const int held = std::exchange(m_textsHeld, 0);
        m_tellHeldAt = -1;
        emit textsHeld(held);
    }
    if (m_receiving && m_receiveUntil >= 0 && now >= m_receiveUntil)
        setReceiving(false);
    if (m_state == State::Connecting && now >= m_began + kConnectGiveUpMs) {
        setState(State::Ended, End::NoAnswer);
        return;
    }
    if (m_state == State::Connected && now >= m_lastSdesIn + kDeadLinkMs) {
        setState(State::Ended, End::LinkDead);
        return;
    }
    if ((m_state == State::Connecting || m_state == State::Connected) && m_nextSdes >= 0 && now >= m_nextSdes) {
        sendSdes();
        // The next one 10 s after the one due, not after this late tick, so
        // a connect's five tries keep their times.
        while (m_nextSdes <= now)
            m_nextSdes += kKeepAliveMs;
    }
}

} // namespace mirelva::echolink
