#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include "ui/controls.h"
#include "ui/echolink.h"
#include "core/settingsstore.h"
#include "ui/station.h"
#include "ui/stationwindow.h"
#include "side/browserview.h"
#include "side/clsresize.h"

namespace mirelva {

// The web tools window ("Internet Option"): look-up pages in its own browser
// view, the last station that connected, and the switch that makes the main
// window look up every connecting station here. Its controls are placed at
// fixed spots and kept in proportion by ClsResize as the window is resized.
class WebToolsWindow : public StationWindow {
    Q_OBJECT
public:
    explicit WebToolsWindow(Station &station, QWidget *parent = nullptr);

    void Form_Load();
    void SaveData2();
    void refreshCaption();

    void Command1_Click();    // "QRZ"
    void Command10_Click();   // "Current Logins"
    void Command11_Click();   // "Proxy List"
    void Command9_Click();    // "EchoLink"
    void Command2_Click();    // "eQSL"
    void Command3_Click();    // "Translator"
    void Command5_Click();    // "Hide"
    void Text1_Change();

    static constexpr int kIniCapacity = 265;
    static QString iniName() { return QStringLiteral("tolvane.ini"); }

    EchoLink *EchoLink1 = nullptr;

    BrowserView *WebBrowser1 = nullptr;
    QGroupBox *Frame1 = nullptr;
    TextBox *Text1 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command10 = nullptr;
    QPushButton *Command11 = nullptr;
    QPushButton *Command9 = nullptr;
    QPushButton *Command2 = nullptr;
    QPushButton *Command3 = nullptr;
    QGroupBox *Frame2 = nullptr;
    CheckBox *Check9 = nullptr;
    QGroupBox *Frame3 = nullptr;
    QLabel *Label2 = nullptr;
    QPushButton *Command4 = nullptr;
    QPushButton *Command5 = nullptr;

    ClsResize *resizer() { return &m_resize; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildForm();
    ClsResize m_resize;
};

} // namespace mirelva
