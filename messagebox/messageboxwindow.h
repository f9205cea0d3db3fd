#pragma once

#include <array>

#include <QPushButton>
#include <QString>
#include <QWidget>

#include "ui/controls.h"
#include "ui/echolink.h"
#include "core/settingsstore.h"
#include "ui/settingtable.h"
#include "ui/station.h"

namespace mirelva {

// The message box: a running log of chat texts on screen. Every received
// chat text is offered to the main window for speaking, checked for the
// "/ver/" and "/Greeting/" commands, and shown unless a filter word hides
// it; the greeting window and the operator's own sent texts are copied in
// too. The log is never written to disk; only the window's settings are.
// Controls carry the names the handlers were written against and are public.
//
// messageboxwindow_form.cpp builds the form; messageboxwindow.cpp holds
// start-up, saving, ending, receiving and sending.
class MessageBoxWindow : public QWidget {
    Q_OBJECT
public:
    explicit MessageBoxWindow(Station &station, QWidget *parent = nullptr);
    ~MessageBoxWindow() override;

    // ---- start-up, settings and ending --------------------------------
    void Form_Load();
    void SaveData();
    // Returns true when the closing is cancelled.
    bool Form_QueryUnload();
    void EchoLink_Closing();
    void refreshCaption();
    void ClearRX_Click();
    void SaveIt_Click();
    void Exit_Click();          // "Hide"

    static constexpr int kIniCapacity = 265;
    static QString iniName() { return QStringLiteral("messagebox.ini"); }
    // Every setting of messagebox.ini: what load, save and the web page read.
    static const SettingTable &settingTable();

    // ---- receiving ---------------------------------------------------------
    void EchoLink_ChatTextReceived(const QString &sText);
    // True when a filter word or ".list" stands in the text after its first
    // character.
    bool isFiltered(const QString &sText) const;

    // ---- sending -------------------------------------------------------------
    // Sends the typed text; "Send" and Enter in the box both run it.
    void TXText();
    void TXText2();

    TextBox *filterText(int n) const;   // 1 to 8

    // ---- window variables ---------------------------------------------------
    QString ReceivedStamped;    // the last received text shown with its time
    QString SentStamped;        // the last text sent with its time

    Station &station;
    EchoLink *Echolink = nullptr;

    // ---- the form ----------------------------------------------------------
    LogBox *IncomingText = nullptr;
    TextBox *TextTX = nullptr;
    QPushButton *Send = nullptr;
    CheckBox *Check1 = nullptr;     // "Send Text With Time Stamp"
    CheckBox *Check2 = nullptr;     // "Time Stamp Incoming"
    TextBox *FilterText1 = nullptr, *FilterText2 = nullptr, *FilterText3 = nullptr, *FilterText4 = nullptr,
            *FilterText5 = nullptr, *FilterText6 = nullptr, *FilterText7 = nullptr, *FilterText8 = nullptr;
    QPushButton *ClearRX = nullptr;
    QPushButton *SaveIt = nullptr;
    QPushButton *Exit = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildForm();           // messageboxwindow_form.cpp
    void wireHandlers();        // messageboxwindow_form.cpp
    void wireEchoLink();        // messageboxwindow_form.cpp
    void loadSettings();

    std::array<TextBox *, 8> m_filters{};
    bool m_lastSent = true;     // whether the node took the last typed text

    IniFile m_ini{iniName(), kIniCapacity};
    bool m_loaded = false;
};

} // namespace mirelva
