#include "node/nodefactory.h"

#include "node/simulatednode.h"

namespace mirelva {

std::unique_ptr<NodeBackend> makeNodeBackend(const NodeLinkConfig &)
{
    return std::make_unique<SimulatedNode>();
}

bool waitForFirstState(NodeBackend *, int) { return true; }

} // namespace mirelva
