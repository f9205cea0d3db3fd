// Start-up, saving and ending of the main window, and its navigation buttons.

#include "announcer/mainwindow.h"

#include <QCloseEvent>

#include "core/onairlog.h"
#include "core/program.h"
#include "core/questions.h"
#include "core/version.h"
#include "dtmf/dtmfwindow.h"
#include "greeting/greetingwindow.h"
#include "messagebox/messageboxwindow.h"
#include "side/aboutwindow.h"
#include "side/webtoolswindow.h"
#include "speech_settings/speechsettingswindow.h"

namespace mirelva {

MainWindow::MainWindow(Station &st, QWidget *parent) : QMainWindow(parent), station(st)
{
    buildForm();
    wireHandlers();
    station.main = this;
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
    if (station.main == this)
        station.main = nullptr;
}

void MainWindow::closeEvent(QCloseEvent *event) { event->setAccepted(Program::ended() || !Form_QueryUnload()); }

void MainWindow::loadSettings()
{
    const IniFile &ini = m_ini;
    const auto text = [&ini](TextBox *box, const char *key, const char *def) {
        box->setText(ini.text(QLatin1String(key), QLatin1String(def)));
    };
    const auto check = [&ini](CheckBox *box, const char *key, const char *def) {
        box->setValue(ini.check(QLatin1String(key), QLatin1String(def)));
    };
    const auto option = [&ini](OptionButton *b, const char *key, const char *def) {
        b->setValue(ini.option(QLatin1String(key), QLatin1String(def)));
    };

    check(Sun, "SUN", "0");
    check(Mon, "MON", "0");
    check(Tue, "TUE", "0");
    check(Wed, "WED", "0");
    check(Thur, "THUR", "0");
    check(Fri, "FRI", "0");
    check(Sat, "SAT", "0");
    text(HourOFF1, "HOUROFF1", "24");
    text(MinsOFF1, "MINSOFF1", "00");
    text(HourON1b, "HOURON1b", "24");
    text(MinsON1b, "MINSON1b", "00");
    check(Sun2, "SUN2", "0");
    check(Mon2, "MON2", "0");
    check(Tue2, "TUE2", "0");
    check(Wed2, "WED2", "0");
    check(Thur2, "THUR2", "0");
    check(Fri2, "FRI2", "0");
    check(Sat2, "SAT2", "0");
    text(HourOFF2, "HOUROFF2", "24");
    text(MinsOFF2, "MINSOFF2", "00");
    text(HourON2b, "HOURON2b", "24");
    text(MinsON2b, "MINSON2b", "00");
    check(Sun3, "SUN3", "0");
    check(Mon3, "MON3", "0");
    check(Tue3, "TUE3", "0");
    check(Wed3, "WED3", "0");
    check(Thur3, "THUR3", "0");
    check(Fri3, "FRI3", "0");
    check(Sat3, "SAT3", "0");
    text(HourOFF3, "HOUROFF3", "24");
    text(MinsOFF3, "MINSOFF3", "00");
    text(HourON3b, "HOURON3b", "24");
    text(MinsON3b, "MINSON3b", "00");
    text(AnnounceOff, "ANNOUNCEOFF", "");
    text(AnnounceOn, "ANNOUNCEON", "");
    check(Check1, "CHECK1", "0");
    check(Check2, "CHECK2", "0");
    option(Option1, "OPTION1", "1");
    option(Option2, "OPTION2", "0");
    check(SayText, "SAYTEXT", "0");
    check(StayCon1, "STAYCON1", "0");
    check(StayCon2, "STAYCON2", "0");
    text(EnableAutoConnect, "ENABLEAUTOCONNECT", "*1*");
    text(DisableAutoConnect, "DISABLEAUTOCONNECT", "*0*");
    check(IDCheck, "IDCHECK", "0");
    text(VoicePeriod, "VOICEPERIOD", "10");
    text(TextInput3, "TEXTINPUT3", "TTS Text Here");
    text(InfoText, "INFOTEXT", "TTS Text Here");
    check(OnHour, "TXTIMEHOUR", "0");
    check(QuarterHour, "TXQUARTERHOUR", "0");
    check(HalfHour, "TXHALFHOUR", "0");
    check(InfoHourly, "INFOHOURLY", "0");
    check(InfoQuarter, "INFOQUATER", "0");
    check(InfoHalf, "INFOHALF", "0");
    text(BeaconPeriod3, "BEACONPERIOD3", "10");
    check(StopClock3, "STOPCLOCK3", "0");
    text(ConnectStation1, "CONNECTSTATION1", "");
    text(ConnectStation2, "CONNECTSTATION2", "");
    check(StopClock6, "STOPCLOCK6", "0");
    text(BeaconPeriod6, "BEACONPERIOD6", "10");
    text(Callsign, "CALLSIGN", "");
    check(StopClock7, "STOPCLOCK7", "0");
    text(BeaconPeriod7, "BEACONPERIOD7", "15");
    text(CWCallsign, "CWCALLSIGN", " ");
    check(ConDisc, "CONDISC", "1");
    check(AddTime, "ADDTIME", "1");
    const double left = ini.twips(QStringLiteral("LEFT"), QStringLiteral("300"));
    const double top = ini.twips(QStringLiteral("TOP"), QStringLiteral("300"));
    moveToTwips(this, left, top);
    text(CourtesyID, "COURTESYID", "K");
    text(IPCourtesy, "IPCOURTESY", "S");
    text(HangTime, "HANGTIME", "500");
    text(KerchunkWait, "KERCHUNKWAIT", "3000");
    check(UseCT, "USECT", "1");
    text(FanPeriod, "FANPERIOD", "1");
    check(FanCTRL, "FANCTRL", "1");
    text(TTSPeriod, "TTSPERIOD", "0");
    text(ToggleText, "TOGGLETEXT", "");
    check(TTSCTRL, "TTSCTRL", "0");
    option(UseDTR, "USEDTR", "1");
    option(UseRTS, "USERTS", "0");
    text(DelayPeriod, "DELAYPERIOD", "10");
    check(DelayCTRL, "DELAYCTRL", "0");
    check(Check3, "CHECK3", "1");
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
    // One save: the keys below go to the file together, in one replacement.
    IniFile::Save save(m_ini);
    const IniFile &ini = m_ini;
    const auto text = [&ini](const char *key, const TextBox *box) { ini.write(QLatin1String(key), box->text()); };
    const auto check = [&ini](const char *key, const CheckBox *box) { ini.writeCheck(QLatin1String(key), box->value()); };
    const auto option = [&ini](const char *key, const OptionButton *b) { ini.writeOption(QLatin1String(key), b->value()); };

    check("SUN", Sun);
    check("MON", Mon);
    check("TUE", Tue);
    check("WED", Wed);
    check("THUR", Thur);
    check("FRI", Fri);
    check("SAT", Sat);
    text("HOUROFF1", HourOFF1);
    text("MINSOFF1", MinsOFF1);
    text("HOURON1B", HourON1b);
    text("MINSON1B", MinsON1b);
    check("SUN2", Sun2);
    check("MON2", Mon2);
    check("TUE2", Tue2);
    check("WED2", Wed2);
    check("THUR2", Thur2);
    check("FRI2", Fri2);
    check("SAT2", Sat2);
    text("HOUROFF2", HourOFF2);
    text("MINSOFF2", MinsOFF2);
    text("TOGGLETEXT", ToggleText);
    text("HOURON2B", HourON2b);
    text("MINSON2B", MinsON2b);
    check("SUN3", Sun3);
    check("MON3", Mon3);
    check("TUE3", Tue3);
    check("WED3", Wed3);
    check("THUR3", Thur3);
    check("FRI3", Fri3);
    check("SAT3", Sat3);
    text("HOUROFF3", HourOFF3);
    text("MINSOFF3", MinsOFF3);
    text("HOURON3B", HourON3b);
    text("MINSON3B", MinsON3b);
    text("ANNOUNCEOFF", AnnounceOff);
    text("ANNOUNCEON", AnnounceOn);
    check("CHECK1", Check1);
    check("CHECK2", Check2);
    option("OPTION1", Option1);
    option("OPTION2", Option2);
    check("SAYTEXT", SayText);
    // While nets run they hold the boxes cleared; the file keeps what the
    // operator set.
    for (int n = 1; n <= 2; ++n)
        ini.writeCheck(QStringLiteral("STAYCON%1").arg(n),
                       station.dtmf ? station.dtmf->operatorStayCon(n) : (n == 1 ? StayCon1 : StayCon2)->value());
    text("ENABLEAUTOCONNECT", EnableAutoConnect);
    text("DISABLEAUTOCONNECT", DisableAutoConnect);
    check("IDCHECK", IDCheck);
    text("VOICEPERIOD", VoicePeriod);
    text("TEXTINPUT3", TextInput3);
    text("INFOTEXT", InfoText);
    check("TXTIMEHOUR", OnHour);
    check("TXQUARTERHOUR", QuarterHour);
    check("TXHALFHOUR", HalfHour);
    check("INFOHOURLY", InfoHourly);
    check("INFOQUATER", InfoQuarter);
    check("INFOHALF", InfoHalf);
    text("BEACONPERIOD3", BeaconPeriod3);
    check("STOPCLOCK3", StopClock3);
    ini.write(QStringLiteral("CONNECTSTATION1"), ConnectStation1->text().toUpper());
    ini.write(QStringLiteral("CONNECTSTATION2"), ConnectStation2->text().toUpper());
    check("STOPCLOCK6", StopClock6);
    text("BEACONPERIOD6", BeaconPeriod6);
    text("CALLSIGN", Callsign);
    check("STOPCLOCK7", StopClock7);
    text("BEACONPERIOD7", BeaconPeriod7);
    text("CWCALLSIGN", CWCallsign);
    check("CONDISC", ConDisc);
    check("ADDTIME", AddTime);
    ini.write(QStringLiteral("LEFT"), Convert::twipsToText(leftInTwips(this)));
    ini.write(QStringLiteral("TOP"), Convert::twipsToText(topInTwips(this)));
    text("COURTESYID", CourtesyID);
    text("IPCOURTESY", IPCourtesy);
    text("HANGTIME", HangTime);
    text("KERCHUNKWAIT", KerchunkWait);
    check("USECT", UseCT);
    text("FANPERIOD", FanPeriod);
    check("FANCTRL", FanCTRL);
    text("TTSPERIOD", TTSPeriod);
    check("TTSCTRL", TTSCTRL);
    option("USEDTR", UseDTR);
    option("USERTS", UseRTS);
    text("DELAYPERIOD", DelayPeriod);
    check("DELAYCTRL", DelayCTRL);
    check("CHECK3", Check3);
}

bool MainWindow::Form_QueryUnload()
{
    const auto answer = Questions::askYesNo(this, QStringLiteral("Exit Program"),
                                            QStringLiteral("Quit Mirelva - Are You Sure ? Remember To Save Any Changes  "));
    if (answer == Questions::Answer::No)
        return true;
    if (Echolink) {
        Echolink->SetPTT(false);
        Echolink->SetRTS(false);
        Echolink->SetDTR(false);
    }
    Program::end();
    return false;
}

void MainWindow::EchoLink_Closing()
{
    if (Program::ended())
        return;
    Echolink->SetPTT(false);
    Echolink->SetDTR(false);
    Echolink->SetRTS(false);
    // The greeting window keeps its settings when the node closes; its own
    // handler of the closing would come after this one has ended the program.
    if (station.greeting)
        station.greeting->SaveData();
    Program::end();
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
