#include "node/echolink/echolinknode.h"

#include <array>
#include <cstring>
#include <deque>
#include <vector>

#include <QMap>
#include <QPointer>

#include "core/speechvoice.h"
#include "core/onairlog.h"
#include "core/version.h"
#include "node/echolink/audio/conference.h"
#include "node/echolink/audio/soundio.h"
#include "node/echolink/protocol/callercheck.h"
#include "node/echolink/protocol/directory.h"
#include "node/echolink/protocol/dispatcher.h"
#include "node/echolink/protocol/proxy.h"
#include "node/radio/morse.h"

namespace mirelva {

namespace {

constexpr int kRate = echolink::kSampleRate;
constexpr int kFrame = echolink::kFrameSamples;
// The directory's station list is asked for again when older than this.
constexpr qint64 kListFreshMs = 60 * 1000;
constexpr int kDirectoryAnswerMs = 30 * 1000;
// Going offline at the end waits at most this for the directory.
constexpr int kOfflineWaitMs = 3000;
constexpr int kRefusalLingerMs = 700;
// Texts from all stations together reach Mirelva (and the other stations)
// at most this fast; each station is held to less by its QSO. What is held
// back is told in one line at most every kHeldTellMs.
constexpr double kTextsPerSecond = 5;
constexpr double kTextBurst = 10;
constexpr int kHeldTellMs = 10 * 1000;
// Callers waiting for the directory are told at most this many a minute.
constexpr int kAskingLines = 10;
constexpr qint64 kAskingLinesMs = 60 * 1000;
constexpr int kRxWatchMs = 200;
// The audio step runs while anything sounds, and this many steps after.
constexpr int kIdleSteps = 50;
// Steps made up at once after the thread was held (a keyed speech); beyond,
// the time is let go.
constexpr int kCatchUpSteps = 10;
// Frames held for the transmitter at most (PREKEY holds them while the key
// goes down; the sound card takes them as they come otherwise).
constexpr size_t kTxFramesMax = 5000 / echolink::kFrameMs + 10;
constexpr size_t kRxFramesMax = 10;

using Frame = std::array<qint16, kFrame>;

// The 16-bit samples of the voice's WAV at 8 kHz.
std::vector<qint16> wavSamples(const QByteArray &wav)
{
    std::vector<qint16> out;
    const qsizetype data = wav.indexOf("data", 12);
    if (data < 0 || data + 8 > wav.size())
        return out;
    const qsizetype begin = data + 8;
    out.resize(size_t((wav.size() - begin) / 2));
    std::memcpy(out.data(), wav.constData() + begin, out.size() * 2);
    return out;
}

} // namespace

// The protocol's and the audio's objects, kept out of the header.
struct EchoLinkNode::Engine {
    struct Station {
        QPointer<echolink::Qso> qso;
        QString call;
        QString name;
        QString addr;
        bool outgoing = false;
        bool connected = false;
        bool receiving = false;
    };

    EchoLinkNode *node;
    echolink::Dispatcher dispatcher;
    std::unique_ptr<echolink::Proxy> proxy;
    std::unique_ptr<echolink::SocketTcpLink> directLink;
    std::unique_ptr<echolink::Directory> directory;
    std::unique_ptr<echolink::CallerCheck> callers;
    QHash<QHostAddress, QString> callerNames;   // callers waiting for the directory
    double textTokens = kTextBurst;     // all stations' texts, together
    qint64 textRefilled = -1;
    QMap<QString, quint64> textsHeld;   // by callsign, not yet told
    QTimer tellHeld;
    qint64 askingLinesFrom = -kAskingLinesMs;   // the "asking the directory" lines' minute
    int askingLines = 0;
    quint64 askingUntold = 0;
    echolink::Conference conference;
    std::vector<std::unique_ptr<Station>> stations;
    qint64 listAt = -1;             // when the station list last came
    int listAsked = 0;              // the list request connects wait for, 0: none
    QStringList pendingConnects;    // waiting for the station list
    QTimer directoryAnswer;
    bool talking = false;           // some station is talking (rx)

    // The radio side.
    std::unique_ptr<echolink::SoundInput> rx;
    std::unique_ptr<echolink::SoundOutput> tx;
    std::deque<Frame> rxFrames;     // the receiver's, while the squelch is open
    std::deque<qint16> mirelvaAudio;   // Mirelva's speech and Morse
    std::deque<Frame> txFrames;     // for the transmitter
    QTimer step;                    // single shot, to the next step's time
    qint64 nextStep = -1;           // when the next step is due; -1: not stepping
    qint64 lastStep = -1;
    int idleSteps = 0;

    explicit Engine(EchoLinkNode *n)
        : node(n),
          dispatcher({n->m_config.bindAddr.isEmpty() ? QHostAddress(QHostAddress::AnyIPv4) : QHostAddress(n->m_config.bindAddr),
                      quint16(n->m_config.portBase)},
                     [n] { return n->m_clock.elapsed(); }),
          conference(n->m_config.callsign, localName(n->m_config),
                     QStringLiteral("Mirelva %1 EchoLink node %2").arg(versionText(), n->m_config.callsign), n->m_config.maxQsos)
    {
        directoryAnswer.setSingleShot(true);
        directoryAnswer.setInterval(kDirectoryAnswerMs);
        QObject::connect(&directoryAnswer, &QTimer::timeout, node, [this] {
            failPending(ConnectFailure::DirectoryUnreachable, QStringLiteral("no station list in %1 seconds").arg(kDirectoryAnswerMs / 1000));
        });
        QObject::connect(&dispatcher, &echolink::Dispatcher::note, node, [this](const QString &l) { node->say(l); });
        QObject::connect(&dispatcher, &echolink::Dispatcher::incomingConnection, node,
                         [this](const QHostAddress &from, const echolink::ControlPacket &sdes) { incoming(from, sdes); });
        QObject::connect(&conference, &echolink::Conference::rosterChanged, node, [this](const QString &roster) {
            for (auto &s : stations)
                if (s->connected && s->qso)
                    s->qso->sendInfo(roster);
        });
        tellHeld.setSingleShot(true);
        tellHeld.setInterval(kHeldTellMs);
        QObject::connect(&tellHeld, &QTimer::timeout, node, [this] { tellTextsHeld(); });
        step.setSingleShot(true);
        step.setTimerType(Qt::PreciseTimer);
        QObject::connect(&step, &QTimer::timeout, node, [this] { runSteps(); });
    }

    ~Engine()
    {
        for (auto &s : stations)
            if (s->qso)
                QObject::disconnect(s->qso, nullptr, node, nullptr);
    }

    const EchoLinkConfig &cfg() const { return node->m_config; }
    qint64 now() const { return node->m_clock.elapsed(); }

    // The name stations see beside the callsign: the location text.
    static QString localName(const EchoLinkConfig &c) { return c.location.isEmpty() ? c.callsign : c.location; }
    echolink::LocalStation local() const { return {cfg().callsign, localName(cfg()), QString()}; }

    // ---- the radio's audio ------------------------------------------------------

    void buildAudio()
    {
        QString why;
        rx = echolink::SoundInput::open(cfg().rxAudio, &why, node);
        if (rx) {
            QObject::connect(rx.get(), &echolink::SoundInput::frame, node, [this](const qint16 *samples) { receiverFrame(samples); });
            QObject::connect(rx.get(), &echolink::SoundInput::problem, node, [this](const QString &p) { node->say(p); });
        } else {
            node->say(QStringLiteral("cannot open the receiver's sound device RXAUDIO=%1 (%2); nothing from the radio reaches the stations")
                          .arg(cfg().rxAudio, why));
        }
        tx = echolink::SoundOutput::open(cfg().txAudio, [this](qint16 *out) { return transmitterFrame(out); }, &why, node);
        if (tx)
            QObject::connect(tx.get(), &echolink::SoundOutput::problem, node, [this](const QString &p) { node->say(p); });
        else
            node->say(QStringLiteral("cannot open the transmitter's sound device TXAUDIO=%1 (%2); nothing is heard on the air")
                          .arg(cfg().txAudio, why));
    }

    void receiverFrame(const qint16 *samples)
    {
        float f[kFrame];
        for (int i = 0; i < kFrame; ++i)
            f[i] = float(samples[i]) / 32768.0f;
        node->receiverAudio(f, kFrame);
        if (!node->m_squelchOpen)
            return;
        Frame fr;
        std::memcpy(fr.data(), samples, sizeof fr);
        rxFrames.push_back(fr);
        while (rxFrames.size() > kRxFramesMax)
            rxFrames.pop_front();
        wake();
    }

    // Mirelva's audio, paced out by the audio step.
    void playLocal(const std::vector<qint16> &samples)
    {
        mirelvaAudio.insert(mirelvaAudio.end(), samples.begin(), samples.end());
        wake();
    }

    void wake()
    {
        idleSteps = 0;
        if (nextStep < 0) {
            nextStep = now();
            if (rx)
                rx->setPaced(true);
            runSteps();
        }
    }

    // The one 20 ms tick of the node's audio: the conference's step and the
    // transmitter's sound device, every step due by the clock (so a late
    // timer does not slow the stream), then the timer set for the next.
    // Nothing wakes while nothing sounds.
    void runSteps()
    {
        const qint64 t = now();
        for (int n = 0; nextStep >= 0 && nextStep <= t; ++n) {
            if (n == kCatchUpSteps) {
                nextStep = t + echolink::kFrameMs;
                break;
            }
            lastStep = nextStep;
            nextStep += echolink::kFrameMs;
            if (!routeAudio()) {
                nextStep = -1;
                step.stop();
                if (rx)
                    rx->setPaced(false);
                return;
            }
        }
        step.start(int(std::max<qint64>(nextStep - now(), 0)));
    }

    // A talker's over about to begin plays from its first step: the step
    // is brought forward to that moment rather than up to 20 ms after it.
    void stepAt(qint64 at)
    {
        if (nextStep < 0 || at <= lastStep || at >= nextStep)
            return;
        nextStep = at;
        step.start(int(std::max<qint64>(at - now(), 0)));
    }

    // One 20 ms step of the conference: the receiver (while the squelch is
    // open), Mirelva's audio, and each station's buffer in; the transmitter
    // and every station out. False once nothing has sounded for kIdleSteps.
    bool routeAudio()
    {
        // The receiver's audio is read here while the step runs (paced).
        if (rx)
            rx->pump();
        const qint64 t = now();
        Frame radioFrame{}, localFrame{};
        const qint16 *radio = nullptr, *localAudio = nullptr;
        if (node->m_squelchOpen) {
            // A frame late from the sound card is silence, not the end of the over.
            if (!rxFrames.empty()) {
                radioFrame = rxFrames.front();
                rxFrames.pop_front();
            }
            radio = radioFrame.data();
        }
        if (!mirelvaAudio.empty()) {
            const size_t n = std::min(mirelvaAudio.size(), size_t(kFrame));
            std::copy(mirelvaAudio.begin(), mirelvaAudio.begin() + qsizetype(n), localFrame.begin());
            mirelvaAudio.erase(mirelvaAudio.begin(), mirelvaAudio.begin() + qsizetype(n));
            localAudio = localFrame.data();
        }
        conference.route(radio, localAudio, t);
        const qint16 *out = conference.transmitter();
        const bool queue = out && tx && !node->m_keyer.timedOut() && !node->m_stopping;
        if (queue) {
            Frame f;
            std::memcpy(f.data(), out, sizeof f);
            txFrames.push_back(f);
            while (txFrames.size() > kTxFramesMax)
                txFrames.pop_front();
        }
        // Keyed first, so the sound device finds the frame passing.
        node->m_keyer.setAudio(out != nullptr || !txFrames.empty(), t);
        node->applyKeying();
        if (queue && tx->resting())
            tx->wake();
        if (tx)
            tx->pump();
        const bool sent = sendPackets();
        const bool busy = radio || localAudio || out || sent || !txFrames.empty() ||
                          std::any_of(stations.begin(), stations.end(), [this](const auto &s) {
                              const echolink::StationAudio *a = conference.audio(s->call);
                              return a && a->talking();
                          });
        if (busy)
            idleSteps = 0;
        return busy || ++idleSteps < kIdleSteps;
    }

    // What the conference has for the stations, each sent with the
    // station's own sequence number. False when there was nothing.
    bool sendPackets()
    {
        const QList<echolink::Conference::Outgoing> packets = conference.takePackets();
        for (const echolink::Conference::Outgoing &p : packets)
            for (const QString &call : p.stations)
                if (Station *s = find(call); s && s->qso)
                    s->qso->sendAudio(p.payload);
        return !packets.isEmpty();
    }

    // The sound card asks for 20 ms; PREKEY holds the audio while the key
    // goes down.
    bool transmitterFrame(qint16 *out)
    {
        if (txFrames.empty() || !node->m_keyer.audioPasses(now()))
            return false;
        std::memcpy(out, txFrames.front().data(), sizeof(Frame));
        txFrames.pop_front();
        return true;
    }

    // ---- the directory ----------------------------------------------------------

    void login()
    {
        echolink::Directory::Settings s;
        s.servers = cfg().servers;
        s.callsign = cfg().callsign;
        s.password = cfg().password;
        s.description = cfg().location;
        echolink::TcpLink *link = proxy ? proxy->tcpLink() : nullptr;
        if (!link) {
            directLink = std::make_unique<echolink::SocketTcpLink>(
                cfg().bindAddr.isEmpty() ? QHostAddress() : QHostAddress(cfg().bindAddr));
            link = directLink.get();
        }
        directory = std::make_unique<echolink::Directory>(s, link);
        callers = std::make_unique<echolink::CallerCheck>(directory.get(), cfg().allowIp, [this] { return now(); });
        QObject::connect(callers.get(), &echolink::CallerCheck::decided, node,
                         [this](const QHostAddress &from, const QString &call, bool pass, const QString &why) {
                             const QString name = callerNames.take(from);
                             if (pass)
                                 admit(from, call, name);
                             else
                                 refuseUnlisted(from, call, why);
                         });
        QObject::connect(callers.get(), &echolink::CallerCheck::asking, node, [this](const QHostAddress &, const QString &call) {
            // Once a caller; a flood of made-up ones in a few lines.
            const qint64 t = now();
            if (t - askingLinesFrom >= kAskingLinesMs) {
                if (askingUntold > 0)
                    node->say(QStringLiteral("%1 more caller%2 not in the station list asked the directory about")
                                  .arg(askingUntold)
                                  .arg(askingUntold == 1 ? "" : "s"));
                askingLinesFrom = t;
                askingLines = 0;
                askingUntold = 0;
            }
            if (askingLines < kAskingLines) {
                ++askingLines;
                node->say(QStringLiteral("%1 not in the station list yet; asking the directory").arg(call));
            } else {
                ++askingUntold;
            }
        });
        QObject::connect(&dispatcher, &echolink::Dispatcher::callerLeft, node, [this](const QHostAddress &from) {
            if (callers->waiting(from)) {
                callerNames.remove(from);
                callers->forget(from);
            }
        });
        QObject::connect(directory.get(), &echolink::Directory::statusChanged, node, [this](echolink::DirectoryStatus st) {
            node->say(QStringLiteral("directory status %1").arg(echolink::statusName(st)));
            if (st == echolink::DirectoryStatus::Offline && node->m_stopping)
                QTimer::singleShot(0, node, [n = node] { n->finish(); });
        });
        QObject::connect(directory.get(), &echolink::Directory::error, node, [this](const QString &why) {
            node->say(QStringLiteral("directory: ") + why);
        });
        QObject::connect(directory.get(), &echolink::Directory::listFailed, node, [this](const QString &why) {
            node->say(QStringLiteral("directory: no station list: ") + why);
            if (listAsked && directory->listsEnded() >= listAsked) {
                listAsked = 0;
                failPending(ConnectFailure::DirectoryUnreachable, why);
            }
        });
        QObject::connect(directory.get(), &echolink::Directory::listUpdated, node, [this] {
            listAt = now();
            if (!listAsked || directory->listsEnded() < listAsked)
                return;
            listAsked = 0;
            directoryAnswer.stop();
            const QStringList calls = pendingConnects;
            pendingConnects.clear();
            for (const QString &c : calls)
                resolve(c);
        });
        if (proxy)
            QObject::connect(proxy.get(), &echolink::Proxy::readyChanged, directory.get(), [this](bool ready) {
                if (ready)
                    directory->linkUsable();
            });
        directory->makeOnline();
    }

    void failPending(ConnectFailure why, const QString &detail)
    {
        directoryAnswer.stop();
        const QStringList calls = pendingConnects;
        pendingConnects.clear();
        for (const QString &c : calls)
            node->tellConnectFailure(why, c, detail);
    }

    // ---- stations -----------------------------------------------------------------

    Station *find(const QString &call)
    {
        for (auto &s : stations)
            if (s->call.compare(call, Qt::CaseInsensitive) == 0)
                return s.get();
        return nullptr;
    }

    void connectTo(const QString &call)
    {
        if (!isStationName(call)) {
            node->tellConnectFailure(ConnectFailure::NotACallsign, call);
            return;
        }
        if (call == cfg().callsign) {
            node->tellConnectFailure(ConnectFailure::OwnCallsign, call);
            return;
        }
        if (find(call) || pendingConnects.contains(call)) {
            node->tellConnectFailure(ConnectFailure::AlreadyConnected, call);
            return;
        }
        if (int(stations.size()) >= cfg().maxQsos) {
            node->tellConnectFailure(ConnectFailure::TooMany, call, QString::number(stations.size()));
            return;
        }
        if (listAt >= 0 && now() - listAt < kListFreshMs) {
            resolve(call);
            return;
        }
        pendingConnects << call;
        if (!listAsked) {
            listAsked = directory->refreshList();
            directoryAnswer.start();
        }
    }

    void resolve(const QString &call)
    {
        bool isNumber = false;
        const int id = call.toInt(&isNumber);
        const echolink::StationEntry *e = isNumber ? directory->findNode(id) : directory->findCall(call);
        if (!e) {
            node->tellConnectFailure(ConnectFailure::NotInDirectory, call);
            return;
        }
        if (e->status == echolink::StationEntry::Busy) {
            node->tellConnectFailure(ConnectFailure::StationBusy, call);
            return;
        }
        if (int(stations.size()) >= cfg().maxQsos) {
            node->tellConnectFailure(ConnectFailure::TooMany, call, QString::number(stations.size()));
            return;
        }
        if (find(e->callsign)) {
            node->tellConnectFailure(ConnectFailure::AlreadyConnected, e->callsign);
            return;
        }
        echolink::Qso *q = dispatcher.createQso(e->address, local());
        if (!q) {
            node->tellConnectFailure(ConnectFailure::LocalError, e->callsign,
                                     QStringLiteral("a station at its address %1 is connected already").arg(e->address.toString()));
            return;
        }
        auto s = std::make_unique<Station>();
        s->call = e->callsign;
        s->name = e->description;
        s->addr = e->address.toString();
        s->outgoing = true;
        watch(*s, q);
        node->say(QStringLiteral("connecting to %1 at %2").arg(s->call, s->addr));
        stations.push_back(std::move(s));
        q->connectTo(now());
    }

    void watch(Station &s, echolink::Qso *q)
    {
        s.qso = q;
        q->setRemoteCallsign(s.call);
        Station *sp = &s;
        QObject::connect(q, &echolink::Qso::stateChanged, node, [this, sp](echolink::Qso::State st) { stateChanged(sp, st); });
        QObject::connect(q, &echolink::Qso::chatReceived, node,
                         [this, sp](const QString &text, const QString &octets) { chat(sp, text, octets); });
        QObject::connect(q, &echolink::Qso::receivingChanged, node, [this, sp](bool on) { receiving(sp, on); });
        QObject::connect(q, &echolink::Qso::infoReceived, node, [this, sp](const QString &text) {
            if (takeText(sp->call))
                node->say(QStringLiteral("info from %1: %2").arg(sp->call, text.simplified().left(200)));
        });
        QObject::connect(q, &echolink::Qso::textsHeld, node, [this, sp](int count) { holdTexts(sp->call, quint64(count)); });
        QObject::connect(q, &echolink::Qso::audioReceived, node, [this, sp](quint16 seq, const QByteArray &gsm) {
            if (conference.audio(sp->call)) {
                // A talker's packet passed on goes now, not at the next step.
                conference.receive(sp->call, seq, gsm, dispatcher.receivedAt());
                sendPackets();
                wake();
                if (conference.talker() == sp->call)
                    stepAt(conference.audio(sp->call)->buffer().startsAtMs());
            }
        });
    }

    // A station calling in: its callsign must be one, the directory must
    // list it where it calls from (ALLOWIP aside), and ACCEPT, DENY and
    // MAXQSOS must let it in.
    void incoming(const QHostAddress &from, const echolink::ControlPacket &sdes)
    {
        const QString call = echolink::canonicalCallsign(sdes.callsign);
        if (call.isEmpty()) {
            dispatcher.refuse(from, QStringLiteral("a caller whose callsign is none"));
            return;
        }
        // The same station from another address: the QSO it has stays.
        if (find(call)) {
            dispatcher.refuse(from, QStringLiteral("a caller whose callsign is connected from elsewhere"));
            return;
        }
        QString why;
        switch (callers->check(from, call, &why)) {
        case echolink::CallerCheck::Verdict::Pass:
            admit(from, call, sdes.name);
            break;
        case echolink::CallerCheck::Verdict::Refuse:
            refuseUnlisted(from, call, why);
            break;
        case echolink::CallerCheck::Verdict::Wait:
            callerNames.insert(from, sdes.name.left(60));
            break;
        }
    }

    // Not who it says, or not listed: nothing is sent to an address that
    // may be made up, and the log hears of it as of a dropped packet, so a
    // flood of made-up callers is told in a few lines.
    void refuseUnlisted(const QHostAddress &from, const QString &call, const QString &why)
    {
        dispatcher.refuse(from, QStringLiteral("%1 refused, %2").arg(call, why));
    }

    void admit(const QHostAddress &from, const QString &call, const QString &name)
    {
        if (dispatcher.qso(from) || find(call))
            return;
        const QString refusal = node->m_stopping ? QStringLiteral("the node is shutting down")
                                                 : incomingRefusal(cfg(), call, int(stations.size()));
        echolink::Qso *q = dispatcher.createQso(from, local());
        if (!q)
            return;
        if (!refusal.isEmpty()) {
            node->say(QStringLiteral("refused %1 (%2) from %3: %4").arg(call, name, from.toString(), refusal));
            // Accepted, told why in a chat text, and left a moment later (the
            // chat goes on the audio port, the leaving on the control port:
            // at once, the leaving could overtake it), so the caller is told
            // rather than left waiting for an answer.
            q->setRemoteCallsign(call);
            q->accept(now());
            q->sendChat(QStringLiteral("Not accepted here: ") + refusal);
            QTimer::singleShot(kRefusalLingerMs, node, [p = QPointer<echolink::Qso>(q)] {
                if (p)
                    p->end();
            });
            return;
        }
        auto s = std::make_unique<Station>();
        s->call = call;
        s->name = name;
        s->addr = from.toString();
        watch(*s, q);
        q->setRemoteName(name);
        node->say(QStringLiteral("%1 (%2) calling from %3; accepted").arg(call, s->name, s->addr));
        stations.push_back(std::move(s));
        q->accept(now());
    }

    void stateChanged(Station *s, echolink::Qso::State st)
    {
        if (st == echolink::Qso::State::Connected && !s->connected) {
            s->connected = true;
            if (s->qso && !s->qso->remoteName().trimmed().isEmpty())
                s->name = s->qso->remoteName().trimmed();
            node->say(QStringLiteral("connected %1 (%2) at %3").arg(s->call, s->name, s->addr));
            const QString call = s->call, name = s->name, addr = s->addr;
            node->apply([&](NodeState &ns) {
                if (!ns.connected.contains(call))
                    ns.connected << call;
                ns.linkActive = true;
            });
            node->raise([n = node, call, name, addr] { emit n->connected(call, name, addr); });
            conference.addStation(call, name);
            return;
        }
        if (st != echolink::Qso::State::Ended)
            return;
        const QString call = s->call;
        const echolink::Qso::End how = s->qso ? s->qso->endedBy() : echolink::Qso::End::ByUs;
        if (s->receiving)
            receiving(s, false);
        if (s->connected) {
            node->say(QStringLiteral("disconnected %1").arg(call));
            conference.removeStation(call);
            node->apply([&](NodeState &ns) {
                ns.connected.removeAll(call);
                ns.linkActive = !ns.connected.isEmpty();
            });
            node->raise([n = node, call] { emit n->Disconnected(call); });
        } else if (s->outgoing && how != echolink::Qso::End::ByUs) {
            const bool refused = how == echolink::Qso::End::ByeReceived;
            node->tellConnectFailure(refused ? ConnectFailure::Refused : ConnectFailure::NoAnswer, call,
                                     refused ? QString() : s->addr);
        }
        if (s->qso)
            QObject::disconnect(s->qso, nullptr, node, nullptr);
        // Not from inside the QSO's own signal.
        QTimer::singleShot(0, node, [this, s] { remove(s); });
    }

    void remove(Station *s)
    {
        const auto it = std::find_if(stations.begin(), stations.end(), [s](const auto &p) { return p.get() == s; });
        if (it == stations.end())
            return;
        stations.erase(it);
        if (node->m_stopping && stations.empty() && directory)
            directory->makeOffline();
    }

    // Whether a station's text may go on now, all stations' together
    // counted; one held back is counted for the next tell.
    bool takeText(const QString &call)
    {
        const qint64 t = now();
        if (textRefilled >= 0)
            textTokens = std::min(kTextBurst, textTokens + double(t - textRefilled) / 1000.0 * kTextsPerSecond);
        textRefilled = t;
        if (textTokens >= 1.0) {
            textTokens -= 1.0;
            return true;
        }
        holdTexts(call, 1);
        return false;
    }

    void holdTexts(const QString &call, quint64 count)
    {
        textsHeld[call] += count;
        if (!tellHeld.isActive())
            tellHeld.start();
    }

    void tellTextsHeld()
    {
        if (textsHeld.isEmpty())
            return;
        quint64 total = 0;
        QStringList from;
        for (auto it = textsHeld.cbegin(); it != textsHeld.cend(); ++it) {
            total += it.value();
            if (from.size() < 5)
                from << QStringLiteral("%1 from %2").arg(it.value()).arg(it.key());
        }
        if (textsHeld.size() > from.size())
            from << QStringLiteral("the rest from %1 more").arg(textsHeld.size() - from.size());
        textsHeld.clear();
        const QString text = QStringLiteral("%1 chat and info text%2 held back, more than a few a second: %3")
                                 .arg(total)
                                 .arg(total == 1 ? "" : "s")
                                 .arg(from.join(QStringLiteral(", ")));
        node->say(text);
        node->raise([n = node, line = cfg().callsign + QLatin1Char('>') + text] { emit n->ChatTextReceived(line); });
    }

    // Mirelva gets the text decoded; the other stations get the bytes the
    // station sent (read one character a byte, written back the same).
    void chat(Station *s, const QString &text, const QString &octets)
    {
        if (!takeText(s->call))
            return;
        const echolink::Conference::ChatRelay relay = conference.relayChat(s->call, text);
        if (relay.toMirelva.isEmpty())
            return;
        node->say(QStringLiteral("chat from %1: %2").arg(s->call, relay.toMirelva.left(300)));
        node->raise([n = node, t = relay.toMirelva] { emit n->ChatTextReceived(t); });
        const echolink::Conference::ChatRelay bytes = conference.relayChat(s->call, octets);
        for (const QString &call : bytes.to)
            if (Station *other = find(call); other && other->connected && other->qso)
                other->qso->sendChat(bytes.message);
    }

    void receiving(Station *s, bool on)
    {
        s->receiving = on;
        const bool any = std::any_of(stations.begin(), stations.end(), [](const auto &p) { return p->receiving; });
        if (any == talking)
            return;
        talking = any;
        node->apply([any](NodeState &ns) { ns.linkBusy = any; });
        node->raise([n = node, any] { emit n->RX(any); });
    }

    void sendChat(const QString &text)
    {
        int sent = 0;
        for (auto &s : stations)
            if (s->connected && s->qso && s->qso->sendChat(text))
                ++sent;
        if (sent == 0)
            node->say(QStringLiteral("chat not sent, no station is connected: %1").arg(text.left(200)));
        else
            node->say(QStringLiteral("chat sent to %1 station%2: %3").arg(sent).arg(sent == 1 ? "" : "s").arg(text.left(200)));
    }
};

// ---- life ------------------------------------------------------------------------------

EchoLinkNode::EchoLinkNode(EchoLinkConfig config, QObject *parent)
    : NodeBackend(parent),
      m_config(std::move(config)),
      m_keyer(m_config.txHangMs, m_config.txTimeoutSeconds * 1000, m_config.preKeyMs),
      m_dtmfDigits(m_config.dtmfPauseMs)
{
    connect(&m_dtmf, &radio::DtmfDecoder::digit, &m_dtmfDigits, &radio::DtmfCollector::digit);
    connect(&m_dtmfDigits, &radio::DtmfCollector::collected, this, [this](const QString &digits) {
        say(QStringLiteral("DTMF from the radio: %1").arg(digits));
        raise([this, digits] { emit DTMFString(digits); });
    });
    NodeState s;
    s.localStation = m_config.callsign;
    // Every request is carried out on the air, chat and busy included.
    s.carries = NodeState::allRequests();
    setState(s);
    // A sound device that stops delivering (a UDP source gone quiet) must
    // not hold the VOX open: the time without audio counts as silence.
    m_rxWatch.setInterval(kRxWatchMs);
    connect(&m_rxWatch, &QTimer::timeout, this, [this] {
        if (!m_rxHeard && m_vox) {
            const std::vector<float> silence(size_t(kRate * kRxWatchMs / 1000), 0.0f);
            m_vox->feed(silence.data(), int(silence.size()));
        }
        m_rxHeard = false;
    });
    m_clock.start();
    m_keyerTimer.setSingleShot(true);
    connect(&m_keyerTimer, &QTimer::timeout, this, [this] {
        m_keyer.update(m_clock.elapsed());
        applyKeying();
    });
}

EchoLinkNode::~EchoLinkNode()
{
    // Never leave the transmitter keyed behind.
    m_keyed = false;
    if (m_ptt)
        m_ptt->set(false);
    d.reset();
}

QString EchoLinkNode::describe() const { return QStringLiteral("EchoLink node %1").arg(m_config.callsign); }

bool EchoLinkNode::start(QString *error)
{
    d = std::make_unique<Engine>(this);
    if (!m_config.proxyHost.isEmpty()) {
        d->proxy = std::make_unique<echolink::Proxy>(m_config.proxyHost, quint16(m_config.proxyPort), m_config.callsign,
                                                     m_config.proxyPassword);
        connect(d->proxy.get(), &echolink::Proxy::readyChanged, this, [this](bool ready, const QString &why) {
            say(ready ? QStringLiteral("proxy %1:%2 ready").arg(m_config.proxyHost).arg(m_config.proxyPort)
                      : QStringLiteral("proxy %1:%2 not ready: %3").arg(m_config.proxyHost).arg(m_config.proxyPort).arg(why));
        });
        d->dispatcher.useProxy(d->proxy.get());
        d->proxy->start();
    } else if (!d->dispatcher.open(error)) {
        return false;
    }
    d->buildAudio();
    openLines();
    d->login();
    say(QStringLiteral("%1 on UDP %2-%3, logging in to %4").arg(m_config.callsign).arg(m_config.portBase)
            .arg(m_config.portBase + 1).arg(m_config.servers.join(QLatin1Char(','))));
    return true;
}

void EchoLinkNode::stop()
{
    if (m_stopping)
        return;
    m_stopping = true;
    say(QStringLiteral("ending"));
    d->pendingConnects.clear();
    d->directoryAnswer.stop();
    const bool none = d->stations.empty();
    for (auto &s : d->stations)
        if (s->qso)
            s->qso->end();
    if (none)
        d->directory->makeOffline();
    m_keyer.shutDown(m_clock.elapsed());   // nothing more goes on the air
    d->txFrames.clear();
    applyKeying();
    raise([this] { emit Closing(); });
    QTimer::singleShot(kOfflineWaitMs, this, &EchoLinkNode::finish);
}

void EchoLinkNode::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    emit finished();
}

// ---- requests ----------------------------------------------------------------------------

void EchoLinkNode::request(const NodeRequest &r)
{
    const NodeOp op = r.op;
    const auto field = [&r](const char *k) { return r.fields.value(QLatin1String(k)); };
    if (!d || m_stopping)
        return;
    if (op == NodeOp::Connect) {
        d->connectTo(field("call").toString().trimmed().toUpper());
    } else if (op == NodeOp::Disconnect) {
        const QString call = field("call").toString().trimmed();
        Engine::Station *s = d->find(call);
        const qsizetype waiting = d->pendingConnects.indexOf(call.toUpper());
        if (!s && waiting >= 0) {
            // Still waiting for the directory: it is not made at all.
            d->pendingConnects.removeAt(waiting);
            say(QStringLiteral("connect %1 called off before the directory answered").arg(call.toUpper()));
            return;
        }
        if (!s || !s->qso) {
            say(QStringLiteral("Disconnect %1: no such station is connected").arg(call));
            return;
        }
        s->qso->end();
    } else if (op == NodeOp::DisconnectAll) {
        d->pendingConnects.clear();
        const std::vector<QPointer<echolink::Qso>> qsos = [this] {
            std::vector<QPointer<echolink::Qso>> l;
            for (auto &s : d->stations)
                l.push_back(s->qso);
            return l;
        }();
        for (const QPointer<echolink::Qso> &q : qsos)
            if (q)
                q->end();
    } else if (op == NodeOp::SendChatText) {
        d->sendChat(field("text").toString());
    } else if (op == NodeOp::SetBusy) {
        if (field("on").toBool())
            d->directory->makeBusy();
        else
            d->directory->makeOnline();
    } else if (op == NodeOp::SetPTT) {
        updatePtt();
    } else if (op == NodeOp::Speech) {
        if (field("play").toBool())
            playSpeech(field("text").toString(), field("rate").toInt(), field("volume").toInt());
    } else if (op == NodeOp::SendCW) {
        sendCw(field("text").toString());
    } else if (op == NodeOp::SetRTS || op == NodeOp::SetDTR) {
        radio::OutputLine *line = (op == NodeOp::SetRTS ? m_rts : m_dtr).get();
        if (line)
            line->set(field("on").toBool());
        else
            sayOnce(nameOf(op), QStringLiteral("%1 is remembered only: no %2 line in echolink.ini").arg(nameOf(op), nameOf(op).mid(3)));
    }
}

// ---- the transmitter ------------------------------------------------------------------------

void EchoLinkNode::updatePtt()
{
    m_keyer.setRequested(pttRequested(), m_clock.elapsed());
    applyKeying();
}

void EchoLinkNode::applyKeying()
{
    const qint64 now = m_clock.elapsed();
    // Timed out, what waits for the transmitter is dropped rather than held.
    if (d && m_keyer.timedOut())
        d->txFrames.clear();
    const qint64 next = m_keyer.nextDeadline(now);
    if (next >= 0)
        m_keyerTimer.start(int(next - now));
    else
        m_keyerTimer.stop();
    if (m_keyer.timedOut() && !m_toldTimeout)
        say(QStringLiteral("transmit time-out: keyed for %1 seconds (TXTIMEOUT); released until nothing asks for the air")
                .arg(m_config.txTimeoutSeconds));
    m_toldTimeout = m_keyer.timedOut();
    const bool keyed = m_keyer.keyed();
    if (keyed == m_keyed)
        return;
    m_keyed = keyed;
    if (m_ptt)
        m_ptt->set(keyed);
    OnAirLog::note(keyed ? QStringLiteral("echolink: transmitter keyed") : QStringLiteral("echolink: transmitter released"));
    apply([keyed](NodeState &s) { s.transmitterKeyed = keyed; });
    // Audio held for PREKEY may go now.
    if (keyed && d && d->tx && !d->txFrames.empty() && d->tx->resting())
        d->tx->wake();
}

void EchoLinkNode::playSpeech(const QString &text, int rate, int volume)
{
    const RenderedSpeech speech = renderSpeech(text, rate, volume);
    const std::vector<qint16> samples = speech.rate > 0 ? wavSamples(speechWav(speech, kRate)) : std::vector<qint16>();
    if (samples.empty()) {
        sayOnce(QStringLiteral("engine"), QStringLiteral("the espeak-ng engine gave no audio; speech is not played"));
        return;
    }
    d->playLocal(samples);
}

void EchoLinkNode::sendCw(const QString &text)
{
    const std::vector<float> samples = radio::renderMorse(text, m_config.cwWpm, m_config.cwPitchHz, 0.5f, kRate);
    if (samples.empty()) {
        say(QStringLiteral("nothing in \"%1\" can be sent in Morse").arg(text.left(60)));
        return;
    }
    OnAirLog::transmission(QStringLiteral("cw"), text);
    std::vector<qint16> pcm(samples.size());
    for (size_t i = 0; i < samples.size(); ++i)
        pcm[i] = qint16(std::clamp(samples[i] * 32767.0f, -32768.0f, 32767.0f));
    d->playLocal(pcm);
}

// ---- the radio's lines ------------------------------------------------------------------------

void EchoLinkNode::openLines()
{
    auto output = [this](const QString &text, const char *what) -> std::unique_ptr<radio::OutputLine> {
        if (text.isEmpty())
            return nullptr;
        const std::optional<radio::LineSpec> lineSpec = radio::LineSpec::parse(text, nullptr);
        if (!lineSpec || lineSpec->kind == radio::LineSpec::None)
            return nullptr;
        std::unique_ptr<radio::OutputLine> line = radio::OutputLine::create(*lineSpec, this);
        if (!line)
            return nullptr;
        line->set(false);
        radio::OutputLine *l = line.get();
        const QString name = QLatin1String(what);
        auto tell = [this, l, name](bool available) {
            say(available ? QStringLiteral("%1 line %2 ready").arg(name, l->lineSpec().toString())
                          : QStringLiteral("%1 line %2: %3").arg(name, l->lineSpec().toString(), l->problem()));
        };
        connect(l, &radio::Line::availabilityChanged, this, tell);
        if (!l->available())
            tell(false);
        return line;
    };
    m_ptt = output(m_config.ptt, "PTT");
    // Mirelva is told while the transmitter cannot be keyed, and why.
    if (radio::OutputLine *l = m_ptt.get()) {
        auto tellMirelva = [this, l] {
            const QString problem =
                l->available() ? QString() : QStringLiteral("PTT line %1: %2").arg(l->lineSpec().toString(), l->problem());
            apply([problem](NodeState &s) { s.pttProblem = problem; });
        };
        connect(l, &radio::Line::availabilityChanged, this, tellMirelva);
        tellMirelva();
    }
    m_rts = output(m_config.rts, "RTS");
    m_dtr = output(m_config.dtr, "DTR");

    if (m_config.sql == QLatin1String("vox")) {
        radio::VoxSettings v;
        v.thresholdDbfs = m_config.voxThresholdDbfs;
        v.attackMs = m_config.voxAttackMs;
        v.hangMs = m_config.voxHangMs;
        m_vox = std::make_unique<radio::Vox>(v, kRate);
        connect(m_vox.get(), &radio::Vox::changed, this, &EchoLinkNode::squelch);
        connect(m_vox.get(), &radio::Vox::meter, this, &EchoLinkNode::voxMeter);
    } else if (m_config.sql != QLatin1String("none")) {
        const std::optional<radio::LineSpec> lineSpec = radio::LineSpec::parse(m_config.sql, nullptr);
        if (lineSpec && lineSpec->kind != radio::LineSpec::None) {
            m_sqlLine = radio::InputLine::create(*lineSpec, this);
            if (m_sqlLine) {
                radio::InputLine *l = m_sqlLine.get();
                connect(l, &radio::InputLine::changed, this, &EchoLinkNode::squelch);
                connect(l, &radio::Line::availabilityChanged, this, [this, l](bool available) {
                    say(available ? QStringLiteral("squelch line %1 ready").arg(l->lineSpec().toString())
                                  : QStringLiteral("squelch line %1: %2").arg(l->lineSpec().toString(), l->problem()));
                });
                if (!l->available())
                    say(QStringLiteral("squelch line %1: %2").arg(l->lineSpec().toString(), l->problem()));
                if (l->active())
                    squelch(true);
            }
        }
    }
}

void EchoLinkNode::receiverAudio(const float *samples, int count)
{
    m_rxHeard = true;
    if (m_vox)
        m_vox->feed(samples, count);
    // Digits are read only while the squelch is open: noise makes false ones.
    if (m_squelchOpen || m_config.sql == QLatin1String("none"))
        m_dtmf.feed(samples, count);
}

void EchoLinkNode::squelch(bool open)
{
    if (open == m_squelchOpen)
        return;
    m_squelchOpen = open;
    if (m_vox) {
        if (open)
            m_rxWatch.start();
        else
            m_rxWatch.stop();
    }
    if (d && open)
        d->wake();
    else if (d)
        d->rxFrames.clear();
    apply([open](NodeState &s) { s.receivingSignal = open; });
    raise([this, open] { emit CarrierDetect(open); });
    if (!open)
        m_dtmfDigits.squelchClosed();
}

// ---- telling ---------------------------------------------------------------------------------

void EchoLinkNode::apply(const std::function<void(NodeState &)> &change)
{
    NodeState s = state();
    change(s);
    setState(s);
}

void EchoLinkNode::say(const QString &text)
{
    OnAirLog::note(QStringLiteral("echolink: ") + withoutSecrets(text, {m_config.password, m_config.proxyPassword}));
}

void EchoLinkNode::sayOnce(const QString &kind, const QString &text)
{
    if (m_saidOnce.contains(kind))
        return;
    m_saidOnce.insert(kind);
    say(text + QStringLiteral(" (said once)"));
}

void EchoLinkNode::tellConnectFailure(ConnectFailure why, const QString &call, const QString &detail)
{
    const QString text = connectFailureText(why, call, detail);
    say(text);
    // Asking again for a station already there changes nothing Mirelva
    // needs to hear of (a "stay connected" asks every so often).
    if (why == ConnectFailure::AlreadyConnected)
        return;
    // Mirelva hears it as a chat text from this node, so the operator reads
    // it in the message box beside the texts the stations send.
    raise([this, line = m_config.callsign + QLatin1Char('>') + text] { emit ChatTextReceived(line); });
}

} // namespace mirelva
