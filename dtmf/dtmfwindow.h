#pragma once

#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QTabWidget>
#include <QWidget>

#include "core/catchup.h"
#include "ui/controls.h"
#include "ui/echolink.h"
#include "core/settingsstore.h"
#include "ui/settingtable.h"
#include "ui/station.h"
#include "ui/stationwindow.h"
#include "ui/vbtimer.h"

namespace mirelva {

// The DTMF control and net scheduler window: codes received over the air
// connect and disconnect single stations and groups, disconnect the last or
// all stations and switch two options; its buttons do the same by hand; four
// nets are joined at set times and left after set minutes. It speaks nothing
// and keys nothing. Controls carry the names the handlers were written
// against and are public, so the main window and the tests reach them.
//
// The sources are split by subject: dtmfwindow_form.cpp builds the form,
// dtmfwindow.cpp holds start-up, saving and ending, dtmf_commands.cpp the
// codes, buttons and acceptance delay, dtmf_nets.cpp the net scheduler.
class DtmfWindow : public StationWindow {
    Q_OBJECT
public:
    explicit DtmfWindow(Station &station, QWidget *parent = nullptr);

    // ---- start-up, settings and ending --------------------------------
    void Form_Load();
    void SaveData();
    void refreshCaption();
    void Command16_Click();     // "Hide"
    void Command1_Click();      // "Hide"

    static constexpr int kIniCapacity = 256;
    static QString iniName() { return QStringLiteral("dtmfctrl.ini"); }
    // Every setting of dtmfctrl.ini: what load, save and the web page read.
    static const SettingTable &settingTable();

    // ---- DTMF codes, acceptance delay, re-enable ------------------------
    void EchoLink_DTMFString(const QString &sDigits);
    void DTMFDelay_Timer();
    void Timer1_Timer();
    void DTMFDelaySeconds_Change();
    void BeaconPeriod_Change();
    void Check1_Change();
    // Connect a station that is not connected, disconnect one that is.
    void toggle(const TextBox *call);
    void connectGroup(int group);       // 1: GroupCall1-3, 2: GroupCall4-6
    void disconnectGroup(int group);

    // ---- manual connects and the last connected station ----------------
    void Echolink_connected(const QString &sCallConnected, const QString &sName, const QString &sAddr);
    void Command3_Click();      // connect group 1
    void Command4_Click();      // disconnect group 1
    void Command5_Click();      // connect group 2
    void Command6_Click();      // disconnect group 2
    void CallBox_Change(TextBox *box);

    // ---- net scheduler ---------------------------------------------------
    void Timer2_Timer();
    void Timer3_Timer();
    void Timer4_Timer();
    void Timer5_Timer();
    void Timer6_Timer();
    void DiscMins_Change(int net);
    void TimeBox_Change(TextBox *box);

    // The controls of one net, numbered 1 to 4.
    struct Net {
        TextBox *NetCall;
        TextBox *Hour;
        TextBox *Mins;
        CheckBox *days[7];      // Sun .. Sat
        CheckBox *DisconnectAll;
        CheckBox *ShowBusy;
        CheckBox *Use;          // Check3, Check2, Check11, Check20
        TextBox *DiscMins;
        QLabel *DiscPeriod;
        VbTimer *timer;         // Timer3 .. Timer6
    };
    Net net(int n) const;

    // "Stay Con" of the main window as the operator set it, kept while nets
    // run (they clear the boxes).
    int SavedStayCon1 = 0;
    int SavedStayCon2 = 0;
    bool netRunning(int n) const;
    bool anyNetRunning() const;
    // "Stay Con" 1 or 2 as the operator set it, whether a net runs or not:
    // what the main window saves.
    int operatorStayCon(int box) const;
    // Nets hold the "Stay Con" boxes cleared now.
    bool holdsStayCon() const { return m_stayConTaken; }
    // The operator (by hand or by a code) set "Stay Con" 1 or 2 to value.
    void stayConChosen(int box, int value);
    void Echolink_Disconnected(const QString &sCall);

    // ---- the form ----------------------------------------------------------
    QTabWidget *SSTab1 = nullptr;

    // tab "DTMF Control"
    TextBox *Text222 = nullptr;
    TextBox *Text333 = nullptr;
    CheckBox *Check1 = nullptr;
    TextBox *BeaconPeriod = nullptr;
    QLabel *BeaconSeconds = nullptr;
    TextBox *Text1111 = nullptr;
    TextBox *Text2222 = nullptr;
    CheckBox *UseDTMFDelay = nullptr;
    TextBox *DTMFDelaySeconds = nullptr;
    QLabel *DTMFDelayPeriod = nullptr;
    QLabel *PTT3 = nullptr;
    TextBox *Text555 = nullptr;
    TextBox *LastConnected = nullptr;
    TextBox *Text111 = nullptr;
    TextBox *DTMF = nullptr;
    CheckBox *UseDTMF = nullptr;
    TextBox *Call1 = nullptr, *Call2 = nullptr, *Call3 = nullptr, *Call4 = nullptr, *Call5 = nullptr,
            *Call6 = nullptr, *Call7 = nullptr, *Call8 = nullptr;
    TextBox *DTMF1 = nullptr, *DTMF2 = nullptr, *DTMF3 = nullptr, *DTMF4 = nullptr, *DTMF5 = nullptr,
            *DTMF6 = nullptr, *DTMF7 = nullptr, *DTMF8 = nullptr;
    QPushButton *Command7 = nullptr, *Command8 = nullptr, *Command9 = nullptr, *Command10 = nullptr,
                *Command11 = nullptr, *Command12 = nullptr, *Command13 = nullptr, *Command15 = nullptr;
    TextBox *GroupCall1 = nullptr, *GroupCall2 = nullptr, *GroupCall3 = nullptr, *GroupCall4 = nullptr,
            *GroupCall5 = nullptr, *GroupCall6 = nullptr;
    TextBox *DTMFGroup1Connect = nullptr, *DTMFGroup1Disc = nullptr, *DTMFGroup2Connect = nullptr,
            *DTMFGroup2Disc = nullptr;
    QPushButton *Command3 = nullptr, *Command4 = nullptr, *Command5 = nullptr, *Command6 = nullptr;
    QPushButton *Command2 = nullptr;    // "Save"
    QPushButton *Command1 = nullptr;    // "Hide"

    // tab "Net Scheduler"
    TextBox *NetCall1 = nullptr, *NetCall2 = nullptr, *NetCall3 = nullptr, *NetCall4 = nullptr;
    TextBox *Hour = nullptr, *Mins = nullptr, *Hour2 = nullptr, *Mins2 = nullptr, *Hour3 = nullptr,
            *Mins3 = nullptr, *Hour4 = nullptr, *Mins4 = nullptr;
    CheckBox *Sun = nullptr, *Mon = nullptr, *Tue = nullptr, *Wed = nullptr, *Thur = nullptr, *Fri = nullptr,
             *Sat = nullptr;
    CheckBox *Sun2 = nullptr, *Mon2 = nullptr, *Tue2 = nullptr, *Wed2 = nullptr, *Thur2 = nullptr,
             *Fri2 = nullptr, *Sat2 = nullptr;
    CheckBox *Sun3 = nullptr, *Mon3 = nullptr, *Tue3 = nullptr, *Wed3 = nullptr, *Thur3 = nullptr,
             *Fri3 = nullptr, *Sat3 = nullptr;
    CheckBox *Sun4 = nullptr, *Mon4 = nullptr, *Tue4 = nullptr, *Wed4 = nullptr, *Thur4 = nullptr,
             *Fri4 = nullptr, *Sat4 = nullptr;
    CheckBox *DisconnectAll1 = nullptr, *DisconnectAll2 = nullptr, *DisconnectAll3 = nullptr,
             *DisconnectAll4 = nullptr;
    CheckBox *ShowBusy1 = nullptr, *ShowBusy2 = nullptr, *ShowBusy3 = nullptr, *ShowBusy4 = nullptr;
    CheckBox *Check3 = nullptr, *Check2 = nullptr, *Check11 = nullptr, *Check20 = nullptr;
    TextBox *DiscMins1 = nullptr, *DiscMins2 = nullptr, *DiscMins3 = nullptr, *DiscMins4 = nullptr;
    QLabel *DiscPeriod1 = nullptr, *DiscPeriod2 = nullptr, *DiscPeriod3 = nullptr, *DiscPeriod4 = nullptr;
    CheckBox *RFBusy = nullptr;
    CheckBox *Check4 = nullptr;         // one-minute warning: shown, not yet acted on
    QLabel *ShowTime = nullptr;
    QPushButton *Command14 = nullptr;   // "Save"
    QPushButton *Command16 = nullptr;   // "Hide"

    // timers (design intervals and states are set where the form is built)
    VbTimer *DTMFDelay = nullptr;
    VbTimer *Timer1 = nullptr;
    VbTimer *Timer2 = nullptr;
    VbTimer *Timer3 = nullptr;
    VbTimer *Timer4 = nullptr;
    VbTimer *Timer5 = nullptr;
    VbTimer *Timer6 = nullptr;

private:
    void buildForm();           // dtmfwindow_form.cpp
    void wireHandlers();        // dtmfwindow_form.cpp
    void wireEchoLink();        // dtmfwindow_form.cpp, once the instance exists
    void wireTimers();          // dtmfwindow_form.cpp, when the window starts running
    void loadSettings();        // dtmfwindow.cpp
    void startNet(int n);       // dtmf_nets.cpp
    void netCountdown(int n);   // dtmf_nets.cpp
    void takeStayCon();         // dtmf_nets.cpp
    void netEnded();            // dtmf_nets.cpp
    void netBusyEnded(int n);   // dtmf_nets.cpp
    bool isNetStation(int n, const QString &call) const;
    void netStationConnected(const QString &sCall);

    SecondsOwed m_netSeconds;
    bool m_stayConTaken = false;
    bool m_settingStayCon = false;
    bool m_netJoined[5] = {};   // by net number: its station was reported connected since it started

    bool m_loaded = false;
};

} // namespace mirelva
