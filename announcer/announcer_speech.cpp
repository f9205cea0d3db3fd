#include "announcer/mainwindow.h"

namespace mirelva {

void MainWindow::SpeakTheText() {}
void MainWindow::SleepTTS() {}
void MainWindow::SayCall_Click() {}
void MainWindow::SayCallNoPTT_Click() {}
void MainWindow::Speak3_Click() {}
void MainWindow::TextNoPTT3_Click() {}
void MainWindow::SpeakInfo_Click() {}
void MainWindow::InfoNoPTT_Click() {}
void MainWindow::TTSPeriod_Change() {}

} // namespace mirelva
