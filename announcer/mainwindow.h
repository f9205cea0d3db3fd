#pragma once

#include <memory>
#include <vector>

#include <optional>

#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QString>
#include <QTabWidget>

#include "core/catchup.h"
#include "ui/controls.h"
#include "ui/echolink.h"
#include "core/nodelinkconfig.h"
#include "core/settingsstore.h"
#include "ui/settingtable.h"
#include "ui/station.h"
#include "ui/stationwindow.h"
#include "ui/vbtimer.h"

namespace mirelva {

// The main window is the program: start-up, the speech pipeline, the clock,
// idents and beacons, the kerchunk guard, silence schedules and fan,
// connection announcements, auto-connect, its DTMF codes and its buttons.
// Controls carry the names the handlers were written against; every one is a
// public member so the other windows and the tests reach it directly.
//
// The sources are split by subject: mainwindow_form.cpp builds the form,
// mainwindow.cpp holds start-up, saving and ending, and the announcer_*.cpp
// files the handlers of each subject.
class MainWindow : public StationWindowOf<QMainWindow> {
    Q_OBJECT
public:
    explicit MainWindow(Station &station, QWidget *parent = nullptr);
    ~MainWindow() override;

    // ---- start-up, settings and ending --------------------------------
    // Loads this window and then the other windows. The program leaves the
    // others for later so that its window is painted first: Form_Load then
    // holds the node's events until loadOtherWindows() has loaded them, and
    // the caller lets no timer tick before that, so no event or tick reaches
    // a station with only some of its windows.
    enum class OtherWindows { Now, Later };
    void Form_Load(OtherWindows others = OtherWindows::Now);
    // Loads the other windows hidden, in their order, and lets the node's
    // events go on; once only, and not after the program has ended.
    void loadOtherWindows();
    bool otherWindowsLoaded() const { return m_otherWindowsLoaded; }
    void SaveData();
    // Fills in the captions once the node's own callsign is known.
    void refreshCaption();
    void showNodeStatus();
    // The node's word that the radio cannot be keyed, as a lasting warning.
    void showPttProblem();

    // Warnings that stand in the status line until their cause is gone (a
    // sound device that cannot be opened, a settings file that could not be
    // written). Each has a key of its own; setting a key again replaces its
    // text in place, an empty text clears it. Several may stand at once, in
    // the order they first came; the status line shows them all, one a line,
    // and a screen reader reads them as the line's name.
    void setLastingWarning(const QString &key, const QString &text);
    void clearLastingWarning(const QString &key);
    QStringList lastingWarnings() const;

    static constexpr int kIniCapacity = 256;
    static QString iniName() { return QStringLiteral("mirelva.ini"); }
    // Every setting of mirelva.ini: what load, save and the web page read.
    static const SettingTable &settingTable();
    // What the save writes for a setting whose value is kept elsewhere for
    // now (the operator's "Stay Con" while nets hold the boxes cleared);
    // nothing for the others.
    std::optional<QString> keptText(const Setting &s) const;
    // Sets such a setting as the operator's own change would; false when
    // it is not kept elsewhere now (the control holds it).
    bool setKept(const Setting &s, const QString &value);

    // ---- speech output pipeline ----------------------------------------
    void SpeakTheText();
    void SleepTTS();
    // The transmitter, the clock and the other windows' state as they are,
    // painted now: a keyed speech blocks the thread before anything else
    // would paint them.
    void showOnAirStateNow();
    // The transmit indicator: red "PTT ON" or dark green "PTT OFF", spoken
    // by a screen reader when it changes.
    void showPtt(bool keyed);
    // The lasting warning for speech that is not heard, up while the voice
    // reports a problem, down once it is heard again.
    void showSoundProblem();
    // Length of one SleepTTS pause in milliseconds.
    static constexpr int kSleepTTSMs = 100;

    // ---- transmit time-out and bounded texts ---------------------------
    // No keyed transmission lasts longer than this: the speech is cut and the
    // transmitter released. The program entry sets it from nodelink.ini.
    qint64 transmitTimeoutMs = NodeLinkConfig::kDefaultTransmitTimeoutSeconds * 1000LL;
    // Texts from outside (station texts, chat texts) are bounded before they
    // reach the air: a keyed announcement speaks at most kMaxAirTextChars
    // characters, and a station text is spelled out to kMaxSpokenCallChars.
    static constexpr int kMaxAirTextChars = 250;
    static constexpr int kMaxSpokenCallChars = 32;
    // The text cut to at most maxChars characters, a character written as a
    // surrogate pair kept whole.
    static QString boundedText(const QString &text, int maxChars);
    // Says in the on-air log and the status line that a key-up ran out its
    // time and was ended.
    void reportTransmitTimeout();
    // A last guard, run by the clock tick: a key-up of ours that has run out
    // its time while the thread was free is released here.
    void checkTransmitTimeout();
    void SayCall_Click();
    void SayCallNoPTT_Click();
    void Speak3_Click();
    void TextNoPTT3_Click();
    void SpeakInfo_Click();
    void InfoNoPTT_Click();
    void TTSPeriod_Change();

    // ---- clock tick and time announcements -----------------------------
    void Timer1_Timer();
    void Timer4_Timer();
    void TheTime_Click();
    void TheTimeBit();
    QString timePhrase() const;   // the spoken time with its opening words

    // ---- identification and beacons ------------------------------------
    void Beacon6_Timer();
    void Beacon7_Timer();
    void Beacon3_Timer();
    void IDTimer_Timer();
    void SendCW_Click();
    void BeaconPeriod6_Change();
    void BeaconPeriod7_Change();
    void BeaconPeriod3_Change();
    void VoicePeriod_Change();

    // ---- kerchunk guard --------------------------------------------------
    void Kerchunker_Timer();
    void KickBackCheck_Timer();
    void KerchunkWait_Change();
    void HangTime_Change();
    void CourtesyID_Change();
    void IPCourtesy_Change();

    // ---- silence scheduler and fan ---------------------------------------
    void Timer5_Timer();
    void SilenceOn();
    void SilenceOFF();
    // The operator asked to be warned, so "Silence Mode Enabled" goes out at
    // once, while announcements are still enabled; queued, it would only meet
    // the silence at the next clock tick and be dropped. A busy link still
    // keeps it off the air, as it does every announcement. Taken off the
    // queue first: a clock tick handled inside the speech would otherwise say
    // it a second time.
    void sayQueuedSilenceWarning();
    void FanOn();
    void FanDelay_Timer();
    void Fan_Timer();
    void Timer6_Timer();
    void FanPeriod_Change();
    void DelayPeriod_Change();
    void ScheduleBox_Change(TextBox *box);

    // ---- connection events and call history ----------------------------
    void Echolink_connected(const QString &sCallConnected, const QString &sName, const QString &sAddr);
    void Echolink_Disconnected(const QString &sCall);
    void EchoLink_RX(bool bRX);
    void EchoLink_CarrierDetect(bool bCD);
    void SplitCall();
    bool speakAnnouncementNow();   // false when the program ended meanwhile
    void queueTimeIfAsked();
    bool announceListedConference(QString &name, int &pos, bool connecting, const QString &received);

    // ---- auto-connect ------------------------------------------------------
    void Connect1_Click();
    void Command2_Click();
    void Timer2_Timer();
    void Timer3_Timer();
    void ConnectStation1_Change();
    void ConnectStation2_Change();

    // ---- DTMF codes --------------------------------------------------------
    void EchoLink_DTMFString(const QString &sDigits);

    // ---- navigation --------------------------------------------------------
    void Command1_Click();
    void Command13_Click();
    void Command12_Click();
    void Command9_Click();
    void Command8_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void ClearText3_Click();
    void ClearInfoText_Click();

    // ---- public variables read and written by other windows --------------
    QString SayTheText;
    int flag2 = 0;
    int flag3 = 0;
    int flagtime = 0;
    double HowLongSec = 0;
    QString CWPending = QStringLiteral("0");
    int InUse = 0;
    QString TempCall;
    QString TempHold;

    // ---- the form ----------------------------------------------------------
    QTabWidget *SSTab1 = nullptr;
    QLabel *NodeStatus = nullptr;
    QLabel *Warnings = nullptr;

    // tab "Mirelva"
    TextBox *Callsign = nullptr;
    TextBox *TextInput3 = nullptr;
    TextBox *InfoText = nullptr;
    QLabel *Label19 = nullptr;
    QLabel *Label20 = nullptr;
    QLabel *Label21 = nullptr;
    QLabel *PTT = nullptr;
    QLabel *PTT2 = nullptr;
    QLabel *ShowTime = nullptr;
    CheckBox *Check1 = nullptr;
    CheckBox *TTSCTRL = nullptr;
    TextBox *TTSPeriod = nullptr;
    QPushButton *SayCall = nullptr;
    QPushButton *SayCallNoPTT = nullptr;
    QPushButton *Speak3 = nullptr;
    QPushButton *TextNoPTT3 = nullptr;
    QPushButton *SpeakInfo = nullptr;
    QPushButton *InfoNoPTT = nullptr;
    QPushButton *TheTime = nullptr;
    QPushButton *ClearText3 = nullptr;
    QPushButton *ClearInfoText = nullptr;
    CheckBox *OnHour = nullptr;
    CheckBox *QuarterHour = nullptr;
    CheckBox *HalfHour = nullptr;
    CheckBox *Check3 = nullptr;
    OptionGroup *TimeFormat = nullptr;
    OptionButton *Option1 = nullptr;
    OptionButton *Option2 = nullptr;
    TextBox *BeaconPeriod6 = nullptr;
    TextBox *BeaconPeriod7 = nullptr;
    TextBox *BeaconPeriod3 = nullptr;
    TextBox *VoicePeriod = nullptr;
    QLabel *BeaconSeconds6 = nullptr;
    QLabel *BeaconSeconds7 = nullptr;
    QLabel *BeaconSeconds3 = nullptr;
    QLabel *IDSeconds = nullptr;
    CheckBox *StopClock6 = nullptr;
    CheckBox *StopClock7 = nullptr;
    CheckBox *StopClock3 = nullptr;
    CheckBox *IDCheck = nullptr;
    TextBox *CWCallsign = nullptr;
    QPushButton *SendCW = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command13 = nullptr;
    QPushButton *Command12 = nullptr;
    QPushButton *Command9 = nullptr;
    QPushButton *Command8 = nullptr;
    QPushButton *Command3 = nullptr;
    QPushButton *SaveDataNow = nullptr;
    QPushButton *Command4 = nullptr;

    // tab "Connects and Settings"
    CheckBox *UseCT = nullptr;
    TextBox *CourtesyID = nullptr;
    TextBox *IPCourtesy = nullptr;
    TextBox *KerchunkWait = nullptr;
    TextBox *HangTime = nullptr;
    QLabel *OK2Kerchunk = nullptr;
    CheckBox *FanCTRL = nullptr;
    OptionGroup *FanLine = nullptr;
    OptionButton *UseDTR = nullptr;
    OptionButton *UseRTS = nullptr;
    TextBox *FanPeriod = nullptr;
    QLabel *FanSeconds = nullptr;
    QLabel *FanOnOff = nullptr;
    CheckBox *DelayCTRL = nullptr;
    TextBox *DelayPeriod = nullptr;
    QLabel *DelaySeconds = nullptr;
    CheckBox *ConDisc = nullptr;
    CheckBox *AddTime = nullptr;
    CheckBox *SayText = nullptr;
    CheckBox *InfoHourly = nullptr;
    CheckBox *InfoQuarter = nullptr;
    CheckBox *InfoHalf = nullptr;
    TextBox *ConnectStation1 = nullptr;
    TextBox *ConnectStation2 = nullptr;
    CheckBox *StayCon1 = nullptr;
    CheckBox *StayCon2 = nullptr;
    QPushButton *Connect1 = nullptr;
    QPushButton *Command2 = nullptr;
    TextBox *EnableAutoConnect = nullptr;
    TextBox *DisableAutoConnect = nullptr;
    TextBox *ToggleText = nullptr;
    QPushButton *Command6 = nullptr;

    // tab "Connect History"
    LogBox *CallHistory = nullptr;
    QPushButton *Command5 = nullptr;

    // tab "Silence Announcements "
    CheckBox *Sun = nullptr, *Mon = nullptr, *Tue = nullptr, *Wed = nullptr, *Thur = nullptr, *Fri = nullptr,
             *Sat = nullptr;
    CheckBox *Sun2 = nullptr, *Mon2 = nullptr, *Tue2 = nullptr, *Wed2 = nullptr, *Thur2 = nullptr,
             *Fri2 = nullptr, *Sat2 = nullptr;
    CheckBox *Sun3 = nullptr, *Mon3 = nullptr, *Tue3 = nullptr, *Wed3 = nullptr, *Thur3 = nullptr,
             *Fri3 = nullptr, *Sat3 = nullptr;
    TextBox *HourOFF1 = nullptr, *MinsOFF1 = nullptr, *HourON1b = nullptr, *MinsON1b = nullptr;
    TextBox *HourOFF2 = nullptr, *MinsOFF2 = nullptr, *HourON2b = nullptr, *MinsON2b = nullptr;
    TextBox *HourOFF3 = nullptr, *MinsOFF3 = nullptr, *HourON3b = nullptr, *MinsON3b = nullptr;
    CheckBox *Check2 = nullptr;
    QLabel *ShowTime2 = nullptr;
    TextBox *AnnounceOff = nullptr;
    TextBox *AnnounceOn = nullptr;
    QPushButton *Command11 = nullptr;

    // timers (design intervals and states are set where the form is built)
    VbTimer *Timer1 = nullptr;
    VbTimer *Timer4 = nullptr;
    VbTimer *IDTimer = nullptr;
    VbTimer *Beacon6 = nullptr;
    VbTimer *Beacon7 = nullptr;
    VbTimer *Beacon3 = nullptr;
    VbTimer *Kerchunker = nullptr;
    VbTimer *KickBackCheck = nullptr;
    VbTimer *Timer5 = nullptr;
    VbTimer *Timer6 = nullptr;
    VbTimer *Fan = nullptr;
    VbTimer *FanDelay = nullptr;
    VbTimer *Timer2 = nullptr;
    VbTimer *Timer3 = nullptr;

private:
    void buildForm();           // mainwindow_form.cpp
    void wireHandlers();        // mainwindow_form.cpp
    void loadSettings();        // mainwindow.cpp

    bool m_loaded = false;
    SecondsOwed m_markSeconds;      // the clock tick's hour, quarter and half
    SecondsOwed m_silenceSeconds;   // the silence schedules
    QList<std::pair<QString, QString>> m_warnings;   // key, text
    void showLastingWarnings();

    void wireEchoLink();        // mainwindow_form.cpp, once the instance exists
    void wireTimers();          // mainwindow_form.cpp, when the window starts running
    bool m_otherWindowsLoaded = false;
    bool m_holdingNodeEvents = false;
    // The windows loaded at start-up, alive as long as this one.
    std::vector<std::unique_ptr<QWidget>> m_otherWindows;
    template <class Window> void showLoadedWindow(Window *Station::*which);
};

} // namespace mirelva
