// The main window's own DTMF codes.

#include "announcer/mainwindow.h"

namespace mirelva {

// Comes with the main window's DTMF code work.
void MainWindow::EchoLink_DTMFString(const QString &) {}

} // namespace mirelva
