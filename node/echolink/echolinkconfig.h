#pragma once

#include <functional>

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace mirelva {

// echolink.ini in Mirelva's settings folder, section [SETTINGS]: everything
// mirelva-echolink needs (docs/echolink.md lists the keys). A bad value is
// said in `problems`, one line naming the key, and the default is used; the
// password's value never appears in any of them.
struct EchoLinkConfig {
    QString callsign;                       // CALLSIGN, upper case, ends -L or -R
    QString password;                       // PASSWORD
    QString location;                       // LOCATION, at most 27 characters
    QStringList servers{QStringLiteral("servers.echolink.org")};   // SERVERS
    int maxQsos = 4;                        // MAXQSOS
    QStringList accept{QStringLiteral("*")};   // ACCEPT
    QStringList deny;                       // DENY
    QList<QPair<QHostAddress, int>> allowIp;   // ALLOWIP: callers not looked up in the directory
    QString bindAddr;                       // BINDADDR, empty: any
    int portBase = 5198;                    // PORTBASE
    QString proxyHost;                      // PROXY HOST:PORT:PASSWORD
    int proxyPort = 0;
    QString proxyPassword;
    QString listen = QStringLiteral("unix:/run/mirelva-echolink/node.sock");   // LISTEN
    QString rxAudio = QStringLiteral("alsa:default");   // RXAUDIO
    QString txAudio = QStringLiteral("alsa:default");   // TXAUDIO
    QString sql = QStringLiteral("vox");    // SQL
    QString ptt;                            // PTT
    QString rts;                            // RTS
    QString dtr;                            // DTR
    double voxThresholdDbfs = -30;          // VOXTHRESHOLD
    int voxAttackMs = 50;                   // VOXATTACK
    int voxHangMs = 700;                    // VOXHANG
    int dtmfPauseMs = 2000;                 // DTMFPAUSE
    int cwPitchHz = 800;                    // CWPITCH
    int cwWpm = 20;                         // CWWPM
    int txHangMs = 300;                     // TXHANG
    int preKeyMs = 0;                       // PREKEY
    int txTimeoutSeconds = 180;             // TXTIMEOUT

    QStringList problems;                   // "echolink.ini MAXQSOS: ..." lines
    QString refusal;                        // set: the node cannot start, and why

    static EchoLinkConfig load();
    // The same from a key lookup (upper-case key -> value, empty when missing).
    static EchoLinkConfig fromValues(const std::function<QString(const QString &)> &value);
    static constexpr int kCapacity = 4096;
    static constexpr int kLocationLength = 27;
};

// A callsign, a conference (*NAME*) or a node number: what Connect takes.
bool isStationName(const QString &call);

// `*` any run of characters, `?` one; letter case does not count.
bool callMatches(const QString &pattern, const QString &call);

// Why a station calling in may not connect, in plain words; empty: it may.
// ACCEPT and DENY match the callsign's canonical, upper-case form; what is
// no callsign at all is refused as such.
QString incomingRefusal(const EchoLinkConfig &config, const QString &call, int connectedNow);

// Why a connect failed, as told to Mirelva and written to the node's log.
enum class ConnectFailure {
    NotACallsign,
    OwnCallsign,
    AlreadyConnected,
    TooMany,
    NotInDirectory,
    StationBusy,
    DirectoryUnreachable,
    NoAnswer,
    Refused,
    LocalError,
};
QString connectFailureText(ConnectFailure why, const QString &call, const QString &detail = QString());

// A text with every occurrence of the secrets replaced by "********", for
// anything a library might say back.
QString withoutSecrets(QString text, const QStringList &secrets);

} // namespace mirelva
