#include "node/svxlink/svxlinkhook.h"

#include <cstring>

#include <QRegularExpression>

namespace mirelva::svxlink {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::optional<bool> flag(const QString &word)
{
    if (word == QLatin1String("1"))
        return true;
    if (word == QLatin1String("0"))
        return false;
    return std::nullopt;
}

const QRegularExpression &callPattern()
{
    // EchoLink callsigns: letters, digits, "-L"/"-R" suffixes, and the
    // conference names in stars ("*ECHOTEST*").
    static const QRegularExpression re(QStringLiteral("^\\*?[A-Za-z0-9][A-Za-z0-9/-]{0,14}\\*?$"));
    return re;
}

} // namespace

std::optional<QString> percentDecode(const QByteArray &word)
{
    if (word == "%")
        return QString();
    QByteArray out;
    out.reserve(word.size());
    for (int i = 0; i < word.size(); ++i) {
        const char c = word[i];
        if (c != '%') {
            out.append(c);
            continue;
        }
        if (i + 2 >= word.size())
            return std::nullopt;
        const int hi = hexValue(word[i + 1]);
        const int lo = hexValue(word[i + 2]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out.append(char(hi * 16 + lo));
        i += 2;
    }
    return QString::fromUtf8(out);
}

QByteArray percentEncode(const QString &text)
{
    if (text.isEmpty())
        return QByteArrayLiteral("%");
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    for (char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        if (c > 32 && c < 127 && c != '%') {
            out.append(ch);
        } else {
            static const char hex[] = "0123456789ABCDEF";
            out.append('%');
            out.append(hex[c >> 4]);
            out.append(hex[c & 15]);
        }
    }
    return out;
}

ParsedHookLine parseHookLine(const QByteArray &line)
{
    ParsedHookLine r;
    // "<seconds.ms> Mirelva:<kind> args...", as publishStateEvent writes it.
    const QList<QByteArray> words = line.trimmed().split(' ');
    if (words.size() < 2 || !words[1].startsWith("Mirelva:"))
        return r;
    auto bad = [&r](const QString &why) {
        r.status = ParsedHookLine::Bad;
        r.error = why;
        return r;
    };
    const QByteArray kind = words[1].mid(8);
    QStringList args;
    for (int i = 2; i < words.size(); ++i) {
        if (words[i].isEmpty())
            continue;   // a doubled blank
        const std::optional<QString> a = percentDecode(words[i]);
        if (!a)
            return bad(QStringLiteral("broken %-escape in \"%1\"").arg(QString::fromLatin1(words[i].left(40))));
        args << *a;
    }
    HookEvent &e = r.event;
    auto needArgs = [&](int n) { return args.size() == n; };
    auto oneCall = [&](HookEvent::Kind k) {
        if (!needArgs(1) || !isEchoLinkCall(args[0]))
            return false;
        e.kind = k;
        e.call = args[0];
        return true;
    };
    bool ok = false;
    if (kind == "sql" || kind == "tx") {
        const std::optional<bool> on = needArgs(1) ? flag(args[0]) : std::nullopt;
        ok = on.has_value();
        e.kind = kind == "sql" ? HookEvent::Squelch : HookEvent::Transmit;
        e.on = on.value_or(false);
    } else if (kind == "dtmf") {
        static const QRegularExpression digit(QStringLiteral("^[0-9A-D*#]$"));
        ok = needArgs(1) && digit.match(args[0]).hasMatch();
        e.kind = HookEvent::Dtmf;
        e.text = ok ? args[0] : QString();
    } else if (kind == "connected") {
        ok = oneCall(HookEvent::Connected);
    } else if (kind == "disconnected") {
        ok = oneCall(HookEvent::Disconnected);
    } else if (kind == "clients" || kind == "cbc") {
        e.kind = kind == "clients" ? HookEvent::Clients : HookEvent::CbcList;
        ok = true;
        for (const QString &c : args)
            ok = ok && isEchoLinkCall(c);
        if (ok)
            e.calls = args;
    } else if (kind == "rx") {
        const std::optional<bool> on = needArgs(2) ? flag(args[0]) : std::nullopt;
        ok = on.has_value() && isEchoLinkCall(args[1]);
        e.kind = HookEvent::Receiving;
        e.on = on.value_or(false);
        if (ok)
            e.call = args[1];
    } else if (kind == "chat") {
        ok = needArgs(1);
        e.kind = HookEvent::Chat;
        if (ok) {
            // SvxLink hands the text on with its line ends; the text itself
            // is what the station typed.
            QString t = args[0];
            while (!t.isEmpty() && (t.back().isSpace() || t.back() == QLatin1Char('\0')))
                t.chop(1);
            e.text = t;
        }
    } else if (kind == "connectfailed") {
        ok = needArgs(1);
        e.kind = HookEvent::ConnectFailed;
        if (ok)
            e.text = args[0];
    } else {
        return bad(QStringLiteral("unknown hook event \"%1\"").arg(QString::fromLatin1(kind.left(40))));
    }
    if (!ok)
        return bad(QStringLiteral("hook event \"%1\" with wrong arguments").arg(QString::fromLatin1(kind)));
    r.status = ParsedHookLine::Ok;
    return r;
}

std::optional<StationSeen> parseOutputLine(const QString &line)
{
    // The name is SvxLink's own cut of the station's NAME item: up to its
    // first blank. An address is IPv4 dotted or IPv6.
    static const QRegularExpression re(
        QStringLiteral("^Incoming EchoLink connection from (\\S+) \\((.*)\\) at ([0-9A-Fa-f.:]+)\\s*$"));
    const QRegularExpressionMatch m = re.match(line);
    if (!m.hasMatch() || !isEchoLinkCall(m.captured(1)))
        return std::nullopt;
    return StationSeen{m.captured(1), m.captured(2), m.captured(3)};
}

QString cwText(const QString &text)
{
    QString out;
    for (const QChar ch : text.toUpper()) {
        const char16_t c = ch.unicode();
        const bool sendable = (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'.' || c == u','
                              || c == u'?' || c == u'/' || c == u'=';
        if (sendable)
            out.append(ch);
        else if (ch.isSpace() && !out.isEmpty() && !out.endsWith(QLatin1Char(' ')))
            out.append(QLatin1Char(' '));
    }
    while (out.endsWith(QLatin1Char(' ')))
        out.chop(1);
    return out.left(200);
}

QByteArray cwCommand(const QString &text) { return "cw " + cwText(text).toLatin1() + '\n'; }

QString speechFileName(int serial) { return QStringLiteral("speech-%1.wav").arg(serial); }

QByteArray playCommand(int serial) { return "play " + speechFileName(serial).toLatin1() + '\n'; }

QByteArray passCommand(const QString &digits) { return "pass " + digits.toLatin1() + '\n'; }

bool isEchoLinkCall(const QString &call) { return callPattern().match(call).hasMatch(); }

bool isNodeNumber(const QString &call)
{
    static const QRegularExpression re(QStringLiteral("^[0-9]{1,7}$"));
    return re.match(call).hasMatch();
}

QString keypadDigits(const QString &call)
{
    static const char *const keys[] = {"ABC", "DEF", "GHI", "JKL", "MNO", "PQRS", "TUV", "WXYZ"};
    QString out;
    for (const QChar ch : call.toUpper()) {
        const char c = ch.toLatin1();
        if (c >= '0' && c <= '9') {
            out.append(ch);
            continue;
        }
        for (int k = 0; k < 8; ++k)
            if (c != 0 && std::strchr(keys[k], c))
                out.append(QChar(u'2' + k));
    }
    return out;
}

void DtmfCollector::digit(const QString &d, qint64 nowMs)
{
    if (m_digits.size() < kMaxDigits)
        m_digits += d;
    m_lastMs = nowMs;
}

std::optional<QString> DtmfCollector::take()
{
    if (m_digits.isEmpty())
        return std::nullopt;
    QString s = m_digits;
    m_digits.clear();
    return s;
}

std::optional<QString> DtmfCollector::squelchClosed() { return take(); }

std::optional<QString> DtmfCollector::tick(qint64 nowMs)
{
    if (m_digits.isEmpty() || nowMs - m_lastMs < m_timeoutMs)
        return std::nullopt;
    return take();
}

std::optional<bool> pttFromBytes(const QByteArray &bytes)
{
    for (qsizetype i = bytes.size() - 1; i >= 0; --i) {
        if (bytes[i] == 'T')
            return true;
        if (bytes[i] == 'R')
            return false;
    }
    return std::nullopt;
}

} // namespace mirelva::svxlink
