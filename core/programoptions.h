#pragma once

#include <optional>

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

namespace mirelva {

// The command line of every Mirelva program, read before the program makes
// its application object: --help and --version print and end with status 0
// even where no window could be opened, and a mistyped option or a stray
// argument ends with status 2 and says so on standard error, instead of
// starting a station the operator did not ask for.
class ProgramOptions {
public:
    ProgramOptions(const QString &program, const QString &description);

    QCommandLineOption flag(const QString &name, const QString &help);
    QCommandLineOption value(const QString &name, const QString &help, const QString &valueName);

    // Options Qt's application object takes for itself (-platform, -display,
    // ...) are not known here: a program with a window leaves them to it and
    // checks the rest once the application has taken its own.
    enum class Unknown { Refuse, LeaveToQt };
    // The exit status when the program ends here, else nothing.
    std::optional<int> read(int argc, char *argv[], Unknown unknown = Unknown::Refuse);
    // After the application object took its options out of the command line.
    std::optional<int> refuseLeftovers(const QStringList &arguments);

    bool isSet(const QCommandLineOption &option) const { return m_parser.isSet(option); }
    QString valueOf(const QCommandLineOption &option) const { return m_parser.value(option); }
    QStringList valuesOf(const QCommandLineOption &option) const { return m_parser.values(option); }

    // The traffic printer's switch, alike in every node program.
    QCommandLineOption traceOption(const QString &help);

    const QString &program() const { return m_program; }

private:
    std::optional<int> mistake() const;

    QString m_program;
    QCommandLineParser m_parser;
    QCommandLineOption m_help;
    QCommandLineOption m_version;
};

} // namespace mirelva
