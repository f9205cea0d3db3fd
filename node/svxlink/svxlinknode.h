#pragma once

#include <map>
#include <memory>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>

#include "core/nodebackend.h"
#include "node/svxlink/svxlinkhook.h"

namespace mirelva {

// svxlink.ini in Mirelva's settings folder, section [SETTINGS]. Every path
// the bridge writes to is named here (or lies in FOLDER).
struct SvxLinkConfig {
    QString folder = QStringLiteral("/run/mirelva-svxlink");   // FOLDER
    QString listen;                // LISTEN, default unix:FOLDER/node.sock
    QString tokenFile;             // TOKENFILE: a tcp: LISTEN's token, default FOLDER/token
    QStringList groups;            // GROUPS: comma-separated; their members may attach to the Unix socket
    bool attach = false;           // ATTACH: 1 = SvxLink runs on its own; 0 = the bridge starts it
    QString program = QStringLiteral("/usr/bin/svxlink");       // SVXLINK
    QString svxlinkConfig = QStringLiteral("/etc/svxlink/svxlink.conf");   // SVXLINK_CONFIG
    QStringList svxlinkOptions;    // SVXLINK_OPTIONS, blank-separated
    QString share = QStringLiteral("/usr/share/svxlink");       // SVXLINK_SHARE: the stock events.tcl
    QString logFile;               // SVXLINK_LOG: followed for names and addresses when attached
    QString statePty;              // STATE_PTY, default FOLDER/state
    QString dtmfCtrlPty;           // DTMF_CTRL_PTY, default FOLDER/dtmf
    QString commandPty;            // COMMAND_PTY, default FOLDER/echolink
    QString svxlinkPttPty;         // SVXLINK_PTT_PTY, default FOLDER/svxlink-ptt
    QString ptt;                   // PTT: pty:PATH | serial:PATH:RTS|DTR|RTSDTR | empty
    QString serialPort;            // SERIAL_PORT: the port SetRTS/SetDTR drive
    QString callsign = QStringLiteral("N0CALL");               // CALLSIGN
    int dtmfTimeoutMs = 3000;      // DTMF_TIMEOUT
    QString connectMacro = QStringLiteral("9");                 // CONNECT_MACRO: D<n># activates EchoLink
    int transmitTimeoutSeconds = 180;   // TXTIMEOUT, 5..900: no client's key-up lasts longer

    static SvxLinkConfig load();
    static constexpr int kCapacity = 1024;
};

// A real SvxLink node seen through its Tcl hook, its PTYs and its output, as
// a node Mirelva drives. The transmitter the bridge keys is keyed while
// SvxLink transmits or a client asks, and released when both are done.
class SvxLinkNode : public NodeBackend {
    Q_OBJECT
public:
    explicit SvxLinkNode(SvxLinkConfig config, QObject *parent = nullptr);
    ~SvxLinkNode() override;

    // Lays out FOLDER (event handler with the hook, command FIFO, speech
    // folder) and opens the transmitter and serial port.
    bool prepare(QString *error);
    // Starts SvxLink as a child, or begins watching the running one.
    bool start(QString *error);
    // Ends the child SvxLink (closing follows); attached, does nothing.
    void stop();

    QString describe() const override;
    bool transmitterKeyed() const { return m_realKeyed; }
    const SvxLinkConfig &config() const { return m_config; }
    // The event handler SvxLink is to load (EVENT_HANDLER in svxlink.conf).
    QString eventHandlerPath() const;

    // One line from the hook, and one line of SvxLink's output.
    void hookLine(const QByteArray &line);
    void outputLine(const QString &line);
    // Stations whose name and address wait for their connect.
    int stationsRemembered() const { return int(m_seen.size()); }
    static constexpr int kMaxStationsRemembered = 64;
    static constexpr int kStationMemorySeconds = 60;
    // SvxLink's own transmitter went on or off (its PTT PTY).
    void svxlinkTransmits(bool on);
    // Run every second: a client's key-up standing past TXTIMEOUT is
    // released here, whatever the client does (it may hang while keyed).
    void tick();

    // A speech to play is cut to this many characters, as Mirelva cuts
    // every keyed announcement, and its audio to the transmit time-out.
    static constexpr int kMaxSpeechChars = 250;
    // Speech files kept in FOLDER/speech; older ones are removed.
    static constexpr int kSpeechFilesKept = 4;

signals:
    // SvxLink ended and Closing has been raised.
    void finished(int exitCode);

protected:
    void request(const NodeRequest &r) override;

private:
    struct Pty;

    void apply(const std::function<void(NodeState &)> &change);
    void updateRealPtt();
    void writePtt(bool on);
    void setSerialLine(int bit, bool on, const char *name);
    void tellHook(const QByteArray &commands, const QString &typedDigits = QString());
    void writeEchoLinkCommand(const QByteArray &line);
    void playSpeech(const QString &text, int rate, int volume);
    void connectTo(const QString &call);
    void pickFromList(const QStringList &calls);
    void flushPendingConnects();
    void emitConnected(const QString &call);
    void dtmfTick();
    void openPtys();
    void readState();
    void readPtt();
    void readOutput();
    void followLog();
    void svxlinkGone(int exitCode, const QString &why);
    void logOnce(const QString &kind, const QString &text);

    SvxLinkConfig m_config;
    QProcess *m_process = nullptr;
    std::unique_ptr<Pty> m_state;
    std::unique_ptr<Pty> m_svxPtt;
    QTimer m_ptyPoll;
    QByteArray m_stateBuffer;
    QByteArray m_outputBuffer;
    int m_fifo = -1;
    int m_pttFd = -1;          // the real transmitter: a PTY master or a serial port
    int m_pttSlave = -1;       // pty: kept open so writes never fail for want of a reader
    bool m_pttIsPty = false;
    int m_pttBits = 0;         // serial: the lines that key it
    int m_serialFd = -1;
    bool m_serialShared = false;
    bool m_svxKeyed = false;
    bool m_realKeyed = false;
    bool m_pttTimedOut = false;   // the client's key-up ran past TXTIMEOUT; void until its release
    QTimer m_tick;
    bool m_gone = false;
    bool m_started = false;
    int m_speechSerial = 0;
    svxlink::DtmfCollector m_dtmf;
    QElapsedTimer m_clock;
    QTimer m_dtmfTimer;
    // Name and address by callsign, from SvxLink's output, until the
    // station's connect uses them: bounded, and forgotten after a while, for
    // SvxLink prints the line also for stations it then refuses.
    std::map<QString, svxlink::StationSeen> m_seen;
    std::map<QString, QDateTime> m_seenAt;
    QStringList m_pendingConnected;                     // waiting a moment for name and address
    QTimer m_connectedTimer;
    QString m_connectWanted;                            // a connect by callsign under way
    QTimer m_connectTimer;
    QSet<QString> m_saidOnce;
    QFile *m_log = nullptr;
    QTimer m_logPoll;
};

} // namespace mirelva
