#include "announcer/mainwindow.h"

#include <limits>

#include "core/program.h"

namespace mirelva {

namespace {

const QString kZero = QStringLiteral("0");

// A period box holds minutes; its countdown runs in seconds. A period that
// does not read as a positive number (a settings file may hold "00" or junk)
// would reload the countdown with 0 and leave it counting below zero for good,
// so it is put back to one minute like "0" is.
void keepPeriodPositive(TextBox *period)
{
    if (period->text() == kZero || period->number() <= 0)
        period->setText(QStringLiteral("1"));
}

qint64 periodSeconds(const TextBox *period)
{
    constexpr qint64 most = std::numeric_limits<qint64>::max() / 60;
    return std::min(period->number(), most) * 60;
}

void countDown(QLabel *countdown) { setLabelNumber(countdown, labelNumber(countdown) - 1); }

// An emptied period box is refilled with "1" and its switch turned off.
// Refilling runs this handler again, which turns the switch on; the outer run
// then turns it off, so the box ends at "1", switched off, countdown 60.
template <typename Switch>
void periodChanged(TextBox *period, QLabel *countdown, Switch setSwitch)
{
    period->setDigitsOnly(true);
    if (period->text().isEmpty()) {
        period->setText(QStringLiteral("1"));
        setSwitch(false);
    } else {
        setSwitch(true);
    }
    setLabelNumber(countdown, periodSeconds(period));
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
    // 4. While a signal is in use the ident is dropped, not put off.
    if (BeaconSeconds6->text() == kZero) {
        setLabelNumber(BeaconSeconds6, periodSeconds(BeaconPeriod6));
        SayTheText = Callsign->text();
        if (InUse != 1)
            flag2 = 1;
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
        setLabelNumber(BeaconSeconds3, periodSeconds(BeaconPeriod3));
        SayTheText = TextInput3->text();
        if (InUse != 1)
            flag2 = 1;
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
    // 4. Morse must not go out over a busy link: put it off instead.
    if (BeaconSeconds7->text() == kZero) {
        setLabelNumber(BeaconSeconds7, periodSeconds(BeaconPeriod7));
        if (Echolink->LinkBusy())
            CWPending = QStringLiteral("1");
        else
            Echolink->SendCW(false, CWCallsign->text());
    }
    // 5. A put-off ident rides on the next transmission we see keyed.
    if (PTT->text() == QLatin1String("PTT ON") && CWPending == QLatin1String("1")) {
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
        setLabelNumber(IDSeconds, periodSeconds(VoicePeriod));
        IDTimer->setEnabled(true);
    }
    // 5.
    if (IDSeconds->text() == kZero) {
        setLabelNumber(IDSeconds, periodSeconds(VoicePeriod));
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
