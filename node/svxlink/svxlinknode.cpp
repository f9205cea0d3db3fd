#include "node/svxlink/svxlinknode.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "core/clock.h"
#include "core/speechvoice.h"
#include "core/onairlog.h"
#include "core/settingsstore.h"
#include "mirelva_hook.h"

namespace mirelva {

using namespace svxlink;

namespace {

// SvxLink plays 16 kHz WAV files only (its CARD_SAMPLE_RATE may differ; it
// converts).
constexpr int kSvxLinkWavRate = 16000;
// An incoming station's name and address come on SvxLink's output, which
// may reach us a moment after the hook's event.
constexpr int kNameWaitMs = 300;
constexpr int kConnectTimeoutMs = 20000;

QString errnoText() { return QString::fromLocal8Bit(std::strerror(errno)); }

void makeRaw(int fd)
{
    struct termios t;
    if (::tcgetattr(fd, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
    }
}

} // namespace

// ---- configuration -------------------------------------------------------------

SvxLinkConfig SvxLinkConfig::load()
{
    const IniFile ini(QStringLiteral("svxlink.ini"), kCapacity);
    SvxLinkConfig c;
    auto text = [&ini](const char *key, const QString &def) {
        const QString v = ini.text(QLatin1String(key), def);
        return v.isEmpty() ? def : v;
    };
    c.folder = text("FOLDER", c.folder);
    c.listen = text("LISTEN", QStringLiteral("unix:%1/node.sock").arg(c.folder));
    c.tokenFile = text("TOKENFILE", c.folder + QStringLiteral("/token"));
    for (const QString &g : ini.text(QStringLiteral("GROUPS"), QString()).split(QLatin1Char(','), Qt::SkipEmptyParts))
        if (!g.trimmed().isEmpty())
            c.groups << g.trimmed();
    c.attach = ini.option(QStringLiteral("ATTACH"), QStringLiteral("0"));
    c.program = text("SVXLINK", c.program);
    c.svxlinkConfig = text("SVXLINK_CONFIG", c.svxlinkConfig);
    c.svxlinkOptions = ini.text(QStringLiteral("SVXLINK_OPTIONS"), QString()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    c.share = text("SVXLINK_SHARE", c.share);
    c.logFile = ini.text(QStringLiteral("SVXLINK_LOG"), QString());
    c.statePty = text("STATE_PTY", c.folder + QStringLiteral("/state"));
    c.dtmfCtrlPty = text("DTMF_CTRL_PTY", c.folder + QStringLiteral("/dtmf"));
    c.commandPty = text("COMMAND_PTY", c.folder + QStringLiteral("/echolink"));
    c.svxlinkPttPty = text("SVXLINK_PTT_PTY", c.folder + QStringLiteral("/svxlink-ptt"));
    c.ptt = ini.text(QStringLiteral("PTT"), QString());
    c.serialPort = ini.text(QStringLiteral("SERIAL_PORT"), QString());
    c.callsign = text("CALLSIGN", c.callsign).toUpper();
    c.dtmfTimeoutMs = std::max(200, ini.integer(QStringLiteral("DTMF_TIMEOUT"), QStringLiteral("3000")));
    c.connectMacro = text("CONNECT_MACRO", c.connectMacro);
    const QString timeout = ini.text(QStringLiteral("TXTIMEOUT"), QString()).trimmed();
    if (!timeout.isEmpty()) {
        bool ok = false;
        const qlonglong n = timeout.toLongLong(&ok);
        const int bounded = ok ? int(std::clamp<qlonglong>(n, 5, 900)) : c.transmitTimeoutSeconds;
        if (!ok || bounded != n)
            OnAirLog::note(QStringLiteral("svxlink: svxlink.ini TXTIMEOUT: \"%1\" is not 5 to 900 seconds; using %2")
                               .arg(timeout.left(40))
                               .arg(bounded));
        c.transmitTimeoutSeconds = bounded;
    }
    return c;
}

// ---- a PTY SvxLink made, which the bridge reads -------------------------------------

struct SvxLinkNode::Pty {
    QString path;
    int fd = -1;
    QSocketNotifier *notifier = nullptr;

    ~Pty() { close(); }
    bool open()
    {
        if (fd >= 0)
            return true;
        // SvxLink makes the link when it starts; until then there is nothing.
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return false;
        makeRaw(fd);
        return true;
    }
    void close()
    {
        delete notifier;
        notifier = nullptr;
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
};

// ---- life ------------------------------------------------------------------------

SvxLinkNode::SvxLinkNode(SvxLinkConfig config, QObject *parent)
    : NodeBackend(parent), m_config(std::move(config)), m_dtmf(m_config.dtmfTimeoutMs)
{
    m_clock.start();
    m_state = std::make_unique<Pty>();
    m_state->path = m_config.statePty;
    m_svxPtt = std::make_unique<Pty>();
    m_svxPtt->path = m_config.svxlinkPttPty;
    NodeState s;
    s.localStation = m_config.callsign;
    // SvxLink's EchoLink module offers no way to send a chat text or to mark
    // the node busy: Mirelva is told so, and shows nothing of them as done.
    s.carries.removeAll(nameOf(NodeOp::SendChatText));
    s.carries.removeAll(nameOf(NodeOp::SetBusy));
    setState(s);

    m_ptyPoll.setInterval(100);
    connect(&m_ptyPoll, &QTimer::timeout, this, &SvxLinkNode::openPtys);
    m_dtmfTimer.setSingleShot(true);
    connect(&m_dtmfTimer, &QTimer::timeout, this, &SvxLinkNode::dtmfTick);
    m_connectedTimer.setSingleShot(true);
    m_connectedTimer.setInterval(kNameWaitMs);
    connect(&m_connectedTimer, &QTimer::timeout, this, &SvxLinkNode::flushPendingConnects);
    m_connectTimer.setSingleShot(true);
    m_connectTimer.setInterval(kConnectTimeoutMs);
    connect(&m_connectTimer, &QTimer::timeout, this, [this] {
        OnAirLog::note(QStringLiteral("svxlink: connect %1: no answer from SvxLink's directory search; given up")
                           .arg(m_connectWanted));
        m_connectWanted.clear();
    });
    m_logPoll.setInterval(200);
    connect(&m_logPoll, &QTimer::timeout, this, &SvxLinkNode::followLog);
    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, &SvxLinkNode::tick);
    m_tick.start();
}

void SvxLinkNode::tick()
{
    const qint64 limitMs = qint64(m_config.transmitTimeoutSeconds) * 1000;
    if (m_pttTimedOut || !pttRequested() || pttRequestedForMs() < limitMs)
        return;
    m_pttTimedOut = true;
    OnAirLog::note(QStringLiteral("svxlink: transmit time-out after %1 s: the client's key-up is released; it counts "
                                  "again after the client's next release")
                       .arg(m_config.transmitTimeoutSeconds));
    updateRealPtt();
}

SvxLinkNode::~SvxLinkNode()
{
    // Never leave the transmitter keyed behind.
    if (m_realKeyed)
        writePtt(false);
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->disconnect(this);
        m_process->terminate();
        if (!m_process->waitForFinished(5000))
            m_process->kill();
        m_process->waitForFinished(1000);
    }
    for (int fd : {m_fifo, m_pttFd, m_pttSlave})
        if (fd >= 0)
            ::close(fd);
    if (m_serialFd >= 0 && !m_serialShared)
        ::close(m_serialFd);
}

QString SvxLinkNode::describe() const
{
    return m_config.attach ? QStringLiteral("SvxLink (attached)") : QStringLiteral("SvxLink (%1)").arg(m_config.program);
}

QString SvxLinkNode::eventHandlerPath() const { return m_config.folder + QStringLiteral("/events/events.tcl"); }

bool SvxLinkNode::prepare(QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    const QString folder = m_config.folder;
    // What lies in FOLDER keys the transmitter (the hook SvxLink runs, the
    // speech it plays, the command FIFO): it is the bridge's user's alone.
    const QByteArray folderName = QFile::encodeName(folder);
    struct stat fs;
    if (::lstat(folderName.constData(), &fs) != 0) {
        if (errno != ENOENT || !QDir().mkpath(folder) || ::chmod(folderName.constData(), 0700) != 0
            || ::lstat(folderName.constData(), &fs) != 0)
            return fail(QStringLiteral("cannot make the folder %1").arg(folder));
    }
    if (!S_ISDIR(fs.st_mode) || fs.st_uid != ::geteuid() || (fs.st_mode & 07777) != 0700)
        return fail(QStringLiteral("FOLDER %1 must be a folder of this user (%2) with mode 0700, for what lies in it "
                                   "keys the transmitter; it is %3, owned by %4, mode %5")
                        .arg(folder)
                        .arg(::geteuid())
                        .arg(S_ISLNK(fs.st_mode) ? QStringLiteral("a symbolic link")
                             : S_ISDIR(fs.st_mode) ? QStringLiteral("a folder")
                                                   : QStringLiteral("not a folder"))
                        .arg(fs.st_uid)
                        .arg(QString::number(fs.st_mode & 07777, 8).rightJustified(4, QLatin1Char('0'))));
    if (!QDir().mkpath(folder + QStringLiteral("/events/events.d/local")) || !QDir().mkpath(folder + QStringLiteral("/speech")))
        return fail(QStringLiteral("cannot make the folder %1").arg(folder));
    // Speech left by an earlier run is never played again.
    QDir speechDir(folder + QStringLiteral("/speech"));
    for (const QString &old : speechDir.entryList({QStringLiteral("speech-*.wav")}, QDir::Files))
        speechDir.remove(old);

    // The event handler: SvxLink's own events.tcl reads events.d beside it,
    // so the stock scripts are linked in and the hook added.
    const QString stock = m_config.share + QStringLiteral("/events.tcl");
    if (!QFileInfo::exists(stock))
        return fail(QStringLiteral("%1 not found (is svxlink-server installed? SVXLINK_SHARE names its folder)").arg(stock));
    QFile::remove(eventHandlerPath());
    if (!QFile::copy(stock, eventHandlerPath()))
        return fail(QStringLiteral("cannot copy %1 to %2").arg(stock, eventHandlerPath()));
    const QDir stockEvents(m_config.share + QStringLiteral("/events.d"));
    for (const QString &name : stockEvents.entryList({QStringLiteral("*.tcl")}, QDir::Files)) {
        const QString link = folder + QStringLiteral("/events/events.d/") + name;
        QFile::remove(link);
        QFile::link(stockEvents.filePath(name), link);
    }
    for (const char *sub : {"modules.d", "sounds"}) {
        const QString target = m_config.share + u'/' + QLatin1String(sub);
        const QString link = folder + QStringLiteral("/events/") + QLatin1String(sub);
        QFile::remove(link);
        if (QFileInfo::exists(target))
            QFile::link(target, link);
    }
    {
        QSaveFile hook(folder + QStringLiteral("/events/events.d/local/mirelva.tcl"));
        const QByteArray text(kMirelvaHook);
        if (!hook.open(QIODevice::WriteOnly) || hook.write(text) != text.size() || !hook.commit())
            return fail(QStringLiteral("cannot write the hook: %1").arg(hook.errorString()));
    }

    // The command FIFO, held open both ways so neither side ever blocks on it.
    const QByteArray fifo = QFile::encodeName(folder + QStringLiteral("/commands"));
    struct stat st;
    if (::lstat(fifo.constData(), &st) == 0 && !S_ISFIFO(st.st_mode))
        return fail(QStringLiteral("%1/commands exists and is not a FIFO").arg(folder));
    if (::lstat(fifo.constData(), &st) != 0 && ::mkfifo(fifo.constData(), 0660) != 0)
        return fail(QStringLiteral("cannot make the FIFO %1/commands: %2").arg(folder, errnoText()));
    m_fifo = ::open(fifo.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (m_fifo < 0)
        return fail(QStringLiteral("cannot open %1/commands: %2").arg(folder, errnoText()));
    // Whatever an earlier run left unread is not for this one.
    char junk[4096];
    while (::read(m_fifo, junk, sizeof junk) > 0) {
    }

    // The transmitter.
    const QString ptt = m_config.ptt.trimmed();
    if (ptt.startsWith(QLatin1String("pty:"))) {
        const QString link = ptt.mid(4);
        int master = -1, slave = -1;
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            return fail(QStringLiteral("cannot make a PTY for the transmitter: %1").arg(errnoText()));
        makeRaw(slave);
        ::fcntl(master, F_SETFD, FD_CLOEXEC);
        ::fcntl(slave, F_SETFD, FD_CLOEXEC);
        ::fcntl(master, F_SETFL, O_NONBLOCK);
        const QByteArray name = ::ttyname(slave);
        QFile::remove(link);
        if (!QFile::link(QString::fromLocal8Bit(name), link))
            return fail(QStringLiteral("cannot make the link %1").arg(link));
        m_pttFd = master;
        m_pttSlave = slave;
        m_pttIsPty = true;
    } else if (ptt.startsWith(QLatin1String("serial:"))) {
        const int colon = ptt.lastIndexOf(QLatin1Char(':'));
        const QString path = ptt.mid(7, colon - 7);
        const QString pins = ptt.mid(colon + 1).toUpper();
        if (colon <= 7 || !(pins == QLatin1String("RTS") || pins == QLatin1String("DTR") || pins == QLatin1String("RTSDTR")))
            return fail(QStringLiteral("PTT \"%1\": want serial:PATH:RTS, :DTR or :RTSDTR").arg(ptt));
        m_pttFd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_pttFd < 0)
            return fail(QStringLiteral("cannot open %1: %2").arg(path, errnoText()));
        m_pttBits = (pins.contains(QLatin1String("RTS")) ? TIOCM_RTS : 0) | (pins.contains(QLatin1String("DTR")) ? TIOCM_DTR : 0);
        if (path == m_config.serialPort) {
            m_serialFd = m_pttFd;
            m_serialShared = true;
        }
    } else if (!ptt.isEmpty()) {
        return fail(QStringLiteral("PTT \"%1\": want pty:PATH or serial:PATH:RTS|DTR|RTSDTR").arg(ptt));
    }
    writePtt(false);

    if (!m_config.serialPort.isEmpty() && m_serialFd < 0) {
        m_serialFd = ::open(QFile::encodeName(m_config.serialPort).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_serialFd < 0)
            return fail(QStringLiteral("cannot open the serial port %1: %2").arg(m_config.serialPort, errnoText()));
    }
    return true;
}

bool SvxLinkNode::start(QString *error)
{
    m_started = true;
    // Links left by an earlier SvxLink would point at PTYs that are gone.
    if (!m_config.attach) {
        QFile::remove(m_config.statePty);
        QFile::remove(m_config.svxlinkPttPty);
    }
    m_ptyPoll.start();
    if (!m_config.logFile.isEmpty()) {
        m_log = new QFile(m_config.logFile, this);
        if (m_log->open(QIODevice::ReadOnly))
            m_log->seek(m_log->size());
        m_logPoll.start();
    }
    if (m_config.attach) {
        openPtys();
        return true;
    }
    m_process = new QProcess(this);
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    connect(m_process, &QProcess::readyRead, this, &SvxLinkNode::readOutput);
    connect(m_process, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        readOutput();
        svxlinkGone(code, status == QProcess::CrashExit ? QStringLiteral("SvxLink stopped (signal)")
                                                        : QStringLiteral("SvxLink ended with exit code %1").arg(code));
    });
    // SvxLink holds the node's ports and the radio's lines. A bridge that dies
    // without its closing steps (killed, crashed) takes it along: an orphan
    // would keep them, and the next bridge could bind neither.
    const pid_t bridge = ::getpid();
    m_process->setChildProcessModifier([bridge] {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != bridge) // the bridge was gone before the line above
            ::_exit(127);
    });
    QStringList args{QStringLiteral("--config=") + m_config.svxlinkConfig};
    args += m_config.svxlinkOptions;
    m_process->start(m_config.program, args);
    if (!m_process->waitForStarted(10000)) {
        if (error)
            *error = QStringLiteral("cannot start %1: %2").arg(m_config.program, m_process->errorString());
        return false;
    }
    OnAirLog::note(QStringLiteral("svxlink: started %1 %2 (process %3)")
                       .arg(m_config.program, args.join(QLatin1Char(' ')))
                       .arg(m_process->processId()));
    return true;
}

void SvxLinkNode::stop()
{
    if (m_process && m_process->state() != QProcess::NotRunning)
        m_process->terminate();
}

// ---- SvxLink's side -----------------------------------------------------------------

void SvxLinkNode::openPtys()
{
    if (m_gone)
        return;
    auto watch = [this](Pty &p, void (SvxLinkNode::*reader)()) {
        if (p.fd >= 0 || !p.open())
            return;
        p.notifier = new QSocketNotifier(p.fd, QSocketNotifier::Read, this);
        connect(p.notifier, &QSocketNotifier::activated, this, reader);
        OnAirLog::note(QStringLiteral("svxlink: reading %1").arg(p.path));
    };
    watch(*m_state, &SvxLinkNode::readState);
    watch(*m_svxPtt, &SvxLinkNode::readPtt);
}

void SvxLinkNode::readState()
{
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_state->fd, buf, sizeof buf);
        if (n > 0) {
            m_stateBuffer.append(buf, int(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            break;
        // The other end is gone: SvxLink has ended.
        m_state->close();
        if (m_config.attach)
            svxlinkGone(0, QStringLiteral("SvxLink closed %1").arg(m_config.statePty));
        break;
    }
    qsizetype nl;
    while ((nl = m_stateBuffer.indexOf('\n')) >= 0) {
        const QByteArray line = m_stateBuffer.left(nl);
        m_stateBuffer.remove(0, nl + 1);
        hookLine(line);
    }
    if (m_stateBuffer.size() > 65536)
        m_stateBuffer.clear();
}

void SvxLinkNode::readPtt()
{
    char buf[256];
    QByteArray got;
    for (;;) {
        const ssize_t n = ::read(m_svxPtt->fd, buf, sizeof buf);
        if (n > 0) {
            got.append(buf, int(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            break;
        m_svxPtt->close();
        // Its transmitter cannot be on once it is gone.
        got.append('R');
        break;
    }
    if (const std::optional<bool> on = pttFromBytes(got))
        svxlinkTransmits(*on);
}

void SvxLinkNode::readOutput()
{
    m_outputBuffer.append(m_process->readAll());
    qsizetype nl;
    while ((nl = m_outputBuffer.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(m_outputBuffer.left(nl)).trimmed();
        m_outputBuffer.remove(0, nl + 1);
        if (line.isEmpty())
            continue;
        OnAirLog::note(QStringLiteral("svxlink: ") + line);
        outputLine(line);
    }
    if (m_outputBuffer.size() > 65536)
        m_outputBuffer.clear();
}

void SvxLinkNode::followLog()
{
    if (!m_log)
        return;
    if (!m_log->isOpen() && !m_log->open(QIODevice::ReadOnly))
        return;
    if (m_log->size() < m_log->pos())   // rotated
        m_log->seek(0);
    while (m_log->canReadLine()) {
        const QString line = QString::fromUtf8(m_log->readLine()).trimmed();
        // The log file puts a time stamp first ("Mon Dec  7 11:02:03 2026: ...").
        const qsizetype at = line.indexOf(QLatin1String("Incoming EchoLink connection from"));
        if (at >= 0)
            outputLine(line.mid(at));
    }
}

void SvxLinkNode::outputLine(const QString &line)
{
    const std::optional<StationSeen> seen = parseOutputLine(line);
    if (!seen)
        return;
    // Forget the stale, then the oldest, so a flood of incoming connections
    // that SvxLink refuses costs nothing lasting.
    const QDateTime now = Clock::now();
    for (auto it = m_seenAt.begin(); it != m_seenAt.end();) {
        if (it->second.secsTo(now) >= kStationMemorySeconds || it->second > now) {
            m_seen.erase(it->first);
            it = m_seenAt.erase(it);
        } else {
            ++it;
        }
    }
    if (!m_seen.count(seen->call) && int(m_seen.size()) >= kMaxStationsRemembered) {
        const auto oldest = std::min_element(m_seenAt.begin(), m_seenAt.end(),
                                             [](const auto &a, const auto &b) { return a.second < b.second; });
        m_seen.erase(oldest->first);
        m_seenAt.erase(oldest);
    }
    m_seen[seen->call] = *seen;
    m_seenAt[seen->call] = now;
    if (m_pendingConnected.contains(seen->call))
        flushPendingConnects();
}

void SvxLinkNode::hookLine(const QByteArray &line)
{
    const ParsedHookLine p = parseHookLine(line);
    if (p.status == ParsedHookLine::NotOurs)
        return;
    if (p.status == ParsedHookLine::Bad) {
        OnAirLog::note(QStringLiteral("svxlink: dropped a line from the hook: %1").arg(p.error));
        return;
    }
    const HookEvent &e = p.event;
    // Connects still waiting for a name go first, so events keep SvxLink's order.
    if (e.kind != HookEvent::Connected && e.kind != HookEvent::Clients)
        flushPendingConnects();
    switch (e.kind) {
    case HookEvent::Squelch: {
        apply([&](NodeState &s) { s.receivingSignal = e.on; });
        raise([this, on = e.on] { emit CarrierDetect(on); });
        if (!e.on)
            if (const std::optional<QString> digits = m_dtmf.squelchClosed())
                raise([this, d = *digits] { emit DTMFString(d); });
        break;
    }
    case HookEvent::Dtmf:
        m_dtmf.digit(e.text, m_clock.elapsed());
        m_dtmfTimer.start(int(std::max<qint64>(0, m_dtmf.deadline() - m_clock.elapsed())));
        break;
    case HookEvent::Connected:
        apply([&](NodeState &s) {
            if (!s.connected.contains(e.call))
                s.connected << e.call;
        });
        if (!m_pendingConnected.contains(e.call))
            m_pendingConnected << e.call;
        if (m_seen.count(e.call))
            flushPendingConnects();
        else
            m_connectedTimer.start();
        if (e.call.compare(m_connectWanted, Qt::CaseInsensitive) == 0) {
            m_connectWanted.clear();
            m_connectTimer.stop();
        }
        break;
    case HookEvent::Disconnected:
        apply([&](NodeState &s) {
            s.connected.removeAll(e.call);
            s.linkActive = !s.connected.isEmpty();
        });
        m_seen.erase(e.call);
        m_seenAt.erase(e.call);
        raise([this, call = e.call] { emit Disconnected(call); });
        break;
    case HookEvent::Clients:
        apply([&](NodeState &s) {
            // A connect still waiting for its name stays listed.
            QStringList now = e.calls;
            for (const QString &c : std::as_const(m_pendingConnected))
                if (!now.contains(c))
                    now << c;
            s.connected = now;
            s.linkActive = !now.isEmpty();
        });
        break;
    case HookEvent::Receiving:
        apply([&](NodeState &s) { s.linkBusy = e.on; });
        raise([this, on = e.on] { emit RX(on); });
        break;
    case HookEvent::Chat:
        raise([this, text = e.text] { emit ChatTextReceived(text); });
        break;
    case HookEvent::CbcList:
        pickFromList(e.calls);
        break;
    case HookEvent::ConnectFailed:
        OnAirLog::note(QStringLiteral("svxlink: connect %1 failed: %2").arg(m_connectWanted, e.text));
        m_connectWanted.clear();
        m_connectTimer.stop();
        break;
    case HookEvent::Transmit:
        // The PTT PTY says the same sooner; without one this is all there is.
        if (m_svxPtt->fd < 0)
            svxlinkTransmits(e.on);
        break;
    }
}

void SvxLinkNode::flushPendingConnects()
{
    m_connectedTimer.stop();
    const QStringList calls = m_pendingConnected;
    m_pendingConnected.clear();
    for (const QString &call : calls)
        emitConnected(call);
}

void SvxLinkNode::emitConnected(const QString &call)
{
    apply([&](NodeState &s) {
        if (!s.connected.contains(call))
            s.connected << call;
        s.linkActive = true;
    });
    const auto it = m_seen.find(call);
    const QString name = it == m_seen.end() ? QString() : it->second.name;
    const QString addr = it == m_seen.end() ? QString() : it->second.addr;
    m_seen.erase(call);
    m_seenAt.erase(call);
    raise([this, call, name, addr] { emit connected(call, name, addr); });
}

void SvxLinkNode::dtmfTick()
{
    if (const std::optional<QString> digits = m_dtmf.tick(m_clock.elapsed()))
        raise([this, d = *digits] { emit DTMFString(d); });
    else if (m_dtmf.deadline() >= 0)
        m_dtmfTimer.start(int(std::max<qint64>(0, m_dtmf.deadline() - m_clock.elapsed())));
}

void SvxLinkNode::svxlinkGone(int exitCode, const QString &why)
{
    if (m_gone)
        return;
    m_gone = true;
    m_ptyPoll.stop();
    m_logPoll.stop();
    m_dtmfTimer.stop();
    m_state->close();
    m_svxPtt->close();
    OnAirLog::note(QStringLiteral("svxlink: ") + why);
    m_svxKeyed = false;
    updateRealPtt();
    if (const std::optional<QString> digits = m_dtmf.squelchClosed())
        raise([this, d = *digits] { emit DTMFString(d); });
    // Behind the closing, whenever that is raised.
    raise([this, exitCode] {
        emit Closing();
        emit finished(exitCode);
    });
}

// ---- the transmitter ------------------------------------------------------------------

void SvxLinkNode::svxlinkTransmits(bool on)
{
    if (m_svxKeyed == on)
        return;
    m_svxKeyed = on;
    updateRealPtt();
}

void SvxLinkNode::updateRealPtt()
{
    const bool keyed = !m_gone ? (m_svxKeyed || (pttRequested() && !m_pttTimedOut)) : false;
    if (keyed == m_realKeyed)
        return;
    m_realKeyed = keyed;
    writePtt(keyed);
    OnAirLog::note(keyed ? QStringLiteral("svxlink: transmitter keyed") : QStringLiteral("svxlink: transmitter released"));
    apply([keyed](NodeState &s) { s.transmitterKeyed = keyed; });
}

void SvxLinkNode::writePtt(bool on)
{
    if (m_pttFd < 0)
        return;
    if (m_pttIsPty) {
        const char c = on ? 'T' : 'R';
        if (::write(m_pttFd, &c, 1) != 1)
            logOnce(QStringLiteral("ptt-write"), QStringLiteral("cannot write to the transmitter's PTY: %1").arg(errnoText()));
        return;
    }
    int bits = m_pttBits;
    if (::ioctl(m_pttFd, on ? TIOCMBIS : TIOCMBIC, &bits) != 0)
        logOnce(QStringLiteral("ptt-ioctl"), QStringLiteral("cannot set the transmitter's serial line: %1").arg(errnoText()));
}

void SvxLinkNode::setSerialLine(int bit, bool on, const char *name)
{
    if (m_serialFd < 0) {
        logOnce(QStringLiteral("serial-none"),
                QStringLiteral("no SERIAL_PORT in svxlink.ini: Set%1 and the like are dropped").arg(QLatin1String(name)));
        return;
    }
    // Only this line is changed: SvxLink or the transmitter may use the others.
    int bits = bit;
    if (::ioctl(m_serialFd, on ? TIOCMBIS : TIOCMBIC, &bits) != 0)
        logOnce(QStringLiteral("serial-ioctl"),
                QStringLiteral("cannot set %1 on %2: %3").arg(QLatin1String(name), m_config.serialPort, errnoText()));
}

// ---- requests -------------------------------------------------------------------------

void SvxLinkNode::logOnce(const QString &kind, const QString &text)
{
    if (m_saidOnce.contains(kind))
        return;
    m_saidOnce.insert(kind);
    OnAirLog::note(QStringLiteral("svxlink: ") + text + QStringLiteral(" (said once)"));
}

void SvxLinkNode::apply(const std::function<void(NodeState &)> &change)
{
    NodeState s = state();
    change(s);
    setState(s);
}

void SvxLinkNode::request(const NodeRequest &r)
{
    const NodeOp op = r.op;
    const auto field = [&r](const char *k) { return r.fields.value(QLatin1String(k)); };
    if (op == NodeOp::SetPTT) {
        if (!pttRequested())
            m_pttTimedOut = false;
        updateRealPtt();
    } else if (op == NodeOp::Speech) {
        if (field("play").toBool())
            playSpeech(field("text").toString(), field("rate").toInt(), field("volume").toInt());
    } else if (op == NodeOp::SendCW) {
        const QString text = cwText(field("text").toString());
        if (text.isEmpty()) {
            OnAirLog::note(QStringLiteral("svxlink: nothing in \"%1\" can be sent in Morse").arg(field("text").toString()));
            return;
        }
        if (text != field("text").toString().trimmed().toUpper())
            logOnce(QStringLiteral("cw-cut"), QStringLiteral("SvxLink's Morse sends A-Z, 0-9, \". , ? / =\" and blanks; "
                                                           "other characters are left out"));
        OnAirLog::transmission(QStringLiteral("cw"), text);
        tellHook(cwCommand(text));
    } else if (op == NodeOp::Connect) {
        connectTo(field("call").toString().trimmed().toUpper());
    } else if (op == NodeOp::Disconnect) {
        const QString call = field("call").toString().trimmed();
        const QStringList connectedNow = state().connected;
        const auto it = std::find_if(connectedNow.begin(), connectedNow.end(),
                                     [&](const QString &c) { return c.compare(call, Qt::CaseInsensitive) == 0; });
        if (it == connectedNow.end()) {
            OnAirLog::note(QStringLiteral("svxlink: Disconnect %1: no such station is connected").arg(call));
            return;
        }
        writeEchoLinkCommand("DISC " + it->toLatin1() + '\n');
    } else if (op == NodeOp::DisconnectAll) {
        for (const QString &c : state().connected)
            writeEchoLinkCommand("DISC " + c.toLatin1() + '\n');
    } else if (op == NodeOp::SetRTS) {
        setSerialLine(TIOCM_RTS, field("on").toBool(), "RTS");
    } else if (op == NodeOp::SetDTR) {
        setSerialLine(TIOCM_DTR, field("on").toBool(), "DTR");
    } else if (op == NodeOp::SendChatText) {
        logOnce(QStringLiteral("chat"), QStringLiteral("SvxLink 19.09 has no way to send a chat text; "
                                                       "SendChatText requests are dropped"));
    } else if (op == NodeOp::SetBusy) {
        logOnce(QStringLiteral("busy"), QStringLiteral("SvxLink 19.09 has no way to mark the node busy; "
                                                       "SetBusy requests are dropped"));
    }
}

void SvxLinkNode::tellHook(const QByteArray &commands, const QString &typedDigits)
{
    if (m_gone)
        return;
    if (m_fifo < 0 || ::write(m_fifo, commands.constData(), size_t(commands.size())) != commands.size()) {
        OnAirLog::note(QStringLiteral("svxlink: cannot hand the hook a command (%1): %2")
                           .arg(QString::fromLatin1(commands.trimmed().left(40)), m_fifo < 0 ? QStringLiteral("no FIFO") : errnoText()));
        return;
    }
    // The doorbell, then any digits SvxLink is to act on itself.
    const QByteArray bytes = "E" + typedDigits.toLatin1();
    const int fd = ::open(QFile::encodeName(m_config.dtmfCtrlPty).constData(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || ::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size())
        logOnce(QStringLiteral("dtmf-ctrl"), QStringLiteral("cannot write to %1 (DTMF_CTRL_PTY in svxlink.conf): %2")
                                                 .arg(m_config.dtmfCtrlPty, errnoText()));
    if (fd >= 0)
        ::close(fd);
}

void SvxLinkNode::writeEchoLinkCommand(const QByteArray &line)
{
    const int fd = ::open(QFile::encodeName(m_config.commandPty).constData(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || ::write(fd, line.constData(), size_t(line.size())) != line.size())
        OnAirLog::note(QStringLiteral("svxlink: cannot write \"%1\" to %2 (COMMAND_PTY in ModuleEchoLink.conf): %3")
                           .arg(QString::fromLatin1(line.trimmed()), m_config.commandPty, errnoText()));
    if (fd >= 0)
        ::close(fd);
}

void SvxLinkNode::playSpeech(const QString &fullText, int rate, int volume)
{
    // The client may be anyone's program: no text it sends holds the
    // transmitter longer than one of Mirelva's own announcements.
    QString text = fullText;
    if (text.size() > kMaxSpeechChars) {
        OnAirLog::note(QStringLiteral("svxlink: speech cut to %1 characters for the air (it had %2)")
                           .arg(kMaxSpeechChars)
                           .arg(text.size()));
        qsizetype n = kMaxSpeechChars;
        if (text[n - 1].isHighSurrogate())
            --n;
        text.truncate(n);
    }
    RenderedSpeech speech = renderSpeech(text, rate, volume);
    const size_t maxSamples = size_t(speech.rate) * size_t(m_config.transmitTimeoutSeconds);
    if (speech.rate > 0 && speech.samples.size() > maxSamples)
        speech.samples.resize(maxSamples);
    if (speech.rate <= 0 || speech.samples.empty()) {
        logOnce(QStringLiteral("engine"), QStringLiteral("the espeak-ng engine gave no audio; speech is not played"));
        return;
    }
    const int serial = ++m_speechSerial;
    const QString dir = m_config.folder + QStringLiteral("/speech/");
    QSaveFile file(dir + speechFileName(serial));
    const QByteArray wav = speechWav(speech, kSvxLinkWavRate);
    if (!file.open(QIODevice::WriteOnly) || file.write(wav) != wav.size() || !file.commit()) {
        OnAirLog::note(QStringLiteral("svxlink: cannot write %1: %2").arg(file.fileName(), file.errorString()));
        return;
    }
    // SvxLink may run as a user of its own.
    QFile::setPermissions(dir + speechFileName(serial),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    if (serial > kSpeechFilesKept)
        QFile::remove(dir + speechFileName(serial - kSpeechFilesKept));
    tellHook(playCommand(serial));
}

void SvxLinkNode::connectTo(const QString &call)
{
    const QString macro = QStringLiteral("D") + m_config.connectMacro + QLatin1Char('#');
    if (isNodeNumber(call)) {
        const QString digits = macro + call + QLatin1Char('#');
        tellHook(passCommand(digits), digits);
        return;
    }
    if (!isEchoLinkCall(call)) {
        OnAirLog::note(QStringLiteral("svxlink: Connect \"%1\": not a callsign or node number").arg(call));
        return;
    }
    // Connect by callsign: SvxLink searches the directory for the keypad
    // digits and offers a list; the bridge then picks the station from it.
    m_connectWanted = call;
    m_connectTimer.start();
    const QString digits = macro + QStringLiteral("6*") + keypadDigits(call) + QLatin1Char('#');
    tellHook(passCommand(digits), digits);
}

void SvxLinkNode::pickFromList(const QStringList &calls)
{
    if (m_connectWanted.isEmpty())
        return;
    const qsizetype at = calls.indexOf(m_connectWanted);
    QString digits;
    if (at < 0) {
        OnAirLog::note(QStringLiteral("svxlink: connect %1: not among the directory's matches (%2)")
                           .arg(m_connectWanted, calls.join(QLatin1Char(' '))));
        m_connectWanted.clear();
        m_connectTimer.stop();
        digits = QStringLiteral("#");   // leaves SvxLink's list
    } else {
        digits = QString::number(at + 1) + QLatin1Char('#');
    }
    tellHook(passCommand(digits), digits);
}

} // namespace mirelva
