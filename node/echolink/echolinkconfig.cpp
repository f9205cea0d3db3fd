#include "node/echolink/echolinkconfig.h"

#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>

#include <sys/stat.h>

#include "core/settingsstore.h"
#include "node/echolink/protocol/packets.h"
#include "node/link/nodeprotocol.h"
#include "node/radio/lines.h"

namespace mirelva {

namespace {

const QRegularExpression &nodeCallPattern()
{
    static const QRegularExpression re(QStringLiteral("^[A-Z0-9]{1,3}[0-9][A-Z0-9]{0,4}-[LR]$"));
    return re;
}

bool isPattern(const QString &p)
{
    static const QRegularExpression re(QStringLiteral("^[A-Za-z0-9*?/_.-]{1,20}$"));
    return re.match(p).hasMatch();
}

bool isHostName(const QString &h)
{
    static const QRegularExpression re(QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9.-]{0,252})$"));
    return re.match(h).hasMatch();
}

// "alsa:DEVICE" or "udp:HOST:PORT", as libasyncaudio names its devices.
bool isAudioDevice(const QString &d)
{
    if (d.startsWith(QLatin1String("alsa:")))
        return d.size() > 5 && !d.contains(QLatin1Char(' '));
    static const QRegularExpression udp(QStringLiteral("^udp:([0-9.]+):([0-9]{1,5})$"));
    const QRegularExpressionMatch m = udp.match(d);
    if (!m.hasMatch())
        return false;
    const int port = m.captured(2).toInt();
    return QHostAddress(m.captured(1)).protocol() == QHostAddress::IPv4Protocol && port > 0 && port < 65536;
}

} // namespace

bool isStationName(const QString &call)
{
    // All digits: a node number, never a callsign.
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    if (digits.match(call).hasMatch())
        return call.size() <= 7;
    return !call.isEmpty() && echolink::canonicalCallsign(call) == call;
}

bool callMatches(const QString &pattern, const QString &call)
{
    const QString p = pattern.toUpper();
    const QString c = call.toUpper();
    // Iterative glob: remember the last star and where it matched up to.
    qsizetype pi = 0, ci = 0, star = -1, mark = 0;
    while (ci < c.size()) {
        // A star is always a wildcard, also where the callsign has one (a
        // conference's *NAME*): taken for a literal, "*" would match no
        // conference and "*CONF*" would let every one in.
        if (pi < p.size() && p[pi] == QLatin1Char('*')) {
            star = pi++;
            mark = ci;
        } else if (pi < p.size() && (p[pi] == QLatin1Char('?') || p[pi] == c[ci])) {
            ++pi;
            ++ci;
        } else if (star >= 0) {
            pi = star + 1;
            ci = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == QLatin1Char('*'))
        ++pi;
    return pi == p.size();
}

QString incomingRefusal(const EchoLinkConfig &config, const QString &raw, int connectedNow)
{
    const QString call = echolink::canonicalCallsign(raw);
    if (call.isEmpty())
        return QStringLiteral("\"%1\" is not a callsign").arg(raw.left(20));
    for (const QString &d : config.deny)
        if (callMatches(d, call))
            return QStringLiteral("%1 matches DENY pattern %2").arg(call, d);
    const bool accepted = std::any_of(config.accept.begin(), config.accept.end(),
                                      [&call](const QString &a) { return callMatches(a, call); });
    if (!accepted)
        return QStringLiteral("%1 matches no ACCEPT pattern").arg(call);
    if (connectedNow >= config.maxQsos)
        return QStringLiteral("%1 station%2 already connected, the most MAXQSOS allows")
            .arg(connectedNow)
            .arg(connectedNow == 1 ? QStringLiteral(" is") : QStringLiteral("s are"));
    return QString();
}

QString connectFailureText(ConnectFailure why, const QString &call, const QString &detail)
{
    const QString head = QStringLiteral("Connect %1 failed: ").arg(call);
    switch (why) {
    case ConnectFailure::NotACallsign:
        return QStringLiteral("Connect \"%1\" failed: not a callsign, conference or node number").arg(call);
    case ConnectFailure::OwnCallsign:
        return head + QStringLiteral("that is this node's own callsign");
    case ConnectFailure::AlreadyConnected:
        return head + QStringLiteral("already connected");
    case ConnectFailure::TooMany:
        return head + QStringLiteral("%1 stations are connected, the most MAXQSOS allows").arg(detail);
    case ConnectFailure::NotInDirectory:
        return head + QStringLiteral("not in the EchoLink directory (not logged in now)");
    case ConnectFailure::StationBusy:
        return head + QStringLiteral("the station is busy");
    case ConnectFailure::DirectoryUnreachable:
        return head + QStringLiteral("the EchoLink directory cannot be reached") +
               (detail.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(detail));
    case ConnectFailure::NoAnswer:
        return head + QStringLiteral("no answer from the station") +
               (detail.isEmpty() ? QString() : QStringLiteral(" at %1").arg(detail));
    case ConnectFailure::Refused:
        return head + QStringLiteral("the station refused the connection");
    case ConnectFailure::LocalError:
        return head + detail;
    }
    return head;
}

QString withoutSecrets(QString text, const QStringList &secrets)
{
    for (const QString &s : secrets)
        if (!s.isEmpty())
            text.replace(s, QStringLiteral("********"));
    return text;
}

EchoLinkConfig EchoLinkConfig::load()
{
    const IniFile ini(QStringLiteral("echolink.ini"), kCapacity);
    EchoLinkConfig c = fromValues([&ini](const QString &key) { return ini.text(key, QString()); });
    // Anyone on the machine who can read the password can log in as the
    // station. Group-readable (0640, the node's group) is a choice; open to
    // all is not.
    const QString path = SettingsStore::pathOf(QStringLiteral("echolink.ini"));
    struct stat st;
    if ((!c.password.isEmpty() || !c.proxyPassword.isEmpty()) && ::stat(QFile::encodeName(path).constData(), &st) == 0
        && (st.st_mode & S_IROTH))
        c.problems << QStringLiteral("echolink.ini: %1 holds the %2 and every user of this machine may read it "
                                     "(mode %3); make it readable by the node's user only: chmod 0600 %1")
                          .arg(path, c.password.isEmpty() ? QStringLiteral("PROXY password") : QStringLiteral("PASSWORD"))
                          .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return c;
}

EchoLinkConfig EchoLinkConfig::fromValues(const std::function<QString(const QString &)> &value)
{
    EchoLinkConfig c;
    auto bad = [&c](const char *key, const QString &why) {
        c.problems << QStringLiteral("echolink.ini %1: %2").arg(QLatin1String(key), why);
    };
    auto get = [&value](const char *key) { return value(QLatin1String(key)).trimmed(); };
    // Whole numbers in a range; anything else gives the default, said once.
    auto number = [&](const char *key, int &field, int lo, int hi, const char *unit) {
        const QString v = get(key);
        if (v.isEmpty())
            return;
        bool ok = false;
        const qlonglong n = v.toLongLong(&ok);
        if (!ok || n < lo || n > hi)
            bad(key, QStringLiteral("\"%1\" is not %2 to %3 %4; using %5")
                         .arg(v.left(40)).arg(lo).arg(hi).arg(QLatin1String(unit)).arg(field));
        else
            field = int(n);
    };

    c.callsign = get("CALLSIGN").toUpper();
    if (c.callsign.isEmpty())
        c.refusal = QStringLiteral("echolink.ini CALLSIGN is missing: the node's callsign, with -L (link) or -R (repeater), "
                                   "is needed to log in to the EchoLink directory");
    else if (!nodeCallPattern().match(c.callsign).hasMatch())
        c.refusal = QStringLiteral("echolink.ini CALLSIGN: \"%1\" is not a node's callsign; it needs -L (link) or -R (repeater) "
                                   "after the callsign, e.g. W1AW-L").arg(c.callsign.left(20));

    c.password = value(QStringLiteral("PASSWORD"));
    if (c.password.isEmpty())
        bad("PASSWORD", QStringLiteral("missing; the directory will refuse the login"));

    c.location = get("LOCATION");
    if (c.location.size() > kLocationLength) {
        c.location.truncate(kLocationLength);
        bad("LOCATION", QStringLiteral("longer than %1 characters; cut to \"%2\"").arg(kLocationLength).arg(c.location));
    }

    const QString servers = get("SERVERS");
    if (!servers.isEmpty()) {
        QStringList good;
        for (const QString &s : servers.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const QString h = s.trimmed();
            if (isHostName(h))
                good << h;
            else
                bad("SERVERS", QStringLiteral("\"%1\" is not a host name; left out").arg(h.left(60)));
        }
        if (good.isEmpty())
            bad("SERVERS", QStringLiteral("no server left; using %1").arg(c.servers.join(QLatin1Char(','))));
        else
            c.servers = good;
    }

    number("MAXQSOS", c.maxQsos, 1, 100, "stations");

    auto patterns = [&](const char *key, QStringList &field) {
        const QString v = get(key);
        if (v.isEmpty())
            return;
        QStringList good;
        for (const QString &s : v.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const QString p = s.trimmed().toUpper();
            if (isPattern(p))
                good << p;
            else
                bad(key, QStringLiteral("\"%1\" is not a callsign pattern (letters, digits, - / * ?); left out").arg(p.left(40)));
        }
        if (!good.isEmpty())
            field = good;
    };
    patterns("ACCEPT", c.accept);
    patterns("DENY", c.deny);

    const QString allow = get("ALLOWIP");
    for (const QString &s : allow.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString r = s.trimmed();
        QPair<QHostAddress, int> range = QHostAddress::parseSubnet(r);
        if (range.first.isNull() && !r.contains(QLatin1Char('/')))
            range = {QHostAddress(r), 32};
        if (range.first.protocol() == QHostAddress::IPv4Protocol && range.second >= 0)
            c.allowIp << range;
        else
            bad("ALLOWIP", QStringLiteral("\"%1\" is not an IPv4 address range such as 192.168.1.0/24; left out").arg(r.left(40)));
    }

    c.bindAddr = get("BINDADDR");
    if (!c.bindAddr.isEmpty() && QHostAddress(c.bindAddr).protocol() != QHostAddress::IPv4Protocol) {
        bad("BINDADDR", QStringLiteral("\"%1\" is not an IPv4 address; using any").arg(c.bindAddr.left(60)));
        c.bindAddr.clear();
    }
    number("PORTBASE", c.portBase, 1024, 65534, "(a UDP port)");

    const QString proxy = value(QStringLiteral("PROXY")).trimmed();
    if (!proxy.isEmpty()) {
        // HOST:PORT:PASSWORD; the password may itself hold colons.
        const QStringList parts = proxy.split(QLatin1Char(':'));
        bool portOk = false;
        const int port = parts.size() >= 3 ? parts[1].toInt(&portOk) : 0;
        if (parts.size() < 3 || !isHostName(parts[0]) || !portOk || port <= 0 || port > 65535 || parts.mid(2).join(QLatin1Char(':')).isEmpty()) {
            // The value holds a password: it is never repeated.
            bad("PROXY", QStringLiteral("not HOST:PORT:PASSWORD; no proxy is used"));
        } else {
            c.proxyHost = parts[0];
            c.proxyPort = port;
            c.proxyPassword = parts.mid(2).join(QLatin1Char(':'));
        }
    }

    const QString listen = get("LISTEN");
    if (!listen.isEmpty()) {
        QString why;
        if (nodelink::NodeAddress::parse(listen, &why))
            c.listen = listen;
        else
            bad("LISTEN", QStringLiteral("%1; using %2").arg(why, c.listen));
    }

    auto audio = [&](const char *key, QString &field) {
        const QString v = get(key);
        if (v.isEmpty())
            return;
        if (isAudioDevice(v))
            field = v;
        else
            bad(key, QStringLiteral("\"%1\" is neither alsa:DEVICE nor udp:ADDRESS:PORT; using %2").arg(v.left(60), field));
    };
    audio("RXAUDIO", c.rxAudio);
    audio("TXAUDIO", c.txAudio);

    // Lines as node/radio reads them; the device itself is looked at when
    // the node opens it.
    auto lineOk = [](const QString &v, bool output, QString *why) {
        const std::optional<radio::LineSpec> lineSpec = radio::LineSpec::parse(v, why);
        if (lineSpec && output && !lineSpec->canDrive()) {
            *why = QStringLiteral("\"%1\" is an input; it cannot be driven").arg(v);
            return false;
        }
        return bool(lineSpec);
    };
    const QString sql = get("SQL");
    if (!sql.isEmpty()) {
        QString why;
        if (sql.compare(QLatin1String("vox"), Qt::CaseInsensitive) == 0 || sql.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0)
            c.sql = sql.toLower();
        else if (lineOk(sql, false, &why))
            c.sql = sql;
        else
            bad("SQL", QStringLiteral("%1; using vox").arg(why.left(120)));
    }
    auto line = [&](const char *key, QString &field) {
        const QString v = get(key);
        if (v.isEmpty() || v.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0)
            return;
        QString why;
        if (lineOk(v, true, &why))
            field = v;
        else
            bad(key, QStringLiteral("%1; none is used").arg(why.left(120)));
    };
    line("PTT", c.ptt);
    line("RTS", c.rts);
    line("DTR", c.dtr);

    const QString vox = get("VOXTHRESHOLD");
    if (!vox.isEmpty()) {
        bool ok = false;
        const double d = vox.toDouble(&ok);
        if (!ok || d < -90 || d > 0)
            bad("VOXTHRESHOLD", QStringLiteral("\"%1\" is not -90 to 0 dBFS; using %2").arg(vox.left(40)).arg(c.voxThresholdDbfs));
        else
            c.voxThresholdDbfs = d;
    }
    number("VOXATTACK", c.voxAttackMs, 0, 5000, "ms");
    number("VOXHANG", c.voxHangMs, 0, 10000, "ms");
    number("DTMFPAUSE", c.dtmfPauseMs, 100, 60000, "ms");
    number("CWPITCH", c.cwPitchHz, 200, 3000, "Hz");
    number("CWWPM", c.cwWpm, 5, 60, "words per minute");
    number("TXHANG", c.txHangMs, 0, 10000, "ms");
    number("PREKEY", c.preKeyMs, 0, 5000, "ms");
    number("TXTIMEOUT", c.txTimeoutSeconds, 5, 900, "seconds");
    // A value repeated in a problem may hold the password (put in the wrong
    // key, or typed into another by mistake).
    for (QString &p : c.problems)
        p = withoutSecrets(p, {c.password, c.proxyPassword});
    return c;
}

} // namespace mirelva
