#include "core/onairlog.h"

#include <algorithm>
#include <cstdio>

#include <QDateTime>

namespace mirelva {

OnAirLog &OnAirLog::instance()
{
    static OnAirLog log;
    return log;
}

QString OnAirLog::escaped(const QString &text)
{
    // The direction marks and isolates (U+202A-202E, U+2066-2069) count too:
    // they would turn the rest of a line around where it is shown.
    auto control = [](char16_t c) {
        return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x2028 || c == 0x2029 || (c >= 0x202a && c <= 0x202e)
               || (c >= 0x2066 && c <= 0x2069);
    };
    if (std::none_of(text.begin(), text.end(), [&](QChar c) { return control(c.unicode()); }))
        return text;
    QString out;
    out.reserve(text.size() + 16);
    for (QChar ch : text) {
        const char16_t c = ch.unicode();
        if (!control(c))
            out += ch;
        else if (c > 0xff)
            out += QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
        else
            out += QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
    }
    return out;
}

void OnAirLog::emitLine(const QString &text)
{
    // The log tells real time even when tests set the program's clock.
    const QString stamped = OnAirLog::stamped(escaped(text));
    if (m_stderr) {
        const QByteArray bytes = stamped.toUtf8() + '\n';
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
        std::fflush(stderr);
    }
    emit line(stamped);
}

void OnAirLog::complain(const QString &program, const QString &text)
{
    const QByteArray bytes = stamped(escaped(program + QStringLiteral(": ") + text)).toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
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
