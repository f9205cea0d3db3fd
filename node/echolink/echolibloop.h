#pragma once

#include <memory>

namespace Async {
class Application;
}

namespace mirelva {

// The event loop EchoLib and libasyncaudio run on: Async::QtApplication,
// which Debian builds with Qt 5. Its Qt 5 timers and socket notifiers live
// in the same GLib main context as Qt 6's, so Mirelva's Qt 6 loop runs both.
// Make it after the program's QCoreApplication and before any EchoLib
// object; destroy it after the last one.
std::unique_ptr<Async::Application> makeEchoLibLoop(const char *programName);

} // namespace mirelva
