#include "node/echolink/protocol/packets.h"

#include <algorithm>
#include <iterator>

#include <QRegularExpression>
#include <QStringDecoder>
#include <QtEndian>

namespace mirelva::echolink {

namespace {

constexpr quint8 kRtcpReceiverReport = 201;
constexpr quint8 kRtcpSenderReport = 200;
constexpr quint8 kRtcpSdes = 202;
constexpr quint8 kRtcpBye = 203;
constexpr quint8 kItemEnd = 0;
constexpr quint8 kItemName = 2;
constexpr quint8 kItemPriv = 8;
constexpr int kNameColumns = 15;
constexpr int kItemMaxBytes = 255;

// The RTCP receiver report every control packet starts with: version 3, no
// reports, length one word, SSRC 0.
const QByteArray kReceiverReport("\xC0\xC9\x00\x01\x00\x00\x00\x00", 8);

void refuse(const char **why, const char *text)
{
    if (why)
        *why = text;
}

quint8 byteAt(const char *data, qsizetype i) { return quint8(data[i]); }

QByteArray ndata() { return QByteArrayLiteral("oNDATA"); }

// Windows-1252's 0x80-0x9F; 0: undefined there.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};
// Where an undefined byte is kept: U+F780 and up (private use).
constexpr char16_t kKeptByte = 0xF700;

} // namespace

QString fromEightBit(const char *data, qsizetype size)
{
    QString s(size, Qt::Uninitialized);
    QChar *out = s.data();
    for (qsizetype i = 0; i < size; ++i) {
        const quint8 b = quint8(data[i]);
        const char16_t high = b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : 0;
        out[i] = QChar(b < 0x80 || b >= 0xA0 ? char16_t(b) : high ? high : char16_t(kKeptByte + b));
    }
    return s;
}

QByteArray toEightBit(const QString &text)
{
    QByteArray b;
    b.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80 || (u >= 0xA0 && u < 0x100)) {
            b += char(u);
            continue;
        }
        if (u >= kKeptByte + 0x80 && u < kKeptByte + 0xA0 && !kCp1252High[u - kKeptByte - 0x80]) {
            b += char(u - kKeptByte);
            continue;
        }
        const char16_t *at = std::find(std::begin(kCp1252High), std::end(kCp1252High), u);
        b += at != std::end(kCp1252High) && u != 0 ? char(0x80 + (at - std::begin(kCp1252High))) : '?';
    }
    return b;
}

QString cleanName(const QString &name)
{
    QString n = name;
    for (qsizetype i = 0; i < n.size(); ++i)
        if (n[i] == QLatin1Char('\r') || n[i] == QLatin1Char('\n') || n[i].unicode() == 0x2028 || n[i].unicode() == 0x2029) {
            n.truncate(i);
            break;
        }
    for (QChar &c : n) {
        const char16_t u = c.unicode();
        // C0, DEL, C1, and the marks that turn a line's direction round.
        const bool mark = u == 0x200E || u == 0x200F || (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069) ||
                          u == 0x061C;
        if (u < 0x20 || (u >= 0x7F && u < 0xA0) || mark)
            c = QLatin1Char('?');
    }
    return n.trimmed();
}

QString decodeText(const char *data, qsizetype size)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString s = utf8(QByteArrayView(data, size));
    if (!utf8.hasError())
        return s;
    return fromEightBit(data, size);
}

std::optional<AudioPacket> parseAudio(const char *data, qsizetype size, const char **why)
{
    if (size < kRtpHeaderBytes) {
        refuse(why, "audio shorter than its header");
        return std::nullopt;
    }
    if (byteAt(data, 0) != 0xC0) {
        refuse(why, "not an audio packet");
        return std::nullopt;
    }
    // Speex is never offered, so a station sending it anyway is not
    // decoded; any other payload type is taken for GSM, as EchoLink does.
    if (byteAt(data, 1) == kPayloadSpeex) {
        refuse(why, "Speex audio, which was not offered");
        return std::nullopt;
    }
    if (size < kGsmPacketBytes) {
        refuse(why, "GSM audio shorter than four frames");
        return std::nullopt;
    }
    AudioPacket p;
    p.sequence = qFromBigEndian<quint16>(data + 2);
    p.gsm = QByteArray(data + kRtpHeaderBytes, kGsmPayloadBytes);
    return p;
}

std::optional<TextPacket> parseText(const char *data, qsizetype size, const char **why)
{
    // Byte 0 is anything but 0xC0 (that would be audio); bytes 1-5 "NDATA".
    if (size < 6 || byteAt(data, 0) == 0xC0 || QByteArrayView(data + 1, 5) != QByteArrayView("NDATA")) {
        refuse(why, "neither audio nor a text");
        return std::nullopt;
    }
    const QByteArrayView body(data + 6, size - 6);
    const qsizetype nul = body.indexOf('\0');
    if (nul < 0) {
        refuse(why, "a text without its terminating NUL");
        return std::nullopt;
    }
    TextPacket t;
    qsizetype from = 0;
    if (nul > 0 && body[0] == '\r') {
        t.kind = TextPacket::Info;
        from = 1;
    }
    t.text = decodeText(body.data() + from, nul - from);
    t.text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    t.octets = fromEightBit(body.data() + from, nul - from);
    t.octets.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t;
}

AudioPortPacket parseAudioPort(const char *data, qsizetype size, const char **why)
{
    AudioPortPacket p;
    if (size >= 1 && byteAt(data, 0) == 0xC0)
        p.audio = parseAudio(data, size, why);
    else
        p.text = parseText(data, size, why);
    return p;
}

std::optional<ControlPacket> parseControl(const char *data, qsizetype size, const char **why)
{
    // The first subpacket must be a sender or receiver report, version 3
    // (or 1), without padding: SDES or BYE alone is refused.
    if (size < 8) {
        refuse(why, "control packet shorter than its report");
        return std::nullopt;
    }
    const quint8 v0 = byteAt(data, 0) >> 6;
    if ((v0 != 3 && v0 != 1) || (byteAt(data, 0) & 0x20) ||
        (byteAt(data, 1) != kRtcpReceiverReport && byteAt(data, 1) != kRtcpSenderReport)) {
        refuse(why, "control packet not starting with a report");
        return std::nullopt;
    }
    bool bye = false;
    qsizetype sdesAt = -1, sdesEnd = -1;
    qsizetype at = 0;
    // Every subpacket's length, in words minus one, must end inside the
    // datagram; the walk stops at one that is not version 3 (but the first).
    while (at + 4 <= size) {
        if (at > 0 && (byteAt(data, at) >> 6) != 3)
            break;
        const qsizetype len = (qsizetype(qFromBigEndian<quint16>(data + at + 2)) + 1) * 4;
        if (len > size - at) {
            refuse(why, "control subpacket longer than the packet");
            return std::nullopt;
        }
        const quint8 type = byteAt(data, at + 1);
        if (type == kRtcpBye)
            bye = true;
        else if (type == kRtcpSdes && sdesAt < 0 && (byteAt(data, at) & 0x1F) > 0) {
            sdesAt = at;
            sdesEnd = at + len;
        }
        at += len;
    }
    ControlPacket p;
    if (bye) {
        p.kind = ControlPacket::Bye;
        return p;
    }
    if (sdesAt < 0) {
        refuse(why, "control packet with neither SDES nor BYE");
        return std::nullopt;
    }
    p.kind = ControlPacket::Sdes;
    // The first chunk's items: after the header and the chunk's SSRC, each a
    // type byte, a length byte and that many bytes, all inside the subpacket.
    bool haveName = false, havePriv = false;
    for (qsizetype i = sdesAt + 8; i < sdesEnd;) {
        const quint8 type = byteAt(data, i);
        if (type == kItemEnd)
            break;
        if (i + 2 > sdesEnd || i + 2 + byteAt(data, i + 1) > sdesEnd) {
            refuse(why, "SDES item longer than its subpacket");
            return std::nullopt;
        }
        const qsizetype len = byteAt(data, i + 1);
        const char *text = data + i + 2;
        if (type == kItemName && !haveName) {
            haveName = true;
            const QString name = decodeText(text, len);
            static const QRegularExpression blank(QStringLiteral("[ \\t\\r\\n]"));
            const qsizetype cut = name.indexOf(blank);
            p.callsign = cut < 0 ? name : name.left(cut);
            p.name = cut < 0 ? QString() : cleanName(name.mid(cut).trimmed());
        } else if (type == kItemPriv && !havePriv) {
            havePriv = true;
            p.priv = QByteArray(text, len);
        }
        i += 2 + len;
    }
    return p;
}

QByteArray buildAudio(quint16 sequence, const QByteArray &gsm)
{
    if (gsm.size() != kGsmPayloadBytes)
        return QByteArray();
    QByteArray p(kRtpHeaderBytes, '\0');
    p[0] = char(0xC0);
    p[1] = char(kPayloadGsm);
    qToBigEndian<quint16>(sequence, p.data() + 2);
    return p + gsm;
}

QByteArray buildSdes(const QString &callsign, const QString &name)
{
    QByteArray items;
    auto item = [&items](quint8 type, const QByteArray &text) {
        items += char(type);
        items += char(text.size());
        items += text;
    };
    const QByteArray call = toEightBit(callsign.toUpper()).left(kItemMaxBytes);
    QByteArray nameItem = call.size() < kNameColumns ? call + QByteArray(kNameColumns - call.size(), ' ') : call;
    nameItem += toEightBit(name).left(kItemMaxBytes - nameItem.size());
    item(1, QByteArrayLiteral("CALLSIGN"));
    item(kItemName, nameItem.left(kItemMaxBytes));
    item(3, QByteArrayLiteral("CALLSIGN"));
    item(4, QByteArrayLiteral("08:30"));
    // END, one more zero, then zeros to a whole word; the padding bit is
    // never set.
    items += QByteArray(2, '\0');
    QByteArray sdes = QByteArray("\xC1\xCA\x00\x00", 4) + QByteArray(4, '\0') + items;
    sdes += QByteArray((4 - sdes.size() % 4) % 4, '\0');
    qToBigEndian<quint16>(quint16(sdes.size() / 4 - 1), sdes.data() + 2);
    return kReceiverReport + sdes;
}

QByteArray buildBye()
{
    // The reason text is what EchoLink's own software sends.
    return kReceiverReport + QByteArray("\xC1\xCB\x00\x03\x00\x00\x00\x00\x07jan2002", 16);
}

QByteArray buildInfo(const QString &text)
{
    QString t = text;
    t.replace(QLatin1Char('\n'), QLatin1Char('\r'));
    QByteArray b = toEightBit(t);
    b.replace('\0', ' ');
    return ndata() + '\r' + b + '\0';
}

QByteArray buildChat(const QString &callsign, const QString &message)
{
    QByteArray b = toEightBit(callsign + QLatin1Char('>') + message);
    b.replace('\0', ' ');
    return ndata() + b + "\r\n" + '\0';
}

QString canonicalCallsign(const QString &raw)
{
    const QString c = raw.trimmed().toUpper();
    // A callsign (prefix, digit, suffix; a portable prefix or suffix after
    // "/"), optionally -L or -R; or a conference between asterisks.
    static const QRegularExpression re(QStringLiteral(
        "^(\\*[A-Z0-9][A-Z0-9 ._-]{0,13}\\*|([A-Z0-9]{1,4}/)?[A-Z0-9]{1,3}[0-9][A-Z0-9]{0,4}(/[A-Z0-9]{1,4})?(-[LR])?)$"));
    return re.match(c).hasMatch() ? c : QString();
}

} // namespace mirelva::echolink
