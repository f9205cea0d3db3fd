#include "core/echolink.h"

#include "core/onairlog.h"
#include "core/program.h"

namespace mirelva {

EchoLink::EchoLink(NodeBackend *node, const QString &owner, QObject *parent)
    : QObject(parent), m_node(node), m_owner(owner)
{
    setObjectName(owner + QStringLiteral(".EchoLink"));
    // Each event is re-raised on this instance only while the program lives.
    auto live = [] { return !Program::ended(); };
    connect(node, &NodeBackend::connected, this, [this, live](const QString &c, const QString &n, const QString &a) {
        if (live()) emit connected(c, n, a);
    });
    connect(node, &NodeBackend::Disconnected, this, [this, live](const QString &c) {
        if (live()) emit Disconnected(c);
    });
    connect(node, &NodeBackend::RX, this, [this, live](bool b) {
        if (live()) emit RX(b);
    });
    connect(node, &NodeBackend::CarrierDetect, this, [this, live](bool b) {
        if (live()) emit CarrierDetect(b);
    });
    connect(node, &NodeBackend::DTMFString, this, [this, live](const QString &d) {
        if (live()) emit DTMFString(d);
    });
    connect(node, &NodeBackend::ChatTextReceived, this, [this, live](const QString &t) {
        if (live()) emit ChatTextReceived(t);
    });
    connect(node, &NodeBackend::Closing, this, [this, live] {
        if (live()) emit Closing();
    });
}

void EchoLink::send(const NodeRequest &r)
{
    if (Program::ended())
        return;
    OnAirLog::request(r);
    m_node->submit(r);
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
bool EchoLink::IsConnected(const QString &call) const { return m_node->state().connected.contains(call); }
QString EchoLink::LocalStation() const { return m_node->state().localStation; }
void EchoLink::SetBusy(bool on) { send(NodeRequest::setBusy(on)); }
void EchoLink::SetRTS(bool on) { send(NodeRequest::setRTS(on)); }
void EchoLink::SetDTR(bool on) { send(NodeRequest::setDTR(on)); }
void EchoLink::SendChatText(const QString &text) { send(NodeRequest::sendChatText(text)); }

} // namespace mirelva
