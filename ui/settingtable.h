#pragma once

#include <functional>
#include <optional>
#include <utility>

#include <QJsonObject>
#include <QList>
#include <QString>

class QWidget;

namespace mirelva {

class IniFile;

// One stored setting of a window, declared once: the window's load reads
// it, its save writes it and the web console's page shows and changes it,
// all from the same line of the window's table. A setting added to a table
// reaches the file and the page with nothing else to write.
//
// How typing is filtered (typing limit, digits only, capitals) stays with
// the control, which the form builds: the page asks the control, so it
// checks a change exactly as the box checks what is typed into it.
struct Setting {
    enum class Kind {
        Text,        // a text box: its text
        Check,       // a check box: "0", "1" or "2" (greyed)
        Option,      // an option button: "True" or "False"
        Bar,         // a scroll bar: its integer value, kept to its range
        WindowLeft,  // the window's place in twips: written by the save,
        WindowTop,   // read by the window's own load (it moves the window)
    };
    QString key;            // as the window reads it; written in capitals
    QString control;        // the control's object name in its window
    Kind kind = Kind::Text;
    QString defaultText;    // what a first start reads, as stored text
    QString meaning;        // one line for the page; empty for the window's place
    int least = 0;          // a number's range, where the setting has one
    int most = -1;          // (most < least: none)
    bool savedUpperCase = false;   // the text goes to the file in capitals
    bool dtmfCode = false;         // compared with the DTMF digits received (0-9, *, #, A-D)
    QString savedAfter;     // the save writes it right after this key instead
    // What the window puts back in the box when it is emptied: the page
    // takes an empty value as this, and says so beside the field.
    QString emptyMeans;
    // What the window does with a number outside the range, said when the
    // page refuses one; empty: only the range is named.
    QString outOfRange;

    static constexpr int kNoMost = 0x7fffffff;   // most: bounded below only

    Setting() = default;
    Setting(QString key_, QString control_, Kind kind_, QString defaultText_, QString meaning_ = {}, int least_ = 0,
            int most_ = -1)
        : key(std::move(key_)), control(std::move(control_)), kind(kind_), defaultText(std::move(defaultText_)),
          meaning(std::move(meaning_)), least(least_), most(most_)
    {
    }

    bool hasRange() const { return most >= least; }
    bool onPage() const { return kind != Kind::WindowLeft && kind != Kind::WindowTop; }
};

// A window's settings in the order its load reads them.
using SettingTable = QList<Setting>;

namespace SettingTables {

QWidget *controlOf(const QWidget *window, const Setting &s);
// The control's state as the save writes it (before any capitals).
QString storedText(const QWidget *window, const Setting &s);

// Every setting but the window's place, in table order, each set as its
// control would be by hand (a text box runs its change handling).
void load(const IniFile &ini, QWidget *window, const SettingTable &table);

// Gives the stored text of a setting whose value the window keeps elsewhere.
using Override = std::function<std::optional<QString>(const Setting &)>;
// Every setting in one save of the file, in table order but for those
// written after another key.
void save(const IniFile &ini, const QWidget *window, const SettingTable &table, const Override &override = {});

// The setting as the page shows it: key, label, meaning, kind, value, the
// limits of its control, and "locked" with the reason while the window holds
// the control unchangeable.
QJsonObject describe(const QWidget *window, const Setting &s, int capacity);

// What the page asks to store, checked as the control checks it by hand:
// empty when it may be set (value then holds the text the control will
// show), else why not, naming the field. capacity is the window's read
// buffer: a longer text would come back cut.
QString refusal(const QWidget *window, const Setting &s, QString *value, int capacity);
// Sets the control as a hand would; the value has passed refusal().
void apply(QWidget *window, const Setting &s, const QString &value);
// The name the window gives the control (its caption or spoken name).
QString labelOf(const QWidget *window, const Setting &s);
// Where the window shows it: the tab and the frame around the control.
QString groupOf(const QWidget *window, const Setting &s);

} // namespace SettingTables

} // namespace mirelva
