#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <utility>

namespace mirelva {

// The settings files: one section "SETTINGS" per file, read and written the
// way the Windows private-profile service did, so files carried over from a
// Windows station read the same:
// - keys and the section name match without regard to letter case;
// - a value is trimmed and loses one pair of enclosing quotes;
// - the first of duplicate keys wins; CRLF and LF lines both read;
// - text is Windows-1252 on disk (a UTF-8 file is read and kept as UTF-8,
//   and a Windows-1252 file that new text would make look like UTF-8 is
//   saved as UTF-8, so nothing reads back changed);
// - a read is cut to capacity - 1 characters; a missing file, section or key
//   gives the default with its trailing blanks removed.
// Files are named bare ("mirelva.ini") and live in $XDG_CONFIG_HOME/mirelva/
// (default ~/.config/mirelva/).
//
// Keys and section names match by ASCII letter case only ("CALLſIGN" is not
// CALLSIGN). A file larger than 16 MB, a folder in the file's place or a file
// that cannot be opened is not read: every read gives its default (an
// IniFile tells the refusal once, through SettingsReports), and such a file
// is never replaced.
//
// A save sets all its keys in one new file (every other line and section as
// it was) and replaces the old file with it in one step, so the file is
// always either wholly old or wholly new; a save that changes nothing leaves
// the file untouched. A save that fails writes nothing, and says why.

// The outcome of a save; the reason is words for the operator ("the disk is full").
struct SaveResult {
    bool saved = true;
    QString reason;
    explicit operator bool() const { return saved; }
};

namespace SettingsStore {
QString folder();
QString pathOf(const QString &fileName);
// Makes the settings folder when it is missing, readable by this user only
// (mode 0700: what lies there includes passwords and the node's token). One
// that is there already is left as its owner set it. False when it cannot be
// made.
bool makeFolder();
// The same for any folder of this program's own (its parents as the umask has them).
bool makeOwnFolder(const QString &path);
// refusal, when given, gets why the file was not read (empty when it was,
// or is missing).
QString read(const QString &fileName, const QString &key, const QString &defaultText, int capacity,
             QString *refusal = nullptr);
// Whether a text reads back from a file as it was written: every character
// one Windows-1252 can hold.
bool storable(const QString &text);
// One key: a save of its own.
SaveResult write(const QString &fileName, const QString &key, const QString &value);
// Every key in order, the file replaced once. A key given twice keeps its
// first place and its last value; a key that would break the file is skipped.
SaveResult writeAll(const QString &fileName, const QList<std::pair<QString, QString>> &entries);
} // namespace SettingsStore

// Where every window's failed save and every unread file is told, so the
// main window can show it; the on-air log has a line of each already.
// problem() gives a whole sentence naming the file, why, and what it means;
// saved() follows a good save of the file, which ends its problem.
class SettingsReports : public QObject {
    Q_OBJECT
public:
    static SettingsReports &instance();

signals:
    void problem(const QString &fileName, const QString &text);
    void saved(const QString &fileName);
};

// Conversions between control states and stored text, used by every window.
// A stored text that does not convert gives the conversion of the key's default.
namespace Convert {
// Decimal number as the windows read numbers from text: leading blanks
// skipped, digits up to the first non-digit, junk reads 0, huge values clamp.
qint64 number(const QString &text);
// Check box: the integer conversion of the text when it gives 0, 1 or 2;
// the fallback otherwise.
int checkFromText(const QString &text, int fallback);
QString checkToText(int value);
// Option button: "True"/"False" in any case, or a number (0 false, else true).
bool optionFromText(const QString &text, bool fallback);
QString optionToText(bool on);
int integerFromText(const QString &text, int fallback);
// Window position in twips (single precision in the file).
double twipsFromText(const QString &text, double fallback);
QString twipsToText(double twips);
int twipsToPixels(double twips, double logicalDpi);
double pixelsToTwips(int pixels, double logicalDpi);
// Capitals as a callsign box keeps them: a letter whose capital the file
// cannot hold (the micro sign's is Greek) stays as it is, as on Windows,
// instead of being stored as "?". One letter for one, never "SS" for "ß".
QString capitals(const QString &text);
} // namespace Convert

// One window's settings file, read through that window's buffer capacity.
//
// A window's save opens an IniFile::Save and writes its keys as before:
//
//     void DtmfWindow::SaveData()
//     {
//         IniFile::Save save(m_ini);
//         m_ini.write("KEY1", ...);      // collected, in order
//         m_ini.writeCheck("KEY2", ...);
//     }                                   // the file is replaced once here
//
// save.commit() does the same earlier and gives the SaveResult. A failure is
// told through SettingsReports either way. Outside a Save each write is a
// save of its own. A Save opened inside another on the same file joins it.
class IniFile {
public:
    class Save {
    public:
        explicit Save(const IniFile &ini);
        ~Save();
        Save(const Save &) = delete;
        Save &operator=(const Save &) = delete;
        SaveResult commit();

    private:
        const IniFile &m_ini;
        bool m_outermost;
        bool m_done = false;
        SaveResult m_result;
    };

    IniFile(QString fileName, int capacity) : m_file(std::move(fileName)), m_capacity(capacity) {}

    const QString &fileName() const { return m_file; }
    QString text(const QString &key, const QString &defaultText) const;
    int check(const QString &key, const QString &defaultText) const;
    bool option(const QString &key, const QString &defaultText) const;
    int integer(const QString &key, const QString &defaultText) const;
    double twips(const QString &key, const QString &defaultText) const;

    void write(const QString &key, const QString &value) const;
    void writeCheck(const QString &key, int value) const;
    void writeOption(const QString &key, bool on) const;

private:
    QString m_file;
    int m_capacity;
    // The keys of the open save, and how many saves are open.
    mutable QList<std::pair<QString, QString>> m_pending;
    mutable int m_openSaves = 0;
    mutable QString m_toldRefusal;
};

} // namespace mirelva
