#pragma once

#include <QString>

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
// (default ~/.config/mirelva/). A write replaces the file atomically and keeps
// every other line and section as it was; it reports nothing.
namespace SettingsStore {
QString folder();
QString pathOf(const QString &fileName);
QString read(const QString &fileName, const QString &key, const QString &defaultText, int capacity);
void write(const QString &fileName, const QString &key, const QString &value);
} // namespace SettingsStore

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
} // namespace Convert

// One window's settings file, read through that window's buffer capacity.
class IniFile {
public:
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
};

} // namespace mirelva
