// Start-up, saving and ending of the DTMF window, and its "Hide" buttons.

#include "dtmf/dtmfwindow.h"

#include <QCloseEvent>

#include "announcer/mainwindow.h"
#include "core/program.h"
#include "core/questions.h"
#include "core/version.h"

namespace mirelva {

DtmfWindow::DtmfWindow(Station &st, QWidget *parent) : QWidget(parent), station(st)
{
    buildForm();
    wireHandlers();
    station.dtmf = this;
}

DtmfWindow::~DtmfWindow()
{
    if (station.dtmf == this)
        station.dtmf = nullptr;
}

// Asked whatever causes the closing; once the program has ended, nothing is.
void DtmfWindow::closeEvent(QCloseEvent *event) { event->setAccepted(Program::ended() || !Form_QueryUnload()); }

namespace {
QString numbered(const char *stem, int n) { return QLatin1String(stem) + QString::number(n); }
// A net's weekday keys, Sunday first; net 1's carry no number.
QString dayKey(int day, int net)
{
    static const char *const days[7] = {"SUN", "MON", "TUE", "WED", "THUR", "FRI", "SAT"};
    return QLatin1String(days[day]) + (net == 1 ? QString() : QString::number(net));
}
QString netKey(const char *stem, int net) { return QLatin1String(stem) + (net == 1 ? QString() : QString::number(net)); }
} // namespace

void DtmfWindow::loadSettings()
{
    const IniFile &ini = m_ini;
    const auto text = [&ini](TextBox *box, const QString &key, const char *def) {
        box->setText(ini.text(key, QLatin1String(def)));
    };
    const auto check = [&ini](CheckBox *box, const QString &key, const char *def) {
        box->setValue(ini.check(key, QLatin1String(def)));
    };
    // A net's weekdays and start, keys "SUN2" ... "MINS2".
    const auto netDaysAndStart = [&](int n) {
        for (int d = 0; d < 7; ++d)
            check(net(n).days[d], dayKey(d, n), "0");
        text(net(n).Hour, netKey("HOUR", n), "24");
        text(net(n).Mins, netKey("MINS", n), "00");
    };

    for (int n = 1; n <= 4; ++n)
        text(net(n).DiscMins, numbered("DISCMINS", n), "0");
    check(Check2, QStringLiteral("CHECK2"), "0");
    check(Check3, QStringLiteral("CHECK3"), "0");
    check(Check11, QStringLiteral("CHECK11"), "0");
    check(Check20, QStringLiteral("CHECK20"), "0");
    text(DTMFDelaySeconds, QStringLiteral("DTMFDELAYSECONDS"), "5");
    check(UseDTMFDelay, QStringLiteral("USEDTMFDELAY"), "0");
    text(Text555, QStringLiteral("TEXT555"), "");
    text(BeaconPeriod, QStringLiteral("BEACONPERIOD"), "1");
    text(Text111, QStringLiteral("TEXT111"), "73");
    text(Text222, QStringLiteral("TEXT222"), "");
    text(Text333, QStringLiteral("TEXT333"), "");
    check(Check1, QStringLiteral("CHECK1"), "1");
    text(Text1111, QStringLiteral("TEXT1111"), "");
    text(Text2222, QStringLiteral("TEXT2222"), "");
    TextBox *codes[8] = {DTMF1, DTMF2, DTMF3, DTMF4, DTMF5, DTMF6, DTMF7, DTMF8};
    for (int n = 1; n <= 8; ++n)
        text(codes[n - 1], numbered("DTMF", n), "");
    TextBox *calls[8] = {Call1, Call2, Call3, Call4, Call5, Call6, Call7, Call8};
    for (int n = 1; n <= 8; ++n)
        text(calls[n - 1], numbered("CALL", n), "");
    text(DTMFGroup1Connect, QStringLiteral("DTMFGROUP1CONNECT"), "");
    text(DTMFGroup1Disc, QStringLiteral("DTMFGROUP1DISC"), "");
    text(DTMFGroup2Connect, QStringLiteral("DTMFGROUP2CONNECT"), "");
    text(DTMFGroup2Disc, QStringLiteral("DTMFGROUP2DISC"), "");
    TextBox *members[6] = {GroupCall1, GroupCall2, GroupCall3, GroupCall4, GroupCall5, GroupCall6};
    for (int n = 1; n <= 6; ++n)
        text(members[n - 1], numbered("GROUPCALL", n), "");
    netDaysAndStart(2);
    for (int n = 1; n <= 4; ++n)
        text(net(n).NetCall, numbered("NETCALL", n), "");
    netDaysAndStart(1);
    netDaysAndStart(3);
    netDaysAndStart(4);
    for (int n = 1; n <= 4; ++n)
        check(net(n).DisconnectAll, numbered("DISCONNECTALL", n), "0");
    // With none stored (a first start) the window opens beside the main
    // window when it is first shown, not over it.
    const QString left = ini.text(QStringLiteral("LEFT"), QString());
    const QString top = ini.text(QStringLiteral("TOP"), QString());
    if (!left.isEmpty() || !top.isEmpty())
        moveToTwips(this, ini.twips(QStringLiteral("LEFT"), QStringLiteral("300")),
                    ini.twips(QStringLiteral("TOP"), QStringLiteral("300")));
    text(DTMF, QStringLiteral("DTMF"), "123");
    check(UseDTMF, QStringLiteral("USEDTMF"), "1");
    for (int n = 1; n <= 4; ++n)
        check(net(n).ShowBusy, numbered("SHOWBUSY", n), "0");
    check(RFBusy, QStringLiteral("RFBUSY"), "0");
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
    // One save: the keys below go to the file together, in one replacement.
    IniFile::Save save(m_ini);
    const IniFile &ini = m_ini;
    const auto text = [&ini](const QString &key, const TextBox *box) { ini.write(key, box->text()); };
    const auto check = [&ini](const QString &key, const CheckBox *box) { ini.writeCheck(key, box->value()); };
    const auto netDaysAndStart = [&](int n) {
        for (int d = 0; d < 7; ++d)
            check(dayKey(d, n), net(n).days[d]);
        text(netKey("HOUR", n), net(n).Hour);
        text(netKey("MINS", n), net(n).Mins);
    };

    for (int n = 1; n <= 4; ++n)
        text(numbered("DISCMINS", n), net(n).DiscMins);
    check(QStringLiteral("CHECK2"), Check2);
    check(QStringLiteral("CHECK3"), Check3);
    check(QStringLiteral("CHECK11"), Check11);
    check(QStringLiteral("CHECK20"), Check20);
    text(QStringLiteral("DTMFDELAYSECONDS"), DTMFDelaySeconds);
    check(QStringLiteral("USEDTMFDELAY"), UseDTMFDelay);
    text(QStringLiteral("TEXT555"), Text555);
    text(QStringLiteral("BEACONPERIOD"), BeaconPeriod);
    text(QStringLiteral("TEXT111"), Text111);
    text(QStringLiteral("TEXT222"), Text222);
    text(QStringLiteral("TEXT333"), Text333);
    check(QStringLiteral("CHECK1"), Check1);
    text(QStringLiteral("TEXT1111"), Text1111);
    text(QStringLiteral("TEXT2222"), Text2222);
    const TextBox *codes[8] = {DTMF1, DTMF2, DTMF3, DTMF4, DTMF5, DTMF6, DTMF7, DTMF8};
    for (int n = 1; n <= 8; ++n)
        text(numbered("DTMF", n), codes[n - 1]);
    const TextBox *calls[8] = {Call1, Call2, Call3, Call4, Call5, Call6, Call7, Call8};
    for (int n = 1; n <= 8; ++n)
        text(numbered("CALL", n), calls[n - 1]);
    text(QStringLiteral("DTMFGROUP1CONNECT"), DTMFGroup1Connect);
    text(QStringLiteral("DTMFGROUP1DISC"), DTMFGroup1Disc);
    text(QStringLiteral("DTMFGROUP2CONNECT"), DTMFGroup2Connect);
    text(QStringLiteral("DTMFGROUP2DISC"), DTMFGroup2Disc);
    const TextBox *members[6] = {GroupCall1, GroupCall2, GroupCall3, GroupCall4, GroupCall5, GroupCall6};
    for (int n = 1; n <= 6; ++n)
        text(numbered("GROUPCALL", n), members[n - 1]);
    netDaysAndStart(2);
    for (int n = 1; n <= 4; ++n)
        text(numbered("NETCALL", n), net(n).NetCall);
    netDaysAndStart(1);
    netDaysAndStart(3);
    netDaysAndStart(4);
    for (int n = 1; n <= 4; ++n)
        check(numbered("DISCONNECTALL", n), net(n).DisconnectAll);
    ini.write(QStringLiteral("LEFT"), Convert::twipsToText(leftInTwips(this)));
    ini.write(QStringLiteral("TOP"), Convert::twipsToText(topInTwips(this)));
    text(QStringLiteral("DTMF"), DTMF);
    check(QStringLiteral("USEDTMF"), UseDTMF);
    for (int n = 1; n <= 4; ++n)
        check(numbered("SHOWBUSY", n), net(n).ShowBusy);
    check(QStringLiteral("RFBUSY"), RFBusy);
}

bool DtmfWindow::Form_QueryUnload()
{
    const auto answer = Questions::askYesNo(this, QStringLiteral("Exit Program"),
                                            QStringLiteral("Quit Mirelva - Are You Sure ? Remember To Save Any Changes  "));
    if (answer == Questions::Answer::No)
        return true;
    // The program may end in the middle of a keyed announcement; the
    // transmitter is never left keyed behind us.
    if (Echolink)
        Echolink->SetPTT(false);
    Program::end();
    return false;
}

void DtmfWindow::EchoLink_Closing()
{
    if (Program::ended())
        return;
    Echolink->SetPTT(false);
    Program::end();
}

// Hidden, the window keeps its timers and its node events running.
void DtmfWindow::Command16_Click() { hide(); }
void DtmfWindow::Command1_Click() { hide(); }

} // namespace mirelva
