#pragma once

#include <optional>

#include <QByteArray>
#include <QString>

#include "node/echolink/audio/gsmcodec.h"   // the GSM frame sizes

// EchoLink's datagrams, built and read by Mirelva's own code. Every reader
// takes the received bytes and their length and checks each field against
// that length; what does not fit is refused with a short reason (counted by
// the dispatcher), never read past its end.
namespace mirelva::echolink {

// RTP audio on the port base: a 12-byte header (0xC0, payload type, big-endian
// sequence, timestamp 0, SSRC 0) and four 33-byte GSM 06.10 frames, 80 ms.
constexpr int kRtpHeaderBytes = 12;
constexpr int kGsmPacketBytes = kRtpHeaderBytes + kGsmPayloadBytes;      // 144
constexpr quint8 kPayloadGsm = 0x03;
constexpr quint8 kPayloadSpeex = 0x96;

struct AudioPacket {
    quint16 sequence = 0;
    QByteArray gsm;   // exactly kGsmPayloadBytes: the four frames
};

// Text on the audio port: an info text (a station's description, or a
// conference's list of who is connected) or a chat line "CALL>message".
struct TextPacket {
    enum Kind { Info, Chat };
    Kind kind = Chat;
    QString text;   // line ends as LF, no terminator
    // The same bytes one character each (fromEightBit), so a text passed on
    // to another station goes out as the bytes it came in.
    QString octets;
};

// What the control port carries: a station's description (SDES, also the
// connect and the keep-alive) or its leaving (BYE).
struct ControlPacket {
    enum Kind { Sdes, Bye };
    Kind kind = Sdes;
    QString callsign;   // SDES NAME up to the first blank, as sent (not checked)
    QString name;       // the rest of NAME, trimmed
    QByteArray priv;    // SDES PRIV, when there was one
};

// What the audio port received: audio, a text, or neither (why says it).
struct AudioPortPacket {
    std::optional<AudioPacket> audio;
    std::optional<TextPacket> text;
};

// `why`, when given, receives a short static reason for a refusal.
std::optional<AudioPacket> parseAudio(const char *data, qsizetype size, const char **why = nullptr);
std::optional<TextPacket> parseText(const char *data, qsizetype size, const char **why = nullptr);
AudioPortPacket parseAudioPort(const char *data, qsizetype size, const char **why = nullptr);
std::optional<ControlPacket> parseControl(const char *data, qsizetype size, const char **why = nullptr);

// `gsm` must hold kGsmPayloadBytes; anything else gives an empty array.
QByteArray buildAudio(quint16 sequence, const QByteArray &gsm);
// An RTCP receiver report and an SDES: CNAME and EMAIL "CALLSIGN", NAME the
// callsign (upper case) padded to 15 columns then the name, PHONE "08:30". It never
// carries a PRIV item: offering SPEEX would make the far end answer in a
// codec this node does not decode.
QByteArray buildSdes(const QString &callsign, const QString &name);
// An RTCP receiver report and a BYE with EchoLink's reason text.
QByteArray buildBye();
// "oNDATA" CR text NUL, line ends sent as CR, the text in Windows-1252.
QByteArray buildInfo(const QString &text);
// "oNDATA" CALL ">" message CR LF NUL, in Windows-1252 (toEightBit).
QByteArray buildChat(const QString &callsign, const QString &message);

// A datagram's text as sent: UTF-8 when it reads as UTF-8, else
// Windows-1252 (the Windows client's texts; ISO-8859-1 for letters, as Qtel
// sends them), so no byte is lost or made up.
QString decodeText(const char *data, qsizetype size);
// EchoLink's texts are 8-bit with no declared encoding. Windows-1252 both
// ways, the five bytes it leaves undefined kept as private-use characters,
// so toEightBit(fromEightBit(b)) == b for any bytes. What Windows-1252 cannot
// write goes out as "?".
QString fromEightBit(const char *data, qsizetype size);
QByteArray toEightBit(const QString &text);
// A name a station gives itself, fit for a line of the roster and the log:
// cut at its first line break, control characters and direction marks made
// "?".
QString cleanName(const QString &name);

// The canonical, upper-case form of a station's callsign as EchoLink lists
// it (a callsign with an optional -L or -R, or a conference *NAME*), or an
// empty string when `raw` is not one. Blanks around it are dropped; nothing
// else is mended ("K1ABC-L." is no callsign).
QString canonicalCallsign(const QString &raw);

} // namespace mirelva::echolink
