#include "announcer/mainwindow.h"

namespace mirelva {

void MainWindow::Beacon6_Timer() {}
void MainWindow::Beacon7_Timer() {}
void MainWindow::Beacon3_Timer() {}
void MainWindow::IDTimer_Timer() {}
void MainWindow::SendCW_Click() {}
void MainWindow::BeaconPeriod6_Change() {}
void MainWindow::BeaconPeriod7_Change() {}
void MainWindow::BeaconPeriod3_Change() {}
void MainWindow::VoicePeriod_Change() {}

} // namespace mirelva
