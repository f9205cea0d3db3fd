#include "core/programoptions.h"

#include <cstdio>

#include <QCoreApplication>

#include "core/onairlog.h"
#include "core/version.h"

namespace mirelva {

namespace {

void print(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

} // namespace

ProgramOptions::ProgramOptions(const QString &program, const QString &description)
    : m_program(program),
      m_help(QStringList{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Print these options and end.")),
      m_version(QStringList{QStringLiteral("v"), QStringLiteral("version")},
                QStringLiteral("Print the version and end."))
{
    m_parser.setApplicationDescription(description);
    // "-platform" or "-reverse", Qt's own, must not read as "-p -l -a ..."
    // with a -v (or the -h of "-stylesheet") among them.
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    m_parser.addOption(m_help);
    m_parser.addOption(m_version);
}

QCommandLineOption ProgramOptions::flag(const QString &name, const QString &help)
{
    QCommandLineOption option(name, help);
    m_parser.addOption(option);
    return option;
}

QCommandLineOption ProgramOptions::value(const QString &name, const QString &help, const QString &valueName)
{
    QCommandLineOption option(name, help, valueName);
    m_parser.addOption(option);
    return option;
}

QCommandLineOption ProgramOptions::traceOption(const QString &help)
{
    return flag(QStringLiteral("trace"), help);
}

std::optional<int> ProgramOptions::read(int argc, char *argv[], Unknown unknown)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const bool parsed = m_parser.parse(args);
    if (m_parser.isSet(m_help)) {
        // The usage line names the program as it was started; a plain core
        // application is enough for that, and needs no display.
        int count = 1;
        std::optional<QCoreApplication> app;
        if (!QCoreApplication::instance())
            app.emplace(count, argv);
        print(m_parser.helpText());
        return 0;
    }
    if (m_parser.isSet(m_version)) {
        print(m_program + QLatin1Char(' ') + versionText() + QLatin1Char('\n'));
        return 0;
    }
    if (unknown == Unknown::LeaveToQt)
        return std::nullopt;
    if (!parsed) {
        OnAirLog::complain(m_program, m_parser.errorText());
        return 2;
    }
    return mistake();
}

std::optional<int> ProgramOptions::refuseLeftovers(const QStringList &arguments)
{
    if (!m_parser.parse(arguments)) {
        OnAirLog::complain(m_program, m_parser.errorText());
        return 2;
    }
    return mistake();
}

std::optional<int> ProgramOptions::mistake() const
{
    const QStringList stray = m_parser.positionalArguments();
    if (stray.isEmpty())
        return std::nullopt;
    OnAirLog::complain(m_program, QStringLiteral("takes no arguments (\"%1\"); --help lists its options").arg(stray.first()));
    return 2;
}

} // namespace mirelva
