// Start-up, saving and ending of the DTMF window, and its "Hide" buttons.

#include "dtmf/dtmfwindow.h"

#include <QCloseEvent>

#include "announcer/mainwindow.h"
#include "ui/program.h"
#include "ui/questions.h"
#include "core/version.h"

namespace mirelva {

// "Yes" to the quit question ends the program without saving; the
// transmitter is released first, on the question and on the node's closing.
DtmfWindow::DtmfWindow(Station &st, QWidget *parent)
    : StationWindow(st, parent, iniName(), kIniCapacity,
                    {QStringLiteral("Quit Mirelva - Are You Sure ? Remember To Save Any Changes  "),
                     {WindowEnding::Line::PTT}, {WindowEnding::Line::PTT}, {}, {}})
{
    buildForm();
    wireHandlers();
    enlist(&Station::dtmf);
}

void DtmfWindow::loadSettings()
{
    SettingTables::load(m_ini, this, settingTable());
    // With none stored (a first start) the window opens beside the main
    // window when it is first shown, not over it.
    const QString left = m_ini.text(QStringLiteral("LEFT"), QString());
    const QString top = m_ini.text(QStringLiteral("TOP"), QString());
    if (!left.isEmpty() || !top.isEmpty())
        moveToTwips(this, m_ini.twips(QStringLiteral("LEFT"), QStringLiteral("300")),
                    m_ini.twips(QStringLiteral("TOP"), QStringLiteral("300")));
}

void DtmfWindow::Form_Load()
{
    if (m_loaded)
        return;
    m_loaded = true;

    // 1. A second copy is turned away by the program entry before any window
    //    exists.

    // 2. The window's own EchoLink instance, created after the main window's,
    //    so the main window hears each event first.
    Echolink = new EchoLink(station.node, QStringLiteral("dtmf"), this);
    wireEchoLink();
    connect(station.node, &NodeBackend::stateChanged, this, &DtmfWindow::refreshCaption);
    if (station.main) {
        connect(station.main->StayCon1, &QCheckBox::stateChanged, this,
                [this] { stayConChosen(1, station.main->StayCon1->value()); });
        connect(station.main->StayCon2, &QCheckBox::stateChanged, this,
                [this] { stayConChosen(2, station.main->StayCon2->value()); });
    }

    // 3.
    refreshCaption();

    // 4.
    Echolink->SetPTT(false);

    // 5. Each text set runs its box's change handler.
    loadSettings();

    // 6.
    Echolink->setAutomationTimeouts(900000);

    // 7. No net runs before one has started.
    Timer3->setEnabled(false);
    Timer4->setEnabled(false);
    Timer5->setEnabled(false);
    Timer6->setEnabled(false);

    wireTimers();
}

void DtmfWindow::refreshCaption()
{
    if (Echolink)
        setWindowTitle(windowCaption(Echolink->LocalStation(), QStringLiteral("   DTMFctrl and Nets")));
}

void DtmfWindow::SaveData()
{
    // One save: every key goes to the file together, in one replacement.
    SettingTables::save(m_ini, this, settingTable());
}

// Hidden, the window keeps its timers and its node events running.
void DtmfWindow::Command16_Click() { hide(); }
void DtmfWindow::Command1_Click() { hide(); }

} // namespace mirelva
