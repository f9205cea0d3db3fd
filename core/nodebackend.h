#pragma once

#include <functional>
#include <iterator>
#include <optional>

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

namespace mirelva {

// What a node can be asked to do. An op is named only here and in
// kNodeOpNames, its name on the node link, in the on-air log and in a state's
// "carries": a backend compares NodeOp values, so an op misspelled anywhere
// fails to compile rather than being silently ignored.
enum class NodeOp { Connect, Disconnect, DisconnectAll, SetPTT, SendCW, SetBusy, SetRTS, SetDTR, SendChatText, Speech };
inline constexpr const char *kNodeOpNames[] = {"Connect", "Disconnect", "DisconnectAll", "SetPTT", "SendCW",
                                               "SetBusy", "SetRTS",     "SetDTR",        "SendChatText", "Speech"};
static_assert(std::size(kNodeOpNames) == size_t(NodeOp::Speech) + 1, "one name for every op, in NodeOp's order");
QString nameOf(NodeOp op);
// The op a name on the node link stands for, in its exact letter case.
std::optional<NodeOp> nodeOpNamed(const QString &name);

// What the node tells us about itself. Every query of the EchoLink interface
// is answered from here, so a poll costs no round trip to the node.
struct NodeState {
    QString localStation;          // the node's own callsign
    bool linkActive = false;
    bool receivingSignal = false;
    bool transmitterKeyed = false;
    bool linkBusy = false;
    QStringList connected;         // stations connected now
    // The request ops the node carries out ("Connect", "SendChatText", ...).
    // A node that does not say carries them all.
    QStringList carries = allRequests();
    // Why the transmitter cannot be keyed now (its PTT line's device is
    // missing, say); empty while it can.
    QString pttProblem;

    bool carriesOut(NodeOp op) const { return carries.contains(nameOf(op)); }
    static QStringList allRequests();

    bool operator==(const NodeState &) const = default;
};

// One request to the node, in the node link's own terms: `op` and its fields
// are exactly the JSON line that goes to a node in another process.
struct NodeRequest {
    NodeOp op = NodeOp::Connect;
    QJsonObject fields;

    static NodeRequest connect(const QString &call);
    static NodeRequest disconnect(const QString &call);
    static NodeRequest disconnectAll();
    static NodeRequest setPTT(bool on);
    static NodeRequest sendCW(const QString &text);
    static NodeRequest setBusy(bool on);
    static NodeRequest setRTS(bool on);
    static NodeRequest setDTR(bool on);
    static NodeRequest sendChatText(const QString &text);
    static NodeRequest speech(const QString &text, bool keyed);
    // A speech the node itself puts on the air, rendered with this voice's
    // rate (-10..10) and volume (0..100): Mirelva's audio goes through the node.
    static NodeRequest speechOnAir(const QString &text, int rate, int volume);

    QJsonObject toJson() const;      // {"op":..., fields...}
    QByteArray toLine() const;       // compact JSON plus "\n"
    // Short readable form for logs and tests: "SetPTT on", "SendCW VK2ABC",
    // "Connect W1AW", "DisconnectAll", "Speech keyed: The Time Is...".
    QString toText() const;
};

// A node: the built-in simulated one or a node program reached over a socket.
// Windows never talk to it directly; each holds its own EchoLink instance.
class NodeBackend : public QObject {
    Q_OBJECT
public:
    explicit NodeBackend(QObject *parent = nullptr) : QObject(parent) {}

    const NodeState &state() const { return m_state; }
    // Whether the node can be reached now (always true for the built-in node).
    virtual bool online() const { return true; }
    // A human-readable name for the main window's status ("built-in node", "unix:/run/...").
    virtual QString describe() const = 0;
    // Requests are fire-and-forget: the node answers through events and state.
    // Callers go through submit(), which keeps what the program last asked of
    // the transmitter.
    void submit(const NodeRequest &r);
    // Whether the program's last SetPTT asked for the transmitter keyed.
    bool pttRequested() const { return m_pttRequested; }
    // How long the program has held the transmitter keyed, from its first
    // SetPTT on; 0 while it is not keyed. Measured both on the program's
    // clock and on a clock that never jumps, and the longer taken, so a
    // clock set back never lengthens a transmission.
    qint64 pttRequestedForMs() const;

    // While the station's windows load, the node's events wait, so that each
    // one reaches every window's EchoLink instance, in the order they were
    // made, and none reaches only the first. Released, the waiting events
    // are raised in the order they came, before any that comes meanwhile.
    // The state mirror is not held: it stays true to the node throughout.
    // Holds nest; the events go once every hold is released.
    void holdEvents() { ++m_holds; }
    void releaseEvents();
    bool eventsHeld() const { return m_holds > 0; }

signals:
    void connected(const QString &sCallConnected, const QString &sName, const QString &sAddr);
    void Disconnected(const QString &sCall);
    void RX(bool bRX);
    void CarrierDetect(bool bCD);
    void DTMFString(const QString &sDigits);
    void ChatTextReceived(const QString &sText);
    void Closing();
    // The state mirror changed (or the node came or went).
    void stateChanged();
    void onlineChanged(bool online);

protected:
    virtual void request(const NodeRequest &r) = 0;

    // Raises one event (emits its signal) now, or once the events are
    // released. A backend raises every event through here, or, reading its
    // events from a queue of its own, leaves them there while eventsHeld()
    // and takes them up again in eventsReleased().
    void raise(std::function<void()> event);
    virtual void eventsReleased() {}

    void setState(const NodeState &s)
    {
        if (s == m_state)
            return;
        m_state = s;
        emit stateChanged();
    }
    NodeState m_state;

private:
    bool m_pttRequested = false;
    int m_holds = 0;
    QList<std::function<void()>> m_heldEvents;
    bool m_releasing = false;
    QDateTime m_keyedAt;
    QElapsedTimer m_keyedFor;
};

class SpeechVoice;

// Tells the node of every text the voice speaks, keyed or not, and writes the
// keyed ones to the on-air log. The program and the tests wire it the same way.
// With nodePlaysAudio a keyed text goes as a speech the node plays itself.
void tellNodeOfSpeech(SpeechVoice &voice, NodeBackend &node, bool nodePlaysAudio = false);

// A chat text from the node's own callsign is the node speaking (mirelva-echolink
// tells a connect that failed that way): it goes to the on-air log as well,
// "node says: Connect K1XYZ failed: ...".
void logNodeNotices(NodeBackend &node);

} // namespace mirelva
