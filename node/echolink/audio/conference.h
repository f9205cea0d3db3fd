#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <vector>

#include "node/echolink/audio/gsmcodec.h"
#include "node/echolink/audio/stationaudio.h"

namespace mirelva::echolink {

// One line of the roster: a connected station.
struct RosterEntry {
    QString call;
    QString name;
};

// The info text stations get: the node named in the heading, then every
// connected station in the order they came, the talker marked "> " (the
// others "  "), the radio counted as the node's own callsign. Lines end in
// LF (the protocol turns them into CR on the wire).
QString rosterText(const QString &heading, const QString &nodeCall, const QString &nodeName,
                   const QList<RosterEntry> &stations, const QString &talker);

// The node as a conference: the radio, Mirelva's own audio (speech, Morse)
// and up to MAXQSOS stations. Every 20 ms the caller gives what each source
// has and calls route(); then the transmitter and each station have what
// they hear:
// - one talker at a time, the radio (squelch open) or a station (an over in
//   progress): the first to begin holds the floor until it ends; the others
//   are heard by no one meanwhile;
// - the transmitter gets the talking station and Mirelva's audio, mixed;
// - each station gets the talker (never itself) and Mirelva's audio; while
//   Mirelva's audio plays, the radio is not passed on (the node is then
//   transmitting, and its receiver hears nothing worth passing);
// - a station's over that begins with nothing else to mix in (it takes the
//   floor, Mirelva silent) is passed to the others packet by packet as it
//   comes, unchanged, not re-encoded after the node's jitter buffer: each
//   has its own. Should Mirelva speak during it, the rest of that over goes
//   the mixed, re-encoded way, the span already passed on left out of it;
// - the roster is rebuilt at every change of stations or talker
//   (rosterChanged).
// Stations are keyed by callsign (upper case, as connected).
class Conference : public QObject {
    Q_OBJECT
public:
    Conference(const QString &nodeCall, const QString &nodeName, const QString &heading, int maxStations,
               QObject *parent = nullptr);

    // False when MAXQSOS stations are connected already, or it is there.
    bool addStation(const QString &call, const QString &name);
    void removeStation(const QString &call);
    QStringList stations() const;
    int maxStations() const { return m_max; }
    // The station's jitter buffer and decoder: received audio packets go to
    // its push(). Null for a callsign not in the conference.
    StationAudio *audio(const QString &call);
    // A station's received audio packet (sequence number, payload): into
    // its buffer and, while its over is passed on unchanged, queued for the
    // others at once (takePackets()). False when the buffer drops it.
    bool receive(const QString &call, quint16 seq, const QByteArray &payload, qint64 nowMs);

    // One 20 ms step at `nowMs`: `radio` is the receiver's 160 samples while
    // the squelch is open (null when closed), `local` Mirelva's (null when
    // silent); each station's audio is pulled from its buffer.
    void route(const qint16 *radio, const qint16 *local, qint64 nowMs);
    // After route(): 160 samples for the transmitter, or null for nothing.
    const qint16 *transmitter() const { return m_txOn ? m_tx : nullptr; }
    // After route(): 160 samples for this station, or null for nothing.
    // Stations given the same pointer hear the same.
    const qint16 *forStation(const QString &call) const;

    // GSM payloads completed by route() or passed on by receive(), each with the stations it
    // goes to (the protocol adds each station's own sequence number). The
    // stations hearing the same share one encoding.
    struct Outgoing {
        QByteArray payload;
        QStringList stations;
    };
    QList<Outgoing> takePackets();

    // "" nobody, the node's callsign for the radio, else the station's.
    QString talker() const;
    QString roster() const;

    // A chat text from a station (as received: "CALL>text", line ends and
    // NUL trimmed or not): what Mirelva gets ("CALL>text", CALL the
    // station's own callsign whatever the text claims), and the message the
    // other stations are sent (the protocol puts the node's callsign and ">"
    // before it): "CALL>text", so they read "NODE>CALL>text". Empty when
    // the text is empty or not from a station of the conference.
    struct ChatRelay {
        QString toMirelva;
        QString message;
        QStringList to;
    };
    ChatRelay relayChat(const QString &from, const QString &received) const;

signals:
    void rosterChanged(const QString &text);
    void talkerChanged(const QString &talker);

private:
    struct Member {
        QString call;
        QString name;
        std::unique_ptr<StationAudio> audio;
        qint16 heard[kFrameSamples] = {};
        bool hasAudio = false;
        qint64 talkingSince = -1;   // route() steps
        // This over to the others: not passed on, passed on unchanged, or
        // passed on up to `relayedTo` and mixed from there.
        enum class Relay { Off, On, Stopped } relay = Relay::Off;
        quint16 relayedTo = 0;
    };
    Member *find(const QString &call);
    const Member *find(const QString &call) const;
    void setTalker(bool radio, Member *station);

    QString m_nodeCall, m_nodeName, m_heading;
    int m_max;
    std::vector<std::unique_ptr<Member>> m_members;
    qint64 m_step = 0;
    qint64 m_radioSince = -1;
    bool m_radioTalks = false;
    Member *m_talkerStation = nullptr;
    qint16 m_tx[kFrameSamples] = {};
    qint16 m_all[kFrameSamples] = {};      // every station but the talker
    qint16 m_own[kFrameSamples] = {};      // the talking station
    qint16 m_allSent[kFrameSamples] = {};  // m_all less what was passed on unchanged
    bool m_txOn = false, m_allOn = false, m_ownOn = false, m_allSentOn = false;
    bool m_localOn = false;
    GsmPacketizer m_allPackets, m_ownPackets;
    LatenessHistory m_network;            // every station's, where a new station's buffer starts
    QList<Outgoing> m_out;
};

} // namespace mirelva::echolink
