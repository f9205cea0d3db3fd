// EchoLib and libasync use sigc++, whose headers must come before Qt's: Qt's
// "slots" and "emit" keywords are macros that break them.
#include <AsyncAudioFifo.h>
#include <AsyncAudioIO.h>
#include <AsyncAudioMixer.h>
#include <AsyncAudioPacer.h>
#include <AsyncAudioPassthrough.h>
#include <AsyncAudioSelector.h>
#include <AsyncAudioSplitter.h>
#include <AsyncAudioStreamStateDetector.h>
#include <AsyncAudioValve.h>
#include <AsyncIpAddress.h>
#include <AsyncSigCAudioSink.h>
#include <EchoLinkDirectory.h>
#include <EchoLinkDispatcher.h>
#include <EchoLinkProxy.h>
#include <EchoLinkQso.h>

#include "node/echolink/echolinknode.h"

#include <cstring>
#include <map>
#include <vector>

#include <QDateTime>

#include "core/espeakvoice.h"
#include "core/onairlog.h"
#include "core/version.h"
#include "node/radio/morse.h"

namespace mirelva {

namespace {

constexpr int kSampleRate = 8000;
// The directory's station list is asked for again when older than this.
constexpr qint64 kListFreshMs = 60 * 1000;
constexpr int kDirectoryAnswerMs = 30 * 1000;
// Going offline at the end waits at most this for the directory.
constexpr int kOfflineWaitMs = 3000;
constexpr int kRefusalLingerMs = 700;
constexpr int kRxWatchMs = 200;

std::string str(const QString &s) { return s.toStdString(); }
QString qstr(const std::string &s) { return QString::fromStdString(s); }

// The 16-bit samples of the voice's WAV at 8 kHz, as floats.
std::vector<float> wavSamples(const QByteArray &wav)
{
    std::vector<float> out;
    const qsizetype data = wav.indexOf("data", 12);
    if (data < 0 || data + 8 > wav.size())
        return out;
    const qsizetype begin = data + 8;
    const qsizetype count = (wav.size() - begin) / 2;
    out.reserve(size_t(count));
    for (qsizetype i = 0; i < count; ++i) {
        qint16 v;
        std::memcpy(&v, wav.constData() + begin + 2 * i, 2);
        out.push_back(float(v) / 32768.0f);
    }
    return out;
}

} // namespace

// Everything of EchoLib's and libasyncaudio's, kept out of the header so that
// Qt code including it never sees sigc++.
struct EchoLinkNode::Engine : public sigc::trackable {
    struct Station {
        std::unique_ptr<EchoLink::Qso> qso;
        QString call;
        QString name;
        QString addr;
        bool outgoing = false;
        bool connected = false;     // reached CONNECTED
        bool byeWhileConnecting = false;
        bool receiving = false;
    };

    EchoLinkNode *node;
    std::unique_ptr<EchoLink::Proxy> proxy;
    EchoLink::Dispatcher *dispatcher = nullptr;
    sigc::connection incoming;
    std::unique_ptr<EchoLink::Directory> directory;
    std::vector<std::unique_ptr<Station>> stations;
    QElapsedTimer listAge;          // since the station list last came
    bool listAsked = false;
    QStringList pendingConnects;    // waiting for the station list
    QTimer directoryAnswer;
    bool talking = false;           // some station is talking (rx)

    // The radio side.
    std::unique_ptr<Async::AudioIO> rxIo;
    std::unique_ptr<Async::AudioIO> txIo;
    Async::AudioSplitter rxSplit;
    Async::SigCAudioSink rxTap;
    Async::AudioValve rxValve;
    Async::AudioFifo localFifo{kSampleRate * 120};
    std::unique_ptr<Async::AudioPacer> localPacer;
    Async::AudioSplitter localSplit;
    Async::AudioPassthrough localToTx;
    Async::AudioValve localToStations;
    Async::AudioSelector stationMix;   // Mirelva's audio before the receiver's
    Async::AudioSplitter toStations;
    Async::AudioSelector talkers;
    Async::AudioFifo talkFifo{kSampleRate * 10};   // the network does not wait for the mixer
    Async::AudioMixer txMix;
    Async::AudioStreamStateDetector txState;
    Async::AudioValve txValve;
    Async::SigCAudioSink nowhere;     // stands in for a device that cannot be opened

    explicit Engine(EchoLinkNode *n) : node(n)
    {
        directoryAnswer.setSingleShot(true);
        directoryAnswer.setInterval(kDirectoryAnswerMs);
        QObject::connect(&directoryAnswer, &QTimer::timeout, node, [this] {
            failPending(ConnectFailure::DirectoryUnreachable, QStringLiteral("no station list in %1 seconds").arg(kDirectoryAnswerMs / 1000));
        });
    }

    ~Engine()
    {
        incoming.disconnect();
        for (auto &s : stations)
            detachAudio(*s);
        stations.clear();
        directory.reset();
        EchoLink::Dispatcher::deleteInstance();
        proxy.reset();
    }

    const EchoLinkConfig &cfg() const { return node->m_config; }

    // The name stations see beside the callsign: the location text.
    QString localName() const { return cfg().location.isEmpty() ? cfg().callsign : cfg().location; }


    // ---- the radio's audio ------------------------------------------------------

    void buildAudio()
    {
        Async::AudioIO::setSampleRate(kSampleRate);
        Async::AudioIO::setChannels(1);
        // Receiver: to the squelch and DTMF taps, and through the valve to the stations.
        rxValve.setOpen(false);
        rxValve.setBlockWhenClosed(false);
        rxSplit.addSink(&rxTap);
        rxSplit.addSink(&rxValve);
        rxTap.sigWriteSamples.connect([this](float *samples, int count) {
            node->receiverAudio(samples, count);
            return count;
        });
        stationMix.addSource(&rxValve);
        stationMix.enableAutoSelect(&rxValve, 0);

        // Mirelva's speech and Morse: paced out in real time, to the
        // transmitter and, while any station is connected, to the stations.
        localPacer = std::make_unique<Async::AudioPacer>(kSampleRate, 256, 100);
        localFifo.registerSink(localPacer.get());
        localPacer->registerSink(&localSplit);
        localSplit.addSink(&localToTx);
        localSplit.addSink(&localToStations);
        localToStations.setOpen(false);
        localToStations.setBlockWhenClosed(false);
        stationMix.addSource(&localToStations);
        stationMix.enableAutoSelect(&localToStations, 10);
        stationMix.registerSink(&toStations);

        // Transmitter: the talking station or Mirelva's audio, keyed by
        // the stream detector, held back by the valve until PREKEY has
        // passed and while the time-out holds it off.
        talkers.registerSink(&talkFifo);
        txMix.addSource(&talkFifo);
        txMix.addSource(&localToTx);
        txMix.registerSink(&txState);
        txState.registerSink(&txValve);
        txValve.setOpen(false);
        txValve.setBlockWhenClosed(true);
        txState.sigStreamStateChanged.connect([this](bool active, bool idle) { node->audioActivity(active, idle); });

        rxIo = std::make_unique<Async::AudioIO>(str(cfg().rxAudio), 0);
        if (rxIo->open(Async::AudioIO::MODE_RD)) {
            rxIo->registerSink(&rxSplit);
        } else {
            node->say(QStringLiteral("cannot open the receiver's sound device RXAUDIO=%1; nothing from the radio reaches the stations").arg(cfg().rxAudio));
            rxIo.reset();
        }
        txIo = std::make_unique<Async::AudioIO>(str(cfg().txAudio), 0);
        if (txIo->open(Async::AudioIO::MODE_WR)) {
            txValve.registerSink(txIo.get());
        } else {
            node->say(QStringLiteral("cannot open the transmitter's sound device TXAUDIO=%1; nothing is heard on the air").arg(cfg().txAudio));
            txIo.reset();
            // Audio still goes, at once, so the stream ends and the key lifts.
            nowhere.sigWriteSamples.connect([](float *, int count) { return count; });
            nowhere.sigFlushSamples.connect([this] { nowhere.allSamplesFlushed(); });
            txValve.registerSink(&nowhere);
        }
    }

    void attachAudio(Station &s)
    {
        talkers.addSource(s.qso.get());
        talkers.enableAutoSelect(s.qso.get(), 0);
        toStations.addSink(s.qso.get());
        localToStations.setOpen(true);
    }

    void detachAudio(Station &s)
    {
        if (!s.qso)
            return;
        toStations.removeSink(s.qso.get());
        talkers.removeSource(s.qso.get());
    }

    // ---- the directory ----------------------------------------------------------

    void login()
    {
        std::vector<std::string> servers;
        for (const QString &s : cfg().servers)
            servers.push_back(str(s));
        const Async::IpAddress bind = cfg().bindAddr.isEmpty() ? Async::IpAddress() : Async::IpAddress(str(cfg().bindAddr));
        directory = std::make_unique<EchoLink::Directory>(servers, str(cfg().callsign), str(cfg().password),
                                                          str(cfg().location), bind);
        directory->statusChanged.connect([this](EchoLink::StationData::Status s) {
            node->say(QStringLiteral("directory status %1").arg(qstr(EchoLink::StationData::statusStr(s))));
            if (s == EchoLink::StationData::STAT_OFFLINE && node->m_stopping)
                QTimer::singleShot(0, node, [n = node] { n->finish(); });
        });
        directory->error.connect([this](const std::string &msg) {
            node->say(QStringLiteral("directory: ") + qstr(msg));
            if (listAsked) {
                listAsked = false;
                failPending(ConnectFailure::DirectoryUnreachable, qstr(msg));
            }
        });
        directory->stationListUpdated.connect([this] {
            listAsked = false;
            listAge.start();
            directoryAnswer.stop();
            const QStringList calls = pendingConnects;
            pendingConnects.clear();
            for (const QString &c : calls)
                resolve(c);
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

    int countConnected() const
    {
        return int(std::count_if(stations.begin(), stations.end(), [](const auto &s) { return s->connected; }));
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
        if (listAge.isValid() && listAge.elapsed() < kListFreshMs) {
            resolve(call);
            return;
        }
        pendingConnects << call;
        if (!listAsked) {
            listAsked = true;
            directoryAnswer.start();
            directory->getCalls();
        }
    }

    void resolve(const QString &call)
    {
        bool isNumber = false;
        const int id = call.toInt(&isNumber);
        const EchoLink::StationData *sd = isNumber ? directory->findStation(id) : directory->findCall(str(call));
        if (!sd) {
            node->tellConnectFailure(ConnectFailure::NotInDirectory, call);
            return;
        }
        if (sd->status() == EchoLink::StationData::STAT_BUSY) {
            node->tellConnectFailure(ConnectFailure::StationBusy, call);
            return;
        }
        if (int(stations.size()) >= cfg().maxQsos) {
            node->tellConnectFailure(ConnectFailure::TooMany, call, QString::number(stations.size()));
            return;
        }
        auto s = std::make_unique<Station>();
        s->call = qstr(sd->callsign());
        s->name = qstr(sd->description());
        s->addr = qstr(sd->ipStr());
        s->outgoing = true;
        if (find(s->call)) {
            node->tellConnectFailure(ConnectFailure::AlreadyConnected, s->call);
            return;
        }
        if (!makeQso(*s, sd->ip()))
            return;
        node->say(QStringLiteral("connecting to %1 at %2").arg(s->call, s->addr));
        Station &ref = *s;
        stations.push_back(std::move(s));
        if (!ref.qso->connect())
            node->tellConnectFailure(ConnectFailure::LocalError, ref.call, QStringLiteral("EchoLib could not send the connect"));
    }

    bool makeQso(Station &s, const Async::IpAddress &ip)
    {
        const QString info = QStringLiteral("Mirelva %1 EchoLink node %2\n%3").arg(versionText(), cfg().callsign, cfg().location);
        s.qso = std::make_unique<EchoLink::Qso>(ip, str(cfg().callsign), str(localName()), str(info));
        if (!s.qso->initOk()) {
            node->tellConnectFailure(ConnectFailure::LocalError, s.call, QStringLiteral("EchoLib could not set up the connection"));
            s.qso.reset();
            return false;
        }
        s.qso->setRemoteCallsign(str(s.call));
        Station *sp = &s;
        s.qso->stateChange.connect([this, sp](EchoLink::Qso::State st) { stateChanged(sp, st); });
        s.qso->chatMsgReceived.connect([this, sp](const std::string &msg) { chat(sp, msg); });
        s.qso->isReceiving.connect([this, sp](bool on) { receiving(sp, on); });
        s.qso->infoMsgReceived.connect([this, sp](const std::string &msg) {
            node->say(QStringLiteral("info from %1: %2").arg(sp->call, qstr(msg).simplified().left(200)));
        });
        attachAudio(s);
        return true;
    }

    void incomingConnection(const Async::IpAddress &ip, const std::string &callsign, const std::string &name,
                            const std::string &priv)
    {
        const QString call = qstr(callsign).trimmed().toUpper();
        const QString addr = qstr(ip.toString());
        // A station we hold already (calling again after going away
        // unannounced, or calling us while we call it): its packets go to
        // the QSO we have.
        if (find(call))
            return;
        const QString refusal = node->m_stopping ? QStringLiteral("the node is shutting down")
                                                 : incomingRefusal(cfg(), call, int(stations.size()));
        auto s = std::make_unique<Station>();
        s->call = call;
        s->name = qstr(name).trimmed();
        s->addr = addr;
        if (!refusal.isEmpty()) {
            node->say(QStringLiteral("refused %1 (%2) from %3: %4").arg(call, s->name, addr, refusal));
            // Accepted, told why in a chat text, and left a moment later (the
            // chat goes on the audio port, the leaving on the control port:
            // at once, the leaving could overtake it), so the caller is
            // told rather than left waiting for an answer.
            auto q = std::make_shared<EchoLink::Qso>(ip, str(cfg().callsign), str(localName()), "");
            if (q->initOk()) {
                q->setRemoteCallsign(callsign);
                q->accept();
                q->sendChatData(str(QStringLiteral("Not accepted here: ") + refusal));
                QTimer::singleShot(kRefusalLingerMs, node, [q] { q->disconnect(); });
            }
            return;
        }
        if (!makeQso(*s, ip))
            return;
        s->qso->setRemoteName(name);
        s->qso->setRemoteParams(priv);
        node->say(QStringLiteral("%1 (%2) calling from %3; accepted").arg(call, s->name, addr));
        Station &ref = *s;
        stations.push_back(std::move(s));
        ref.qso->accept();
    }

    void stateChanged(Station *s, EchoLink::Qso::State st)
    {
        switch (st) {
        case EchoLink::Qso::STATE_CONNECTING:
            break;
        case EchoLink::Qso::STATE_BYE_RECEIVED:
            if (!s->connected)
                s->byeWhileConnecting = true;
            break;
        case EchoLink::Qso::STATE_CONNECTED: {
            if (s->connected)
                break;
            s->connected = true;
            const QString remoteName = qstr(s->qso->remoteName()).trimmed();
            if (!remoteName.isEmpty())
                s->name = remoteName;
            node->say(QStringLiteral("connected %1 (%2) at %3").arg(s->call, s->name, s->addr));
            const QString call = s->call, name = s->name, addr = s->addr;
            node->apply([&](NodeState &ns) {
                if (!ns.connected.contains(call))
                    ns.connected << call;
                ns.linkActive = true;
            });
            node->raise([n = node, call, name, addr] { emit n->connected(call, name, addr); });
            break;
        }
        case EchoLink::Qso::STATE_DISCONNECTED: {
            const QString call = s->call;
            if (s->receiving)
                receiving(s, false);
            if (s->connected) {
                node->say(QStringLiteral("disconnected %1").arg(call));
                node->apply([&](NodeState &ns) {
                    ns.connected.removeAll(call);
                    ns.linkActive = !ns.connected.isEmpty();
                });
                node->raise([n = node, call] { emit n->Disconnected(call); });
            } else if (s->outgoing) {
                node->tellConnectFailure(s->byeWhileConnecting ? ConnectFailure::Refused : ConnectFailure::NoAnswer, call,
                                         s->byeWhileConnecting ? QString() : s->addr);
            }
            // Not from inside the QSO's own signal.
            detachAudio(*s);
            QTimer::singleShot(0, node, [this, s] { remove(s); });
            break;
        }
        }
    }

    void remove(Station *s)
    {
        const auto it = std::find_if(stations.begin(), stations.end(), [s](const auto &p) { return p.get() == s; });
        if (it == stations.end())
            return;
        stations.erase(it);
        localToStations.setOpen(countConnected() > 0);
        if (node->m_stopping && stations.empty() && directory)
            directory->makeOffline();
    }

    void chat(Station *s, const std::string &msg)
    {
        QString text = qstr(msg);
        while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')) || text.endsWith(QLatin1Char('\0')))
            text.chop(1);
        if (text.isEmpty())
            return;
        node->say(QStringLiteral("chat from %1: %2").arg(s->call, text.left(300)));
        node->raise([n = node, text] { emit n->ChatTextReceived(text); });
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
            if (s->connected && s->qso->sendChatData(str(text)))
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
            const std::vector<float> silence(size_t(kSampleRate * kRxWatchMs / 1000), 0.0f);
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
        d->proxy = std::make_unique<EchoLink::Proxy>(str(m_config.proxyHost), uint16_t(m_config.proxyPort),
                                                      str(m_config.callsign), str(m_config.proxyPassword));
        d->proxy->proxyReady.connect([this](bool ready) {
            say(ready ? QStringLiteral("proxy %1:%2 ready").arg(m_config.proxyHost).arg(m_config.proxyPort)
                      : QStringLiteral("proxy %1:%2 not ready").arg(m_config.proxyHost).arg(m_config.proxyPort));
        });
        d->proxy->connect();
    }
    if (!m_config.bindAddr.isEmpty())
        EchoLink::Dispatcher::setBindAddr(Async::IpAddress(str(m_config.bindAddr)));
    EchoLink::Dispatcher::setPortBase(m_config.portBase);
    d->dispatcher = EchoLink::Dispatcher::instance();
    if (!d->dispatcher) {
        if (error)
            *error = QStringLiteral("cannot open EchoLink's UDP ports %1 and %2 on %3 (another EchoLink program running?)")
                         .arg(m_config.portBase)
                         .arg(m_config.portBase + 1)
                         .arg(m_config.bindAddr.isEmpty() ? QStringLiteral("any address") : m_config.bindAddr);
        return false;
    }
    d->incoming = d->dispatcher->incomingConnection.connect(
        sigc::mem_fun(*d, &Engine::incomingConnection));
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
    for (auto &s : d->stations)
        if (s->qso)
            s->qso->disconnect();
    if (d->stations.empty())
        d->directory->makeOffline();
    m_keyer.shutDown(m_clock.elapsed());   // nothing more goes on the air
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
    const QString &op = r.op;
    const auto field = [&r](const char *k) { return r.fields.value(QLatin1String(k)); };
    if (!d || m_stopping)
        return;
    if (op == QLatin1String("Connect")) {
        d->connectTo(field("call").toString().trimmed().toUpper());
    } else if (op == QLatin1String("Disconnect")) {
        const QString call = field("call").toString().trimmed();
        Engine::Station *s = d->find(call);
        const qsizetype waiting = d->pendingConnects.indexOf(call.toUpper());
        if (!s && waiting >= 0) {
            // Still waiting for the directory: it is not made at all.
            d->pendingConnects.removeAt(waiting);
            say(QStringLiteral("connect %1 called off before the directory answered").arg(call.toUpper()));
            return;
        }
        if (!s) {
            say(QStringLiteral("Disconnect %1: no such station is connected").arg(call));
            return;
        }
        s->qso->disconnect();
    } else if (op == QLatin1String("DisconnectAll")) {
        d->pendingConnects.clear();
        for (auto &s : d->stations)
            s->qso->disconnect();
    } else if (op == QLatin1String("SendChatText")) {
        d->sendChat(field("text").toString());
    } else if (op == QLatin1String("SetBusy")) {
        if (field("on").toBool())
            d->directory->makeBusy();
        else
            d->directory->makeOnline();
    } else if (op == QLatin1String("SetPTT")) {
        updatePtt();
    } else if (op == QLatin1String("Speech")) {
        if (field("play").toBool())
            playSpeech(field("text").toString(), field("rate").toInt(), field("volume").toInt());
    } else if (op == QLatin1String("SendCW")) {
        sendCw(field("text").toString());
    } else if (op == QLatin1String("SetRTS") || op == QLatin1String("SetDTR")) {
        radio::OutputLine *line = (op == QLatin1String("SetRTS") ? m_rts : m_dtr).get();
        if (line)
            line->set(field("on").toBool());
        else
            sayOnce(op, QStringLiteral("%1 is remembered only: no %2 line in echolink.ini").arg(op, op.mid(3)));
    }
}

// ---- the transmitter ------------------------------------------------------------------------

void EchoLinkNode::audioActivity(bool active, bool idle)
{
    // Flushing is still going out; the hang time starts once all of it has.
    m_keyer.setAudio(active || !idle, m_clock.elapsed());
    applyKeying();
}

void EchoLinkNode::updatePtt()
{
    m_keyer.setRequested(pttRequested(), m_clock.elapsed());
    applyKeying();
}

void EchoLinkNode::applyKeying()
{
    const qint64 now = m_clock.elapsed();
    if (d) {
        // Audio waits while the key goes down (PREKEY); timed out, it is
        // dropped rather than held.
        d->txValve.setBlockWhenClosed(!m_keyer.timedOut());
        d->txValve.setOpen(m_keyer.audioPasses(now));
    }
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
}

void EchoLinkNode::playSpeech(const QString &text, int rate, int volume)
{
    const RenderedSpeech speech = renderSpeech(text, rate, volume);
    const std::vector<float> samples = speech.rate > 0 ? wavSamples(speechWav(speech, kSampleRate)) : std::vector<float>();
    if (samples.empty()) {
        sayOnce(QStringLiteral("engine"), QStringLiteral("the espeak-ng engine gave no audio; speech is not played"));
        return;
    }
    d->localFifo.writeSamples(samples.data(), int(samples.size()));
    d->localFifo.flushSamples();
}

void EchoLinkNode::sendCw(const QString &text)
{
    const std::vector<float> samples = radio::renderMorse(text, m_config.cwWpm, m_config.cwPitchHz, 0.5f, kSampleRate);
    if (samples.empty()) {
        say(QStringLiteral("nothing in \"%1\" can be sent in Morse").arg(text.left(60)));
        return;
    }
    OnAirLog::transmission(QStringLiteral("cw"), text);
    d->localFifo.writeSamples(samples.data(), int(samples.size()));
    d->localFifo.flushSamples();
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
        m_vox = std::make_unique<radio::Vox>(v, kSampleRate);
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
    if (d)
        d->rxValve.setOpen(open);
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
