#pragma once

#include <functional>
#include <list>
#include <vector>

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUdpSocket>

#include "node/echolink/protocol/packets.h"
#include "node/echolink/protocol/qso.h"

namespace mirelva::echolink {

class Proxy;

// EchoLink's two UDP ports (audio on the port base, control on the next),
// or a proxy in their place. Every datagram is read by the packet readers
// and given to the QSO of the address it came from; an SDES from an address
// with no QSO is a station calling in. What cannot be read, comes from an
// address without a QSO, or comes faster than any station sends (audio and
// control counted apart, so a station's keep-alives pass however much audio
// it sends), is dropped and counted; the log hears of drops in one line a
// source and minute, and of at most kDropLinesPerMinute sources a minute,
// the rest in one line.
//
// At most kMaxSources sending addresses are remembered; a new one always
// gets a place, made by forgetting the one heard from least recently that
// has no QSO (told in the log at most once a minute), so a flood from made-up
// addresses cannot keep a station out.
class Dispatcher : public QObject {
    Q_OBJECT
public:
    struct Settings {
        QHostAddress bind = QHostAddress::AnyIPv4;
        quint16 portBase = 5198;
        // A station sends 12.5 audio packets a second, a conference passing
        // on several talkers hardly more; texts come on the audio port too.
        double packetsPerSecond = 40;
        double burst = 80;
        // Control: an SDES every 10 s, a BYE; a connect tried a few times.
        double controlPerSecond = 10;
        double controlBurst = 20;
    };
    struct Counters {
        quint64 received = 0;
        quint64 malformed = 0;
        quint64 rateLimited = 0;
        quint64 unknownSource = 0;
        quint64 refused = 0;    // told by the node (a caller it would not take)
        quint64 forgotten = 0;  // addresses forgotten to make room for new ones
        quint64 dropped() const { return malformed + rateLimited + unknownSource + refused; }
    };
    using Clock = std::function<qint64()>;
    static constexpr int kMaxSources = 4096;
    static constexpr int kDropLinesPerMinute = 10;
    static constexpr qint64 kMinuteMs = 60 * 1000;
    // A QSO this node ended stays a moment, answering what the station sent
    // before it had the BYE (a keep-alive crossing it) with another BYE.
    // Longer, it would turn away a station calling again at once.
    static constexpr qint64 kLingerMs = 2 * 1000;

    // No clock: a monotonic one of its own.
    explicit Dispatcher(Settings settings, Clock clock = Clock(), QObject *parent = nullptr);
    ~Dispatcher() override;

    // Binds both ports; false with the reason when they cannot be had.
    bool open(QString *why);
    // Every datagram through the proxy from now on; the ports are closed.
    void useProxy(Proxy *proxy);

    // A new QSO with the station at `remote`, owned by the dispatcher, or
    // null when one is going on with it (an ended one lingering is replaced).
    Qso *createQso(const QHostAddress &remote, const LocalStation &local);
    Qso *qso(const QHostAddress &remote) const;   // live ones only
    QList<Qso *> qsos() const;                     // live ones only

    // A datagram as received (from a socket, the proxy or a test).
    void datagram(bool control, const QHostAddress &from, const char *data, qsizetype size);
    // A packet the node would not take (a caller that is no callsign), told
    // and counted with the dispatcher's drops.
    void refuse(const QHostAddress &from, const QString &why);
    void tick();
    qint64 now() const { return m_clock(); }
    // When the datagram being handled came: the kernel's receive stamp on
    // this clock where the socket gave one (arrival.h), else now().
    qint64 receivedAt() const { return m_receivedAt; }
    const Counters &counters() const { return m_counters; }
    int sources() const { return int(m_sources.size()); }
    bool remembers(const QHostAddress &from) const { return m_sources.contains(from); }

signals:
    void incomingConnection(const QHostAddress &from, const mirelva::echolink::ControlPacket &sdes);
    // A BYE from an address with no QSO: a caller leaving before it was let in.
    void callerLeft(const QHostAddress &from);
    // A line for the node's log (drops, rate-limited).
    void note(const QString &line);

private:
    struct Bucket {
        double tokens = 0;
        qint64 refilled = 0;
    };
    // Why packets were dropped: a count per rule, the reader's reasons being
    // fixed texts; of the node's refusals only the last is kept.
    struct Reason {
        const char *rule;
        int count;
    };
    struct Source {
        Bucket audio, control;
        qint64 lastSeen = 0;
        qint64 loggedAt = -1;
        int pending = 0;
        std::vector<Reason> reasons;
        QString lastRefusal;
        std::list<QHostAddress>::iterator age;   // its place in m_byAge
    };
    void send(bool control, const QHostAddress &to, const QByteArray &bytes);
    void readSocket(QUdpSocket &s, bool control);
    Source &source(const QHostAddress &from, qint64 now);
    void makeRoom(qint64 now);
    bool admit(Bucket &b, double rate, double burst, qint64 now);
    void drop(const QHostAddress &from, Source &s, const char *rule, quint64 &counter);
    void logDrops(const QHostAddress &from, Source &s, qint64 now);
    void forgetDrops(Source &s);
    void flushDropLines(qint64 now);
    void rollWindow(qint64 now);
    void schedule();
    void reap(qint64 now);

    Settings m_settings;
    Clock m_clock;
    QUdpSocket m_audio, m_control;
    QPointer<Proxy> m_proxy;
    QHash<QHostAddress, Qso *> m_qsos;
    QHash<QHostAddress, Source> m_sources;
    std::list<QHostAddress> m_byAge;  // the sources, least recently heard first
    Counters m_counters;
    quint64 m_overflowDrops = 0;      // untold drops of forgotten sources
    quint64 m_forgottenInWindow = 0;
    qint64 m_forgetToldAt = -1;
    qint64 m_pendingTotal = 0;        // drops not yet told, over all sources
    qint64 m_windowStart = 0;
    int m_linesInWindow = 0;
    QTimer m_timer;
    QByteArray m_buffer;
    qint64 m_ageNs = -1;              // of the datagram just read from a socket
    qint64 m_receivedAt = 0;
    QHash<Qso *, qint64> m_endedAt;
};

} // namespace mirelva::echolink
