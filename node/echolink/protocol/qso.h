#pragma once

#include <functional>

#include <QHostAddress>
#include <QObject>

#include "node/echolink/protocol/packets.h"

namespace mirelva::echolink {

// What this node says of itself in every QSO.
struct LocalStation {
    QString callsign;
    QString name;   // shown beside the callsign (the location text)
    QString info;   // the info text sent once connected
};

// One station's QSO. Time comes in as milliseconds of a monotonic clock the
// caller owns (the dispatcher's), so every timer here is a deadline that
// tick() acts on: tests move the clock and call tick().
//
//   connect():  SDES at 0, 10, 20, 30, 40 s; no answer by 50 s ends it.
//   accept():   SDES, Connected, the info text.
//   Connected:  SDES every 10 s; 50 s without an SDES from the station ends
//               it (audio does not count), with no BYE.
//   BYE in:     ends it, unanswered. end(): one BYE.
//   Ended:      an SDES or BYE still coming from the station is answered
//               with a BYE, so a station that missed ours learns of it.
//   Texts:      at most kTextsPerSecond chat and info texts a second (a
//               burst of kTextBurst) are raised; the rest are counted and
//               told in textsHeld() a second after the first held back.
class Qso : public QObject {
    Q_OBJECT
public:
    enum class State { Idle, Connecting, Connected, Ended };
    enum class End { None, ByUs, ByeReceived, NoAnswer, LinkDead };
    static constexpr qint64 kKeepAliveMs = 10 * 1000;
    static constexpr qint64 kConnectGiveUpMs = 50 * 1000;
    static constexpr qint64 kDeadLinkMs = 50 * 1000;
    static constexpr qint64 kAudioCreditMs = 80;
    static constexpr qint64 kMinReceiveHoldMs = 180;
    static constexpr qint64 kMaxReceiveHoldMs = 1000;
    static constexpr double kTextsPerSecond = 2;
    static constexpr double kTextBurst = 5;
    static constexpr qint64 kHeldTellMs = 1000;

    // Datagrams go out through `send` (control port or audio port).
    using Send = std::function<void(bool control, const QHostAddress &to, const QByteArray &datagram)>;

    Qso(QHostAddress remote, LocalStation local, Send send, QObject *parent = nullptr);

    const QHostAddress &remote() const { return m_remote; }
    State state() const { return m_state; }
    End endedBy() const { return m_end; }
    bool isReceiving() const { return m_receiving; }
    QString remoteCallsign() const { return m_remoteCall; }
    QString remoteName() const { return m_remoteName; }
    void setRemoteCallsign(const QString &c) { m_remoteCall = c; }
    void setRemoteName(const QString &n) { m_remoteName = n; }
    void setInfo(const QString &info) { m_local.info = info; }

    void connectTo(qint64 now);
    void accept(qint64 now);
    // Leaves the QSO: one BYE (none when it never began).
    void end();

    // Sent only while connected; false otherwise.
    bool sendChat(const QString &message);
    bool sendInfo(const QString &text);
    // Four GSM frames (kGsmPayloadBytes); the sequence number is the QSO's.
    bool sendAudio(const QByteArray &gsm);
    // A packet passed on from another station with only the sequence
    // number made this QSO's.
    quint16 nextSequence() const { return m_sequence; }

    // From the dispatcher: what the station sent, already read.
    void controlIn(const ControlPacket &p, qint64 now);
    void textIn(const TextPacket &t, qint64 now);
    void audioIn(const AudioPacket &a, qint64 now);

    // The next time tick() has something to do, or -1.
    qint64 nextDeadline() const;
    void tick(qint64 now);

signals:
    void stateChanged(mirelva::echolink::Qso::State state);
    // "CALL>message", line ends trimmed; `octets` the same as the bytes
    // came (fromEightBit), to pass on unchanged.
    void chatReceived(const QString &text, const QString &octets);
    void infoReceived(const QString &text);      // repeats of the last one are not raised
    void audioReceived(quint16 sequence, const QByteArray &gsm);
    void receivingChanged(bool on);
    // Texts over the rate, not raised: how many since the last told.
    void textsHeld(int count);

private:
    void sendSdes();
    void setState(State s, End why = End::None);
    void setReceiving(bool on);

    QHostAddress m_remote;
    LocalStation m_local;
    Send m_send;
    State m_state = State::Idle;
    End m_end = End::None;
    QString m_remoteCall, m_remoteName;
    QString m_lastInfo;
    quint16 m_sequence = 0;
    qint64 m_began = 0;          // connect sent first
    qint64 m_nextSdes = -1;
    qint64 m_lastSdesIn = 0;
    bool m_receiving = false;
    qint64 m_receiveUntil = -1;
    double m_textTokens = kTextBurst;
    qint64 m_textRefilled = -1;
    int m_textsHeld = 0;
    qint64 m_tellHeldAt = -1;
};

} // namespace mirelva::echolink
