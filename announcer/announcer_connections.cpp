#include "announcer/mainwindow.h"

namespace mirelva {

void MainWindow::Echolink_connected(const QString &sCallConnected, const QString &sName, const QString &sAddr) {}
void MainWindow::Echolink_Disconnected(const QString &sCall) {}
void MainWindow::EchoLink_RX(bool bRX) {}
void MainWindow::EchoLink_CarrierDetect(bool bCD) {}
void MainWindow::SplitCall() {}

} // namespace mirelva
