// Start-up, saving and ending of the main window, and its navigation buttons.

#include "announcer/mainwindow.h"

#include <QCloseEvent>

#include "core/onairlog.h"
#include "ui/program.h"
#include "ui/questions.h"
#include "core/version.h"
#include "dtmf/dtmfwindow.h"
#include "greeting/greetingwindow.h"
#include "messagebox/messageboxwindow.h"
#include "side/aboutwindow.h"
#include "side/webtoolswindow.h"
#include "speech_settings/speechsettingswindow.h"

namespace mirelva {

// "Yes" to the quit question and the node's closing both end the program
// without saving this window, releasing PTT, RTS and DTR first (in that order
// on the question, PTT, DTR and RTS on the closing). The greeting window
// keeps its settings when the node closes: its own handler of the closing
// would come after this one has ended the program.
MainWindow::MainWindow(Station &st, QWidget *parent)
    : StationWindowOf(st, parent, iniName(), kIniCapacity,
                      {QStringLiteral("Quit Mirelva - Are You Sure ? Remember To Save Any Changes  "),
                       {WindowEnding::Line::PTT, WindowEnding::Line::RTS, WindowEnding::Line::DTR},
                       {WindowEnding::Line::PTT, WindowEnding::Line::DTR, WindowEnding::Line::RTS},
                       {},
                       [this] {
                           if (station.greeting)
                               station.greeting->SaveData();
                       }})
{
    buildForm();
    wireHandlers();
    enlist(&Station::main);
    // Every window's settings file: a failed save or an unread file stays in
    // view until a save of that file succeeds.
    const auto warningKey = [](const QString &fileName) { return QStringLiteral("settings ") + fileName; };
    connect(&SettingsReports::instance(), &SettingsReports::problem, this,
            [this, warningKey](const QString &fileName, const QString &text) {
                setLastingWarning(warningKey(fileName), text);
            });
    connect(&SettingsReports::instance(), &SettingsReports::saved, this,
            [this, warningKey](const QString &fileName) { clearLastingWarning(warningKey(fileName)); });
}

MainWindow::~MainWindow()
{
    // The other windows go first, while the station still knows this one.
    while (!m_otherWindows.empty())
        m_otherWindows.pop_back();
}

void MainWindow::loadSettings()
{
    SettingTables::load(m_ini, this, settingTable());
    moveToTwips(this, m_ini.twips(QStringLiteral("LEFT"), QStringLiteral("300")),
                m_ini.twips(QStringLiteral("TOP"), QStringLiteral("300")));
}

void MainWindow::Form_Load(OtherWindows others)
{
    if (m_loaded)
        return;
    m_loaded = true;
    if (others == OtherWindows::Later && station.node) {
        station.node->holdEvents();
        m_holdingNodeEvents = true;
    }

    // 1. A second copy is turned away by the program entry before any window
    //    exists, so nothing here runs twice on one station.

    // 2. The voice is the station's one voice; the window gets its own
    //    EchoLink instance and hears the node's events on it.
    Echolink = new EchoLink(station.node, QStringLiteral("main"), this);
    wireEchoLink();
    connect(station.node, &NodeBackend::stateChanged, this, [this] {
        refreshCaption();
        showNodeStatus();
        showPttProblem();
    });
    connect(station.node, &NodeBackend::onlineChanged, this, [this] {
        refreshCaption();
        showNodeStatus();
    });

    // 3.
    refreshCaption();
    showNodeStatus();

    // 4.
    loadSettings();

    // 5.
    DelaySeconds->setText(DelayPeriod->text());

    // 6. Numbers the timer cannot take leave the interval as it was.
    Kerchunker->setInterval(KerchunkWait->number());
    KickBackCheck->setInterval(HangTime->number());

    // 7.
    CWPending = QStringLiteral("0");

    // 8.
    Echolink->setAutomationTimeouts(900000);

    // 9. Whatever state the last run left the radio in, it starts unkeyed.
    Echolink->SetPTT(false);
    Echolink->SetDTR(false);
    Echolink->SetRTS(false);

    // 10. Left for later, they come after this window has been painted.
    if (others == OtherWindows::Now) {
        loadOtherWindows();
        if (Program::ended())
            return;
    }

    // 11.
    flag2 = 0;
    flag3 = 0;
    flagtime = 0;

    show();
    wireTimers();
}

void MainWindow::loadOtherWindows()
{
    if (m_otherWindowsLoaded || !m_loaded || Program::ended())
        return;
    m_otherWindowsLoaded = true;
    // The other windows load here, hidden, in this order, each reading its own
    // settings file and creating its own EchoLink instance before the next:
    // DTMF control, speech settings, web tools, greeting, About, message box.
    // Each registers itself in the station as it is created.
    // A window that ends the program while it loads stops the loading.
    const auto load = [this](auto window) {
        if (!Program::ended())
            window->Form_Load();
        m_otherWindows.push_back(std::move(window));
    };
    load(std::make_unique<DtmfWindow>(station));
    load(std::make_unique<SpeechSettingsWindow>(station));
    load(std::make_unique<WebToolsWindow>(station));
    load(std::make_unique<GreetingWindow>(station));
    load(std::make_unique<AboutWindow>(station));
    load(std::make_unique<MessageBoxWindow>(station));
    // Every instance exists now: what the node said meanwhile reaches them
    // all, in the order they were made.
    if (std::exchange(m_holdingNodeEvents, false))
        station.node->releaseEvents();
}

void MainWindow::refreshCaption()
{
    if (!Echolink)
        return;
    const QString caption = windowCaption(Echolink->LocalStation());
    // Logged so that a script or test outside the process sees which node's
    // callsign the station shows.
    if (caption != windowTitle())
        OnAirLog::note(QStringLiteral("caption: ") + caption);
    setWindowTitle(caption);
}

void MainWindow::showNodeStatus()
{
    if (!NodeStatus || !station.node)
        return;
    const QString what = station.node->describe();
    NodeStatus->setText(station.node->online() ? QStringLiteral("Node: ") + what
                                               : QStringLiteral("Node offline: ") + what);
}

void MainWindow::showPttProblem()
{
    const QString problem = station.node ? station.node->state().pttProblem : QString();
    setLastingWarning(QStringLiteral("ptt"),
                      problem.isEmpty() ? QString() : QStringLiteral("The radio cannot be keyed: ") + problem);
}

void MainWindow::setLastingWarning(const QString &key, const QString &text)
{
    if (text.trimmed().isEmpty()) {
        clearLastingWarning(key);
        return;
    }
    const QString line = text.simplified();
    for (auto &[k, t] : m_warnings) {
        if (k == key) {
            if (t == line)
                return;
            t = line;
            showLastingWarnings();
            return;
        }
    }
    m_warnings.append({key, line});
    showLastingWarnings();
}

void MainWindow::clearLastingWarning(const QString &key)
{
    const auto n = m_warnings.removeIf([&key](const auto &w) { return w.first == key; });
    if (n > 0)
        showLastingWarnings();
}

QStringList MainWindow::lastingWarnings() const
{
    QStringList l;
    for (const auto &w : m_warnings)
        l << w.second;
    return l;
}

void MainWindow::showLastingWarnings()
{
    if (!Warnings)
        return;
    const QStringList lines = lastingWarnings();
    const QString text = lines.join(QLatin1Char('\n'));
    Warnings->setText(text);
    // A hidden line is still walked by a screen reader: it says so rather
    // than being read as a blank.
    Warnings->setAccessibleName(lines.isEmpty() ? QStringLiteral("No warnings") : text);
    Warnings->setVisible(!lines.isEmpty());
}

void MainWindow::SaveData()
{
    // One save: every key goes to the file together, in one replacement.
    SettingTables::save(m_ini, this, settingTable(), [this](const Setting &s) { return keptText(s); });
}

// While nets run they hold the "Stay Con" boxes cleared; the file keeps what
// the operator set.
std::optional<QString> MainWindow::keptText(const Setting &s) const
{
    for (int n = 1; n <= 2; ++n)
        if (station.dtmf && s.key == QStringLiteral("STAYCON%1").arg(n))
            return Convert::checkToText(station.dtmf->operatorStayCon(n));
    return std::nullopt;
}

bool MainWindow::setKept(const Setting &s, const QString &value)
{
    for (int n = 1; n <= 2; ++n)
        if (station.dtmf && station.dtmf->holdsStayCon() && s.key == QStringLiteral("STAYCON%1").arg(n)) {
            station.dtmf->stayConChosen(n, value.toInt());
            return true;
        }
    return false;
}

// ---- navigation --------------------------------------------------------------

template <class Window>
void MainWindow::showLoadedWindow(Window *Station::*which)
{
    // The window was loaded at start-up; showing it keeps whatever state it
    // has and never reads its settings again. A button pressed before the
    // other windows were loaded loads them first.
    loadOtherWindows();
    QWidget *window = station.*which;
    if (!window)
        return;
    // One without a place of its own opens beside this one, each further one
    // a step down the cascade (the node console stands at the first place).
    if (!hasPlace(window)) {
        int placed = 1;
        for (const auto &other : m_otherWindows)
            placed += other.get() != window && other->property("mirelvaPlacedBeside").toBool();
        placeBeside(window, this, placed);
        window->setProperty("mirelvaPlacedBeside", true);
    }
    window->show();
    window->raise();
    window->activateWindow();
}

void MainWindow::Command1_Click() { showLoadedWindow(&Station::messageBox); }
void MainWindow::Command13_Click() { showLoadedWindow(&Station::greeting); }
void MainWindow::Command12_Click() { showLoadedWindow(&Station::webTools); }
void MainWindow::Command9_Click() { showLoadedWindow(&Station::dtmf); }
void MainWindow::Command8_Click() { showLoadedWindow(&Station::speechSettings); }
void MainWindow::Command3_Click() { showLoadedWindow(&Station::about); }

void MainWindow::Command4_Click()
{
    // "Exit" asks nothing and saves nothing, but the transmitter is never
    // left keyed behind us. The fan line stays as it is, so a fan still
    // cooling the transmitter keeps running.
    if (Echolink)
        Echolink->SetPTT(false);
    Program::end();
}

void MainWindow::Command5_Click() { CallHistory->clear(); }
void MainWindow::ClearText3_Click() { TextInput3->clear(); }
void MainWindow::ClearInfoText_Click() { InfoText->clear(); }

} // namespace mirelva
