#include "ui/stationwindow.h"

#include "ui/questions.h"

namespace mirelva::windowending {

namespace {
void release(EchoLink *instance, const QList<WindowEnding::Line> &lines)
{
    if (!instance)
        return;
    for (const WindowEnding::Line line : lines) {
        switch (line) {
        case WindowEnding::Line::PTT:
            instance->SetPTT(false);
            break;
        case WindowEnding::Line::RTS:
            instance->SetRTS(false);
            break;
        case WindowEnding::Line::DTR:
            instance->SetDTR(false);
            break;
        }
    }
}
} // namespace

bool query(QWidget *window, EchoLink *instance, const WindowEnding &ending)
{
    if (Questions::askYesNo(window, QStringLiteral("Exit Program"), ending.question) == Questions::Answer::No)
        return true;
    // The program may end in the middle of a keyed announcement; the
    // transmitter is never left keyed behind us.
    release(instance, ending.releasedOnQuit);
    if (ending.saveOnQuit)
        ending.saveOnQuit();
    Program::end();
    return false;
}

void closing(EchoLink *instance, const WindowEnding &ending)
{
    if (Program::ended())
        return;
    release(instance, ending.releasedOnClosing);
    if (ending.saveOnClosing)
        ending.saveOnClosing();
    Program::end();
}

} // namespace mirelva::windowending
