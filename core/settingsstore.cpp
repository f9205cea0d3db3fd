#include "core/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <vector>

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
bool isValidUtf8(const QByteArray &bytes)
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

struct Line {
    QByteArray bytes; // without the line end
    QByteArray eol;   // "\r\n", "\n", "\r" or empty on a last unterminated line
    QString text;     // decoded
};

struct ParsedFile {
    std::vector<Line> lines;
    bool utf8 = false;
    bool bom = false;
    QByteArray eol = "\n"; // the style new lines get
};

ParsedFile parse(const QByteArray &raw)
{
    ParsedFile f;
    QByteArray bytes = raw;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        f.bom = true;
        bytes.remove(0, 3);
    }
    // Files come from the Windows program in Windows-1252; a file saved by a
    // UTF-8 editor is recognised by being valid UTF-8 with some non-ASCII in it.
    const bool hasHigh = std::any_of(bytes.cbegin(), bytes.cend(), [](char c) { return uchar(c) >= 0x80; });
    f.utf8 = f.bom || (hasHigh && isValidUtf8(bytes));

    bool sawCrLf = false, sawLf = false, sawCr = false;
    const char *p = bytes.constData();
    const qsizetype n = bytes.size();
    qsizetype start = 0;
    while (start < n) {
        qsizetype end = start;
        while (end < n && p[end] != '\n' && p[end] != '\r')
            ++end;
        Line line;
        line.bytes = bytes.mid(start, end - start);
        if (end < n && p[end] == '\r' && end + 1 < n && p[end + 1] == '\n') {
            line.eol = "\r\n";
            sawCrLf = true;
        } else if (end < n && p[end] == '\r') {
            line.eol = "\r";
            sawCr = true;
        } else if (end < n) {
            line.eol = "\n";
            sawLf = true;
        }
        line.text = f.utf8 ? QString::fromUtf8(line.bytes) : fromCp1252(line.bytes.constData(), line.bytes.size());
        start = end + line.eol.size();
        f.lines.push_back(std::move(line));
    }
    if (sawCrLf)
        f.eol = "\r\n";
    else if (sawCr && !sawLf)
        f.eol = "\r";
    return f;
}

enum class Kind { Other, Section, Key };

struct Classified {
    Kind kind = Kind::Other;
    QStringView name;  // section name or key
    QStringView value; // trimmed value of a key line
};

Classified classify(const QString &text)
{
    Classified c;
    const QStringView s = trimBlanks(text);
    if (s.isEmpty() || s.front() == u';')
        return c;
    if (s.front() == u'[') {
        const qsizetype close = s.indexOf(u']');
        c.kind = Kind::Section;
        c.name = trimBlanks(close < 0 ? s.mid(1) : s.mid(1, close - 1));
        return c;
    }
    const qsizetype eq = s.indexOf(u'=');
    if (eq < 0)
        return c;
    c.kind = Kind::Key;
    c.name = trimBlanks(s.left(eq));
    c.value = trimBlanks(s.mid(eq + 1));
    return c;
}

bool sameName(QStringView a, QStringView b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

struct Location {
    qsizetype sectionLine = -1; // the header of the first SETTINGS section
    qsizetype lastContent = -1; // last non-blank line of that section
    qsizetype keyLine = -1;     // first line holding the key
};

Location locate(const ParsedFile &f, QStringView key)
{
    Location loc;
    for (qsizetype i = 0; i < qsizetype(f.lines.size()); ++i) {
        const Classified c = classify(f.lines[i].text);
        if (c.kind == Kind::Section) {
            if (loc.sectionLine >= 0)
                break; // only the first SETTINGS section counts
            if (sameName(c.name, kSection)) {
                loc.sectionLine = i;
                loc.lastContent = i;
            }
            continue;
        }
        if (loc.sectionLine < 0)
            continue;
        if (!trimBlanks(f.lines[i].text).isEmpty())
            loc.lastContent = i;
        if (c.kind == Kind::Key && loc.keyLine < 0 && sameName(c.name, key))
            loc.keyLine = i;
    }
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

    const ParsedFile f = parse(raw);
    const Location loc = locate(f, k);
    if (loc.keyLine < 0)
        return fallback;
    QStringView value = classify(f.lines[loc.keyLine].text).value;
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    return cutToCapacity(value.toString(), capacity);
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
    ParsedFile f = parse(raw);

    auto encode = [&f](const QString &text) {
        return f.utf8 ? limitToCp1252(text).toUtf8() : encodeCp1252(text);
    };
    const QByteArray keyLine = encode(k + u'=' + v);

    const Location loc = locate(f, k);
    if (loc.keyLine >= 0) {
        f.lines[loc.keyLine].bytes = keyLine;
    } else {
        std::vector<Line> added;
        qsizetype at;
        if (loc.sectionLine >= 0) {
            at = loc.lastContent + 1;
        } else {
            added.push_back({encode(u'[' + kSection + u']'), f.eol, {}});
            at = qsizetype(f.lines.size());
        }
        added.push_back({keyLine, f.eol, {}});
        if (at > 0 && f.lines[at - 1].eol.isEmpty())
            f.lines[at - 1].eol = f.eol;
        f.lines.insert(f.lines.begin() + at, added.begin(), added.end());
    }

    QByteArray out;
    out.reserve(raw.size() + keyLine.size() + 16);
    if (f.bom)
        out.append("\xEF\xBB\xBF");
    for (const Line &line : f.lines) {
        out.append(line.bytes);
        out.append(line.eol);
    }
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
    // A check box holds 0 (clear), 1 (checked) or 2 (grey) and nothing else.
    const QString t = text.trimmed();
    bool ok = false;
    const int v = t.toInt(&ok);
    if (!ok || v < 0 || v > 2)
        return fallback;
    return v;
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
