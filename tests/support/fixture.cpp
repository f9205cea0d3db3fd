#include "support/fixture.h"

#include <QDir>
#include <QFile>

#include "core/onairlog.h"

namespace mirelva::test {

TempSettings::TempSettings()
{
    qputenv("XDG_CONFIG_HOME", m_dir.path().toUtf8());
    qputenv("XDG_RUNTIME_DIR", m_dir.path().toUtf8());
    QDir().mkpath(folder());
    OnAirLog::setEchoToStderr(false);
}

QString TempSettings::folder() const { return m_dir.path() + QStringLiteral("/mirelva"); }
QString TempSettings::path(const QString &file) const { return folder() + '/' + file; }

void TempSettings::writeFile(const QString &file, const QByteArray &bytes) const
{
    QFile f(path(file));
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
}

QByteArray TempSettings::readFile(const QString &file) const
{
    QFile f(path(file));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

QStringList TempSettings::readLines(const QString &file) const
{
    QStringList lines = QString::fromUtf8(readFile(file)).remove(QLatin1Char('\r')).split(QLatin1Char('\n'));
    lines.removeAll(QString());
    return lines;
}

void TempSettings::clear() const
{
    QDir d(folder());
    for (const QString &f : d.entryList(QDir::Files))
        d.remove(f);
}

} // namespace mirelva::test
