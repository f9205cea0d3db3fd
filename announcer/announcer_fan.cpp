// The transmitter's cooling fan on one serial line: started by keying, after
// an optional start delay, and kept running for the run time after the last
// keying.

#include "announcer/mainwindow.h"
#include "ui/countdowns.h"
#include "ui/program.h"

namespace mirelva {

using countdowns::countDown;
using countdowns::keepPeriodPositive;
using countdowns::minutesAsSeconds;

namespace {

constexpr unsigned kGreen = 0x8000;
constexpr unsigned kDarkRed = 128;

// Only the line the operator chose is ever switched; the other may drive
// something else.
void switchFanLine(MainWindow &w, bool on)
{
    if (w.UseDTR->value())
        w.Echolink->SetDTR(on);
    if (w.UseRTS->value())
        w.Echolink->SetRTS(on);
}

void showFan(MainWindow &w, bool running)
{
    if (running)
        setColouredCaption(w.FanOnOff, QStringLiteral("Fan ON"), kGreen);
    else
        setColouredCaption(w.FanOnOff, QStringLiteral("Fan OFF"), kDarkRed);
}

void startFanRun(MainWindow &w)
{
    w.Fan->setEnabled(true);
    setLabelNumber(w.FanSeconds, minutesAsSeconds(w.FanPeriod));
}

} // namespace

void MainWindow::FanOn()
{
    if (DelayCTRL->value() != 1) {
        // Every call starts the full run time again, so the fan runs on for
        // the whole period after the last keying.
        if (FanCTRL->value() == 1)
            startFanRun(*this);
    } else {
        // The delay counts on from where it stands.
        FanDelay->setEnabled(true);
    }
}

void MainWindow::FanDelay_Timer()
{
    // 1.
    Program::doEvents();
    if (Program::ended())
        return;
    keepPeriodPositive(DelayPeriod);
    // 2.
    if (DelayCTRL->value() != 0)
        countDown(DelaySeconds);
    // 3. A transmission shorter than the delay does not start the fan.
    if (DelaySeconds->text() == QLatin1String("0")) {
        DelaySeconds->setText(DelayPeriod->text());
        FanDelay->setEnabled(false);
        if (FanCTRL->value() == 1 && PTT->text() == QLatin1String("PTT ON"))
            startFanRun(*this);
    }
}

void MainWindow::Fan_Timer()
{
    // 1.
    Program::doEvents();
    if (Program::ended())
        return;
    keepPeriodPositive(FanPeriod);
    // 2., 3. The line is raised at every tick of the run, since the end of
    //    each keyed announcement drops it.
    if (FanCTRL->value() != 1) {
        showFan(*this, false);
        switchFanLine(*this, false);
    } else {
        countDown(FanSeconds);
        showFan(*this, true);
        switchFanLine(*this, true);
        // While keyed, the PTT poll reloads the run time within the
        // millisecond; the tick makes that reload itself, so the second it
        // counted off is never shown: the countdown stands still while keyed,
        // on screen and to a screen reader, instead of telling a value that
        // never stands twice a second.
        if (Timer4->isEnabled() && Echolink->TransmitterKeyed())
            FanOn();
    }
    // 4.
    if (FanSeconds->text() == QLatin1String("0")) {
        setLabelNumber(FanSeconds, minutesAsSeconds(FanPeriod));
        Fan->setEnabled(false);
        showFan(*this, false);
        switchFanLine(*this, false);
    }
}

void MainWindow::Timer6_Timer()
{
    // The line cannot be changed under a running fan control, which would
    // leave the old line raised.
    const bool locked = FanCTRL->value() != 0;
    const QString why = QStringLiteral("\"Use Fan Control\" is on; the fan's line is chosen while it is off");
    setLocked(UseDTR, locked, why);
    setLocked(UseRTS, locked, why);
}

void MainWindow::FanPeriod_Change()
{
    FanPeriod->setDigitsOnly(true);
    // Emptied, the box is refilled with "1", which acts as "1" typed. (Stopping
    // the run instead would leave the fan's line raised until the next
    // transmission.)
    if (FanPeriod->text().isEmpty()) {
        FanPeriod->setText(QStringLiteral("1"));
        return;
    }
    // A new run time starts a run (or the start delay) at once.
    DelaySeconds->setText(DelayPeriod->text());
    FanOn();
    setLabelNumber(FanSeconds, minutesAsSeconds(FanPeriod));
}

void MainWindow::DelayPeriod_Change()
{
    DelayPeriod->setDigitsOnly(true);
    // Emptied, the box is refilled with "1", which acts as "1" typed: a
    // start delay under way goes on, so the fan still starts.
    if (DelayPeriod->text().isEmpty()) {
        DelayPeriod->setText(QStringLiteral("1"));
        return;
    }
    DelaySeconds->setText(DelayPeriod->text());
}

} // namespace mirelva
