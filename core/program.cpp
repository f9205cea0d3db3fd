#include "core/program.h"

#include <QCoreApplication>

#include "core/vbtimer.h"

namespace mirelva::Program {

namespace {
bool g_ended = false;
}

void end(int exitCode)
{
    if (g_ended)
        return;
    g_ended = true;
    VbTimer::stopAll();
    if (QCoreApplication::instance())
        QCoreApplication::exit(exitCode);
}

bool ended() { return g_ended; }

void doEvents()
{
    if (!g_ended && QCoreApplication::instance())
        QCoreApplication::processEvents();
}

void resetForTests() { g_ended = false; }

} // namespace mirelva::Program
