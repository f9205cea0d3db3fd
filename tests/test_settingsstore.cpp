#include <QDir>
#include <QRandomGenerator>
#include <QTest>

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
} // namespace

class TestSettingsStore : public QObject {
    Q_OBJECT
    TempSettings m_settings;

private slots:
    void init() { m_settings.clear(); }

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
        SettingsStore::write(kFile, "ONE", "1");
        SettingsStore::write(kFile, "TWO", "2");
        QCOMPARE(m_settings.readFile(kFile), QByteArray("[SETTINGS]\nONE=1\nTWO=2\n"));

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
