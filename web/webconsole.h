#pragma once

#include <map>
#include <memory>
#include <vector>

#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include "core/stationport.h"
#include "web/webfront.h"
#include "web/websettings.h"

class QWebSocket;

namespace mirelva {

class MinuteLog;
class WebLogin;

// The web console: one page, served by the program itself, that shows the
// station live over a WebSocket and drives it through the station's port
// (core/stationport.h), never its widgets. Every action goes to the on-air
// log with "web" as its source. See docs/web-console.md for the settings and
// the security rules.
class WebConsole : public QObject {
    Q_OBJECT
public:
    WebConsole(StationPort &station, WebSettings settings, QObject *parent = nullptr);
    ~WebConsole() override;

    // Listens as the settings say; false, with the reason, when it will not
    // (no password set, beyond loopback without TLS, the port taken...).
    bool start(QString *why);
    QString url() const;

    // The program's own start: the console when web.ini enables it, started
    // once the event loop runs so that it never delays the first paint.
    static std::unique_ptr<WebConsole> startLaterIfEnabled(StationPort &station);

    // The state the page shows, whole; and the action the page asks for,
    // as the windows' buttons do it. Both used by the server and the tests.
    QJsonObject snapshot() const;
    // Returns an empty text when done, else why not (for the page).
    QString act(const QJsonObject &request, const QString &from);
    // A settings save as the page posts it: {"window", "changes": [{"key", "value", "was"}]}.
    // `done` gets the outcome once the change had its turn.
    void saveSettings(const QJsonObject &request, const QString &from,
                      std::function<void(const StationPort::Outcome &)> done);

    // For tests: the front door and the password checks.
    WebFront *front() const { return m_front.get(); }
    WebLogin *passwordChecks() const { return m_login; }
    int liveConnections() const { return int(m_clients.size()); }

private:
    struct Session {
        QByteArray csrf;
        QDateTime lastUse;
    };
    struct Client {
        QWebSocket *socket;
        QByteArray session;
        // Its messages in the current second of the clock, and the seconds
        // in a row it sent more than it may.
        qint64 second = 0;
        int inSecond = 0;
        int floodSeconds = 0;
        qint64 dropped = 0;
    };

    void handle(const HttpRequest &request, HttpReply reply);
    void login(const HttpRequest &request, HttpReply reply);
    void acceptWebSocket(QWebSocket *socket);
    void webSocketMessage(QWebSocket *socket, const QString &text);
    // Sends, and closes a client that does not read what it is sent.
    void sendTo(QWebSocket *socket, const QString &text, bool flush = false);

    QByteArray sessionOf(const QByteArray &cookieHeader) const;
    bool originAllowed(const QByteArray &origin, const QByteArray &host) const;
    QByteArray newSession();
    // The browser's address: the peer's, or, from a proxy web.ini names,
    // the one its X-Forwarded-For adds.
    QHostAddress clientOf(const HttpRequest &request) const;
    HttpHeaders policyHeaders() const;

    // Live updates.
    void sendToAll(const QJsonObject &message, bool flush = false);
    void sendChanges(bool flush = false);
    void onAirLine(const QString &line);
    void logChanged(const QString &which);
    void announce(const QString &words);
    QJsonObject liveFields() const;

    StationPort &m_station;
    WebSettings m_settings;
    std::unique_ptr<WebFront> m_front;
    WebLogin *m_login = nullptr;
    // Refusals anyone can cause (another site, no token, a refused live
    // connection): a few lines a minute, then their count.
    MinuteLog *m_refusals;
    quint16 m_port = 0;

    std::map<QByteArray, Session> m_sessions;
    std::vector<Client> m_clients;
    QJsonObject m_sent;              // the live fields as the pages last got them
    QTimer m_tick;                   // once a second while a page is open
    QStringList m_onAir;             // the newest on-air log lines
    bool m_pttAsked = false;         // what the program last asked of the transmitter
    std::map<QString, QStringList> m_logShown;   // the history's and the chat's lines as the pages have them

public:
    static constexpr int kLogLines = 200;
    static constexpr int kMostSessions = 32;
    static constexpr int kSessionIdleHours = 24;
    static constexpr int kMaxBodyBytes = 8192;          // an action, a login: all a request without a session may send
    // What a request with a session may send: a window's changes all at
    // once (a first set-up of the DTMF window sends a hundred fields).
    static constexpr int kMaxSessionBodyBytes = 65536;
    static constexpr int kMostLiveConnections = 64;
    // A page sends a message a press: more in a second are dropped and
    // counted, and a page that goes on for kMostFloodSeconds in a row is
    // closed. One that has left kMostUnsentBytes of ours unread when the
    // next message is due is closed too.
    static constexpr int kMostMessagesASecond = 20;
    static constexpr int kMostFloodSeconds = 3;
    static constexpr qint64 kMostUnsentBytes = 256 * 1024;
};

} // namespace mirelva
