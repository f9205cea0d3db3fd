// Built against Qt 5's headers, as libasyncqt is: nothing of Qt 6 here.
#include <cstdlib>
#include <string>

#include <AsyncQtApplication.h>

#include "node/echolink/echolibloop.h"

namespace mirelva {

std::unique_ptr<Async::Application> makeEchoLibLoop(const char *programName)
{
    // Qt 5 keeps a reference to these for the application's life.
    static std::string name = programName;
    static char *argv[] = {name.data(), nullptr};
    static int argc = 1;
    // Its QApplication must never look for a screen: the node is a service.
    const char *had = std::getenv("QT_QPA_PLATFORM");
    const std::string before = had ? had : "";
    ::setenv("QT_QPA_PLATFORM", "minimal", 1);
    std::unique_ptr<Async::Application> app(new Async::QtApplication(argc, argv));
    if (had)
        ::setenv("QT_QPA_PLATFORM", before.c_str(), 1);
    else
        ::unsetenv("QT_QPA_PLATFORM");
    return app;
}

} // namespace mirelva
