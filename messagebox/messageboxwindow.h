#pragma once

#include <array>
#include <optional>

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

// The message box: a running log of chat texts on screen. Every received
// chat text is offered to the main window for speaking, checked for the
// "/ver/" and "/Greeting/" commands, and shown unless a filter word hides
// it; the greeting window and the operator's own sent texts are copied in
// too. The log is never written to disk; only the window's settings are.
// Controls carry the names the handlers were written against and are public.
//
// messageboxwindow_form.cpp builds the form; messageboxwindow.cpp holds
// start-up, saving, ending, receiving and sending.
class MessageBoxWindow : public StationWindow {
    Q_OBJECT
public:
    explicit MessageBoxWindow(Station &station, QWidget *parent = nullptr);

    // ---- start-up, settings and ending --------------------------------
    void Form_Load();
    void SaveData();
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
    // A screen reader hears a shown text at once when none was told in the
    // last kChatNoticeGapMs; the texts of a burst after it are held and told
    // as one when this timer ticks, with their number and the last of them.
    void ChatNotice_Timer();
    VbTimer *ChatNotice = nullptr;
    static constexpr int kChatNoticeGapMs = 1000;

    // ---- sending -------------------------------------------------------------
    // Sends the typed text; "Send" and Enter in the box both run it.
    void TXText();
    void TXText2();

    TextBox *filterText(int n) const;   // 1 to 8

    // ---- window variables ---------------------------------------------------
    QString ReceivedStamped;    // the last received text shown with its time
    QString SentStamped;        // the last text sent with its time

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

signals:
    // What a screen reader was told of received texts ("Chat: ..."), for the
    // web page's live region too.
    void chatTold(const QString &words);

private:
    void buildForm();           // messageboxwindow_form.cpp
    void wireHandlers();        // messageboxwindow_form.cpp
    void wireEchoLink();        // messageboxwindow_form.cpp
    void loadSettings();
    void tellChat(const QString &text);
    void sayChat(const QString &words);

    std::array<TextBox *, 8> m_filters{};
    bool m_lastSent = true;     // whether the node took the last typed text
    std::optional<qint64> m_chatToldAt;   // Clock::nowMs() of the last chat notice
    int m_chatsHeld = 0;        // texts shown since, not yet told
    QString m_lastHeld;

    bool m_loaded = false;
};

} // namespace mirelva
