#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/onairlog.h"
#include "ui/program.h"
#include "core/settingsstore.h"
#include "support/fixture.h"

using namespace mirelva;
using namespace mirelva::test;

namespace {
const QString kFile = QStringLiteral("mirelva.ini");
QString rd(const QString &key, const QString &def = QString(), int capacity = 256)
{
    return SettingsStore::read(kFile, key, def, capacity);
}

constexpr qint64 kLimit = 16 << 20;
const QString kTooLarge = QStringLiteral("it is larger than 16 MB");

// A window's save: ninety keys, each value marked with the save's number.
SaveResult saveWindow(int generation, int padding = 40)
{
    const IniFile ini(kFile, 256);
    IniFile::Save save(ini);
    for (int k = 0; k < 90; ++k)
        ini.write(QStringLiteral("KEY%1").arg(k), QStringLiteral("%1 %2").arg(generation).arg(QString(padding, 'x')));
    return save.commit();
}

// The save numbers the file holds, one per key (-1 for a missing key).
QSet<int> generationsInFile()
{
    QSet<int> seen;
    for (int k = 0; k < 90; ++k)
        seen << rd(QStringLiteral("KEY%1").arg(k), "-1", 2000).section(' ', 0, 0).toInt();
    return seen;
}

QStringList leftovers(const QString &folder)
{
    return QDir(folder).entryList({"*.tmp"}, QDir::Files | QDir::Hidden | QDir::System);
}

// A child process runs body, which reports through the pipe; the parent gets
// the report, with "died: N" after it for a child killed by signal N.
struct Child {
    pid_t pid = -1;
    int out = -1;
};

Child startChild(const std::function<QByteArray()> &body, const std::function<void(int fd)> &stream = {})
{
    int fds[2];
    if (::pipe(fds) != 0)
        return {};
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        if (stream)
            stream(fds[1]);
        const QByteArray report = body();
        (void)!::write(fds[1], report.constData(), size_t(report.size()));
        ::_exit(0);
    }
    ::close(fds[1]);
    return {pid, fds[0]};
}

QByteArray finishChild(const Child &c)
{
    QByteArray report;
    char buf[4096];
    for (ssize_t n; (n = ::read(c.out, buf, sizeof buf)) != 0;) {
        if (n > 0)
            report.append(buf, n);
        else if (errno != EINTR)
            break;
    }
    ::close(c.out);
    int status = 0;
    ::waitpid(c.pid, &status, 0);
    return WIFSIGNALED(status) ? report + "died: " + QByteArray::number(WTERMSIG(status)) : report;
}

QByteArray inChild(const std::function<QByteArray()> &body) { return finishChild(startChild(body)); }

// "reason|intact" of a save attempted in the child, or "skip: why".
QByteArray attemptSave(const QByteArray &before)
{
    const SaveResult r = saveWindow(2);
    const bool intact = QFile(SettingsStore::pathOf(kFile)).open(QIODevice::ReadOnly)
                        ? ([&] {
                              QFile f(SettingsStore::pathOf(kFile));
                              f.open(QIODevice::ReadOnly);
                              return f.readAll() == before;
                          })()
                        : before.isEmpty();
    return (r.saved ? QByteArray("saved") : r.reason.toUtf8()) + '|' + (intact ? "intact" : "changed") + '|'
        + QByteArray::number(leftovers(SettingsStore::folder()).size());
}

bool writeProcFile(const char *path, const QByteArray &text)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.constData(), size_t(text.size())) == text.size();
    ::close(fd);
    return ok;
}

// In a child: a private mount namespace with a small filesystem on dir.
QByteArray mountSmallFilesystem(const QString &dir, const char *size)
{
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (::unshare(uid == 0 ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS) != 0)
        return "skip: no private mount namespace here (" + QByteArray(std::strerror(errno)) + ")";
    if (uid != 0
        && !(writeProcFile("/proc/self/setgroups", "deny")
             && writeProcFile("/proc/self/uid_map", "0 " + QByteArray::number(uid) + " 1")
             && writeProcFile("/proc/self/gid_map", "0 " + QByteArray::number(gid) + " 1")))
        return "skip: cannot map the user into a namespace";
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || ::mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", 0, (QByteArray("size=") + size).constData()) != 0)
        return "skip: cannot mount a small filesystem (" + QByteArray(std::strerror(errno)) + ")";
    return {};
}

// In a child: from here on a normal user (nobody) when started as root.
QByteArray becomeNormalUser()
{
    if (::geteuid() != 0)
        return {};
    if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
        return "skip: cannot become the user nobody (" + QByteArray(std::strerror(errno)) + ")";
    return {};
}
} // namespace

class TestSettingsStore : public QObject {
    Q_OBJECT
    TempSettings m_settings;

private slots:
    void init() { m_settings.clear(); }

    // A save as root follows a user's link only to that user's own file.
    void rootFollowsALinkOnlyToItsOwnersFile_data()
    {
        QTest::addColumn<uint>("linkOwner");
        QTest::addColumn<uint>("targetOwner");
        QTest::addColumn<QString>("reason");
        const QString refused = "it is a symbolic link to a file of another user, which a save as root does not follow";
        QTest::newRow("nobody's link to root's file") << 65534u << 0u << refused;
        QTest::newRow("nobody's link to nobody's file") << 65534u << 65534u << "";
        QTest::newRow("root's link to nobody's file") << 0u << 65534u << "";
    }
    void rootFollowsALinkOnlyToItsOwnersFile()
    {
        QFETCH(uint, linkOwner);
        QFETCH(uint, targetOwner);
        QFETCH(QString, reason);
        if (::geteuid() != 0)
            QSKIP("needs root");
        QTemporaryDir elsewhere;
        const QString victim = elsewhere.filePath("shadow");
        QFile f(victim);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("root:secret\n");
        f.close();
        QCOMPARE(::chown(QFile::encodeName(victim).constData(), targetOwner, targetOwner), 0);
        const QString path = SettingsStore::pathOf(kFile);
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile::remove(path);
        QVERIFY(QFile::link(victim, path));
        QCOMPARE(::lchown(QFile::encodeName(path).constData(), linkOwner, linkOwner), 0);
        const SaveResult r = SettingsStore::write(kFile, "HOURON1B", "7");
        QCOMPARE(r.reason, reason);
        QFile again(victim);
        QVERIFY(again.open(QIODevice::ReadOnly));
        QCOMPARE(again.readAll().contains("HOURON1B=7"), reason.isEmpty());
        QVERIFY(QFileInfo(path).isSymLink());
        QFile::remove(path);
    }

    // One copy per user: the lock lies in the user's runtime folder or, when
    // that is not the user's own, in the settings folder; never in a folder
    // all users share.
    void singleCopyLockIsTheUsersOwn()
    {
        if (::geteuid() != 0)
            QSKIP("needs root, to give a folder to another user");
        QTemporaryDir runtime;
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        QCOMPARE(Program::singleCopyLockPath(), runtime.path() + "/mirelva.lock");
        QCOMPARE(::chown(QFile::encodeName(runtime.path()).constData(), 65534, 65534), 0);
        QCOMPARE(Program::singleCopyLockPath(), SettingsStore::folder() + "/mirelva.lock");
        qunsetenv("XDG_RUNTIME_DIR");
        QCOMPARE(Program::singleCopyLockPath(), SettingsStore::folder() + "/mirelva.lock");
        qputenv("XDG_RUNTIME_DIR", saved);
    }

    void folderFollowsXdgConfigHome()
    {
        QVERIFY(SettingsStore::pathOf(kFile).startsWith(m_settings.folder() + '/'));
        const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", "");
        QCOMPARE(SettingsStore::folder(), QDir::homePath() + "/.config/mirelva");
        qunsetenv("XDG_CONFIG_HOME");
        QCOMPARE(SettingsStore::folder(), QDir::homePath() + "/.config/mirelva");
        qputenv("XDG_CONFIG_HOME", saved);
        QCOMPARE(SettingsStore::folder(), m_settings.folder());
    }

    void keysMatchWhateverTheLetterCase()
    {
        m_settings.writeFile(kFile, "[SETTINGS]\nHOURON1B=7\n");
        QCOMPARE(rd("HOURON1b"), QString("7"));
        m_settings.writeFile(kFile, "[settings]\nHOURON1b=8\n");
        QCOMPARE(rd("HOURON1B"), QString("8"));
        // A write with the other case replaces the same line, in the caller's case.
        SettingsStore::write(kFile, "HOURON1B", "9");
        QCOMPARE(m_settings.readFile(kFile), QByteArray("[settings]\nHOURON1B=9\n"));
    }

    void valuesAreTrimmedAndUnquoted()
    {
        m_settings.writeFile(kFile, "[SETTINGS]\n"
                                    "A=  padded\t \n"
                                    "B=\"  quoted  \"\n"
                                    "C='single'\n"
                                    "D= \n"
                                    "E=\"half\n"
                                    "F=\"\"\"\"\n"
                                    "G=\"mixed'\n"
                                    "  H  =  around  \n"
                                    "I=a=b\n");
        QCOMPARE(rd("A"), QString("padded"));
        QCOMPARE(rd("B"), QString("  quoted  "));
        QCOMPARE(rd("C"), QString("single"));
        QCOMPARE(rd("D", "x"), QString(""));
        QCOMPARE(rd("E"), QString("\"half"));
        QCOMPARE(rd("F"), QString("\"\"")); // only one pair goes
        QCOMPARE(rd("G"), QString("\"mixed'"));
        QCOMPARE(rd("H"), QString("around"));
        QCOMPARE(rd("I"), QString("a=b"));
    }

    void defaultsWhenFileSectionOrKeyIsMissing()
    {
        QCOMPARE(rd("CWCALLSIGN", " "), QString(""));
        QCOMPARE(rd("X", "TTS Text Here  "), QString("TTS Text Here"));
        QCOMPARE(rd("X", "  lead"), QString("  lead"));
        m_settings.writeFile(kFile, "[OTHER]\nX=1\n");
        QCOMPARE(rd("X", "d"), QString("d"));
        m_settings.writeFile(kFile, "[SETTINGS]\nY=1\n");
        QCOMPARE(rd("X", "d"), QString("d"));
        // Lines before any section and keys in other sections are not ours.
        m_settings.writeFile(kFile, "X=outside\n[OTHER]\nX=other\n[SETTINGS]\nY=1\n");
        QCOMPARE(rd("X", "d"), QString("d"));
    }

    void readIsCutToCapacityMinusOne()
    {
        const QString longValue(300, 'v');
        SettingsStore::write(kFile, "LONG", longValue);
        QCOMPARE(rd("LONG", {}, 256), QString(255, 'v'));
        QCOMPARE(rd("LONG", {}, 500), longValue);
        QCOMPARE(rd("LONG", {}, 1), QString());
        QCOMPARE(rd("LONG", {}, 0), QString());
        QCOMPARE(rd("MISSING", QString(300, 'd'), 250), QString(249, 'd'));
    }

    void firstOfDuplicatesAndFirstSectionWin()
    {
        m_settings.writeFile(kFile, "[SETTINGS]\nK=first\nk=second\n[SETTINGS]\nK=third\nL=later\n");
        QCOMPARE(rd("K"), QString("first"));
        QCOMPARE(rd("L", "d"), QString("d"));
        SettingsStore::write(kFile, "K", "new");
        QCOMPARE(m_settings.readFile(kFile),
                 QByteArray("[SETTINGS]\nK=new\nk=second\n[SETTINGS]\nK=third\nL=later\n"));
    }

    void windowsFileReadsLikeItsCleanTwin()
    {
        // As carried over from the Windows station: CRLF, Windows-1252, odd
        // case, blanks, a comment and an unterminated last line.
        m_settings.writeFile("win.ini", "; saved by the old program\r\n"
                                        "[Settings]\r\n"
                                        "  greeting = Caf\xE9 \x80 5 \x93ok\x94  \r\n"
                                        "HourOn1b=07\r\n"
                                        "CallSign=\"  PA3XYZ \"\r\n"
                                        "empty=");
        m_settings.writeFile("clean.ini", QString("[SETTINGS]\n"
                                                  "GREETING=Café € 5 “ok”\n"
                                                  "HOURON1B=07\n"
                                                  "CALLSIGN=\"  PA3XYZ \"\n"
                                                  "EMPTY=\n")
                                              .toUtf8());
        for (const QString key : {"GREETING", "hourOn1B", "HOURON1B", "callsign", "EMPTY", "NONE"}) {
            QCOMPARE(SettingsStore::read("win.ini", key, "d", 256), SettingsStore::read("clean.ini", key, "d", 256));
        }
        QCOMPARE(SettingsStore::read("win.ini", "greeting", {}, 256), QString("Café € 5 “ok”"));
        // A lone CR ends a line too (old Mac files).
        m_settings.writeFile("cr.ini", "[SETTINGS]\rA=1\rB=2\r");
        QCOMPARE(SettingsStore::read("cr.ini", "B", {}, 256), QString("2"));
    }

    void writeKeepsEverythingElseAndTheLineEnds()
    {
        const QByteArray before = "; comment\r\n"
                                  "[OTHER]\r\n"
                                  "A=other\r\n"
                                  "\r\n"
                                  "[SETTINGS]\r\n"
                                  "  A = old  \r\n"
                                  "B=\xE9\r\n"
                                  "; keep me\r\n"
                                  "\r\n"
                                  "[TAIL]\r\n"
                                  "C=3\r\n";
        m_settings.writeFile(kFile, before);
        SettingsStore::write(kFile, "a", "new");
        SettingsStore::write(kFile, "NEWKEY", QString("à la €"));
        QCOMPARE(m_settings.readFile(kFile), QByteArray("; comment\r\n"
                                                        "[OTHER]\r\n"
                                                        "A=other\r\n"
                                                        "\r\n"
                                                        "[SETTINGS]\r\n"
                                                        "a=new\r\n"
                                                        "B=\xE9\r\n"
                                                        "; keep me\r\n"
                                                        "NEWKEY=\xE0 la \x80\r\n"
                                                        "\r\n"
                                                        "[TAIL]\r\n"
                                                        "C=3\r\n"));
        QCOMPARE(rd("NEWKEY"), QString("à la €"));
        QCOMPARE(SettingsStore::read(kFile, "C", "d", 256), QString("d"));
    }

    void writeCreatesFileSectionAndKey()
    {
        QDir(m_settings.folder()).removeRecursively();
        const mode_t umaskWas = ::umask(022);
        SettingsStore::write(kFile, "ONE", "1");
        ::umask(umaskWas);
        SettingsStore::write(kFile, "TWO", "2");
        QCOMPARE(m_settings.readFile(kFile), QByteArray("[SETTINGS]\nONE=1\nTWO=2\n"));
        // The folder made for it is the user's alone, whatever the umask.
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(m_settings.folder()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0700u);

        // A file without the section, last line unterminated.
        m_settings.writeFile(kFile, "[OTHER]\nX=1");
        SettingsStore::write(kFile, "K", "v");
        QCOMPARE(m_settings.readFile(kFile), QByteArray("[OTHER]\nX=1\n[SETTINGS]\nK=v\n"));

        // The section is last and its last line unterminated.
        m_settings.writeFile(kFile, "[SETTINGS]\r\nX=1");
        SettingsStore::write(kFile, "K", "v");
        QCOMPARE(m_settings.readFile(kFile), QByteArray("[SETTINGS]\r\nX=1\r\nK=v\r\n"));
    }

    void writtenValuesReadBack()
    {
        SettingsStore::write(kFile, "MULTI", "line one\r\nline two\nthree");
        SettingsStore::write(kFile, "AFTER", "x");
        QCOMPARE(rd("MULTI"), QString("line one  line two three"));
        QCOMPARE(rd("AFTER"), QString("x"));
        // Outside Windows-1252 a character becomes '?', one per character.
        SettingsStore::write(kFile, "WIDE", QString("a\u0100b") + QString::fromUcs4(U"\U0001F600") + "c");
        QCOMPARE(rd("WIDE"), QString("a?b?c"));
        SettingsStore::write(kFile, "NUL", QString("ab") + QChar(0) + "cd");
        QCOMPARE(rd("NUL"), QString("ab"));
        // Keys that would break the file are refused.
        const QByteArray before = m_settings.readFile(kFile);
        for (const QString key : {"", "  ", "A=B", "[SETTINGS]", ";X", "K\nL"})
            SettingsStore::write(kFile, key, "bad");
        QCOMPARE(m_settings.readFile(kFile), before);
    }

    void utf8FileKeepsItsEncoding()
    {
        m_settings.writeFile(kFile, QString("[SETTINGS]\nA=Café\n").toUtf8());
        SettingsStore::write(kFile, "B", "Ærø");
        QCOMPARE(m_settings.readFile(kFile), QString("[SETTINGS]\nA=Café\nB=Ærø\n").toUtf8());
        QCOMPARE(rd("A"), QString("Café"));
        m_settings.writeFile("bom.ini", "\xEF\xBB\xBF[SETTINGS]\nA=1\n");
        SettingsStore::write("bom.ini", "A", "2");
        QCOMPARE(m_settings.readFile("bom.ini"), QByteArray("\xEF\xBB\xBF[SETTINGS]\nA=2\n"));
    }

    void windows1252TextThatLooksLikeUtf8ReadsBackAsWritten()
    {
        // "É…" is C9 85 in Windows-1252, which is also a valid UTF-8 letter.
        const QString text = QString::fromUtf8("CAFÉ… ß°");
        SettingsStore::write(kFile, "GREETING", text);
        QCOMPARE(rd("GREETING"), text);
        SettingsStore::write(kFile, "OTHER", "plain");
        QCOMPARE(rd("GREETING"), text);
        QCOMPARE(rd("OTHER"), QString("plain"));

        // Beside a byte that is no UTF-8 the file stays Windows-1252.
        m_settings.writeFile(kFile, "[SETTINGS]\r\nB=\xE9t\xE9\r\n");
        SettingsStore::write(kFile, "GREETING", text);
        QCOMPARE(m_settings.readFile(kFile), QByteArray("[SETTINGS]\r\nB=\xE9t\xE9\r\nGREETING=CAF\xC9\x85 \xDF\xB0\r\n"));
        QCOMPARE(rd("GREETING"), text);
        QCOMPARE(rd("B"), QString::fromUtf8("été"));
    }

    void largeAndDamagedFilesReadAndWriteInPlace()
    {
        // Two million blank lines (of every kind) around the section.
        QByteArray blanks;
        for (int i = 0; i < 500000; ++i)
            blanks += "\n  \r\n\t\r\n";
        const QByteArray head = "[SETTINGS]\r\nA=1\r\n";
        m_settings.writeFile(kFile, blanks + head + blanks + "HOURON1B=7\r\n" + blanks);
        QCOMPARE(rd("HOURON1b"), QString("7"));
        QCOMPARE(rd("MISSING", "d"), QString("d"));
        SettingsStore::write(kFile, "hourON1b", "8");
        QCOMPARE(m_settings.readFile(kFile), blanks + head + blanks + "hourON1b=8\r\n" + blanks);
        SettingsStore::write(kFile, "NEW", "n");
        QCOMPARE(m_settings.readFile(kFile), blanks + head + blanks + "hourON1b=8\r\nNEW=n\r\n" + blanks);

        // A value of megabytes is read cut, and replaced whole.
        m_settings.writeFile(kFile, "[SETTINGS]\nCALLSIGN=" + QByteArray(3 << 20, 'x') + "\nB=2\n");
        QCOMPARE(rd("CALLSIGN"), QString(255, 'x'));
        QCOMPARE(rd("B"), QString("2"));
        SettingsStore::write(kFile, "CALLSIGN", "VK2RAG");
        QCOMPARE(m_settings.readFile(kFile), QByteArray("[SETTINGS]\nCALLSIGN=VK2RAG\nB=2\n"));

        // Binary garbage, NULs and all: defaults; a write adds the section at
        // the end and keeps every byte that was there.
        QByteArray garbage(1 << 20, Qt::Uninitialized);
        QRandomGenerator random(1252);
        for (char &c : garbage)
            c = char(random.bounded(256));
        garbage.replace('[', ' ');
        m_settings.writeFile(kFile, garbage);
        QCOMPARE(rd("CALLSIGN", "d"), QString("d"));
        SettingsStore::write(kFile, "CALLSIGN", "VK2RAG");
        const QByteArray after = m_settings.readFile(kFile);
        QVERIFY(after.startsWith(garbage));
        QCOMPARE(rd("CALLSIGN"), QString("VK2RAG"));

        // A line that is no key (no '=') is kept and means nothing.
        m_settings.writeFile(kFile, "[SETTINGS]\nJUNK LINE\nA=1\n");
        QCOMPARE(rd("JUNK LINE", "d"), QString("d"));
        SettingsStore::write(kFile, "A", "2");
        QCOMPARE(m_settings.readFile(kFile), QByteArray("[SETTINGS]\nJUNK LINE\nA=2\n"));
    }

    void atomicWriteLeavesNoTemporaryFiles()
    {
        for (int i = 0; i < 50; ++i)
            SettingsStore::write(kFile, QString("KEY%1").arg(i % 10), QString::number(i));
        QCOMPARE(QDir(m_settings.folder()).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{kFile});
        QCOMPARE(rd("KEY9"), QString("49"));
    }

    void badFileNamesStayInTheFolder()
    {
        for (const QString name : {"../escape.ini", "sub/x.ini", "/tmp/abs.ini", "..", ".", "", "a..b"}) {
            SettingsStore::write(name, "K", "v");
            QCOMPARE(SettingsStore::read(name, "K", "def", 256), QString("def"));
            QVERIFY(SettingsStore::pathOf(name).isEmpty());
        }
        QVERIFY(!QFile::exists(m_settings.folder() + "/../escape.ini"));
        QVERIFY(QDir(m_settings.folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
        // A folder where the file should be is neither read nor replaced.
        QDir().mkpath(m_settings.path("dir.ini"));
        SettingsStore::write("dir.ini", "K", "v");
        QCOMPARE(SettingsStore::read("dir.ini", "K", "def", 256), QString("def"));
        QVERIFY(QFileInfo(m_settings.path("dir.ini")).isDir());
    }

    void numberReadsLikeVal()
    {
        QCOMPARE(Convert::number("  42abc"), 42);
        QCOMPARE(Convert::number("-7"), -7);
        QCOMPARE(Convert::number("+3"), 3);
        QCOMPARE(Convert::number("12.9"), 12);
        QCOMPARE(Convert::number("abc"), 0);
        QCOMPARE(Convert::number(""), 0);
        QCOMPARE(Convert::number("- 5"), 0);
        QCOMPARE(Convert::number("99999999999999999999999999"), qint64(2147483647));
        QCOMPARE(Convert::number("-99999999999999999999999999"), qint64(-2147483648LL));
    }

    void conversionsFallBackOnJunk()
    {
        QCOMPARE(Convert::checkFromText(" 2 ", 0), 2);
        QCOMPARE(Convert::checkFromText("0", 1), 0);
        // Read by integer conversion, as every number is.
        QCOMPARE(Convert::checkFromText("1.0", 0), 1);
        QCOMPARE(Convert::checkFromText("0.4", 1), 0);
        QCOMPARE(Convert::checkFromText("1.6", 0), 2);
        QCOMPARE(Convert::checkFromText("+1", 0), 1);
        for (const QString junk : {"3", "-1", "2.6", "abc", "", "1x", "1e99"})
            QCOMPARE(Convert::checkFromText(junk, 1), 1);

        QCOMPARE(Convert::optionFromText("tRUE", false), true);
        QCOMPARE(Convert::optionFromText(" false ", true), false);
        QCOMPARE(Convert::optionFromText("1.5", false), true);
        QCOMPARE(Convert::optionFromText("-1", false), true);
        QCOMPARE(Convert::optionFromText("0", true), false);
        for (const QString junk : {"yes", "", "inf", "nan", "1e999", "0x1"})
            QCOMPARE(Convert::optionFromText(junk, true), true);

        QCOMPARE(Convert::integerFromText(" 24 ", 0), 24);
        QCOMPARE(Convert::integerFromText("2.5", 0), 2); // halves to even, as CInt
        QCOMPARE(Convert::integerFromText("3.5", 0), 4);
        QCOMPARE(Convert::integerFromText("1e30", 0), 2147483647);
        QCOMPARE(Convert::integerFromText("-1e30", 0), -2147483647 - 1);
        QCOMPARE(Convert::integerFromText("12abc", 5), 5);

        QCOMPARE(Convert::twipsFromText("1234.5", 0), 1234.5);
        QCOMPARE(Convert::twipsFromText("0.1", 0), double(0.1f));
        QCOMPARE(Convert::twipsFromText("1e39", 300), 300.0);
        QCOMPARE(Convert::twipsFromText("left", 300), 300.0);
        QCOMPARE(Convert::twipsToText(1234.5), QString("1234.5"));
        QCOMPARE(Convert::twipsToText(300), QString("300"));
        QCOMPARE(Convert::twipsFromText(Convert::twipsToText(0.1), 0), double(0.1f));
    }

    void twipsAndPixels()
    {
        QCOMPARE(Convert::twipsToPixels(1500, 96), 100);
        QCOMPARE(Convert::pixelsToTwips(100, 96), 1500.0);
        QCOMPARE(Convert::twipsToPixels(1440, 120), 120);
        QCOMPARE(Convert::twipsToPixels(1500, 0), 100); // unusable dpi: 96
        QCOMPARE(Convert::twipsToPixels(3.0e38, 96), 2147483647);
    }

    void lookAlikeKeysAreOtherKeys()
    {
        // Only ASCII letters match whatever their case; "ſ" (long s) and the
        // Kelvin sign fold to s and k in Unicode, but are other keys here.
        m_settings.writeFile(kFile, QString("[SETTINGS]\nCALLſIGN=fake\n\u212AEY=kelvin\ncallsign=real\n").toUtf8());
        QCOMPARE(rd("CALLSIGN"), QString("real"));
        QCOMPARE(rd("KEY", "d"), QString("d"));
        QCOMPARE(rd("CALLſIGN"), QString("fake"));
        m_settings.writeFile(kFile, "[SETTINGS]\nCALL\xDFIGN=cp1252\n");
        QCOMPARE(rd("CALLSSIGN", "d"), QString("d"));
        SettingsStore::write(kFile, "CALLSIGN", "new");
        QCOMPARE(m_settings.readFile(kFile), QByteArray("[SETTINGS]\nCALL\xDFIGN=cp1252\nCALLSIGN=new\n"));
        // The section name too.
        m_settings.writeFile(kFile, QString("[ſETTINGS]\nA=1\n").toUtf8());
        QCOMPARE(rd("A", "d"), QString("d"));
    }

    void aSaveSetsEveryKeyInOneReplacement()
    {
        // As a series of single writes would, but the file is new only once.
        m_settings.writeFile(kFile, "; top\r\n[SETTINGS]\r\nB=old\r\nA=old\r\n\r\n[OTHER]\r\nA=x\r\n");
        const IniFile ini(kFile, 256);
        struct stat before {};
        QCOMPARE(::stat(QFile::encodeName(m_settings.path(kFile)).constData(), &before), 0);
        {
            IniFile::Save save(ini);
            ini.write("a", "1");
            ini.write("NEW", "n1");
            {
                IniFile::Save inner(ini); // joins the outer save
                ini.writeCheck("CHK", 2);
            }
            ini.write("NEW", "n2");
            ini.write("b", "2");
            ini.writeOption("OPT", true);
            ini.write("A=B", "refused");
            // Nothing reaches the file before the save ends.
            QCOMPARE(rd("A"), QString("old"));
        }
        QCOMPARE(m_settings.readFile(kFile), QByteArray("; top\r\n[SETTINGS]\r\nb=2\r\na=1\r\nNEW=n2\r\nCHK=2\r\n"
                                                        "OPT=True\r\n\r\n[OTHER]\r\nA=x\r\n"));
        struct stat after {};
        QCOMPARE(::stat(QFile::encodeName(m_settings.path(kFile)).constData(), &after), 0);
        QVERIFY(after.st_ino != before.st_ino);

        // A save that changes nothing leaves the very same file.
        SaveResult same;
        {
            IniFile::Save save(ini);
            ini.write("a", "1");
            ini.write("NEW", "n2");
            same = save.commit();
            QVERIFY(save.commit().saved);
        }
        QVERIFY(same.saved);
        struct stat again {};
        QCOMPARE(::stat(QFile::encodeName(m_settings.path(kFile)).constData(), &again), 0);
        QCOMPARE(again.st_ino, after.st_ino);

        // An empty save makes no file.
        m_settings.clear();
        {
            IniFile::Save save(ini);
            ini.write("[BAD", "key");
        }
        QVERIFY(!QFile::exists(m_settings.path(kFile)));
    }

    void failedSavesLeaveTheOldFileAndSayWhy()
    {
        const QByteArray old = "[SETTINGS]\nKEY1=1 old\n";
        const QString path = m_settings.path(kFile);
        struct Case {
            const char *what;
            std::function<void()> setUp;
            QString reason;
        };
        const QList<Case> cases{
            {"a folder in its place", [&] { QDir().mkpath(path + "/inside"); }, "a folder is in its place"},
            {"a read-only file",
             [&] {
                 m_settings.writeFile(kFile, old);
                 QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
             },
             "the file is read-only"},
            {"a file too large to read", [&] { m_settings.writeFile(kFile, old + QByteArray(kLimit, '\n')); }, kTooLarge},
            {"a save that would pass the size limit",
             [&] { m_settings.writeFile(kFile, old + QByteArray(kLimit - old.size() - 100, '\n')); },
             "the saved file would be larger than 16 MB"},
        };
        QStringList log;
        QObject listening;
        connect(&OnAirLog::instance(), &OnAirLog::line, &listening, [&log](const QString &line) { log << line.mid(24); });
        QSignalSpy told(&SettingsReports::instance(), &SettingsReports::problem);
        for (const Case &c : cases) {
            m_settings.clear();
            QDir(path).removeRecursively();
            c.setUp();
            const QByteArray before = m_settings.readFile(kFile);
            log.clear();
            told.clear();
            const SaveResult r = saveWindow(2);
            QVERIFY2(!r.saved, c.what);
            QCOMPARE(r.reason, c.reason);
            QCOMPARE(m_settings.readFile(kFile), before);
            QCOMPARE(leftovers(m_settings.folder()), QStringList());
            QCOMPARE(log, QStringList{"settings not saved: " + path + ": " + c.reason});
            QCOMPARE(told.size(), 1);
            QCOMPARE(told.at(0).at(0).toString(), kFile);
            QCOMPARE(told.at(0).at(1).toString(), "Nothing saved to mirelva.ini: " + c.reason + ". The file is as it was.");
        }
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        QDir(path).removeRecursively();

        // A file just under the limit is read, and saved while it stays under.
        m_settings.writeFile(kFile, old + QByteArray(kLimit - old.size() - 2000, '\n'));
        QCOMPARE(rd("KEY1"), QString("1 old"));
        QVERIFY(SettingsStore::write(kFile, "KEY2", "fits").saved);
        QCOMPARE(rd("KEY2"), QString("fits"));
    }

    void aTooLargeFileIsToldOnceAndLeftAlone()
    {
        const QByteArray large = "[SETTINGS]\nCALLSIGN=VK2RAG\n" + QByteArray(kLimit, ' ');
        m_settings.writeFile(kFile, large);
        QSignalSpy told(&SettingsReports::instance(), &SettingsReports::problem);
        const IniFile ini(kFile, 256);
        for (const char *key : {"CALLSIGN", "A", "B"})
            QCOMPARE(ini.text(key, "d"), QString("d"));
        QCOMPARE(told.size(), 1);
        QCOMPARE(told.at(0).at(1).toString(),
                 "mirelva.ini not read: " + kTooLarge + ". Defaults in use; saving will not replace the file.");
        QVERIFY(!SettingsStore::write(kFile, "CALLSIGN", "VK2RAG").saved);
        QVERIFY(m_settings.readFile(kFile) == large);
    }

    void failedSavesAsANormalUser()
    {
        // Root writes where a normal user may not, so these run as nobody.
        QTemporaryDir home(QDir::tempPath() + "/mirelva-nobody-XXXXXX");
        ::chmod(QFile::encodeName(home.path()).constData(), 0755);
        const QString folder = home.path() + "/mirelva";
        const QString path = folder + "/" + kFile;
        const QByteArray old = "[SETTINGS]\nKEY1=1 old\n";
        struct Case {
            const char *what;
            int folderMode;
            int fileMode;
            QByteArray reason;
        };
        const QList<Case> cases{
            {"a read-only file", 0755, 0444, "the file is read-only"},
            {"a folder without write permission", 0555, 0644, "there is no permission to write in its folder"},
            {"a file without read permission", 0755, 0200, "there is no permission to read it"},
        };
        for (const Case &c : cases) {
            const QByteArray report = inChild([&]() -> QByteArray {
                qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
                QDir(folder).removeRecursively();
                QDir().mkpath(folder);
                QFile f(path);
                f.open(QIODevice::WriteOnly);
                f.write(old);
                f.close();
                if (::geteuid() == 0
                    && (::chown(QFile::encodeName(folder).constData(), 65534, 65534) != 0
                        || ::chown(QFile::encodeName(path).constData(), 65534, 65534) != 0))
                    return "skip: cannot give the folder to nobody";
                if (QByteArray why = becomeNormalUser(); !why.isEmpty())
                    return why;
                ::chmod(QFile::encodeName(path).constData(), mode_t(c.fileMode));
                ::chmod(QFile::encodeName(folder).constData(), mode_t(c.folderMode));
                const QByteArray result = [&] {
                    const SaveResult r = saveWindow(2);
                    ::chmod(QFile::encodeName(path).constData(), 0644);
                    QFile back(path);
                    back.open(QIODevice::ReadOnly);
                    return (r.saved ? QByteArray("saved") : r.reason.toUtf8()) + '|'
                        + (back.readAll() == old ? "intact" : "changed") + '|'
                        + QByteArray::number(leftovers(folder).size());
                }();
                ::chmod(QFile::encodeName(folder).constData(), 0755);
                return result;
            });
            if (report.startsWith("skip: "))
                QSKIP(report.constData());
            QCOMPARE(report, c.reason + "|intact|0");
        }
    }

    void aFullDiskSavesNothing()
    {
        // A filesystem of 64 kB of its own, in a child's private mount namespace.
        QTemporaryDir home;
        const QByteArray report = inChild([&]() -> QByteArray {
            if (QByteArray why = mountSmallFilesystem(home.path(), "64k"); !why.isEmpty())
                return why;
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
            if (!saveWindow(1).saved)
                return "first save failed";
            QFile before(SettingsStore::pathOf(kFile));
            before.open(QIODevice::ReadOnly);
            const QByteArray old = before.readAll();
            QFile filler(home.path() + "/filler");
            filler.open(QIODevice::WriteOnly);
            const QByteArray block(4096, 'f');
            while (filler.write(block) == block.size() && filler.flush()) {
            }
            return attemptSave(old);
        });
        if (report.startsWith("skip: "))
            QSKIP(report.constData());
        QCOMPARE(report, QByteArray("the disk is full|intact|0"));
    }

    void aSaveKilledHalfWayLeavesTheWholeOldOrNewFile()
    {
        // A child saves over and over, each save with its own number in all
        // ninety keys, until it is killed at some moment of a save.
        QRandomGenerator random(15);
        int lastTold = 0;
        for (int round = 0; round < 12; ++round) {
            const Child child = startChild([] { return QByteArray(); },
                                           [](int fd) {
                                               for (int g = 1;; ++g) {
                                                   saveWindow(g, 1000);
                                                   const QByteArray n = QByteArray::number(g) + '\n';
                                                   (void)!::write(fd, n.constData(), size_t(n.size()));
                                               }
                                           });
            // Kill it at a random moment of the third save: as long after the
            // second ended as the second took.
            QByteArray told;
            QElapsedTimer took;
            char c;
            while (told.count('\n') < 2 && ::read(child.out, &c, 1) == 1) {
                told += c;
                if (c == '\n' && told.count('\n') == 1)
                    took.start();
            }
            ::usleep(useconds_t(random.bounded(qMax<qint64>(1, took.nsecsElapsed() / 1000))));
            ::kill(child.pid, SIGKILL);
            told += finishChild(child);
            QVERIFY(told.endsWith("died: 9"));
            const QList<QByteArray> numbers = told.split('\n');
            lastTold = numbers.at(numbers.size() - 2).toInt();
            const QSet<int> inFile = generationsInFile();
            QCOMPARE(inFile.size(), 1);
            const int g = *inFile.begin();
            QVERIFY2(g >= lastTold && g <= lastTold + 1, qPrintable(QString("file %1, told %2").arg(g).arg(lastTold)));
        }
        // What a killed save left beside the file is gone after the next save.
        QVERIFY(saveWindow(999).saved);
        QCOMPARE(leftovers(m_settings.folder()), QStringList());
        QCOMPARE(generationsInFile(), QSet<int>{999});
    }

    void iniFileFallsBackToTheDefaultsConversion()
    {
        m_settings.writeFile(kFile, "[SETTINGS]\nCHK=abc\nOPT=maybe\nNUM=lots\nPOS=here\nGOOD=2\n");
        const IniFile ini(kFile, 256);
        QCOMPARE(ini.check("CHK", "1"), 1);
        QCOMPARE(ini.check("GOOD", "1"), 2);
        QCOMPARE(ini.check("CHK", "junk"), 0);
        QCOMPARE(ini.option("OPT", "1"), true);
        QCOMPARE(ini.option("OPT", "0"), false);
        QCOMPARE(ini.option("MISSING", "True"), true);
        QCOMPARE(ini.integer("NUM", "24"), 24);
        QCOMPARE(ini.twips("POS", "600"), 600.0);

        ini.writeCheck("CHK", 2);
        ini.writeOption("OPT", true);
        QCOMPARE(ini.check("CHK", "0"), 2);
        QCOMPARE(ini.text("OPT", {}), QString("True"));
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "test_settingsstore.moc"
