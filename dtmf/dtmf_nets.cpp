// The net scheduler: four nets joined at second 15 of their minute on their
// weekdays, and left again after their minutes.

#include <QScopedValueRollback>

#include "announcer/mainwindow.h"
#include "core/clock.h"
#include "ui/countdowns.h"
#include "ui/program.h"
#include "dtmf/dtmfwindow.h"

namespace mirelva {

void DtmfWindow::Timer2_Timer()
{
    // The seconds this tick stands for: its own and every one that passed
    // while the thread was blocked since the last tick, so a net still
    // starts when a long announcement spanned its second.
    const QDateTime now = Clock::now();
    const QList<QDateTime> owed = m_netSeconds.take(now);
    // 1.
    Program::doEvents();
    if (Program::ended())
        return;
    // 2.
    ShowTime->setText(Clock::clockFace(now));
    // 3.
    Echolink->setAutomationTimeouts();
    // 5. The hour and minute boxes are compared with the clock's two
    //    digits; a box holding one digit ("8") means what the clock writes
    //    "08", or a net typed that way would never start.
    const auto clockDigits = [](const TextBox *box) {
        const QString t = box->text();
        return t.size() == 1 ? QLatin1Char('0') + t : t;
    };
    QString startText[5];
    for (int n = 4; n >= 1; --n)
        startText[n] = clockDigits(net(n).Hour) + ':' + clockDigits(net(n).Mins) + QStringLiteral(":15");
    // 6. A second lost to a busy channel is not made up: the net waits a week.
    if (RFBusy->value() == 1 && station.main && station.main->PTT2->text() == QLatin1String("Receiving Signal"))
        return;
    // 4., 7. Each second owed in its turn, with its own weekday (Sunday 1 to
    //    Saturday 7).
    for (const QDateTime &at : owed) {
        const QString timeText = at.toString(QStringLiteral("HH:mm:ss"));
        const int weekday = at.date().dayOfWeek() % 7 + 1;
        for (int n = 4; n >= 1; --n)
            if (net(n).days[weekday - 1]->value() == 1 && timeText == startText[n])
                startNet(n);
    }
}

bool DtmfWindow::netRunning(int n) const { return net(n).timer->isEnabled(); }

bool DtmfWindow::anyNetRunning() const
{
    for (int n = 1; n <= 4; ++n)
        if (netRunning(n))
            return true;
    return false;
}

// The operator's "Stay Con" boxes are taken once, when the first net starts,
// and given back once the last net has ended, whichever way it ended. A net
// starting while another runs must not save the boxes the first one cleared,
// or the operator's auto-connect would be lost for good.
void DtmfWindow::takeStayCon()
{
    if (!station.main)
        return;
    if (!m_stayConTaken) {
        SavedStayCon1 = station.main->StayCon1->value();
        SavedStayCon2 = station.main->StayCon2->value();
        m_stayConTaken = true;
    }
    const QScopedValueRollback<bool> ours(m_settingStayCon, true);
    station.main->StayCon1->setValue(0);
    station.main->StayCon2->setValue(0);
}

void DtmfWindow::netEnded()
{
    if (!m_stayConTaken || anyNetRunning() || !station.main)
        return;
    m_stayConTaken = false;
    const QScopedValueRollback<bool> ours(m_settingStayCon, true);
    station.main->StayCon1->setValue(SavedStayCon1);
    station.main->StayCon2->setValue(SavedStayCon2);
}

// The node has one busy flag for all nets: a net that showed it, once ended,
// clears it only when no net still running shows it, or a net that runs on
// would take callers for the rest of its time.
void DtmfWindow::netBusyEnded(int n)
{
    if (net(n).ShowBusy->value() != 1)
        return;
    for (int m = 1; m <= 4; ++m)
        if (netRunning(m) && net(m).ShowBusy->value() == 1)
            return;
    Echolink->SetBusy(false);
}

// Ticked or unticked during a net (by hand or by a code), a box holds the
// operator's new wish: that is what comes back when the nets are over. A
// code acts even when the box already reads so (the net cleared it), so it
// is told here whether or not the box changed.
void DtmfWindow::stayConChosen(int box, int value)
{
    if (!m_stayConTaken || m_settingStayCon)
        return;
    (box == 1 ? SavedStayCon1 : SavedStayCon2) = value;
}

int DtmfWindow::operatorStayCon(int box) const
{
    if (m_stayConTaken)
        return box == 1 ? SavedStayCon1 : SavedStayCon2;
    if (!station.main)
        return 0;
    return (box == 1 ? station.main->StayCon1 : station.main->StayCon2)->value();
}

void DtmfWindow::startNet(int n)
{
    const Net x = net(n);
    // A callsign of blanks is not empty: the node is asked for it as it is.
    const QString call = x.NetCall->text().toUpper();
    if (call.isEmpty())
        return;
    // Auto-connect would pull the node away from the net; it is suspended
    // until the last net running has ended.
    takeStayCon();
    // A station already there is the net joined, unless the net is about to
    // drop it with everyone else: the leave that causes is no end of the net.
    m_netJoined[n] = x.DisconnectAll->value() != 1 && Echolink->IsConnected(call.trimmed());
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
    x.timer->setEnabled(false);
    netEnded();
    netBusyEnded(n);
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
        netEnded();
    }
    setLabelNumber(x.DiscPeriod, countdowns::minutesAsSeconds(x.DiscMins));
}

bool DtmfWindow::isNetStation(int n, const QString &call) const
{
    return net(n).NetCall->text().trimmed().compare(call.trimmed(), Qt::CaseInsensitive) == 0;
}

void DtmfWindow::netStationConnected(const QString &sCall)
{
    for (int n = 1; n <= 4; ++n)
        if (netRunning(n) && isNetStation(n, sCall))
            m_netJoined[n] = true;
}

// A net with no timed disconnect ends when its station leaves (the net is
// over, or the operator disconnected it); otherwise it would hold the busy
// state and the "Stay Con" boxes until the program ends. Only a leave after
// the station joined the net counts: the net's own "Disconnect All" drops
// the station just before the net calls it back. A window before this one
// may let events run while it hears of that leave, so the station's return
// can be told here first: a leave told while the station is back is old.
void DtmfWindow::Echolink_Disconnected(const QString &sCall)
{
    for (int n = 1; n <= 4; ++n) {
        const Net x = net(n);
        if (!netRunning(n) || x.Use->value() != 0 || !m_netJoined[n] || !isNetStation(n, sCall)
            || Echolink->IsConnected(sCall.trimmed()))
            continue;
        x.timer->setEnabled(false);
        netEnded();
        netBusyEnded(n);
    }
}

void DtmfWindow::TimeBox_Change(TextBox *box) { box->setDigitsOnly(true); }

} // namespace mirelva
