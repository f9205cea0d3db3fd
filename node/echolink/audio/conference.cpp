#include "node/echolink/audio/conference.h"

#include <algorithm>
#include <cstring>

namespace mirelva::echolink {

namespace {

// The longest chat text passed on; EchoLink's own client sends far less.
constexpr int kChatMax = 500;

void mixInto(qint16 *to, const qint16 *add)
{
    for (int i = 0; i < kFrameSamples; ++i)
        to[i] = qint16(std::clamp(int(to[i]) + int(add[i]), -32768, 32767));
}

QString rosterLine(bool talking, const QString &call, const QString &name)
{
    const QString line = (talking ? QStringLiteral("> ") : QStringLiteral("  ")) + call.leftJustified(10) +
                         QStringLiteral("  ") + name;
    qsizetype end = line.size();
    while (end > 0 && line.at(end - 1) == QLatin1Char(' '))
        --end;
    return line.left(end);
}

} // namespace

QString rosterText(const QString &heading, const QString &nodeCall, const QString &nodeName,
                   const QList<RosterEntry> &stations, const QString &talker)
{
    QStringList lines{QStringLiteral("%1 (%2)").arg(heading).arg(stations.size()), QString()};
    lines << rosterLine(talker == nodeCall, nodeCall, nodeName);
    for (const RosterEntry &e : stations)
        lines << rosterLine(e.call == talker, e.call, e.name);
    return lines.join(QLatin1Char('\n'));
}

Conference::Conference(const QString &nodeCall, const QString &nodeName, const QString &heading, int maxStations,
                       QObject *parent)
    : QObject(parent), m_nodeCall(nodeCall), m_nodeName(nodeName), m_heading(heading), m_max(maxStations)
{
}

Conference::Member *Conference::find(const QString &call)
{
    for (auto &m : m_members)
        if (m->call == call)
            return m.get();
    return nullptr;
}

const Conference::Member *Conference::find(const QString &call) const
{
    return const_cast<Conference *>(this)->find(call);
}

bool Conference::addStation(const QString &call, const QString &name)
{
    if (int(m_members.size()) >= m_max || find(call))
        return false;
    auto m = std::make_unique<Member>();
    m->call = call;
    m->name = name;
    m->audio = std::make_unique<StationAudio>(&m_network);
    m_members.push_back(std::move(m));
    emit rosterChanged(roster());
    return true;
}

void Conference::removeStation(const QString &call)
{
    const auto it = std::find_if(m_members.begin(), m_members.end(), [&](const auto &m) { return m->call == call; });
    if (it == m_members.end())
        return;
    const bool wasTalking = m_talkerStation == it->get();
    if (wasTalking)
        m_talkerStation = nullptr;
    m_members.erase(it);
    if (wasTalking)
        emit talkerChanged(talker());
    emit rosterChanged(roster());
}

QStringList Conference::stations() const
{
    QStringList out;
    for (const auto &m : m_members)
        out << m->call;
    return out;
}

StationAudio *Conference::audio(const QString &call)
{
    Member *m = find(call);
    return m ? m->audio.get() : nullptr;
}

bool Conference::receive(const QString &call, quint16 seq, const QByteArray &payload, qint64 nowMs)
{
    Member *m = find(call);
    if (!m)
        return false;
    const bool began = !m->audio->talking();
    const int late = m->audio->buffer().stats().late;
    const bool kept = m->audio->push(seq, payload, nowMs);
    // Too late for the node's own play-out is not too late for the others'.
    const bool fresh = kept || m->audio->buffer().stats().late > late;
    if (!fresh)
        return false;
    if (began) {
        m->relay = Member::Relay::Off;
        const bool floorFree = !m_radioTalks && m_radioSince < 0 &&
                               (!m_talkerStation || m_talkerStation == m) &&
                               std::none_of(m_members.begin(), m_members.end(), [m](const auto &o) {
                                   return o.get() != m && o->audio->talking();
                               });
        if (floorFree && !m_localOn) {
            // Taken now, so the radio opening before the next step cannot
            // take what is already on its way to the others.
            setTalker(false, m);
            m->relay = Member::Relay::On;
        }
    }
    if (m->relay == Member::Relay::On && m == m_talkerStation) {
        if (qint16(quint16(seq - m->relayedTo)) > 0 || began)
            m->relayedTo = seq;
        QStringList to = stations();
        to.removeOne(m->call);
        if (!to.isEmpty())
            m_out << Outgoing{payload.left(kGsmPayloadBytes), to};
    }
    return kept;
}

QString Conference::talker() const
{
    if (m_radioTalks)
        return m_nodeCall;
    return m_talkerStation ? m_talkerStation->call : QString();
}

QString Conference::roster() const
{
    QList<RosterEntry> entries;
    for (const auto &m : m_members)
        entries << RosterEntry{m->call, m->name};
    return rosterText(m_heading, m_nodeCall, m_nodeName, entries, talker());
}

void Conference::setTalker(bool radio, Member *station)
{
    if (radio == m_radioTalks && station == m_talkerStation)
        return;
    m_radioTalks = radio;
    m_talkerStation = station;
    emit talkerChanged(talker());
    emit rosterChanged(roster());
}

void Conference::route(const qint16 *radio, const qint16 *local, qint64 nowMs)
{
    ++m_step;
    for (auto &m : m_members) {
        m->hasAudio = m->audio->pull(nowMs, m->heard);
        if (!m->audio->talking()) {
            m->talkingSince = -1;
            m->relay = Member::Relay::Off;
        }
        else if (m->talkingSince < 0)
            m->talkingSince = m_step;
    }
    m_radioSince = radio ? (m_radioSince < 0 ? m_step : m_radioSince) : -1;

    // The floor: kept by whoever holds it while they go on; else the one
    // that began first (the radio before a station that began with it).
    bool radioTalks = m_radioTalks && radio;
    Member *station = m_talkerStation && m_talkerStation->talkingSince >= 0 ? m_talkerStation : nullptr;
    if (!radioTalks && !station) {
        qint64 first = radio ? m_radioSince : -1;
        radioTalks = radio != nullptr;
        for (auto &m : m_members)
            if (m->talkingSince >= 0 && (first < 0 || m->talkingSince < first)) {
                first = m->talkingSince;
                station = m.get();
                radioTalks = false;
            }
    }
    setTalker(radioTalks, station);

    const qint16 *talkerAudio = station && station->hasAudio ? station->heard : nullptr;
    m_localOn = local != nullptr;
    // Mirelva now to be mixed in: what was passed on stays passed on, the
    // rest of the over is mixed.
    if (station && local && station->relay == Member::Relay::On)
        station->relay = Member::Relay::Stopped;
    const bool relayed = station && (station->relay == Member::Relay::On ||
                                     (station->relay == Member::Relay::Stopped &&
                                      qint16(quint16(station->audio->lastSeq() - station->relayedTo)) <= 0));
    std::memset(m_tx, 0, sizeof m_tx);
    std::memset(m_all, 0, sizeof m_all);
    std::memset(m_own, 0, sizeof m_own);
    m_txOn = m_allOn = m_ownOn = false;
    if (local) {
        mixInto(m_tx, local);
        mixInto(m_all, local);
        mixInto(m_own, local);
        m_txOn = m_allOn = m_ownOn = true;
    } else if (radioTalks) {
        mixInto(m_all, radio);
        m_allOn = true;
    }
    std::memcpy(m_allSent, m_all, sizeof m_all);
    m_allSentOn = m_allOn;
    if (talkerAudio) {
        mixInto(m_tx, talkerAudio);
        mixInto(m_all, talkerAudio);
        m_txOn = m_allOn = true;
        if (!relayed) {
            mixInto(m_allSent, talkerAudio);
            m_allSentOn = true;
        }
    }

    const bool anyone = !m_members.empty();
    const QByteArray all = m_allPackets.add(anyone && m_allSentOn ? m_allSent : nullptr);
    const QByteArray own = m_ownPackets.add(station && m_ownOn ? m_own : nullptr);
    if (!all.isEmpty()) {
        QStringList to = stations();
        if (station)
            to.removeOne(station->call);
        if (!to.isEmpty())
            m_out << Outgoing{all, to};
    }
    if (!own.isEmpty() && station)
        m_out << Outgoing{own, {station->call}};
}

const qint16 *Conference::forStation(const QString &call) const
{
    const Member *m = find(call);
    if (!m)
        return nullptr;
    if (m == m_talkerStation)
        return m_ownOn ? m_own : nullptr;
    return m_allOn ? m_all : nullptr;
}

QList<Conference::Outgoing> Conference::takePackets()
{
    QList<Outgoing> out;
    out.swap(m_out);
    return out;
}

Conference::ChatRelay Conference::relayChat(const QString &from, const QString &received) const
{
    ChatRelay r;
    const Member *sender = find(from);
    if (!sender)
        return r;
    QString text;
    for (const QChar c : received.left(kChatMax))
        text += (c.category() == QChar::Other_Control) ? QLatin1Char(' ') : c;
    text = text.trimmed();
    // Its own callsign in front, as every client sends it, is not repeated.
    const QString claimed = sender->call + QLatin1Char('>');
    if (text.startsWith(claimed, Qt::CaseInsensitive))
        text = text.mid(claimed.size()).trimmed();
    if (text.isEmpty())
        return r;
    r.toMirelva = claimed + text;
    r.message = r.toMirelva;
    for (const auto &m : m_members)
        if (m.get() != sender)
            r.to << m->call;
    return r;
}

} // namespace mirelva::echolink
