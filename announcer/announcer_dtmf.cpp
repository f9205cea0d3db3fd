// The main window's own DTMF codes: text-message announcing, silence on and
// off, the time, and the auto-connect stations. The DTMF window hears the
// same strings and acts on its own codes.

#include "announcer/mainwindow.h"
#include "ui/program.h"
#include "dtmf/dtmfwindow.h"

namespace mirelva {

void MainWindow::EchoLink_DTMFString(const QString &sDigits)
{
    Program::doEvents();
    if (Program::ended())
        return;
    // An empty string matches nothing, so an empty code box is never used.
    if (sDigits.isEmpty())
        return;
    const auto queue = [this](const QString &text) {
        SayTheText = text;
        flag2 = 1;
    };
    // While a net holds the boxes cleared, the disable code changes no box,
    // yet it is the operator's choice for when the net is over.
    const auto setStayConByCode = [this](int value) {
        StayCon1->setValue(value);
        StayCon2->setValue(value);
        if (station.dtmf) {
            station.dtmf->stayConChosen(1, value);
            station.dtmf->stayConChosen(2, value);
        }
    };

    // Every matching code acts, in this order; the text queued last is the
    // one spoken.
    if (ToggleText->text() == sDigits) {
        if (SayText->value() != 1) {
            SayText->setValue(1);
            queue(QStringLiteral("Text Message Enabled"));
        } else {
            SayText->setValue(0);
            queue(QStringLiteral("Text Message Disabled"));
        }
    }
    if (AnnounceOff->text() == sDigits) {
        // Warned on air as the scheduler warns, before the silence begins.
        if (Check2->value() == 1) {
            Check1->setValue(0);
            SilenceOn();
            sayQueuedSilenceWarning();
            if (Program::ended())
                return;
        }
        Check1->setValue(1);
    }
    if (AnnounceOn->text() == sDigits) {
        Check1->setValue(0);
        SilenceOFF();
    }
    if (station.dtmf && station.dtmf->UseDTMF->value() == 1 && station.dtmf->DTMF->text() == sDigits)
        queue(timePhrase());
    if (EnableAutoConnect->text() == sDigits) {
        setStayConByCode(1);
        queue(QStringLiteral("Auto Connects Enabled."));
    }
    if (DisableAutoConnect->text() == sDigits) {
        setStayConByCode(0);
        queue(QStringLiteral("Auto Connects Disabled."));
    }
}

} // namespace mirelva
