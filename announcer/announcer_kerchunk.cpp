// The kerchunk guard: the courtesy letter after an over heard on the radio,
// earned only by a carrier that is still there, with the link busy, one
// anti-kerchunker time after it came up.

#include "announcer/mainwindow.h"
#include "ui/countdowns.h"
#include "ui/program.h"

namespace mirelva {

namespace {
const QString kYes = QStringLiteral("Yes");
const QString kNo = QStringLiteral("No");
} // namespace

void MainWindow::Kerchunker_Timer()
{
    // 1.
    Echolink->setAutomationTimeouts();
    Program::doEvents();
    if (Program::ended())
        return;
    // 2. While announcements are disabled the wait goes on; the first tick
    //    after they are enabled again decides.
    if (Check1->value() == 1)
        return;
    // 3.
    Kerchunker->setEnabled(false);
    // 4. Still busy after the wait: a real over, not a key-up.
    if (UseCT->value() == 1 && Echolink->LinkBusy()) {
        OK2Kerchunk->setText(kYes);
        KickBackCheck->setEnabled(true);
    }
}

void MainWindow::KickBackCheck_Timer()
{
    // 1.
    Echolink->setAutomationTimeouts();
    Program::doEvents();
    if (Program::ended())
        return;
    // 2. A confirmed over waits for the link to go quiet; anything else keeps
    //    the check running without effect.
    if (Check1->value() == 1 || Echolink->LinkBusy() || UseCT->value() != 1 || OK2Kerchunk->text() != kYes)
        return;
    KickBackCheck->setEnabled(false);
    // An emptied letter box answers the over with nothing rather than with a
    // bare carrier.
    if (!countdowns::carriesNothing(CourtesyID->text()))
        Echolink->SendCW(false, CourtesyID->text());
    OK2Kerchunk->setText(kNo);
}

void MainWindow::KerchunkWait_Change()
{
    KerchunkWait->setDigitsOnly(true);
    if (KerchunkWait->text().isEmpty())
        KerchunkWait->setText(QStringLiteral("0"));
    // 0 never fires; a value the timer cannot take is refused and the
    // interval kept.
    Kerchunker->setInterval(KerchunkWait->number());
}

void MainWindow::HangTime_Change()
{
    HangTime->setDigitsOnly(true);
    if (HangTime->text().isEmpty())
        HangTime->setText(QStringLiteral("0"));
    KickBackCheck->setInterval(HangTime->number());
}

void MainWindow::CourtesyID_Change() { CourtesyID->setUpperCase(true); }
void MainWindow::IPCourtesy_Change() { IPCourtesy->setUpperCase(true); }

} // namespace mirelva
