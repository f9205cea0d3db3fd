// Change handlers of the main window's settings boxes (kerchunk guard times,
// courtesy letters, fan, silence schedules, auto-connect calls) and the start
// of a fan run.

#include <algorithm>
#include <limits>

#include "announcer/mainwindow.h"

namespace mirelva {

namespace {
// Minutes in a box as seconds for a countdown; a number too large for the
// product stays at the largest count instead of wrapping round.
qint64 minutesAsSeconds(const TextBox *box)
{
    constexpr qint64 most = std::numeric_limits<qint64>::max() / 60;
    return std::clamp<qint64>(box->number(), 0, most) * 60;
}
} // namespace

// ---- kerchunk guard ------------------------------------------------------------

void MainWindow::KerchunkWait_Change()
{
    KerchunkWait->setDigitsOnly(true);
    if (KerchunkWait->text().isEmpty())
        KerchunkWait->setText(QStringLiteral("0"));
    // A value the timer cannot take is refused and the interval kept.
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

// Comes with the kerchunk guard work.
void MainWindow::Kerchunker_Timer() {}
// Comes with the kerchunk guard work.
void MainWindow::KickBackCheck_Timer() {}

// ---- silence scheduler and fan ---------------------------------------------------

void MainWindow::ScheduleBox_Change(TextBox *box) { box->setDigitsOnly(true); }

void MainWindow::FanOn()
{
    if (DelayCTRL->value() != 1) {
        // Every call starts the full run time again, so the fan runs on for
        // the whole period after the last keying.
        if (FanCTRL->value() == 1) {
            Fan->setEnabled(true);
            setLabelNumber(FanSeconds, minutesAsSeconds(FanPeriod));
        }
    } else {
        FanDelay->setEnabled(true);
    }
}

void MainWindow::FanPeriod_Change()
{
    FanPeriod->setDigitsOnly(true);
    if (FanPeriod->text().isEmpty()) {
        FanPeriod->setText(QStringLiteral("1"));
        Fan->setEnabled(false);
    } else {
        DelaySeconds->setText(DelayPeriod->text());
        FanOn();
    }
    setLabelNumber(FanSeconds, minutesAsSeconds(FanPeriod));
}

void MainWindow::DelayPeriod_Change()
{
    DelayPeriod->setDigitsOnly(true);
    if (DelayPeriod->text().isEmpty()) {
        DelayPeriod->setText(QStringLiteral("1"));
        FanDelay->setEnabled(false);
    }
    DelaySeconds->setText(DelayPeriod->text());
}

// Comes with the silence scheduler work.
void MainWindow::Timer5_Timer() {}
// Comes with the silence scheduler work.
void MainWindow::SilenceOn() {}
// Comes with the silence scheduler work.
void MainWindow::SilenceOFF() {}
// Comes with the fan control work.
void MainWindow::FanDelay_Timer() {}
// Comes with the fan control work.
void MainWindow::Fan_Timer() {}
// Comes with the fan control work.
void MainWindow::Timer6_Timer() {}

// ---- auto-connect ----------------------------------------------------------------

void MainWindow::ConnectStation1_Change() { ConnectStation1->setUpperCase(true); }
void MainWindow::ConnectStation2_Change() { ConnectStation2->setUpperCase(true); }

// Comes with the auto-connect work.
void MainWindow::Connect1_Click() {}
// Comes with the auto-connect work.
void MainWindow::Command2_Click() {}
// Comes with the auto-connect work.
void MainWindow::Timer2_Timer() {}
// Comes with the auto-connect work.
void MainWindow::Timer3_Timer() {}

// ---- DTMF codes --------------------------------------------------------------------

// Comes with the main window's DTMF code work.
void MainWindow::EchoLink_DTMFString(const QString &) {}

} // namespace mirelva
