#include "announcer/mainwindow.h"

namespace mirelva {

void MainWindow::Timer1_Timer() {}
void MainWindow::Timer4_Timer() {}
void MainWindow::TheTime_Click() {}
void MainWindow::TheTimeBit() {}
QString MainWindow::timePhrase() const { return {}; }

} // namespace mirelva
