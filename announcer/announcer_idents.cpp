#include "announcer/mainwindow.h"

#include "ui/countdowns.h"
#include "ui/program.h"

namespace mirelva {

using countdowns::carriesNothing;
using countdowns::countDown;
using countdowns::keepPeriodPositive;
using countdowns::minutesAsSeconds;

namespace {

const QString kZero = QStringLiteral("0");

// An emptied period box is refilled with "1", and acts as "1" typed: the
// refill runs this handler again, which turns the switch on. (Turning it off
// after the refill would leave a ticked ident with a countdown that never
// runs: no ident would ever come, and nothing on screen would say why.)
template <typename Switch>
void periodChanged(TextBox *period, QLabel *countdown, Switch setSwitch)
{
    period->setDigitsOnly(true);
    if (period->text().isEmpty()) {
        period->setText(QStringLiteral("1"));
        return;
    }
    setSwitch(true);
    setLabelNumber(countdown, minutesAsSeconds(period));
}

} // namespace

void MainWindow::Beacon6_Timer()
{
    // 1.
    Echolink->setAutomationTimeouts();
    Program::doEvents();
    if (Program::ended())
        return;
    // 2.
    keepPeriodPositive(BeaconPeriod6);
    // 3.
    if (StopClock6->value() != 0)
        countDown(BeaconSeconds6);
    // 4. While a signal is in use the ident is dropped, not put off. An
    //    empty ident keys nothing, and leaves a text already queued alone.
    if (BeaconSeconds6->text() == kZero) {
        setLabelNumber(BeaconSeconds6, minutesAsSeconds(BeaconPeriod6));
        if (!carriesNothing(Callsign->text())) {
            SayTheText = Callsign->text();
            if (InUse != 1)
                flag2 = 1;
        }
    }
}

void MainWindow::Beacon3_Timer()
{
    Program::doEvents();
    if (Program::ended())
        return;
    keepPeriodPositive(BeaconPeriod3);
    if (StopClock3->value() != 0)
        countDown(BeaconSeconds3);
    Echolink->setAutomationTimeouts();
    if (BeaconSeconds3->text() == kZero) {
        setLabelNumber(BeaconSeconds3, minutesAsSeconds(BeaconPeriod3));
        if (!carriesNothing(TextInput3->text())) {
            SayTheText = TextInput3->text();
            if (InUse != 1)
                flag2 = 1;
        }
    }
}

void MainWindow::Beacon7_Timer()
{
    // 1.
    Program::doEvents();
    if (Program::ended())
        return;
    keepPeriodPositive(BeaconPeriod7);
    // 2. With announcements disabled the countdown stands still.
    if (Check1->value() == 1)
        return;
    // 3.
    if (StopClock7->value() != 0)
        countDown(BeaconSeconds7);
    // 4. Morse must not go out over a busy link: put it off instead. An
    //    empty ident is no ident, and keys nothing.
    const bool nothingToSend = carriesNothing(CWCallsign->text());
    if (BeaconSeconds7->text() == kZero) {
        setLabelNumber(BeaconSeconds7, minutesAsSeconds(BeaconPeriod7));
        if (nothingToSend) {
            // nothing goes out, now or later
        } else if (Echolink->LinkBusy()) {
            CWPending = QStringLiteral("1");
        } else {
            Echolink->SendCW(false, CWCallsign->text());
        }
    }
    // 5. A put-off ident rides on the next transmission we see keyed.
    if (PTT->text() == QLatin1String("PTT ON") && CWPending == QLatin1String("1")) {
        if (!nothingToSend)
            Echolink->SendCW(false, CWCallsign->text());
        CWPending = kZero;
    }
}

void MainWindow::IDTimer_Timer()
{
    // 1.
    Program::doEvents();
    if (Program::ended())
        return;
    keepPeriodPositive(VoicePeriod);
    // 2.
    if (IDCheck->value() != 0)
        countDown(IDSeconds);
    // 3. Idle long enough: the idents sleep until the clock tick sees activity,
    //    and then come 15 and 10 seconds later.
    if (IDCheck->value() == 1 && IDSeconds->text() == kZero) {
        Beacon6->setEnabled(false);
        Beacon7->setEnabled(false);
        BeaconSeconds6->setText(QStringLiteral("15"));
        BeaconSeconds7->setText(QStringLiteral("10"));
    }
    // 4.
    if (Echolink->LinkActive() || Echolink->ReceivingSignal() || Echolink->LinkBusy()) {
        setLabelNumber(IDSeconds, minutesAsSeconds(VoicePeriod));
        IDTimer->setEnabled(true);
    }
    // 5.
    if (IDSeconds->text() == kZero) {
        setLabelNumber(IDSeconds, minutesAsSeconds(VoicePeriod));
        IDTimer->setEnabled(false);
    }
}

void MainWindow::SendCW_Click()
{
    if (Check1->value() == 1)
        return;
    if (CWCallsign->text().isEmpty())
        CWCallsign->setText(QStringLiteral(" "));
    if (Echolink->LinkBusy())
        CWPending = QStringLiteral("1");
    else
        Echolink->SendCW(false, CWCallsign->text());
}

void MainWindow::BeaconPeriod6_Change()
{
    periodChanged(BeaconPeriod6, BeaconSeconds6, [this](bool on) { Beacon6->setEnabled(on); });
}

void MainWindow::BeaconPeriod7_Change()
{
    periodChanged(BeaconPeriod7, BeaconSeconds7, [this](bool on) { Beacon7->setEnabled(on); });
}

void MainWindow::BeaconPeriod3_Change()
{
    periodChanged(BeaconPeriod3, BeaconSeconds3, [this](bool on) { Beacon3->setEnabled(on); });
}

void MainWindow::VoicePeriod_Change()
{
    periodChanged(VoicePeriod, IDSeconds, [this](bool on) { IDCheck->setEnabled(on); });
}

} // namespace mirelva
