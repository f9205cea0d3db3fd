#include "core/settingsstore.h"

#include "core/onairlog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Names match by ASCII letter case only, as the keys are ASCII words: a
// look-alike such as "CALLſIGN" is another key, not CALLSIGN. The name is
// compared in the file's own encoding, so no line is decoded to be matched.
char foldAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c + ('a' - 'A')) : c; }

QByteArray foldAscii(QByteArrayView bytes)
{
    QByteArray out(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        out[i] = foldAscii(bytes[i]);
    return out;
}

// The name as it would stand in the file, folded; false when no name in
// this file can be it (a character Windows-1252 cannot hold).
bool foldedName(const FileBytes &f, QStringView name, QByteArray *out)
{
    if (f.utf8) {
        *out = foldAscii(name.toUtf8());
        return true;
    }
    const QString text = name.toString();
    const QByteArray bytes = encodeCp1252(text);
    if (fromCp1252(bytes.constData(), bytes.size()) != text)
        return false;
    *out = foldAscii(bytes);
    return true;
}

bool sameFolded(QByteArrayView stored, QByteArrayView folded)
{
    if (stored.size() != folded.size())
        return false;
    for (qsizetype i = 0; i < stored.size(); ++i) {
        if (foldAscii(stored[i]) != folded[i])
            return false;
    }
    return true;
}

// Walks the first SETTINGS section; a later section of the same name is not
// read. visitKey(line, classified) returns false to stop. Returns whether the
// section exists, and the last non-blank line of it (at least its header).
template <typename VisitKey>
bool walkSection(const FileBytes &f, LineRange *lastContent, VisitKey &&visitKey)
{
    QByteArray section;
    foldedName(f, kSection, &section);
    bool inSection = false;
    forEachNonBlankLine(f, [&](const LineRange &line) {
        const Classified c = classify(f.bytes.sliced(line.start, line.length));
        if (c.kind == Kind::Section) {
            if (inSection)
                return false;
            if (sameFolded(c.name, section)) {
                inSection = true;
                *lastContent = line;
            }
            return true;
        }
        if (!inSection)
            return true;
        *lastContent = line;
        return c.kind != Kind::Key || visitKey(line, c);
    });
    return inSection;
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

// ---- reading and replacing whole files -------------------------------------

QString sizeLimitText() { return QStringLiteral("%1 MB").arg(kMaxFileBytes >> 20); }

// The system's words for an error, as part of a sentence.
QString systemReason(int error)
{
    QString text = QString::fromLocal8Bit(std::strerror(error));
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    return text;
}

// Why a write to the disk failed, in the operator's words.
QString writeReason(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("the disk is full");
    case EROFS:
        return QStringLiteral("the disk is read-only");
    case EACCES:
    case EPERM:
        return QStringLiteral("there is no permission to write in its folder");
    case EFBIG:
        return QStringLiteral("the file would be too large for the disk");
    default:
        return QStringLiteral("the system reported \"%1\"").arg(systemReason(error));
    }
}

struct WholeFile {
    bool exists = false;
    QByteArray bytes;
    QString refusal;       // why it is not read; empty when it is (or is missing)
    struct stat info {};
};

// Reads the whole file. A missing file reads as an empty one; one that is
// not a plain file, cannot be opened or is larger than the limit is refused.
WholeFile readWhole(const QString &path)
{
    WholeFile w;
    const QByteArray native = QFile::encodeName(path);
    if (::stat(native.constData(), &w.info) != 0) {
        if (errno != ENOENT && errno != ENOTDIR)
            w.refusal = QStringLiteral("it cannot be looked at: %1").arg(systemReason(errno));
        return w;
    }
    w.exists = true;
    if (S_ISDIR(w.info.st_mode)) {
        w.refusal = QStringLiteral("a folder is in its place");
        return w;
    }
    if (!S_ISREG(w.info.st_mode)) {
        w.refusal = QStringLiteral("it is not a plain file");
        return w;
    }
    if (w.info.st_size > kMaxFileBytes) {
        w.refusal = QStringLiteral("it is larger than %1").arg(sizeLimitText());
        return w;
    }
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        w.refusal = errno == EACCES ? QStringLiteral("there is no permission to read it")
                                    : QStringLiteral("it cannot be read: %1").arg(systemReason(errno));
        return w;
    }
    // One byte more than its size, so the end is seen without growing.
    w.bytes.resize(qsizetype(w.info.st_size) + 1);
    qsizetype got = 0;
    for (;;) {
        if (got == w.bytes.size())
            w.bytes.resize(got + 65536); // it grew since stat
        const ssize_t n = ::read(fd, w.bytes.data() + got, size_t(w.bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            w.refusal = QStringLiteral("it cannot be read: %1").arg(systemReason(errno));
            break;
        }
        if (n == 0)
            break;
        got += n;
        if (got > kMaxFileBytes) {
            w.refusal = QStringLiteral("it is larger than %1").arg(sizeLimitText());
            break;
        }
    }
    ::close(fd);
    w.bytes.truncate(got);
    if (!w.refusal.isEmpty())
        w.bytes.clear();
    return w;
}

bool writeAllBytes(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        done += n;
    }
    return true;
}

QString tempPrefix(const QString &base) { return u'.' + base + u'.'; }

// Temporary files a save killed half-way left behind (never our own).
void removeStaleTemporaries(const QString &dir, const QString &base)
{
    const QString ours = tempPrefix(base) + QString::number(::getpid()) + u'.';
    QDir d(dir);
    for (const QString &name : d.entryList({tempPrefix(base) + QStringLiteral("*.tmp")}, QDir::Files | QDir::Hidden)) {
        if (!name.startsWith(ours))
            d.remove(name);
    }
}

// Replaces the file with the bytes in one step: they are written and synced
// to a temporary file beside it, which is then renamed over it, so the file
// is always either wholly old or wholly new. Returns why not, or nothing.
QString replaceWhole(const QString &path, const WholeFile &old, const QByteArray &bytes)
{
    // A link is followed, so the file it names is replaced and the link stays.
    QString target = path;
    const QFileInfo link(path);
    if (link.isSymLink() && !link.canonicalFilePath().isEmpty()) {
        target = link.canonicalFilePath();
        // Root follows a user's link only to that user's own file: a link
        // in a user's settings folder to /etc/shadow must not make root's
        // save replace it (the kernel's protected_symlinks rule, for saves).
        struct stat linkInfo, targetInfo;
        if (::geteuid() == 0
            && (::lstat(QFile::encodeName(path).constData(), &linkInfo) != 0
                || ::stat(QFile::encodeName(target).constData(), &targetInfo) != 0
                || (linkInfo.st_uid != 0 && linkInfo.st_uid != targetInfo.st_uid)))
            return QStringLiteral("it is a symbolic link to a file of another user, which a save as root does not follow");
    }
    const QString dir = QFileInfo(target).absolutePath();
    const QString base = QFileInfo(target).fileName();
    const QByteArray nativeTarget = QFile::encodeName(target);

    if (old.exists) {
        // Whoever made the file read-only meant it, root or not.
        if ((old.info.st_mode & 0222) == 0)
            return QStringLiteral("the file is read-only");
        if (::access(nativeTarget.constData(), W_OK) != 0)
            return errno == EROFS ? writeReason(EROFS) : QStringLiteral("there is no permission to write it");
    }

    static unsigned counter = 0;
    QByteArray nativeTemp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        nativeTemp = QFile::encodeName(dir + u'/' + tempPrefix(base) + QString::number(::getpid()) + u'.'
                                       + QString::number(++counter) + QStringLiteral(".tmp"));
        fd = ::open(nativeTemp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return writeReason(errno);
    }
    if (fd < 0)
        return writeReason(EEXIST);

    int error = 0;
    if (old.exists) {
        // The new file keeps the old one's permissions and, for root, its owner.
        if (::geteuid() == 0 && ::fchown(fd, old.info.st_uid, old.info.st_gid) != 0)
            error = errno;
        if (!error && ::fchmod(fd, old.info.st_mode & 07777) != 0)
            error = errno;
    }
    if (!error && !writeAllBytes(fd, bytes))
        error = errno;
    if (!error && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && !error)
        error = errno;
    if (!error && ::rename(nativeTemp.constData(), nativeTarget.constData()) != 0)
        error = errno;
    if (error) {
        ::unlink(nativeTemp.constData());
        return error == EACCES || error == EPERM ? QStringLiteral("there is no permission to replace it")
                                                 : writeReason(error);
    }
    // The rename itself reaches the disk with the folder.
    const int dirFd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    removeStaleTemporaries(dir, base);
    return {};
}

// ---- telling the operator --------------------------------------------------

// The status line has room for a short sentence: the file's name, why, and
// what it means. The log line names the whole path.
void tellReadRefusal(const QString &fileName, const QString &reason)
{
    OnAirLog::note(QStringLiteral("settings not read: %1: %2").arg(SettingsStore::pathOf(fileName), reason));
    emit SettingsReports::instance().problem(
        fileName, QStringLiteral("%1 not read: %2. Defaults in use; saving will not replace the file.").arg(fileName, reason));
}

SaveResult tellSave(const QString &fileName, const QString &reason)
{
    if (reason.isEmpty()) {
        emit SettingsReports::instance().saved(fileName);
        return {};
    }
    const QString path = SettingsStore::pathOf(fileName);
    OnAirLog::note(QStringLiteral("settings not saved: %1: %2").arg(path.isEmpty() ? fileName : path, reason));
    emit SettingsReports::instance().problem(
        fileName, QStringLiteral("Nothing saved to %1: %2. The file is as it was.").arg(fileName, reason));
    return {false, reason};
}

// The new file: every key set in the first SETTINGS section, the rest kept
// byte for byte. An existing key's first line gets the new line (in the
// caller's letter case); new keys go after the section's last non-blank
// line, or into a new section at the end, in the order they were given.
QByteArray compose(const QByteArray &raw, const QList<std::pair<QString, QString>> &entries)
{
    const FileBytes f = inspect(raw);
    auto encode = [&f](const QString &text) {
        return f.utf8 ? limitToCp1252(text).toUtf8() : encodeCp1252(text);
    };

    // One line per key; a key given twice keeps its first place and last value.
    struct Wanted {
        QByteArray line;
        qsizetype at = -1;    // start of the existing line, -1 if none
        qsizetype length = 0;
    };
    QList<Wanted> wanted;
    QHash<QByteArray, qsizetype> byName;
    QSet<qsizetype> lengths;
    for (const auto &[key, value] : entries) {
        const QString k = trimBlanks(key).toString();
        if (!isUsableKey(k))
            continue;
        // A line end inside a value would split it into lines of its own;
        // the text ends at a NUL as it did for the Windows service.
        QString v = value;
        const qsizetype nul = v.indexOf(QChar(0));
        if (nul >= 0)
            v.truncate(nul);
        v.replace(u'\r', u' ').replace(u'\n', u' ');
        QByteArray name;
        if (!foldedName(f, k, &name))
            name = "\n" + k.toUtf8(); // can match no line of the file, only its own twin
        const auto found = byName.constFind(name);
        if (found != byName.cend()) {
            wanted[*found].line = encode(k + u'=' + v);
            continue;
        }
        byName.insert(name, wanted.size());
        lengths.insert(name.size());
        wanted.append({encode(k + u'=' + v)});
    }

    LineRange lastContent;
    qsizetype unplaced = wanted.size();
    const bool inSection = walkSection(f, &lastContent, [&](const LineRange &line, const Classified &c) {
        if (!lengths.contains(c.name.size()))
            return true;
        const auto found = byName.constFind(foldAscii(c.name));
        if (found != byName.cend() && wanted[*found].at < 0) {
            wanted[*found].at = line.start;
            wanted[*found].length = line.length;
            --unplaced;
        }
        return true;
    });

    QList<const Wanted *> placed;
    for (const Wanted &w : wanted) {
        if (w.at >= 0)
            placed.append(&w);
    }
    std::sort(placed.begin(), placed.end(), [](const Wanted *a, const Wanted *b) { return a->at < b->at; });

    QByteArray out;
    out.reserve(raw.size() + 64 * wanted.size());
    qsizetype from = 0;
    for (const Wanted *w : placed) {
        out.append(QByteArrayView(raw).sliced(from, w->at - from));
        out.append(w->line);
        from = w->at + w->length;
    }
    if (unplaced > 0) {
        const QByteArray eol = lineEndOf(f);
        const qsizetype at = inSection ? lastContent.end() : raw.size();
        out.append(QByteArrayView(raw).sliced(from, at - from));
        from = at;
        // A last line without its line end gets one first.
        if (at > f.body && raw.at(at - 1) != '\n' && raw.at(at - 1) != '\r')
            out.append(eol);
        if (!inSection)
            out.append(encode(u'[' + kSection + u']') + eol);
        for (const Wanted &w : wanted) {
            if (w.at < 0)
                out.append(w.line + eol);
        }
    }
    out.append(QByteArrayView(raw).sliced(from));

    // A Windows-1252 file that the new text happens to make valid UTF-8
    // would read back as UTF-8 ("É…" as one other letter): it is saved as
    // UTF-8 instead, which reads back as it was meant.
    if (!f.utf8 && hasHighBytes(out) && isValidUtf8(out))
        out = fromCp1252(out.constData(), out.size()).toUtf8();
    return out;
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

bool makeFolder() { return makeOwnFolder(folder()); }

bool makeOwnFolder(const QString &path)
{
    if (QFileInfo(path).isDir())
        return true;
    // Made with its mode, never made open and narrowed after.
    const QString parent = QFileInfo(path).absolutePath();
    return QDir().mkpath(parent)
           && (QDir().mkdir(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) || QFileInfo(path).isDir());
}

QString pathOf(const QString &fileName)
{
    if (!isBareName(fileName))
        return {};
    return folder() + u'/' + fileName;
}

QString read(const QString &fileName, const QString &key, const QString &defaultText, int capacity,
             QString *refusal)
{
    const QString fallback = cutToCapacity(trimTrailingBlanks(defaultText), capacity);
    const QString path = pathOf(fileName);
    const QStringView k = trimBlanks(key);
    if (path.isEmpty() || k.isEmpty())
        return fallback;
    const WholeFile file = readWhole(path);
    if (refusal)
        *refusal = file.refusal;
    if (!file.exists || !file.refusal.isEmpty())
        return fallback;

    const FileBytes f = inspect(file.bytes);
    QByteArray name;
    if (!foldedName(f, k, &name))
        return fallback;
    LineRange lastContent;
    QByteArrayView value;
    bool found = false;
    walkSection(f, &lastContent, [&](const LineRange &, const Classified &c) {
        if (!sameFolded(c.name, name))
            return true;
        found = true;
        value = c.value;
        return false;
    });
    if (!found)
        return fallback;
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.sliced(1, value.size() - 2);
    return cutToCapacity(decode(f, value), capacity);
}

bool storable(const QString &text) { return limitToCp1252(text) == text; }

SaveResult write(const QString &fileName, const QString &key, const QString &value)
{
    return writeAll(fileName, {{key, value}});
}

SaveResult writeAll(const QString &fileName, const QList<std::pair<QString, QString>> &entries)
{
    const QString path = pathOf(fileName);
    if (path.isEmpty())
        return tellSave(fileName, QStringLiteral("the file name is not usable"));

    // A file that was not read whole is never replaced: what it holds
    // beyond what we could see would be lost.
    const WholeFile old = readWhole(path);
    if (!old.refusal.isEmpty())
        return tellSave(fileName, old.refusal);

    const QByteArray out = compose(old.bytes, entries);
    // Nothing changed (or nothing to write into a file that is not there).
    if (out == old.bytes && (old.exists || out.isEmpty()))
        return tellSave(fileName, {});
    // Never write a file the next start would refuse to read.
    if (out.size() > kMaxFileBytes)
        return tellSave(fileName, QStringLiteral("the saved file would be larger than %1")
                                      .arg(sizeLimitText()));
    if (!makeFolder())
        return tellSave(fileName, QStringLiteral("its folder %1 cannot be made").arg(folder()));
    return tellSave(fileName, replaceWhole(path, old, out));
}

} // namespace SettingsStore

SettingsReports &SettingsReports::instance()
{
    static SettingsReports reports;
    return reports;
}

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

QString capitals(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const char32_t u : text.toUcs4()) {
        const char32_t upper = QChar::toUpper(u);
        out.append(SettingsStore::storable(QString::fromUcs4(&upper, 1)) ? QString::fromUcs4(&upper, 1)
                                                                          : QString::fromUcs4(&u, 1));
    }
    return out;
}

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
    // A refused file is told once, not at each of the hundred reads of a load.
    QString refusal;
    const QString value = SettingsStore::read(m_file, key, defaultText, m_capacity, &refusal);
    if (!refusal.isEmpty() && refusal != m_toldRefusal)
        tellReadRefusal(m_file, refusal);
    m_toldRefusal = refusal;
    return value;
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

void IniFile::write(const QString &key, const QString &value) const
{
    if (m_openSaves > 0)
        m_pending.append({key, value});
    else
        SettingsStore::write(m_file, key, value);
}

IniFile::Save::Save(const IniFile &ini) : m_ini(ini), m_outermost(ini.m_openSaves == 0)
{
    if (m_outermost)
        m_ini.m_pending.clear();
    ++m_ini.m_openSaves;
}

IniFile::Save::~Save() { commit(); }

SaveResult IniFile::Save::commit()
{
    if (m_done)
        return m_result;
    m_done = true;
    --m_ini.m_openSaves;
    if (m_outermost)
        m_result = SettingsStore::writeAll(m_ini.m_file, std::exchange(m_ini.m_pending, {}));
    return m_result;
}
void IniFile::writeCheck(const QString &key, int value) const { write(key, Convert::checkToText(value)); }
void IniFile::writeOption(const QString &key, bool on) const { write(key, Convert::optionToText(on)); }

} // namespace mirelva
