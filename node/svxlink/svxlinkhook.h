#pragma once

#include <optional>

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace mirelva::svxlink {

// What mirelva-svxlink reads from SvxLink and writes to it, without any I/O,
// so that every line from the other side can be checked on its own.
//
// From SvxLink: the Tcl hook (mirelva.tcl) publishes its events on the
// logic's STATE_PTY as "<seconds.ms> Mirelva:<kind> <arg> <arg>...", every
// argument percent-encoded (bytes outside printable ASCII, blanks and "%"
// as %XX; an empty argument as a lone "%"), so a text from the air is one
// word on one line whatever it holds. SvxLink's standard output adds the one
// thing no event carries: a station's name and address.

struct HookEvent {
    enum Kind {
        Squelch,       // on: the local receiver's squelch opened (true) or closed
        Dtmf,          // text: one digit heard on the radio
        Connected,     // call: a station is connected (either direction)
        Disconnected,  // call
        Clients,       // calls: every station connected now
        Receiving,     // on, call: a remote station talks (true) or stopped
        Chat,          // text: a chat text as received, e.g. "W1AW>hello"
        CbcList,       // calls: the directory's matches for a connect by callsign
        ConnectFailed, // text: why an outgoing connect went nowhere
        Transmit,      // on: SvxLink's transmitter went on or off
    };
    Kind kind = Squelch;
    bool on = false;
    QString call;
    QStringList calls;
    QString text;
};

struct ParsedHookLine {
    enum Status { Ok, NotOurs, Bad };
    Status status = NotOurs;   // NotOurs: another publisher's line, ignored quietly
    HookEvent event;
    QString error;            // Bad: why, for the log
};

ParsedHookLine parseHookLine(const QByteArray &line);

// "%41%20b" -> "A b" (UTF-8); nothing when the escapes are broken.
std::optional<QString> percentDecode(const QByteArray &word);
QByteArray percentEncode(const QString &text);

// A station as SvxLink prints it when it connects in:
// "Incoming EchoLink connection from W1AW (John) at 127.0.0.2".
struct StationSeen {
    QString call;
    QString name;
    QString addr;
};
std::optional<StationSeen> parseOutputLine(const QString &line);

// ---- commands to the hook ------------------------------------------------------
// One line each, read by the hook from its command FIFO when the bridge rings
// (the digit "E" on DTMF_CTRL_PTY). The hook accepts exactly these shapes and
// nothing else, so what reaches Tcl is never more than letters and digits.

// The Morse text SvxLink's CW::play can send: upper case A-Z, 0-9, ". , ? / ="
// and single blanks; anything else is left out. Empty when nothing is left.
QString cwText(const QString &text);
QByteArray cwCommand(const QString &cwText);          // "cw VK2ABC\n"
QByteArray playCommand(int serial);                   // "play speech-12.wav\n"
QString speechFileName(int serial);                   // "speech-12.wav"
// Lets the next digits typed into DTMF_CTRL_PTY through to SvxLink instead
// of treating them as radio DTMF: "pass D9#6*9129#\n".
QByteArray passCommand(const QString &digits);

// An EchoLink callsign as a request may carry it ("W1AW", "VK2ABC-L", "*ECHOTEST*")
// or a node number ("9999").
bool isEchoLinkCall(const QString &call);
bool isNodeNumber(const QString &call);
// The keypad digits SvxLink's connect by callsign searches the directory
// with: letters as on a phone (ABC 2 ... WXYZ 9), digits as they are, the
// rest dropped: "W1AW" -> "9129".
QString keypadDigits(const QString &call);

// ---- DTMF strings ----------------------------------------------------------------

// Collects radio digits into one string, ended when the squelch closes or
// when no digit has come for the time-out. Time is given, never read.
class DtmfCollector {
public:
    explicit DtmfCollector(int timeoutMs = 3000) : m_timeoutMs(timeoutMs) {}
    void digit(const QString &d, qint64 nowMs);
    // The finished string, if the squelch closing or the time passing ended one.
    std::optional<QString> squelchClosed();
    std::optional<QString> tick(qint64 nowMs);
    // When tick() next has something to do; -1 when nothing waits.
    qint64 deadline() const { return m_digits.isEmpty() ? -1 : m_lastMs + m_timeoutMs; }
    const QString &pending() const { return m_digits; }

    static constexpr int kMaxDigits = 64;

private:
    std::optional<QString> take();
    int m_timeoutMs;
    QString m_digits;
    qint64 m_lastMs = 0;
};

// The PTT PTY's bytes: "T" on, "R" off; anything else ignored. Returns the
// last state the bytes leave, or nothing when they hold neither letter.
std::optional<bool> pttFromBytes(const QByteArray &bytes);

} // namespace mirelva::svxlink
