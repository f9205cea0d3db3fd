#include "core/nodebackend.h"

#include <algorithm>

#include <QJsonDocument>
#include <QScopedValueRollback>

#include "core/clock.h"
#include "core/onairlog.h"
#include "core/speechvoice.h"

namespace mirelva {

QString nameOf(NodeOp op) { return QLatin1String(kNodeOpNames[size_t(op)]); }

std::optional<NodeOp> nodeOpNamed(const QString &name)
{
    for (size_t i = 0; i < std::size(kNodeOpNames); ++i)
        if (name == QLatin1String(kNodeOpNames[i]))
            return NodeOp(i);
    return std::nullopt;
}

QStringList NodeState::allRequests()
{
    QStringList all;
    for (const char *name : kNodeOpNames)
        all << QLatin1String(name);
    return all;
}

NodeRequest NodeRequest::connect(const QString &call) { return {NodeOp::Connect, {{"call", call}}}; }
NodeRequest NodeRequest::disconnect(const QString &call) { return {NodeOp::Disconnect, {{"call", call}}}; }
NodeRequest NodeRequest::disconnectAll() { return {NodeOp::DisconnectAll, {}}; }
NodeRequest NodeRequest::setPTT(bool on) { return {NodeOp::SetPTT, {{"on", on}}}; }
NodeRequest NodeRequest::sendCW(const QString &text) { return {NodeOp::SendCW, {{"text", text}}}; }
NodeRequest NodeRequest::setBusy(bool on) { return {NodeOp::SetBusy, {{"on", on}}}; }
NodeRequest NodeRequest::setRTS(bool on) { return {NodeOp::SetRTS, {{"on", on}}}; }
NodeRequest NodeRequest::setDTR(bool on) { return {NodeOp::SetDTR, {{"on", on}}}; }
NodeRequest NodeRequest::sendChatText(const QString &text) { return {NodeOp::SendChatText, {{"text", text}}}; }
NodeRequest NodeRequest::speech(const QString &text, bool keyed)
{
    return {NodeOp::Speech, {{"text", text}, {"keyed", keyed}}};
}

NodeRequest NodeRequest::speechOnAir(const QString &text, int rate, int volume)
{
    return {NodeOp::Speech, {{"text", text}, {"keyed", true}, {"play", true}, {"rate", rate}, {"volume", volume}}};
}

QJsonObject NodeRequest::toJson() const
{
    QJsonObject o{{"op", nameOf(op)}};
    for (auto it = fields.begin(); it != fields.end(); ++it)
        o.insert(it.key(), it.value());
    return o;
}

QByteArray NodeRequest::toLine() const
{
    return QJsonDocument(toJson()).toJson(QJsonDocument::Compact) + '\n';
}

QString NodeRequest::toText() const
{
    const QString name = nameOf(op);
    if (fields.contains("on") && fields.size() == 1)
        return name + (fields.value("on").toBool() ? " on" : " off");
    if (op == NodeOp::Speech)
        return QStringLiteral("Speech %1: %2")
            .arg(fields.value("play").toBool()   ? "on air by the node"
                 : fields.value("keyed").toBool() ? "keyed"
                                                  : "local",
                 fields.value("text").toString());
    if (fields.contains("call"))
        return name + ' ' + fields.value("call").toString();
    if (fields.contains("text"))
        return name + ' ' + fields.value("text").toString();
    return name;
}

void NodeBackend::submit(const NodeRequest &r)
{
    if (r.op == NodeOp::SetPTT) {
        const bool on = r.fields.value(QLatin1String("on")).toBool();
        if (on && !m_pttRequested) {
            m_keyedAt = Clock::now();
            m_keyedFor.start();
        }
        m_pttRequested = on;
    }
    request(r);
}

qint64 NodeBackend::pttRequestedForMs() const
{
    if (!m_pttRequested)
        return 0;
    return std::max<qint64>({0, m_keyedFor.elapsed(), m_keyedAt.msecsTo(Clock::now())});
}

void NodeBackend::raise(std::function<void()> event)
{
    // While released events are still being raised, a new one queues behind
    // them, even when a handler of one of them let waiting events run.
    if (eventsHeld() || m_releasing) {
        m_heldEvents.append(std::move(event));
        return;
    }
    event();
}

void NodeBackend::releaseEvents()
{
    if (m_holds == 0 || --m_holds > 0 || m_releasing)
        return;
    {
        const QScopedValueRollback<bool> releasing(m_releasing, true);
        while (!m_heldEvents.isEmpty() && !eventsHeld())
            m_heldEvents.takeFirst()();
    }
    if (!eventsHeld())
        eventsReleased();
}

void tellNodeOfSpeech(SpeechVoice &voice, NodeBackend &node, bool nodePlaysAudio)
{
    NodeBackend *n = &node;
    SpeechVoice *v = &voice;
    voice.addListener([n, v, nodePlaysAudio](const QString &text, int flags) {
        // Only a blocking Speak is ever made with the transmitter keyed.
        const bool keyed = (flags & SpeechVoice::SVSFPurgeBeforeSpeak) && n->pttRequested();
        if (keyed)
            OnAirLog::transmission(QStringLiteral("speech"), text);
        n->submit(keyed && nodePlaysAudio ? NodeRequest::speechOnAir(text, v->Rate(), v->Volume())
                                          : NodeRequest::speech(text, keyed));
    });
}

void logNodeNotices(NodeBackend &node)
{
    NodeBackend *n = &node;
    QObject::connect(n, &NodeBackend::ChatTextReceived, n, [n](const QString &text) {
        const QString own = n->state().localStation;
        if (!own.isEmpty() && text.startsWith(own + QLatin1Char('>'), Qt::CaseInsensitive))
            OnAirLog::note(QStringLiteral("node says: ") + text.mid(own.size() + 1).simplified());
    });
}

} // namespace mirelva
