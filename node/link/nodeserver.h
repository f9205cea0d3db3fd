#pragma once

#include <memory>
#include <vector>

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>

#include "core/nodebackend.h"
#include "node/link/nodeprotocol.h"

class QIODevice;
class QLocalServer;
class QTcpServer;

namespace mirelva {

// Serves a node (the simulated one, in mirelva-node and in tests) to clients
// speaking the node link protocol, on a Unix socket or a TCP port.
//
// Admission: the first line of a connection must be a good hello, or the
// connection is closed with one line in the on-air log. On a TCP port the
// hello must carry the token of the node's token file; on a Unix socket the
// kernel tells who the peer is, and only the node's own user, root and the
// members of the groups named in its settings are served. At most
// kMaxClients are admitted at once; a connection that has not said its hello
// holds no place, and one that says none within the hello time-out, or
// before kMaxWaiting newer connections come, is dropped.
//
// A client is served once it has said hello: it then gets a full state line,
// and from then on every event the node raises, each preceded by a state
// line carrying whatever changed, so a client that handles the event already
// sees the new state. Its requests go to the node. Several clients may be
// attached; each sees everything. A line a client sends that is bad is
// dropped with a line in the on-air log; the connection stays. A client that
// goes away with the transmitter keyed has it released for it.
class NodeServer : public QObject {
    Q_OBJECT
public:
    explicit NodeServer(NodeBackend *node, QObject *parent = nullptr);
    ~NodeServer() override;

    // Listens at the address. A TCP address must be on loopback unless
    // allowRemote. A Unix socket file left behind by a node that is gone is
    // replaced; one that a live node answers on is not. Port 0 takes any free
    // port (address() tells which).
    // A TCP node makes its token file if there is none (see nodetoken.h).
    bool listen(const nodelink::NodeAddress &address, bool allowRemote, QString *error);

    // Before listen(): the token file a TCP node uses (default
    // nodelink::nodeTokenFile()), and the groups whose members a Unix
    // socket admits beside the node's own user and root. With groups the
    // socket file is open to all users and the peer check alone decides.
    void setTokenFile(const QString &path) { m_tokenFile = path; }
    void setAllowedGroups(const QStringList &groups) { m_groups = groups; }
    // How long a client may take to say hello.
    void setHelloTimeoutMs(int ms) { m_helloTimeoutMs = ms; }
    static constexpr int kMaxClients = 4;      // admitted by their hello
    static constexpr int kMaxWaiting = 8;      // connected, their hello not yet read
    static constexpr int kHelloTimeoutMs = 5000;
    void close();
    bool isListening() const;
    nodelink::NodeAddress address() const { return m_address; }

    int clientCount() const;          // attached, greeted or not
    int greetedClientCount() const;

    // Writes out what is still buffered for every client, waiting at most
    // timeoutMs in all. True when nothing is left.
    bool flush(int timeoutMs);

    // The node has sent closing: ends the program once every client has gone,
    // at most waitMs from now, with what is buffered written out. A client
    // answers closing by releasing PTT, DTR and RTS and going away; waiting
    // for it means those releases are read before the node ends.
    void quitOnceClientsLeave(int waitMs = 3000);

    // A client that does not read is cut off once this much waits for it.
    static constexpr qint64 kMaxPendingBytes = 4 * 1024 * 1024;

signals:
    // Every good line from a client (hello and requests), as it came.
    void received(const QByteArray &line);
    void requestReceived(const NodeRequest &r);
    void helloReceived(const nodelink::Hello &hello);
    // Every line sent: once for a line that goes to all clients, once for a
    // full state sent to one client after its hello.
    void sent(const QByteArray &line);
    void clientAttached();
    void clientDetached();

private:
    struct Client;

    void accept(QIODevice *socket);
    void refuse(QIODevice *socket, const QString &why);
    void onReadyRead(Client *c);
    bool readMore(Client *c);
    void serveLater(Client *c);
    void hungUp(Client *c);
    void handleLine(Client *c, const nodelink::LineReader::Item &item);
    void dropClient(Client *c, const QString &why);
    void purge();
    void syncState();
    void broadcast(const QByteArray &line);
    void sendTo(Client *c, const QByteArray &line);
    void event(const nodelink::NodeEvent &e);

    QPointer<NodeBackend> m_node;
    // The last line setters logged, by op: a repeat that changes nothing
    // (Mirelva's fan asks for DTR every second) is in the trace, not the log.
    QHash<QString, QString> m_lastSetting;
    QLocalServer *m_local = nullptr;
    QTcpServer *m_tcp = nullptr;
    nodelink::NodeAddress m_address;
    QString m_tokenFile;
    QByteArray m_token;   // TCP: what every hello must carry
    QStringList m_groups;
    int m_helloTimeoutMs = kHelloTimeoutMs;
    std::vector<std::unique_ptr<Client>> m_clients;
    NodeState m_sentState;   // what every greeted client has been told
    int m_nextId = 1;
    bool m_purgeQueued = false;
};

// The node programs' traffic printer (--trace, and mirelva-node without a
// window): every line a client sends as "request LINE" and every line sent
// to the clients as "event LINE", on standard output as it happens.
void printTraffic(NodeServer *server);
// One line of it, for what else a node program prints there ("vox -42.0 dBFS").
void printTraceLine(const char *what, QByteArray line);

} // namespace mirelva
