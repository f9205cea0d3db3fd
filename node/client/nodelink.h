#pragma once

#include <map>

#include <QElapsedTimer>
#include <QHash>
#include <QMap>
#include <QPointer>
#include <QQueue>
#include <QSet>
#include <QTimer>

#include "core/nodebackend.h"
#include "node/link/nodeprotocol.h"

class QIODevice;

namespace mirelva {

// A node program in another process, reached over a Unix socket or a
// loopback TCP port (node link protocol, nodeprotocol.h). Queries are answered from
// a mirror of the state the node pushes; requests go out as lines at once.
//
// The link is online from the node's first state line after our hello until
// the connection drops. While it is not, the mirror reads as a node that
// knows nothing (no callsign, nothing connected, nothing keyed) and requests
// are dropped with a line in the on-air log. A lost connection is tried again
// with a pause that doubles up to a ceiling; nothing here ever ends the
// program.
class NodeLinkClient : public NodeBackend {
    Q_OBJECT
public:
    explicit NodeLinkClient(const nodelink::NodeAddress &address, QObject *parent = nullptr);
    ~NodeLinkClient() override;

    QString describe() const override { return m_address.toString(); }
    bool online() const override { return m_online; }

    // Starts connecting; a failed attempt is retried by itself.
    void start();
    // Pauses between attempts: the first, doubled after each failure up to
    // the ceiling. Tests shorten them.
    void setRetryPauses(int firstMs, int maxMs);
    int nextRetryPauseMs() const { return m_pauseMs; }
    // The file whose token a TCP node wants in the hello (nodelink.ini
    // TOKENFILE); read again at every connection, since the node makes it.
    void setTokenFile(const QString &path) { m_tokenFile = path; }
    // How long one attempt at a TCP connection may take.
    void setConnectTimeoutMs(int ms) { m_connectTimeoutMs = ms; }

    // Pushes whatever is still buffered for the node onto the socket, waiting
    // at most timeoutMs. True when nothing is left. Run by itself when the
    // application is about to quit and when the client is destroyed, so the
    // last requests (releasing the transmitter) always reach the node.
    bool flush(int timeoutMs = 1000);

    // Lines from the node that were dropped as bad, since start.
    int droppedLines() const { return m_droppedLines; }

signals:
    // After every hello written on a new connection.
    void linkUp();
    void linkDown();

protected:
    void request(const NodeRequest &r) override;
    void eventsReleased() override { pumpLater(); }

private:
    void connectNow();
    void onConnected(QIODevice *socket);
    void onDown(QIODevice *socket, const QString &why);
    // Reads and handles whatever the node has sent; see nodelink.cpp.
    void pump();
    void pumpLater();
    bool readMore();
    struct Pending {
        nodelink::LineReader::Item item;
        quint64 connection = 0;   // which connection the line came on
    };
    void handle(const Pending &p);
    void drop(const QString &why);
    void goOffline();
    void write(const QByteArray &line);
    // Chat while the link is behind the node (kChatBehindBytes unread): at
    // most kChatPerSender lines a second pass from one sender (the text
    // before its ">") and kChatPerSecond from all; the rest are counted and
    // told as one line per sender once the second is over. A link that keeps
    // up passes every line.
    void passChat(const QString &text);
    void tellHeldChat();
    void repeatReleases();

    nodelink::NodeAddress m_address;
    QString m_tokenFile;
    QString m_tokenTrouble;   // said once until it changes
    QPointer<QIODevice> m_socket;
    bool m_connected = false;   // socket up, hello sent
    bool m_online = false;      // first state line seen on this connection
    bool m_everUp = false;
    bool m_reportedTrouble = false;
    nodelink::LineReader m_reader;
    QQueue<Pending> m_queue;
    quint64 m_connection = 0;       // counts connections; lines carry theirs
    bool m_handling = false;        // a line's handlers are running
    bool m_pumpQueued = false;
    bool m_yieldAfterOnline = false;
    QSet<QString> m_unknownEvents;
    QMap<NodeOp, NodeRequest> m_lastLineRequests;   // the last SetPTT, SetDTR, SetRTS asked for
    QTimer m_retry;
    QTimer m_connectTimeout;
    int m_firstPauseMs = 100;
    int m_maxPauseMs = 5000;
    int m_pauseMs = 100;
    int m_connectTimeoutMs = 3000;
    int m_droppedLines = 0;
    struct ChatCount {
        int passed = 0;
        int held = 0;
    };
    qint64 m_chatSecond = -1;                   // Clock::nowMs() / 1000 of the counts
    std::map<QString, ChatCount> m_chatBySender;
    int m_chatPassed = 0;
    bool m_chatHeldDue = false;                 // the held counts are to be told at the next turn
    QTimer m_chatHeld;

public:
    static constexpr int kChatPerSender = 5;
    static constexpr int kChatPerSecond = 20;
    static constexpr int kChatSenders = 32;     // senders counted a second; more share one count
    static constexpr qint64 kChatBehindBytes = 256 * 1024;
};

} // namespace mirelva
