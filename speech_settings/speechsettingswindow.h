#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QWidget>

#include "ui/controls.h"
#include "core/settingsstore.h"
#include "ui/settingtable.h"
#include "ui/station.h"
#include "ui/stationwindow.h"

namespace mirelva {

// The voice's speed and volume. The main window reads the two bars at every
// keyed announcement, so a value moved here is heard at once, saved or not.
// Closing the window forgets what was not saved: it reads its file again, as
// a window loaded afresh would.
class SpeechSettingsWindow : public StationWindow {
    Q_OBJECT
public:
    explicit SpeechSettingsWindow(Station &station, QWidget *parent = nullptr);

    void Form_Load();
    void SaveData();
    void Command3_Click();   // "Test"
    void Command1_Click();   // "Hide"
    void VoiceSpeed_Change();
    void VolLev_Change();

    static constexpr int kIniCapacity = 250;
    static QString iniName() { return QStringLiteral("ttssettings.ini"); }
    // Every setting of ttssettings.ini: what load, save and the web page read.
    static const SettingTable &settingTable();
    static QString designTestText() { return QStringLiteral("Testing the voice settings"); }

    QGroupBox *FrameSpeed = nullptr;
    QScrollBar *VoiceSpeed = nullptr;
    QLabel *Label6 = nullptr;
    QGroupBox *FrameVolume = nullptr;
    QScrollBar *VolLev = nullptr;
    QLabel *Label1 = nullptr;
    TextBox *Text1 = nullptr;
    QPushButton *Command3 = nullptr;
    QPushButton *Command2 = nullptr;
    QPushButton *Command1 = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildForm();
};

} // namespace mirelva
