#pragma once

#include <array>
#include <functional>

#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include "ui/controls.h"
#include "ui/echolink.h"
#include "core/settingsstore.h"
#include "ui/settingtable.h"
#include "ui/station.h"
#include "ui/stationwindow.h"
#include "ui/vbtimer.h"

namespace mirelva {

// The greeting window: a few seconds after a station connects it sends one
// chat text, a greeting made of the station's name and one of nine stored
// texts, or a plain connect notice (slot 10), which also says goodbye when a
// station leaves. Every text sent is copied into the message box's log.
// Controls carry the names the handlers were written against and are public,
// so the main window, the message box and the tests reach them.
//
// greetingwindow_form.cpp builds the form; greetingwindow.cpp holds start-up,
// saving, ending and the sender.
class GreetingWindow : public StationWindow {
    Q_OBJECT
public:
    explicit GreetingWindow(Station &station, QWidget *parent = nullptr);

    // ---- start-up, settings and ending --------------------------------
    void Form_Load();
    void SaveData();
    void refreshCaption();
    void Command1_Click();      // "Hide"
    void Command2_Click();      // "Save Settings"
    void Timer1_Timer();        // the clock
    void Timer2_Timer();        // the character counters

    static constexpr int kIniCapacity = 500;
    static QString iniName() { return QStringLiteral("brisvel.ini"); }
    // Every setting of brisvel.ini: what load, save and the web page read.
    static const SettingTable &settingTable();
    static constexpr int kSlots = 10;
    static constexpr int kTextLimit = 160;

    // ---- the sender -------------------------------------------------------
    void Echolink_connected(const QString &sCallConnected, const QString &sName, const QString &sAddr);
    void Echolink_Disconnected(const QString &sCall);
    void Timer2Delay_Timer();
    void SendMessage();
    void PickRandomGreeting();

    // The slot selector n (1 to 10) and the text box of slot n (1 to 9).
    OptionButton *slot(int n) const;
    TextBox *slotText(int n) const;
    // The selected slot, 0 when none is.
    int selectedSlot() const;

    // Draws a number uniform in [0, 1) for the random pick; tests replace it.
    std::function<double()> random;

    // ---- window variables ---------------------------------------------------
    QString sCallConnectedx;
    QString sNamex;

    // ---- the form ----------------------------------------------------------
    OptionGroup *Slots = nullptr;
    OptionButton *Option1 = nullptr, *Option2 = nullptr, *Option3 = nullptr, *Option4 = nullptr,
                 *Option5 = nullptr, *Option6 = nullptr, *Option7 = nullptr, *Option8 = nullptr,
                 *Option9 = nullptr, *Option10 = nullptr;
    TextBox *TextTXMessage = nullptr, *TextTXMessage2 = nullptr, *TextTXMessage3 = nullptr,
            *TextTXMessage4 = nullptr, *TextTXMessage5 = nullptr, *TextTXMessage6 = nullptr,
            *TextTXMessage7 = nullptr, *TextTXMessage8 = nullptr, *TextTXMessage9 = nullptr;
    // Character counters of the nine texts, in slot order.
    QLabel *Label16 = nullptr, *Label17 = nullptr, *Label18 = nullptr, *Label19 = nullptr, *Label20 = nullptr,
           *Label21 = nullptr, *Label22 = nullptr, *Label23 = nullptr, *Label24 = nullptr;
    QLabel *Label10 = nullptr;  // the connect notice's explanation beside slot 10
    CheckBox *UseGreeting = nullptr;
    CheckBox *TimeStamp = nullptr;
    CheckBox *Check1 = nullptr;         // "Randomise  Greeting"
    TextBox *MaxRand = nullptr;
    TextBox *BeaconPeriodDelay = nullptr;
    QLabel *BeaconSecondsDelay = nullptr;
    QLabel *ShowTime = nullptr;
    QLabel *StatusLine = nullptr;   // empty while every text goes out
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;

    VbTimer *Timer2Delay = nullptr;
    VbTimer *Timer1 = nullptr;
    VbTimer *Timer2 = nullptr;

private:
    void buildForm();           // greetingwindow_form.cpp
    void wireHandlers();        // greetingwindow_form.cpp
    void wireEchoLink();        // greetingwindow_form.cpp
    void wireTimers();          // greetingwindow_form.cpp
    void loadSettings();
    // "(" + HH:MM + ") " when time stamps are on, else empty.
    QString timeStampPrefix() const;
    // Sends a text and copies it, stamped again, into the message box's log.
    void sendAndLog(const QString &body);

    std::array<OptionButton *, kSlots> m_slots{};
    std::array<TextBox *, kSlots - 1> m_texts{};
    std::array<QLabel *, kSlots - 1> m_counters{};

    bool m_loaded = false;
};

} // namespace mirelva
