// Codes received over the air, the acceptance delay, the re-enable countdown
// of the disconnect functions, the buttons that connect by hand and the last
// connected station.

#include "ui/countdowns.h"
#include "ui/program.h"
#include "dtmf/dtmfwindow.h"

namespace mirelva {

namespace {

const QString kReceiving = QStringLiteral("Receiving Signal");

// A code acts when the whole string equals it, character for character. An
// empty string acts on nothing, so a box left empty is a code never used.
bool matches(const TextBox *code, const QString &sDigits)
{
    return !sDigits.isEmpty() && code->text() == sDigits;
}

} // namespace

// ---- the codes -------------------------------------------------------------------

void DtmfWindow::EchoLink_DTMFString(const QString &sDigits)
{
    // The four option codes act whatever the acceptance delay says.
    if (matches(Text222, sDigits))
        Check1->setValue(1);
    if (matches(Text333, sDigits))
        Check1->setValue(0);
    if (matches(Text1111, sDigits))
        UseDTMFDelay->setValue(1);
    if (matches(Text2222, sDigits))
        UseDTMFDelay->setValue(0);

    // The gate: bypassed while the delay is off, open once the received
    // signal has lasted the delay, closed otherwise (a greyed box included).
    const bool bypassed = UseDTMFDelay->value() == 0;
    const bool open = UseDTMFDelay->value() == 1 && labelNumber(DTMFDelayPeriod) <= 0;
    if (!bypassed && !open)
        return;

    // Every matching command acts, in this order. An empty callsign is never
    // sent to the node, with the delay in force or not.
    if (matches(Text555, sDigits) && Check1->value() == 1) {
        // Asked and disconnected as the node gave it, not in capitals.
        const QString last = LastConnected->text();
        if (!last.isEmpty() && Echolink->IsConnected(last))
            Echolink->Disconnect(last);
    }
    if (matches(Text111, sDigits) && Check1->value() == 1)
        Echolink->DisconnectAll();
    const TextBox *codes[8] = {DTMF1, DTMF2, DTMF3, DTMF4, DTMF5, DTMF6, DTMF7, DTMF8};
    const TextBox *calls[8] = {Call1, Call2, Call3, Call4, Call5, Call6, Call7, Call8};
    for (int i = 0; i < 8; ++i)
        if (matches(codes[i], sDigits) && !calls[i]->text().isEmpty())
            toggle(calls[i]);
    if (matches(DTMFGroup1Disc, sDigits))
        disconnectGroup(1);
    if (matches(DTMFGroup1Connect, sDigits))
        connectGroup(1);
    if (matches(DTMFGroup2Disc, sDigits))
        disconnectGroup(2);
    if (matches(DTMFGroup2Connect, sDigits))
        connectGroup(2);
}

// The node is asked about the text as typed; requests carry it in capitals.
void DtmfWindow::toggle(const TextBox *call)
{
    const QString text = call->text();
    if (Echolink->IsConnected(text))
        Echolink->Disconnect(text.toUpper());
    else
        Echolink->Connect(text.toUpper(), true);
}

namespace {
QVector<const TextBox *> groupOf(const DtmfWindow &w, int group)
{
    if (group == 1)
        return {w.GroupCall1, w.GroupCall2, w.GroupCall3};
    return {w.GroupCall4, w.GroupCall5, w.GroupCall6};
}
} // namespace

// Members already connected are left alone, as are empty boxes.
void DtmfWindow::connectGroup(int group)
{
    for (const TextBox *member : groupOf(*this, group)) {
        const QString text = member->text();
        if (!text.isEmpty() && !Echolink->IsConnected(text))
            Echolink->Connect(text.toUpper(), true);
    }
}

void DtmfWindow::disconnectGroup(int group)
{
    for (const TextBox *member : groupOf(*this, group)) {
        const QString text = member->text();
        if (!text.isEmpty() && Echolink->IsConnected(text))
            Echolink->Disconnect(text.toUpper());
    }
}

// ---- acceptance delay --------------------------------------------------------------

void DtmfWindow::DTMFDelay_Timer()
{
    Program::doEvents();
    if (Program::ended())
        return;
    const bool receiving = Echolink->ReceivingSignal();
    // Spoken as it changes by the main window's indicator, not twice.
    showReceiving(PTT3, receiving);
    if (!receiving) {
        DTMFDelayPeriod->setText(DTMFDelaySeconds->text());
    }
    // Never below zero: a delay of 0 seconds, ticking inside a reception,
    // would otherwise close the gate it should leave open.
    if (UseDTMFDelay->value() == 1 && PTT3->text() == kReceiving && labelNumber(DTMFDelayPeriod) > 0)
        countdowns::countDown(DTMFDelayPeriod);
    // Stopped at "0", the gate stays open until the main window's clock tick
    // finds no signal and starts the countdown again.
    if (DTMFDelayPeriod->text() == QLatin1String("0"))
        DTMFDelay->setEnabled(false);
}

void DtmfWindow::DTMFDelaySeconds_Change()
{
    DTMFDelaySeconds->setDigitsOnly(true);
    if (DTMFDelaySeconds->text().isEmpty()) {
        DTMFDelaySeconds->setText(QStringLiteral("0"));
        DTMFDelay->setEnabled(false);
    } else {
        DTMFDelay->setEnabled(true);
    }
    DTMFDelayPeriod->setText(DTMFDelaySeconds->text());
}

// ---- re-enable of the disconnect functions -------------------------------------------

void DtmfWindow::Timer1_Timer()
{
    // "00" as well as "0": no minutes would leave the functions off for good.
    countdowns::keepPeriodPositive(BeaconPeriod);
    if (Check1->value() == 0)
        countdowns::countDown(BeaconSeconds);
    if (BeaconSeconds->text() == QLatin1String("0")) {
        setLabelNumber(BeaconSeconds, countdowns::minutesAsSeconds(BeaconPeriod));
        Check1->setValue(1);
    }
}

// Switched back on before the countdown ran out (by hand or by the enable
// code), the functions get the whole period again at their next switch-off,
// not the seconds left over from the last.
void DtmfWindow::Check1_Change()
{
    if (Check1->value() == 1)
        setLabelNumber(BeaconSeconds, countdowns::minutesAsSeconds(BeaconPeriod));
}

void DtmfWindow::BeaconPeriod_Change()
{
    BeaconPeriod->setDigitsOnly(true);
    if (BeaconPeriod->text().isEmpty())
        BeaconPeriod->setText(QStringLiteral("0"));
    setLabelNumber(BeaconSeconds, countdowns::minutesAsSeconds(BeaconPeriod));
}

// ---- by hand -------------------------------------------------------------------------

void DtmfWindow::Command3_Click() { connectGroup(1); }
void DtmfWindow::Command4_Click() { disconnectGroup(1); }
void DtmfWindow::Command5_Click() { connectGroup(2); }
void DtmfWindow::Command6_Click() { disconnectGroup(2); }

void DtmfWindow::Echolink_connected(const QString &sCallConnected, const QString &, const QString &)
{
    LastConnected->setText(sCallConnected);
    netStationConnected(sCallConnected);
}

// Letters typed into a callsign box appear as capitals.
void DtmfWindow::CallBox_Change(TextBox *box) { box->setUpperCase(true); }

} // namespace mirelva
