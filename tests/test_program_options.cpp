#include <optional>
#include <vector>

#include <QTest>

#include "core/onairlog.h"
#include "core/programoptions.h"

using namespace mirelva;

Q_DECLARE_METATYPE(std::optional<int>)

namespace {

// argv as main() gets it: writable, ending in a null pointer.
struct Argv {
    explicit Argv(const QStringList &args)
    {
        for (const QString &a : args)
            storage.push_back(a.toLocal8Bit());
        for (QByteArray &b : storage)
            pointers.push_back(b.data());
        pointers.push_back(nullptr);
    }
    int argc() const { return int(storage.size()); }
    char **argv() { return pointers.data(); }
    std::vector<QByteArray> storage;
    std::vector<char *> pointers;
};

} // namespace

// The command line every Mirelva program reads before it makes its
// application: what ends it, with which status, and what it goes on with.
class TestProgramOptions : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { OnAirLog::setEchoToStderr(false); }

    void endsOrGoesOn_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("leaveToQt");
        QTest::addColumn<std::optional<int>>("end");
        const std::optional<int> goesOn;
        QTest::newRow("nothing") << QStringList{"p"} << false << goesOn;
        QTest::newRow("a known flag") << QStringList{"p", "--headless"} << false << goesOn;
        QTest::newRow("a value") << QStringList{"p", "--listen", "unix:/x"} << false << goesOn;
        QTest::newRow("--help") << QStringList{"p", "--help"} << false << std::optional(0);
        QTest::newRow("-h") << QStringList{"p", "-h"} << false << std::optional(0);
        QTest::newRow("--version") << QStringList{"p", "--version"} << false << std::optional(0);
        QTest::newRow("-v after a flag") << QStringList{"p", "--headless", "-v"} << false << std::optional(0);
        QTest::newRow("help beats a mistake") << QStringList{"p", "--bogus", "--help"} << false << std::optional(0);
        QTest::newRow("unknown option") << QStringList{"p", "--bogus"} << false << std::optional(2);
        QTest::newRow("missing value") << QStringList{"p", "--listen"} << false << std::optional(2);
        QTest::newRow("stray argument") << QStringList{"p", "stray"} << false << std::optional(2);
        QTest::newRow("Qt's option refused") << QStringList{"p", "-platform", "offscreen"} << false << std::optional(2);
        // Left to Qt: its options go on to the application, and their
        // letters never read as -h or -v.
        QTest::newRow("qt: -platform") << QStringList{"p", "-platform", "offscreen"} << true << goesOn;
        QTest::newRow("qt: -reverse has a v") << QStringList{"p", "-reverse"} << true << goesOn;
        QTest::newRow("qt: -stylesheet has an h") << QStringList{"p", "-stylesheet", "a.qss"} << true << goesOn;
        QTest::newRow("qt: --help still ends") << QStringList{"p", "-platform", "x", "--help"} << true << std::optional(0);
        QTest::newRow("qt: --version still ends") << QStringList{"p", "-reverse", "--version"} << true << std::optional(0);
    }
    void endsOrGoesOn()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, leaveToQt);
        QFETCH(std::optional<int>, end);
        ProgramOptions options(QStringLiteral("p"), QStringLiteral("test"));
        const QCommandLineOption headless = options.flag(QStringLiteral("headless"), QStringLiteral("h"));
        options.value(QStringLiteral("listen"), QStringLiteral("l"), QStringLiteral("address"));
        Argv argv(args);
        QCOMPARE(options.read(argv.argc(), argv.argv(),
                              leaveToQt ? ProgramOptions::Unknown::LeaveToQt : ProgramOptions::Unknown::Refuse),
                 end);
        if (!end)
            QCOMPARE(options.isSet(headless), args.contains("--headless"));
    }

    // What is left once Qt's application took its own options out.
    void leftoversAfterQt_data()
    {
        QTest::addColumn<QStringList>("left");
        QTest::addColumn<std::optional<int>>("end");
        QTest::newRow("nothing") << QStringList{"p"} << std::optional<int>();
        QTest::newRow("a known flag") << QStringList{"p", "--headless"} << std::optional<int>();
        QTest::newRow("unknown option") << QStringList{"p", "--headles"} << std::optional(2);
        QTest::newRow("stray argument") << QStringList{"p", "offscreen"} << std::optional(2);
    }
    void leftoversAfterQt()
    {
        QFETCH(QStringList, left);
        QFETCH(std::optional<int>, end);
        ProgramOptions options(QStringLiteral("p"), QStringLiteral("test"));
        options.flag(QStringLiteral("headless"), QStringLiteral("h"));
        Argv argv({"p", "-platform", "offscreen"});
        QCOMPARE(options.read(argv.argc(), argv.argv(), ProgramOptions::Unknown::LeaveToQt), std::optional<int>());
        QCOMPARE(options.refuseLeftovers(left), end);
    }
};

QTEST_GUILESS_MAIN(TestProgramOptions)
#include "test_program_options.moc"
