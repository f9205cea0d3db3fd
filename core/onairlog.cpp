#include "core/onairlog.h"

#include <cstdio>

#include <QDateTime>

namespace mirelva {

OnAirLog &OnAirLog::instance()
{
    static OnAirLog log;
    return log;
}

void OnAirLog::emitLine(const QString &text)
{
    // The log tells real time even when tests set the program's clock.
    const QString stamped = OnAirLog::stamped(text);
    if (m_stderr) {
        const QByteArray bytes = stamped.toUtf8() + '\n';
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
        std::fflush(stderr);
    }
    emit line(stamped);
}

QString OnAirLog::stamped(const QString &text, const QDateTime &when)
{
    return when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz ")) + text;
}

void OnAirLog::request(const NodeRequest &r) { instance().emitLine(QStringLiteral("request ") + r.toText()); }

void OnAirLog::transmission(const QString &kind, const QString &text)
{
    instance().emitLine(QStringLiteral("on air %1: %2").arg(kind, text));
}

void OnAirLog::note(const QString &text) { instance().emitLine(text); }

void OnAirLog::setEchoToStderr(bool on) { instance().m_stderr = on; }

} // namespace mirelva
