// The two auto-connect stations: a button that connects or disconnects one
// now, and a check once a minute that keeps it connected while "Stay Con" is
// ticked.

#include "announcer/mainwindow.h"
#include "core/onairlog.h"
#include "core/program.h"

namespace mirelva {

namespace {

// The callsign as the node knows it. Blanks around it would make a connected
// station look unconnected, and the check would call it again every minute.
QString autoConnectCall(const TextBox *box) { return box->text().trimmed().toUpper(); }

void connectOrDisconnect(MainWindow &w, const TextBox *box, int station)
{
    const QString call = autoConnectCall(box);
    // An empty callsign is never sent to the node; the log says why nothing
    // happened.
    if (call.isEmpty()) {
        OnAirLog::note(QStringLiteral("Con/Disc %1: no callsign to connect").arg(station));
        return;
    }
    if (w.Echolink->IsConnected(call))
        w.Echolink->Disconnect(call);
    else
        w.Echolink->Connect(call, true);
}

// Never disconnects: unticking "Stay Con" only stops the reconnecting.
void keepConnected(MainWindow &w, const CheckBox *stayCon, const TextBox *box)
{
    // 1.
    w.Echolink->setAutomationTimeouts(900000);
    Program::doEvents();
    if (Program::ended())
        return;
    // 2.
    if (stayCon->value() != 1)
        return;
    // 3., 4.
    const QString call = autoConnectCall(box);
    if (call.isEmpty() || w.Echolink->IsConnected(call))
        return;
    // 5. A refusal is ignored; the next minute tries again.
    w.Echolink->Connect(call, true);
}

} // namespace

void MainWindow::Connect1_Click() { connectOrDisconnect(*this, ConnectStation1, 1); }
void MainWindow::Command2_Click() { connectOrDisconnect(*this, ConnectStation2, 2); }
void MainWindow::Timer2_Timer() { keepConnected(*this, StayCon1, ConnectStation1); }
void MainWindow::Timer3_Timer() { keepConnected(*this, StayCon2, ConnectStation2); }
void MainWindow::ConnectStation1_Change() { ConnectStation1->setUpperCase(true); }
void MainWindow::ConnectStation2_Change() { ConnectStation2->setUpperCase(true); }

} // namespace mirelva
