#pragma once

#include <optional>

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QStringList>
#include <QTime>
#include <QTimer>
#include <QVector>

#include "node/echolink/protocol/transport.h"

namespace mirelva::echolink {

// The directory's station list: "@@@", the count, four lines a station
// (callsign, description with "[ON HH:MM]" or "[BUSY HH:MM]", node number,
// IPv4 address), "+++".
struct StationEntry {
    enum Status { Unknown, On, Busy };
    QString callsign;
    QString description;
    Status status = Unknown;
    QString time;        // "HH:MM" as listed, may be empty
    int node = 0;
    QHostAddress address;
};

struct StationList {
    QVector<StationEntry> stations;
    QString message;     // the server's message lines (entries named " ")
    int skipped = 0;     // entries left out: a line too long, a bad number or address
};

// Longest line the list may hold; the directory's own lines are well under
// a hundred bytes. A longer line leaves its entry out.
constexpr int kMaxListLine = 255;
// Longest reply read at all; a list of every EchoLink station is under 1 MB.
constexpr qsizetype kMaxDirectoryReply = 8 * 1024 * 1024;
constexpr int kMaxListEntries = 100000;

std::optional<StationList> parseStationList(const char *data, qsizetype size, const char **why = nullptr);

enum class DirectoryStatus { Unknown, Offline, Online, Busy };
QString statusName(DirectoryStatus s);   // "OFF", "ON", "BUSY", "unknown"

// The login command: "l" CALL 0xAC 0xAC PASSWORD CR status-and-version CR
// DESCRIPTION CR, the callsign in upper case, the description cut to 27
// characters, the time the local 24-hour "HH:MM".
QByteArray buildLogin(const QString &callsign, const QString &password, DirectoryStatus status,
                      const QString &description, const QTime &localTime);
constexpr int kDescriptionLength = 27;

// The directory client: logs in with a status and keeps the login fresh,
// fetches the station list on demand, one TCP connection per command, the
// servers taken in turn (a server that fails moves the next command, and
// the failed one's retry, to the next address).
class Directory : public QObject {
    Q_OBJECT
public:
    struct Settings {
        QStringList servers;
        QString callsign, password, description;
        quint16 port = 5200;
    };
    // The directory forgets a node after about seven minutes.
    static constexpr int kReloginMs = 5 * 60 * 1000;
    // One try at one server, connect to answer.
    static constexpr int kCommandMs = 20 * 1000;

    Directory(Settings settings, TcpLink *link, QObject *parent = nullptr);

    void makeOnline() { setWanted(DirectoryStatus::Online); }
    void makeBusy() { setWanted(DirectoryStatus::Busy); }
    void makeOffline() { setWanted(DirectoryStatus::Offline); }
    // Logs in again with the wanted status (the 5-minute timer calls it).
    void refreshRegistration();
    void setDescription(const QString &description);
    // Asks for the station list unless a request is already waiting to be
    // sent; returns the number of the list that will answer it (a list
    // already on its way may have been asked for too early).
    int refreshList();
    // Another transport (a proxy that came up); commands wait while it is
    // not usable.
    void setLink(TcpLink *link);
    void linkUsable();

    DirectoryStatus status() const { return m_status; }
    DirectoryStatus wanted() const { return m_wanted; }
    const StationList &stations() const { return m_list; }
    // How many lists have come so far; the number of the last list request
    // that ended, with a list or without.
    int listsReceived() const { return m_listsReceived; }
    int listsEnded() const { return m_listsEnded; }
    // Exact callsign (the list's upper case), or node number.
    const StationEntry *findCall(const QString &callsign) const;
    const StationEntry *findNode(int number) const;
    // Bytes looked through for a list's end mark so far (the work a reply
    // cost, whatever pieces it came in).
    qint64 replyBytesSearched() const { return m_searched; }

signals:
    void statusChanged(DirectoryStatus confirmed);
    void listUpdated();
    void listFailed(const QString &why);
    // A login refused or failed, a server unreachable: for the log.
    void error(const QString &why);

private:
    enum class Kind { Login, List };
    struct Command {
        Kind kind;
        DirectoryStatus status = DirectoryStatus::Unknown;
        int serial = 0;   // lists: the request's number
    };
    void setWanted(DirectoryStatus s);
    void enqueue(Command c);
    void next();
    void resolved(const QList<QHostAddress> &addresses);
    void attempt();
    void attemptFailed(const QString &why);
    void finish();
    void bytesIn(const QByteArray &bytes);
    void linkClosed(const QString &why);

    Settings m_settings;
    TcpLink *m_link;
    QVector<Command> m_queue;
    std::optional<Command> m_running;
    QByteArray m_reply;
    int m_triesLeft = 0;
    QList<QHostAddress> m_addresses;
    qsizetype m_nextAddress = 0;
    bool m_resolving = false;
    int m_resolveGeneration = 0;
    QTimer m_commandTimer;
    QTimer m_relogin;
    DirectoryStatus m_status = DirectoryStatus::Unknown;
    DirectoryStatus m_wanted = DirectoryStatus::Offline;
    StationList m_list;
    QHash<QString, qsizetype> m_byCall;   // m_list's entries by callsign: each caller looked up at once
    int m_listsReceived = 0;
    int m_listsAsked = 0;
    int m_listsEnded = 0;
    qint64 m_searched = 0;
};

} // namespace mirelva::echolink
