#pragma once

#include <functional>
#include <iterator>
#include <optional>

#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include "core/nodebackend.h"

namespace mirelva::nodelink {

// The node link's wire format, shared by the client in Mirelva and the
// server in mirelva-node: one UTF-8 JSON object per line.
// Version 2 adds the speech the node plays itself ("play" in Speech); version
// 3 adds the shared secret ("token") to the hello, which a TCP node demands.
// On a Unix socket the peer's user admits it, so version 1 and 2 clients are
// served there as before.
constexpr int kProtocolVersion = 3;
constexpr int kOldestProtocolVersion = 1;
// The longest line either side accepts, not counting its "\n".
constexpr int kMaxLineBytes = 65536;

// Where a node listens: "unix:PATH" or "tcp:HOST:PORT" (HOST may be an IPv6
// address in brackets, "tcp:[::1]:7300").
struct NodeAddress {
    enum Kind { Unix, Tcp };
    Kind kind = Unix;
    QString path;          // Unix
    QString host;          // Tcp, without brackets
    quint16 port = 0;      // Tcp

    // Nothing on failure, with the reason in *error.
    static std::optional<NodeAddress> parse(const QString &text, QString *error = nullptr);
    QString toString() const;
    // Whether HOST names this machine only (127.0.0.0/8, ::1 or "localhost").
    bool isLoopback() const;
};

// Cuts a byte stream into lines without ever holding more than one line's
// worth: a line over the limit is reported once and its bytes are skipped up
// to the next newline.
class LineReader {
public:
    explicit LineReader(int maxLineBytes = kMaxLineBytes) : m_max(maxLineBytes) {}

    struct Item {
        QByteArray line;       // without "\n" (a trailing "\r" is dropped too)
        bool overlong = false; // the line was too long and has been skipped
    };
    // Takes the next bytes and returns every line they complete, in order.
    QVector<Item> feed(const QByteArray &bytes);
    // Bytes held for a line not yet ended.
    int pending() const { return int(m_buffer.size()); }
    void reset();

private:
    int m_max;
    QByteArray m_buffer;
    bool m_discarding = false;
};

// A change of the node's state: only the fields a state line carried.
struct StatePatch {
    std::optional<QString> localStation;
    std::optional<bool> linkActive;
    std::optional<bool> receivingSignal;
    std::optional<bool> transmitterKeyed;
    std::optional<bool> linkBusy;
    std::optional<QStringList> connected;
    std::optional<QStringList> carries;
    std::optional<QString> pttProblem;

    void applyTo(NodeState &s) const;
    bool isEmpty() const;
    // The fields carried, named as on the wire.
    QJsonObject toJson() const;
    static StatePatch full(const NodeState &s);
    // The fields of `now` that differ from `before`.
    static StatePatch diff(const NodeState &before, const NodeState &now);
};

// One line from the node to the client.
struct NodeEvent {
    enum Kind { State, Connected, Disconnected, RX, CarrierDetect, DTMF, Chat, Closing };
    Kind kind = State;
    StatePatch state;      // State
    QString call;          // Connected, Disconnected
    QString name;          // Connected
    QString addr;          // Connected
    bool on = false;       // RX, CarrierDetect
    QString text;          // DTMF (the digits), Chat

    static NodeEvent stateLine(const StatePatch &p);
    static NodeEvent connected(const QString &call, const QString &name, const QString &addr);
    static NodeEvent disconnected(const QString &call);
    static NodeEvent rx(bool on);
    static NodeEvent carrierDetect(bool on);
    static NodeEvent dtmf(const QString &digits);
    static NodeEvent chat(const QString &text);
    static NodeEvent closing();

    QByteArray toLine() const;   // compact JSON plus "\n"
};
// The events' names on the wire, in the order of NodeEvent::Kind: the one
// list both the writer and the reader go by.
inline constexpr const char *kNodeEventNames[] = {"state", "connected", "disconnected", "rx",
                                                  "carrierDetect", "dtmf", "chat", "closing"};
static_assert(std::size(kNodeEventNames) == size_t(NodeEvent::Closing) + 1, "one name for every event, in order");
std::optional<NodeEvent::Kind> nodeEventNamed(const QString &name);

// Every event `node` raises, as the line that carries it, to `handle`, called
// in the order the node's signals reach their receivers; `context` ends it.
void forEachNodeEvent(NodeBackend *node, QObject *context, std::function<void(const NodeEvent &)> handle);
// Raises `e` (not a state line) as the signal of the same name on `target`:
// a node backend, or a window's instance of the node interface.
template <class Target>
void emitNodeEvent(Target *target, const NodeEvent &e)
{
    switch (e.kind) {
    case NodeEvent::State:
        break;
    case NodeEvent::Connected:
        emit target->connected(e.call, e.name, e.addr);
        break;
    case NodeEvent::Disconnected:
        emit target->Disconnected(e.call);
        break;
    case NodeEvent::RX:
        emit target->RX(e.on);
        break;
    case NodeEvent::CarrierDetect:
        emit target->CarrierDetect(e.on);
        break;
    case NodeEvent::DTMF:
        emit target->DTMFString(e.text);
        break;
    case NodeEvent::Chat:
        emit target->ChatTextReceived(e.text);
        break;
    case NodeEvent::Closing:
        emit target->Closing();
        break;
    }
}

// What a line turned out to be. Anything but Ok is dropped by the reader.
enum class ParseStatus {
    Ok,
    NotJsonObject,   // not JSON, or JSON but not an object
    MissingName,     // no "event" (or "op") string
    UnknownName,     // a name this version does not know
    BadField,        // a known field missing or of the wrong type
};

struct ParsedEvent {
    ParseStatus status = ParseStatus::NotJsonObject;
    NodeEvent event;
    QString name;    // the "event" value when there was one
    QString error;   // why the line was dropped, for the log
};

struct Hello {
    QString client;
    QString version;
    int protocol = 0;
    QString token;   // version 3; a TCP node demands it
};

struct ParsedRequest {
    ParseStatus status = ParseStatus::NotJsonObject;
    bool isHello = false;
    Hello hello;
    NodeRequest request;
    QString name;
    QString error;
};

ParsedEvent parseEvent(const QByteArray &line);
ParsedRequest parseRequest(const QByteArray &line);

// The client's first line on every connection; the token only when given.
QByteArray helloLine(const QString &client, const QString &version, const QByteArray &token = {});

// What the first line of a connection decides: a node serves a peer only
// when that line is a good hello, and, where a token is wanted, carries it.
// Anything else (an HTTP request, junk, a request before hello) is refused
// and the connection closed, so nothing after it is ever read.
struct Admission {
    bool admitted = false;
    Hello hello;
    QString why;   // for the log, when refused
};
Admission admitFirstLine(const LineReader::Item &first, const QByteArray &wantedToken);
// Compares in a time that does not tell how much of a guess was right.
bool sameToken(const QByteArray &a, const QByteArray &b);
// A request as it goes on the wire: the same object as NodeRequest::toLine(),
// with "op" written first for whoever reads a trace.
QByteArray requestLine(const NodeRequest &r);

// A piece of a line from the peer for the log: short, on one line, printable.
QString excerpt(const QByteArray &line);

} // namespace mirelva::nodelink
