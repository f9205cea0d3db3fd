#pragma once

#include <memory>

#include "core/nodebackend.h"
#include "core/nodelinkconfig.h"

namespace mirelva {

// The node the program drives: the built-in simulated node when no address is
// configured, otherwise a link to a node program at "unix:PATH" or
// "tcp:HOST:PORT". An address that does not parse is reported on standard
// error and the built-in node is used, so the station still starts.
std::unique_ptr<NodeBackend> makeNodeBackend(const NodeLinkConfig &config);

// Waits (running the event loop) until the node has sent its first state or
// the time is up. True when the state arrived.
bool waitForFirstState(NodeBackend *node, int timeoutMs);

} // namespace mirelva
