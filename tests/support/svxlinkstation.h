#pragma once

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTimer>
#include <QUdpSocket>

#include <memory>
#include <vector>

#include "support/program.h"
#include "support/udpradio.h"

namespace mirelva::test {

// Helpers the tests that run node programs share.
QString binDir();                                            // where the built programs are
bool writeFile(const QString &path, const QByteArray &bytes);   // makes the folder too
int openPty(const QString &path);                            // raw, non-blocking; -1 on failure
bool processEnded(qint64 pid);                               // gone, or a zombie
// A free UDP port on the address (bound and released again).
quint16 freeUdpPort(const QHostAddress &address);
// A sine at `hz`, or two at once for a DTMF digit, `ms` long.
std::vector<float> tone(int sampleRate, int ms, double hz, double hz2 = 0, float amplitude = 0.4f);
std::vector<float> dtmfTones(int sampleRate, const QString &digits, int toneMs = 100, int gapMs = 100);

// A SvxLink set-up on loopback: one simplex logic with UDP audio (16 kHz
// card rate) and PTYs for the squelch, the PTT, the state, DTMF and the
// EchoLink module's commands in `run`, and the EchoLink module.
struct SvxLinkConf {
    QString run;               // folder of the PTY links
    QString eventHandler;      // events.tcl
    quint16 rxPort = 0;        // the receiver's audio comes in here
    quint16 txPort = 0;        // the transmitter's audio goes out to here
    QString logicCallsign = QStringLiteral("VK2ABC");
    QString echolinkCallsign = QStringLiteral("VK2ABC-L");
    QString bindAddr = QStringLiteral("127.0.0.1");
    QString servers = QStringLiteral("127.0.0.1");
    QString password = QStringLiteral("none");
    QString location = QStringLiteral("Loopback");
    int maxQsos = 10;          // MAX_QSOS; MAX_CONNECTIONS is one more
    // Writes svxlink.conf and svxlink.d/ into `folder`; the path of svxlink.conf.
    QString write(const QString &folder) const;
};

// A real SvxLink as a far EchoLink station: started by the test from its
// own copy of SvxLink's event scripts, with a hook that writes the EchoLink
// events (connected, disconnected, chat_received, is_receiving) to a file
// the test reads. Its receiver is fed silence all the time (SvxLink's audio
// path stalls without samples) and whatever the test queues; its
// transmitter's audio is kept.
class SvxLinkStation : public QObject {
public:
    static constexpr int kSampleRate = 16000;
    static bool available(QString *why);

    SvxLinkStation(const QString &folder, SvxLinkConf conf, const QElapsedTimer &clock);
    ~SvxLinkStation() override;
    bool start(QString *why);
    void stop();

    // The hook's lines: "connected CALL", "remote_connected CALL",
    // "disconnected CALL", "chat TEXT" (CR and LF shown as \r \n),
    // "rx 1 CALL" / "rx 0 CALL".
    QStringList events() const;
    // Texts of the chats received, their line ends taken off.
    QStringList chats() const;
    void squelch(bool open);
    UdpRadio &radio() { return m_radio; }   // at kSampleRate
    const SvxLinkConf &conf() const { return m_conf; }
    Program *process() const { return m_process.get(); }

private:
    QString m_folder;
    SvxLinkConf m_conf;
    const QElapsedTimer &m_clock;
    std::unique_ptr<Program> m_process;
    UdpRadio m_radio{kSampleRate, 2};
    int m_squelch = -1;
};

} // namespace mirelva::test
