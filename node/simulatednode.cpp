// Placeholder so the tree links; the real model replaces it.
#include "node/simulatednode.h"

namespace mirelva {
SimulatedNode::SimulatedNode(QObject *parent) : NodeBackend(parent) { m_state.localStation = "N0CALL"; }
void SimulatedNode::request(const NodeRequest &r) { m_records.append({QDateTime::currentDateTime(), r}); emit recorded(m_records.last()); }
QStringList SimulatedNode::requestTexts() const { QStringList l; for (auto &r : m_records) l << r.request.toText(); return l; }
int SimulatedNode::morseDurationMs(const QString &, int) { return 0; }
void SimulatedNode::setLocalStation(const QString &) {}
void SimulatedNode::setLinkActive(bool) {}
void SimulatedNode::setLinkBusy(bool) {}
void SimulatedNode::setReceivingSignal(bool) {}
void SimulatedNode::setTransmitterKeyed(bool) {}
void SimulatedNode::stationConnects(const QString &, const QString &, const QString &) {}
void SimulatedNode::stationDisconnects(const QString &) {}
void SimulatedNode::localCarrier(bool) {}
void SimulatedNode::internetTalking(bool) {}
void SimulatedNode::dtmf(const QString &) {}
void SimulatedNode::chat(const QString &) {}
void SimulatedNode::closing() {}
void SimulatedNode::answerLater(std::function<void()>) {}
void SimulatedNode::endMorse() {}
} // namespace mirelva
