#pragma once

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include "ui/echolink.h"
#include "ui/station.h"
#include "ui/stationwindow.h"

namespace mirelva {

// The About window: the program's name, the station's own callsign and the
// version, the maker's contact addresses, and a donation through the
// operator's own web browser.
class AboutWindow : public StationWindow {
    Q_OBJECT
public:
    explicit AboutWindow(Station &station, QWidget *parent = nullptr);

    void Form_Load();
    void refreshCaption();
    void Command1_Click();   // "Make Donation"
    void Command2_Click();   // "Hide"

    // The amounts offered, as the list shows them.
    static QStringList amounts();

    EchoLink *EchoLink1 = nullptr;

    QLabel *Label1 = nullptr;
    QLabel *Label3 = nullptr;
    QComboBox *Combo1 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;

private:
    void buildForm();
};

} // namespace mirelva
