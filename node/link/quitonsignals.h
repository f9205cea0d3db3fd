#pragma once

#include <functional>

class QCoreApplication;

namespace mirelva {

// SIGINT and SIGTERM run `onSignal` (by default: end the event loop) from the
// event loop, so a node program shuts down the ordinary way: its socket file
// is removed and its clients see the connection close.
void quitOnSignals(QCoreApplication &app, std::function<void()> onSignal = {});

} // namespace mirelva
