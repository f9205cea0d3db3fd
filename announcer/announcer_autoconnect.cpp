// The two auto-connect stations: a button that connects or disconnects one
// now, and a check once a minute that keeps it connected while "Stay Con" is
// ticked.

#include "announcer/mainwindow.h"
#include "ui/program.h"

namespace mirelva {

namespace {

// The callsign as the node knows it. Blanks around it would make a connected
// station look unconnected, and the check would call it again every minute.
QString autoConnectCall(const TextBox *box) { return box->text().trimmed().toUpper(); }

QString emptyCallWarning(int station) { return QStringLiteral("Connect%1.empty").arg(station); }

void connectOrDisconnect(MainWindow &w, const TextBox *box, int station)
{
    const QString call = autoConnectCall(box);
    // An empty callsign is never sent to the node. The status line says why
    // nothing happened until the box holds something again.
    if (call.isEmpty()) {
        w.setLastingWarning(emptyCallWarning(station),
                            QStringLiteral("Con/Disc %1: Station %1 has no callsign, nothing was sent").arg(station));
        return;
    }
    if (w.Echolink->IsConnected(call))
        w.Echolink->Disconnect(call);
    else
        w.Echolink->Connect(call, true);
}

void callChanged(MainWindow &w, TextBox *box, int station)
{
    box->setUpperCase(true);
    w.clearLastingWarning(emptyCallWarning(station));
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
void MainWindow::ConnectStation1_Change() { callChanged(*this, ConnectStation1, 1); }
void MainWindow::ConnectStation2_Change() { callChanged(*this, ConnectStation2, 2); }

} // namespace mirelva
