#include "announcer/mainwindow.h"

#include <QCloseEvent>

namespace mirelva {

MainWindow::MainWindow(Station &st, QWidget *parent) : QMainWindow(parent), station(st)
{
    station.main = this;
}

MainWindow::~MainWindow() = default;

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (Form_QueryUnload())
        event->ignore();
}

void MainWindow::buildForm() {}
void MainWindow::wireHandlers() {}
void MainWindow::loadSettings() {}

void MainWindow::Form_Load() {}
void MainWindow::SaveData() {}
bool MainWindow::Form_QueryUnload() { return {}; }
void MainWindow::EchoLink_Closing() {}
void MainWindow::refreshCaption() {}
void MainWindow::showNodeStatus() {}
void MainWindow::Kerchunker_Timer() {}
void MainWindow::KickBackCheck_Timer() {}
void MainWindow::KerchunkWait_Change() {}
void MainWindow::HangTime_Change() {}
void MainWindow::CourtesyID_Change() {}
void MainWindow::IPCourtesy_Change() {}
void MainWindow::Timer5_Timer() {}
void MainWindow::SilenceOn() {}
void MainWindow::SilenceOFF() {}
void MainWindow::FanOn() {}
void MainWindow::FanDelay_Timer() {}
void MainWindow::Fan_Timer() {}
void MainWindow::Timer6_Timer() {}
void MainWindow::FanPeriod_Change() {}
void MainWindow::DelayPeriod_Change() {}
void MainWindow::ScheduleBox_Change(TextBox *box) {}
void MainWindow::Connect1_Click() {}
void MainWindow::Command2_Click() {}
void MainWindow::Timer2_Timer() {}
void MainWindow::Timer3_Timer() {}
void MainWindow::ConnectStation1_Change() {}
void MainWindow::ConnectStation2_Change() {}
void MainWindow::EchoLink_DTMFString(const QString &sDigits) {}
void MainWindow::Command1_Click() {}
void MainWindow::Command13_Click() {}
void MainWindow::Command12_Click() {}
void MainWindow::Command9_Click() {}
void MainWindow::Command8_Click() {}
void MainWindow::Command3_Click() {}
void MainWindow::Command4_Click() {}
void MainWindow::Command5_Click() {}
void MainWindow::ClearText3_Click() {}
void MainWindow::ClearInfoText_Click() {}

} // namespace mirelva
