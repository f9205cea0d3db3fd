// The net scheduler: four nets joined at second 15 of their minute on their
// weekdays, and left again after their minutes.

#include "announcer/mainwindow.h"
#include "core/clock.h"
#include "core/countdowns.h"
#include "core/program.h"
#include "dtmf/dtmfwindow.h"

namespace mirelva {

void DtmfWindow::Timer2_Timer()
{
    // The second this tick came for. What runs below may speak for several
    // seconds; a net still starts on the second it was set for.
    const QDateTime now = Clock::now();
    // 1.
    Program::doEvents();
    if (Program::ended())
        return;
    // 2. The hour and minute boxes are compared as typed, so "8" never
    //    matches the "08" of the clock.
    const QString timeText = now.toString(QStringLiteral("HH:mm:ss"));
    ShowTime->setText(timeText);
    // 3.
    Echolink->setAutomationTimeouts();
    // 4. Sunday 1 to Saturday 7.
    const int weekday = now.date().dayOfWeek() % 7 + 1;
    // 5.
    QString startText[5];
    for (int n = 4; n >= 1; --n)
        startText[n] = net(n).Hour->text() + ':' + net(n).Mins->text() + QStringLiteral(":15");
    // 6. A second lost to a busy channel is not made up: the net waits a week.
    if (RFBusy->value() == 1 && station.main && station.main->PTT2->text() == QLatin1String("Receiving Signal"))
        return;
    // 7.
    for (int n = 4; n >= 1; --n)
        if (net(n).days[weekday - 1]->value() == 1 && timeText == startText[n])
            startNet(n);
}

void DtmfWindow::startNet(int n)
{
    const Net x = net(n);
    // A callsign of blanks is not empty: the node is asked for it as it is.
    const QString call = x.NetCall->text().toUpper();
    if (call.isEmpty())
        return;
    // Auto-connect would pull the node away from the net; it is suspended
    // until the net's timed disconnect puts it back.
    if (station.main) {
        SavedStayCon1 = station.main->StayCon1->value();
        SavedStayCon2 = station.main->StayCon2->value();
        station.main->StayCon1->setValue(0);
        station.main->StayCon2->setValue(0);
    }
    if (x.ShowBusy->value() == 1)
        Echolink->SetBusy(true);
    if (x.DisconnectAll->value() == 1)
        Echolink->DisconnectAll();
    Echolink->Connect(call, true);
    setLabelNumber(x.DiscPeriod, countdowns::minutesAsSeconds(x.DiscMins));
    x.timer->setEnabled(true);
}

// Nets 2 and 3 count down before the zero fix, nets 1 and 4 after it; the
// difference shows only when the minutes read zero.
void DtmfWindow::netCountdown(int n)
{
    const Net x = net(n);
    const bool countFirst = n == 2 || n == 3;
    // "00" as well as "0": no minutes would count below zero and never end
    // the net.
    const auto zeroFix = [&x] { countdowns::keepPeriodPositive(x.DiscMins); };
    const auto countDown = [&x] {
        if (x.Use->value() != 0)
            countdowns::countDown(x.DiscPeriod);
    };

    if (countFirst) {
        countDown();
        Program::doEvents();
        if (Program::ended())
            return;
        zeroFix();
    } else {
        zeroFix();
        countDown();
        Program::doEvents();
        if (Program::ended())
            return;
    }
    Echolink->setAutomationTimeouts();

    if (x.DiscPeriod->text() != QLatin1String("0"))
        return;
    setLabelNumber(x.DiscPeriod, countdowns::minutesAsSeconds(x.DiscMins));
    if (station.main) {
        station.main->StayCon1->setValue(SavedStayCon1);
        station.main->StayCon2->setValue(SavedStayCon2);
    }
    x.timer->setEnabled(false);
    if (x.ShowBusy->value() == 1)
        Echolink->SetBusy(false);
    const QString call = x.NetCall->text().toUpper();
    if (!call.isEmpty() && Echolink->IsConnected(call))
        Echolink->Disconnect(call.trimmed());
}

void DtmfWindow::Timer3_Timer() { netCountdown(1); }
void DtmfWindow::Timer4_Timer() { netCountdown(2); }
void DtmfWindow::Timer5_Timer() { netCountdown(3); }
void DtmfWindow::Timer6_Timer() { netCountdown(4); }

void DtmfWindow::DiscMins_Change(int n)
{
    const Net x = net(n);
    x.DiscMins->setDigitsOnly(true);
    if (x.DiscMins->text().isEmpty()) {
        x.DiscMins->setText(QStringLiteral("0"));
        x.timer->setEnabled(false);
    }
    setLabelNumber(x.DiscPeriod, countdowns::minutesAsSeconds(x.DiscMins));
}

void DtmfWindow::TimeBox_Change(TextBox *box) { box->setDigitsOnly(true); }

} // namespace mirelva
