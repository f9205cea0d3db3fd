#include "core/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>

namespace mirelva {

namespace {

const QString kSection = QStringLiteral("SETTINGS");

// A settings file is a few kilobytes. Anything far larger is not ours: it is
// neither read (defaults apply) nor rewritten (so it is never clobbered).
constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;

// ---- Windows-1252 -------------------------------------------------------

// 0x80..0x9F; the five holes (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1
// control with the same number, as Windows' own conversion does, so every
// byte survives a read-write round trip.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

QString fromCp1252(const char *data, qsizetype size)
{
    QString out(size, Qt::Uninitialized);
    QChar *o = out.data();
    for (qsizetype i = 0; i < size; ++i) {
        const auto b = static_cast<unsigned char>(data[i]);
        o[i] = (b >= 0x80 && b < 0xA0) ? QChar(kCp1252High[b - 0x80]) : QChar(char16_t(b));
    }
    return out;
}

char toCp1252(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return char(c);
    for (int i = 0; i < 32; ++i) {
        if (kCp1252High[i] == c)
            return char(0x80 + i);
    }
    return '?';
}

QByteArray encodeCp1252(const QString &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        // A character beyond the BMP is one character, so one '?'.
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        out.append(toCp1252(c.unicode()));
    }
    return out;
}

// Keeps only what Windows-1252 can hold, so a value reads back the same
// whichever encoding the file is in.
QString limitToCp1252(const QString &text)
{
    const QByteArray bytes = encodeCp1252(text);
    return fromCp1252(bytes.constData(), bytes.size());
}

// Strict UTF-8 check (no overlongs, no surrogates, nothing past U+10FFFF).
bool isValidUtf8(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        int len;
        unsigned lo = 0x80, hi = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            len = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3;
            if (b == 0xE0)
                lo = 0xA0;
            else if (b == 0xED)
                hi = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4;
            if (b == 0xF0)
                lo = 0x90;
            else if (b == 0xF4)
                hi = 0x8F;
        } else {
            return false;
        }
        if (i + len > n)
            return false;
        if (p[i + 1] < lo || p[i + 1] > hi)
            return false;
        for (int k = 2; k < len; ++k) {
            if (p[i + k] < 0x80 || p[i + k] > 0xBF)
                return false;
        }
        i += len;
    }
    return true;
}

// ---- parsing ------------------------------------------------------------

bool isBlank(QChar c) { return c == u' ' || c == u'\t'; }

QStringView trimBlanks(QStringView s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.mid(b, e - b);
}

QString trimTrailingBlanks(const QString &s)
{
    qsizetype e = s.size();
    while (e > 0 && isBlank(s[e - 1]))
        --e;
    return s.left(e);
}

// Cuts to capacity - 1 characters, never in the middle of a surrogate pair.
QString cutToCapacity(QString s, int capacity)
{
    const qsizetype room = std::max(0, capacity - 1);
    if (s.size() <= room)
        return s;
    qsizetype n = room;
    if (n > 0 && s.at(n - 1).isHighSurrogate())
        --n;
    s.truncate(n);
    return s;
}

// The file is walked as bytes and only the names and the one value asked for
// are decoded: a damaged file of many megabytes (or millions of empty lines)
// is read a hundred times at start-up and must not hold the station up.
// Blanks, brackets, ';' and '=' are the same single bytes in Windows-1252 and
// UTF-8, so the structure of a line never depends on the encoding.

struct FileBytes {
    QByteArrayView bytes;  // the whole file
    qsizetype body = 0;    // first byte after a byte-order mark
    bool utf8 = false;
    bool bom = false;
};

bool hasHighBytes(QByteArrayView bytes)
{
    return std::any_of(bytes.cbegin(), bytes.cend(), [](char c) { return uchar(c) >= 0x80; });
}

FileBytes inspect(const QByteArray &raw)
{
    FileBytes f;
    f.bytes = raw;
    if (raw.startsWith("\xEF\xBB\xBF")) {
        f.bom = true;
        f.body = 3;
    }
    // Files come from the Windows program in Windows-1252; a file saved by a
    // UTF-8 editor is recognised by being valid UTF-8 with some non-ASCII in it.
    const QByteArrayView body = f.bytes.sliced(f.body);
    f.utf8 = f.bom || (hasHighBytes(body) && isValidUtf8(body));
    return f;
}

QString decode(const FileBytes &f, QByteArrayView bytes)
{
    return f.utf8 ? QString::fromUtf8(bytes) : fromCp1252(bytes.data(), bytes.size());
}

// The line end new lines get: the file's own style.
QByteArray lineEndOf(const FileBytes &f)
{
    const QByteArrayView body = f.bytes.sliced(f.body);
    if (body.indexOf("\r\n") >= 0)
        return "\r\n";
    if (body.indexOf('\r') >= 0 && body.indexOf('\n') < 0)
        return "\r";
    return "\n";
}

struct LineRange {
    qsizetype start = 0;
    qsizetype length = 0;    // without the line end
    qsizetype eolLength = 0; // 0 on a last unterminated line
    qsizetype end() const { return start + length + eolLength; }
};

bool isBlankByte(char c) { return c == ' ' || c == '\t'; }

// Calls visit(line) for every line that holds more than blanks ("\r\n",
// "\n" or a lone "\r" ends a line) until it returns false. Blank lines are
// passed over in one sweep, as they mean nothing to a reader.
template <typename Visit>
void forEachNonBlankLine(const FileBytes &f, Visit &&visit)
{
    const char *p = f.bytes.data();
    const qsizetype n = f.bytes.size();
    qsizetype i = f.body;
    while (i < n) {
        if (isBlankByte(p[i]) || p[i] == '\n' || p[i] == '\r') {
            ++i;
            continue;
        }
        qsizetype start = i;
        while (start > f.body && isBlankByte(p[start - 1]))
            --start;
        qsizetype end = i;
        while (end < n && p[end] != '\n' && p[end] != '\r')
            ++end;
        LineRange line{start, end - start, 0};
        if (end < n)
            line.eolLength = (p[end] == '\r' && end + 1 < n && p[end + 1] == '\n') ? 2 : 1;
        if (!visit(line))
            return;
        i = line.end();
    }
}

QByteArrayView trimBlanks(QByteArrayView s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && isBlankByte(s[b]))
        ++b;
    while (e > b && isBlankByte(s[e - 1]))
        --e;
    return s.sliced(b, e - b);
}

enum class Kind { Other, Section, Key };

struct Classified {
    Kind kind = Kind::Other;
    QByteArrayView name;  // section name or key
    QByteArrayView value; // trimmed value of a key line
};

Classified classify(QByteArrayView line)
{
    Classified c;
    const QByteArrayView s = trimBlanks(line);
    if (s.isEmpty() || s.front() == ';')
        return c;
    if (s.front() == '[') {
        const qsizetype close = s.indexOf(']');
        c.kind = Kind::Section;
        c.name = trimBlanks(close < 0 ? s.sliced(1) : s.sliced(1, close - 1));
        return c;
    }
    const qsizetype eq = s.indexOf('=');
    if (eq < 0)
        return c;
    c.kind = Kind::Key;
    c.name = trimBlanks(s.first(eq));
    c.value = trimBlanks(s.sliced(eq + 1));
    return c;
}

bool sameName(const FileBytes &f, QByteArrayView stored, QStringView wanted)
{
    // A Windows-1252 name has one byte per character, a UTF-8 one at least
    // one byte per UTF-16 unit: most lines are turned away without decoding.
    if (f.utf8 ? stored.size() < wanted.size() : stored.size() != wanted.size())
        return false;
    return decode(f, stored).compare(wanted, Qt::CaseInsensitive) == 0;
}

struct Location {
    bool section = false;     // a SETTINGS section exists
    LineRange lastContent;    // last non-blank line of that section (at least its header)
    bool found = false;
    LineRange keyLine;        // first line holding the key
    Classified key;           // that line, classified
};

// Walks the first SETTINGS section up to the key; a later section of the
// same name is not read.
Location locate(const FileBytes &f, QStringView key)
{
    Location loc;
    forEachNonBlankLine(f, [&](const LineRange &line) {
        const Classified c = classify(f.bytes.sliced(line.start, line.length));
        if (c.kind == Kind::Section) {
            if (loc.section)
                return false;
            if (sameName(f, c.name, kSection)) {
                loc.section = true;
                loc.lastContent = line;
            }
            return true;
        }
        if (!loc.section)
            return true;
        loc.lastContent = line;
        if (c.kind == Kind::Key && sameName(f, c.name, key)) {
            loc.found = true;
            loc.keyLine = line;
            loc.key = c;
            return false;
        }
        return true;
    });
    return loc;
}

bool isBareName(const QString &fileName)
{
    return !fileName.isEmpty() && fileName != u"." && !fileName.contains(u'/') && !fileName.contains(u"..")
        && !fileName.contains(QChar(0));
}

// A key that would not read back as itself (or would break the file) is refused.
bool isUsableKey(QStringView key)
{
    if (key.isEmpty() || key.front() == u'[' || key.front() == u';')
        return false;
    for (QChar c : key) {
        if (c == u'=' || c == u'\r' || c == u'\n' || c == QChar(0))
            return false;
    }
    return true;
}

// Reads the whole file; false when it exists but cannot be read or is too
// large (a missing file is an empty one).
bool readFile(const QString &path, QByteArray *out, bool *exists)
{
    QFile file(path);
    *exists = file.exists();
    if (!*exists)
        return true;
    if (!QFileInfo(path).isFile() || file.size() > kMaxFileBytes || !file.open(QIODevice::ReadOnly))
        return false;
    *out = file.readAll();
    return file.error() == QFileDevice::NoError;
}

} // namespace

// ---- SettingsStore ------------------------------------------------------

namespace SettingsStore {

QString folder()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // A relative XDG_CONFIG_HOME is invalid and must be ignored.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/mirelva");
}

QString pathOf(const QString &fileName)
{
    if (!isBareName(fileName))
        return {};
    return folder() + u'/' + fileName;
}

QString read(const QString &fileName, const QString &key, const QString &defaultText, int capacity)
{
    const QString fallback = cutToCapacity(trimTrailingBlanks(defaultText), capacity);
    const QString path = pathOf(fileName);
    const QStringView k = trimBlanks(key);
    if (path.isEmpty() || k.isEmpty())
        return fallback;
    QByteArray raw;
    bool exists = false;
    if (!readFile(path, &raw, &exists) || !exists)
        return fallback;

    const FileBytes f = inspect(raw);
    const Location loc = locate(f, k);
    if (!loc.found)
        return fallback;
    QByteArrayView value = loc.key.value;
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.sliced(1, value.size() - 2);
    return cutToCapacity(decode(f, value), capacity);
}

void write(const QString &fileName, const QString &key, const QString &value)
{
    const QString path = pathOf(fileName);
    const QString k = trimBlanks(key).toString();
    if (path.isEmpty() || !isUsableKey(k))
        return;

    // A line end inside a value would split it into lines of its own; the
    // text ends at a NUL as it did for the Windows service.
    QString v = value;
    const qsizetype nul = v.indexOf(QChar(0));
    if (nul >= 0)
        v.truncate(nul);
    v.replace(u'\r', u' ').replace(u'\n', u' ');

    QByteArray raw;
    bool exists = false;
    if (!readFile(path, &raw, &exists))
        return; // never replace a file we could not read
    const FileBytes f = inspect(raw);

    auto encode = [&f](const QString &text) {
        return f.utf8 ? limitToCp1252(text).toUtf8() : encodeCp1252(text);
    };
    const QByteArray keyLine = encode(k + u'=' + v);

    const Location loc = locate(f, k);
    QByteArray out;
    if (loc.found) {
        out.reserve(raw.size() - loc.keyLine.length + keyLine.size());
        out.append(QByteArrayView(raw).first(loc.keyLine.start));
        out.append(keyLine);
        out.append(QByteArrayView(raw).sliced(loc.keyLine.start + loc.keyLine.length));
    } else {
        const QByteArray eol = lineEndOf(f);
        // New lines go after the last non-blank line of the section, or at
        // the end of the file in a new section; a last line without its line
        // end gets one first.
        const bool inSection = loc.section;
        const qsizetype at = inSection ? loc.lastContent.end() : raw.size();
        const bool lineOpenBefore = at > f.body && raw.at(at - 1) != '\n' && raw.at(at - 1) != '\r';
        out.reserve(raw.size() + keyLine.size() + 32);
        out.append(QByteArrayView(raw).first(at));
        if (lineOpenBefore)
            out.append(eol);
        if (!inSection)
            out.append(encode(u'[' + kSection + u']') + eol);
        out.append(keyLine + eol);
        out.append(QByteArrayView(raw).sliced(at));
    }
    // A Windows-1252 file that the new text happens to make valid UTF-8
    // would read back as UTF-8 ("É…" as one other letter): it is saved as
    // UTF-8 instead, which reads back as it was meant.
    if (!f.utf8 && hasHighBytes(out) && isValidUtf8(out))
        out = fromCp1252(out.constData(), out.size()).toUtf8();
    if (exists && out == raw)
        return;

    if (!QDir().mkpath(folder()))
        return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    if (file.write(out) != out.size()) {
        file.cancelWriting();
        return;
    }
    file.commit();
}

} // namespace SettingsStore

// ---- Convert ------------------------------------------------------------

namespace Convert {

namespace {

// VB's Long: the widest integer the windows ever stored.
constexpr qint64 kNumberMin = INT_MIN;
constexpr qint64 kNumberMax = INT_MAX;

// The whole trimmed text as a finite decimal number, the way VB's CInt/CBool
// accept it; nothing else.
bool decimalFromText(const QString &text, double *out)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return false;
    for (QChar c : t) {
        // toDouble also takes "inf", "nan" and hexadecimal floats: refuse them.
        if (!(c.isDigit() && c.unicode() < 0x80) && c != u'.' && c != u'+' && c != u'-' && c != u'e' && c != u'E')
            return false;
    }
    bool ok = false;
    const double d = t.toDouble(&ok);
    if (!ok || !std::isfinite(d))
        return false;
    *out = d;
    return true;
}

int clampToInt(double d)
{
    if (d <= double(INT_MIN))
        return INT_MIN;
    if (d >= double(INT_MAX))
        return INT_MAX;
    return int(d);
}

} // namespace

qint64 number(const QString &text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (isBlank(text[i]) || text[i] == u'\r' || text[i] == u'\n'))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    qint64 v = 0;
    for (; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            break;
        if (v <= kNumberMax) // stop growing once past the clamp; never overflows
            v = v * 10 + (c - u'0');
    }
    if (negative)
        v = -v;
    return std::clamp(v, kNumberMin, kNumberMax);
}

int checkFromText(const QString &text, int fallback)
{
    // The same integer conversion as any number ("1.0" is 1), but a check
    // box holds 0 (clear), 1 (checked) or 2 (grey) and nothing else.
    double d;
    if (!decimalFromText(text, &d))
        return fallback;
    const int v = clampToInt(std::nearbyint(d));
    return (v < 0 || v > 2) ? fallback : v;
}

QString checkToText(int value) { return QString::number(value); }

bool optionFromText(const QString &text, bool fallback)
{
    const QString t = text.trimmed();
    if (t.compare(u"True", Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(u"False", Qt::CaseInsensitive) == 0)
        return false;
    double d;
    if (!decimalFromText(t, &d))
        return fallback;
    return d != 0.0;
}

QString optionToText(bool on) { return on ? QStringLiteral("True") : QStringLiteral("False"); }

int integerFromText(const QString &text, int fallback)
{
    double d;
    if (!decimalFromText(text, &d))
        return fallback;
    // CInt rounds halves to even.
    return clampToInt(std::nearbyint(d));
}

double twipsFromText(const QString &text, double fallback)
{
    double d;
    if (!decimalFromText(text, &d) || std::fabs(d) > double(FLT_MAX))
        return fallback;
    return double(float(d));
}

QString twipsToText(double twips)
{
    if (!std::isfinite(twips))
        twips = 0;
    const double clamped = std::clamp(twips, -double(FLT_MAX), double(FLT_MAX));
    return QString::number(double(float(clamped)), 'g', 7);
}

namespace {
double usableDpi(double dpi) { return (std::isfinite(dpi) && dpi > 0) ? dpi : 96.0; }
} // namespace

int twipsToPixels(double twips, double logicalDpi)
{
    if (!std::isfinite(twips))
        return 0;
    return clampToInt(std::round(twips * usableDpi(logicalDpi) / 1440.0));
}

double pixelsToTwips(int pixels, double logicalDpi) { return pixels * 1440.0 / usableDpi(logicalDpi); }

} // namespace Convert

// ---- IniFile --------------------------------------------------------------

QString IniFile::text(const QString &key, const QString &defaultText) const
{
    return SettingsStore::read(m_file, key, defaultText, m_capacity);
}

int IniFile::check(const QString &key, const QString &defaultText) const
{
    return Convert::checkFromText(text(key, defaultText), Convert::checkFromText(defaultText, 0));
}

bool IniFile::option(const QString &key, const QString &defaultText) const
{
    return Convert::optionFromText(text(key, defaultText), Convert::optionFromText(defaultText, false));
}

int IniFile::integer(const QString &key, const QString &defaultText) const
{
    return Convert::integerFromText(text(key, defaultText), Convert::integerFromText(defaultText, 0));
}

double IniFile::twips(const QString &key, const QString &defaultText) const
{
    return Convert::twipsFromText(text(key, defaultText), Convert::twipsFromText(defaultText, 0));
}

void IniFile::write(const QString &key, const QString &value) const { SettingsStore::write(m_file, key, value); }
void IniFile::writeCheck(const QString &key, int value) const { write(key, Convert::checkToText(value)); }
void IniFile::writeOption(const QString &key, bool on) const { write(key, Convert::optionToText(on)); }

} // namespace mirelva
