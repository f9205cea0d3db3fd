#include "ui/echolink.h"

#include "core/onairlog.h"
#include "node/link/nodeprotocol.h"
#include "ui/program.h"

namespace mirelva {

EchoLink::EchoLink(NodeBackend *node, const QString &owner, QObject *parent)
    : QObject(parent), m_node(node), m_owner(owner)
{
    setObjectName(owner + QStringLiteral(".EchoLink"));
    // Each event is re-raised on this instance only while the program lives.
    nodelink::forEachNodeEvent(node, this, [this](const nodelink::NodeEvent &e) {
        if (!Program::ended())
            nodelink::emitNodeEvent(this, e);
    });
}

namespace {
QString whatItCannot(NodeOp op)
{
    if (op == NodeOp::SendChatText)
        return QStringLiteral("send chat texts");
    if (op == NodeOp::SetBusy)
        return QStringLiteral("show itself busy");
    return QStringLiteral("carry out ") + nameOf(op);
}
} // namespace

bool EchoLink::send(const NodeRequest &r)
{
    if (Program::ended())
        return false;
    // A request the node has said it cannot carry out is not sent, and the
    // log does not show it as made.
    if (!m_node->state().carriesOut(r.op)) {
        OnAirLog::note(QStringLiteral("not sent: the node cannot ") + whatItCannot(r.op) + QStringLiteral(": ")
                       + r.toText());
        return false;
    }
    OnAirLog::request(r);
    m_node->submit(r);
    return m_node->online();
}

QString EchoLink::chatRefusal() const
{
    if (!m_node->online())
        return QStringLiteral("not sent: the node is offline");
    return QStringLiteral("not sent: the node cannot ") + whatItCannot(NodeOp::SendChatText);
}

void EchoLink::Connect(const QString &call, bool) { send(NodeRequest::connect(call)); }
void EchoLink::Disconnect(const QString &call) { send(NodeRequest::disconnect(call)); }
void EchoLink::DisconnectAll() { send(NodeRequest::disconnectAll()); }
void EchoLink::SetPTT(bool on) { send(NodeRequest::setPTT(on)); }
bool EchoLink::LinkActive() const { return m_node->state().linkActive; }
bool EchoLink::ReceivingSignal() const { return m_node->state().receivingSignal; }
bool EchoLink::TransmitterKeyed() const { return m_node->state().transmitterKeyed; }
bool EchoLink::LinkBusy() const { return m_node->state().linkBusy; }
void EchoLink::SendCW(bool, const QString &text)
{
    // Morse always goes over the air: the node keys for it by itself.
    if (!Program::ended())
        OnAirLog::transmission(QStringLiteral("cw"), text);
    send(NodeRequest::sendCW(text));
}
// A callsign is the same station in any letter case.
bool EchoLink::IsConnected(const QString &call) const
{
    return m_node->state().connected.contains(call, Qt::CaseInsensitive);
}
QString EchoLink::LocalStation() const { return m_node->state().localStation; }
void EchoLink::SetBusy(bool on) { send(NodeRequest::setBusy(on)); }
void EchoLink::SetRTS(bool on) { send(NodeRequest::setRTS(on)); }
void EchoLink::SetDTR(bool on) { send(NodeRequest::setDTR(on)); }
bool EchoLink::SendChatText(const QString &text) { return send(NodeRequest::sendChatText(text)); }

} // namespace mirelva
