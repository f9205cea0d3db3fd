#include "node/echolink/protocol/directory.h"

#include <algorithm>
#include <cstring>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <QHostInfo>
#include <QRegularExpression>

#include "node/echolink/protocol/packets.h"

namespace mirelva::echolink {

namespace {

void releaseMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

void refuse(const char **why, const char *text)
{
    if (why)
        *why = text;
}

// Reads a reply line by line, each bounded by the reply's own length.
class Lines {
public:
    Lines(const char *data, qsizetype size) : m_data(data), m_size(size) {}
    bool atEnd() const { return m_at >= m_size; }
    QByteArrayView next()
    {
        const char *from = m_data + m_at;
        const qsizetype left = m_size - m_at;
        const void *nl = std::memchr(from, '\n', size_t(left));
        qsizetype len = nl ? static_cast<const char *>(nl) - from : left;
        m_at += nl ? len + 1 : len;
        if (len > 0 && from[len - 1] == '\r')
            --len;
        return QByteArrayView(from, len);
    }

private:
    const char *m_data;
    qsizetype m_size;
    qsizetype m_at = 0;
};

std::optional<int> smallNumber(QByteArrayView v, int digits)
{
    if (v.isEmpty() || v.size() > digits)
        return std::nullopt;
    int n = 0;
    for (char c : v) {
        if (c < '0' || c > '9')
            return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n;
}

QHostAddress dottedIpv4(QByteArrayView v)
{
    static const QRegularExpression re(QStringLiteral("^[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}$"));
    const QString s = QString::fromLatin1(v);
    if (!re.match(s).hasMatch())
        return QHostAddress();
    QHostAddress a(s);
    return a.protocol() == QHostAddress::IPv4Protocol ? a : QHostAddress();
}

void readDescription(QByteArrayView line, StationEntry &e)
{
    // Shown in the roster stations get and in the log: one clean line.
    const QString text = cleanName(decodeText(line.data(), line.size()));
    const qsizetype bracket = text.lastIndexOf(QLatin1Char('['));
    if (bracket < 0) {
        e.description = text.trimmed();
        return;
    }
    QString description = text.left(bracket);
    while (description.endsWith(QLatin1Char(' ')))
        description.chop(1);
    e.description = description;
    const QString rest = text.mid(bracket + 1);
    if (rest.contains(QLatin1String("ON")))
        e.status = StationEntry::On;
    else if (rest.contains(QLatin1String("BUSY")))
        e.status = StationEntry::Busy;
    const qsizetype space = rest.indexOf(QLatin1Char(' '));
    if (space >= 0)
        e.time = rest.mid(space + 1, 5);
}

} // namespace

std::optional<StationList> parseStationList(const char *data, qsizetype size, const char **why)
{
    if (size > kMaxDirectoryReply) {
        refuse(why, "station list too long");
        return std::nullopt;
    }
    Lines lines(data, size);
    if (lines.next() != QByteArrayView("@@@")) {
        refuse(why, "station list without its @@@ header");
        return std::nullopt;
    }
    const std::optional<int> count = smallNumber(lines.next(), 6);
    if (!count || *count > kMaxListEntries) {
        refuse(why, "station list without a count");
        return std::nullopt;
    }
    StationList list;
    int counted = 0;
    while (true) {
        if (lines.atEnd()) {
            refuse(why, "station list ended before +++");
            return std::nullopt;
        }
        const QByteArrayView call = lines.next();
        if (call.startsWith("+++"))
            return list;
        if (counted >= *count)
            continue;   // more than announced: only "+++" is looked for
        QByteArrayView entry[3];
        for (QByteArrayView &l : entry) {
            if (lines.atEnd()) {
                refuse(why, "station list ended inside an entry");
                return std::nullopt;
            }
            l = lines.next();
        }
        // A "." entry is no station and not counted.
        if (call == QByteArrayView("."))
            continue;
        ++counted;
        const bool tooLong = call.size() > kMaxListLine || entry[0].size() > kMaxListLine ||
                             entry[1].size() > kMaxListLine || entry[2].size() > kMaxListLine;
        if (tooLong) {
            ++list.skipped;
            continue;
        }
        if (call == QByteArrayView(" ")) {
            if (!list.message.isEmpty())
                list.message += QLatin1Char('\n');
            list.message += decodeText(entry[0].data(), entry[0].size()).trimmed();
            continue;
        }
        StationEntry e;
        e.callsign = QString::fromLatin1(call).trimmed();
        readDescription(entry[0], e);
        const std::optional<int> node = smallNumber(entry[1], 7);
        e.address = dottedIpv4(entry[2]);
        if (e.callsign.isEmpty() || !node || e.address.isNull()) {
            ++list.skipped;
            continue;
        }
        e.node = *node;
        list.stations.push_back(e);
    }
}

QString statusName(DirectoryStatus s)
{
    switch (s) {
    case DirectoryStatus::Offline:
        return QStringLiteral("OFF");
    case DirectoryStatus::Online:
        return QStringLiteral("ON");
    case DirectoryStatus::Busy:
        return QStringLiteral("BUSY");
    case DirectoryStatus::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

QByteArray buildLogin(const QString &callsign, const QString &password, DirectoryStatus status,
                      const QString &description, const QTime &localTime)
{
    const QByteArray hhmm = localTime.toString(QStringLiteral("HH:mm")).toLatin1();
    QByteArray version;
    switch (status) {
    case DirectoryStatus::Busy:
        version = "BUSY3.40(" + hhmm + ')';
        break;
    case DirectoryStatus::Offline:
        version = "OFF-V3.40";
        break;
    default:
        version = "ONLINE3.38(" + hhmm + ')';
        break;
    }
    return 'l' + callsign.toUpper().toUtf8() + "\xAC\xAC" + password.toUtf8() + '\r' + version + '\r' +
           description.left(kDescriptionLength).toUtf8() + '\r';
}

// ---- the client --------------------------------------------------------------------------

Directory::Directory(Settings settings, TcpLink *link, QObject *parent)
    : QObject(parent), m_settings(std::move(settings)), m_link(nullptr)
{
    m_commandTimer.setSingleShot(true);
    m_commandTimer.setInterval(kCommandMs);
    connect(&m_commandTimer, &QTimer::timeout, this, [this] { attemptFailed(QStringLiteral("no answer")); });
    m_relogin.setInterval(kReloginMs);
    connect(&m_relogin, &QTimer::timeout, this, &Directory::refreshRegistration);
    setLink(link);
}

void Directory::setLink(TcpLink *link)
{
    if (m_link)
        m_link->disconnect(this);
    m_link = link;
    connect(m_link, &TcpLink::received, this, &Directory::bytesIn);
    connect(m_link, &TcpLink::closed, this, &Directory::linkClosed);
}

void Directory::linkUsable()
{
    if (!m_running)
        next();
}

const StationEntry *Directory::findCall(const QString &callsign) const
{
    const auto it = m_byCall.constFind(callsign);
    return it == m_byCall.cend() ? nullptr : &m_list.stations[*it];
}

const StationEntry *Directory::findNode(int number) const
{
    for (const StationEntry &e : m_list.stations)
        if (e.node == number)
            return &e;
    return nullptr;
}

void Directory::setWanted(DirectoryStatus s)
{
    m_wanted = s;
    if (s == DirectoryStatus::Offline)
        m_relogin.stop();
    else
        m_relogin.start();
    enqueue({Kind::Login, s});
}

void Directory::refreshRegistration()
{
    if (m_wanted != DirectoryStatus::Offline)
        enqueue({Kind::Login, m_wanted});
}

void Directory::setDescription(const QString &description)
{
    if (description == m_settings.description)
        return;
    m_settings.description = description;
    refreshRegistration();
}

int Directory::refreshList()
{
    for (const Command &c : std::as_const(m_queue))
        if (c.kind == Kind::List)
            return c.serial;
    const int serial = ++m_listsAsked;
    enqueue({Kind::List, DirectoryStatus::Unknown, serial});
    return serial;
}

void Directory::enqueue(Command c)
{
    // One login waits at most: the newest status is the one that counts.
    if (c.kind == Kind::Login)
        m_queue.removeIf([](const Command &q) { return q.kind == Kind::Login; });
    m_queue.push_back(c);
    if (!m_running)
        next();
}

void Directory::next()
{
    if (m_running || m_queue.isEmpty() || m_resolving || !m_link->usable())
        return;
    m_running = m_queue.takeFirst();
    m_triesLeft = -1;
    if (m_addresses.isEmpty() || m_nextAddress >= m_addresses.size()) {
        // Every address tried in turn: the names are looked up again.
        m_resolving = true;
        const int generation = ++m_resolveGeneration;
        auto found = std::make_shared<QList<QHostAddress>>();
        auto left = std::make_shared<int>(int(m_settings.servers.size()));
        if (*left == 0) {
            m_resolving = false;
            resolved({});
            return;
        }
        for (const QString &name : m_settings.servers) {
            QHostAddress literal(name);
            auto done = [this, found, left, generation](const QList<QHostAddress> &addrs) {
                for (const QHostAddress &a : addrs)
                    if (a.protocol() == QHostAddress::IPv4Protocol && !found->contains(a))
                        found->push_back(a);
                if (--*left == 0 && generation == m_resolveGeneration) {
                    m_resolving = false;
                    resolved(*found);
                }
            };
            if (!literal.isNull()) {
                QMetaObject::invokeMethod(this, [done, literal] { done({literal}); }, Qt::QueuedConnection);
            } else {
                QHostInfo::lookupHost(name, this, [done](const QHostInfo &info) { done(info.addresses()); });
            }
        }
        return;
    }
    attempt();
}

void Directory::resolved(const QList<QHostAddress> &addresses)
{
    m_addresses = addresses;
    m_nextAddress = 0;
    if (!m_running)
        return;
    if (m_addresses.isEmpty()) {
        m_triesLeft = 0;
        attemptFailed(QStringLiteral("no address found for %1").arg(m_settings.servers.join(QLatin1Char(','))));
        return;
    }
    attempt();
}

void Directory::attempt()
{
    if (m_triesLeft < 0)
        m_triesLeft = int(m_addresses.size());
    m_reply.clear();
    m_commandTimer.start();
    const QHostAddress to = m_addresses.value(m_nextAddress);
    m_link->open(to, m_settings.port);
    if (m_running->kind == Kind::Login)
        m_link->send(buildLogin(m_settings.callsign, m_settings.password, m_running->status, m_settings.description,
                                QTime::currentTime()));
    else
        m_link->send(QByteArrayLiteral("s"));
}

void Directory::bytesIn(const QByteArray &bytes)
{
    if (!m_running)
        return;
    if (m_reply.size() + bytes.size() > kMaxDirectoryReply) {
        m_link->close();
        attemptFailed(QStringLiteral("an answer longer than %1 bytes").arg(kMaxDirectoryReply));
        return;
    }
    // The end mark is looked for where it can be new: in these bytes and
    // the three before them, so a reply dripped in small pieces costs what
    // one piece does.
    const qsizetype from = std::max<qsizetype>(0, m_reply.size() - 3);
    m_reply += bytes;
    m_searched += m_reply.size() - from;
    // A list is whole at its end mark; the server closing is not waited for.
    if (m_running->kind == Kind::List && m_reply.startsWith("@@@") &&
        QByteArrayView(m_reply).sliced(from).indexOf(QByteArrayView("\n+++")) >= 0) {
        m_link->close();
        finish();
    }
}

void Directory::linkClosed(const QString &why)
{
    if (!m_running)
        return;
    if (!why.isEmpty() && m_reply.isEmpty()) {
        attemptFailed(why);
        return;
    }
    finish();
}

void Directory::attemptFailed(const QString &why)
{
    m_commandTimer.stop();
    if (!m_running)
        return;
    const QString server = m_addresses.value(m_nextAddress).toString();
    ++m_nextAddress;
    if (--m_triesLeft > 0 && m_nextAddress < m_addresses.size()) {
        emit error(QStringLiteral("directory server %1: %2; trying the next").arg(server, why));
        attempt();
        return;
    }
    const Command failed = *m_running;
    m_running.reset();
    const QString text = server.isEmpty() ? why : QStringLiteral("directory server %1: %2").arg(server, why);
    if (failed.kind == Kind::Login) {
        m_status = DirectoryStatus::Unknown;
        emit error(text);
    } else {
        m_listsEnded = failed.serial;
        emit listFailed(text);
    }
    next();
}

void Directory::finish()
{
    m_commandTimer.stop();
    const Command done = *m_running;
    m_running.reset();
    QByteArray reply = std::exchange(m_reply, QByteArray());
    if (done.kind == Kind::Login) {
        if (reply.startsWith("OK")) {
            if (m_status != done.status) {
                m_status = done.status;
                emit statusChanged(m_status);
            }
        } else {
            m_status = DirectoryStatus::Unknown;
            const QString said = decodeText(reply.constData(), qMin<qsizetype>(reply.size(), 120)).simplified();
            emit error(said.isEmpty() ? QStringLiteral("the directory closed without answering the login")
                                      : QStringLiteral("the directory refused the login: %1").arg(said));
        }
    } else {
        const char *why = nullptr;
        std::optional<StationList> list = parseStationList(reply.constData(), reply.size(), &why);
        m_listsEnded = done.serial;
        if (list) {
            m_list = std::move(*list);
            m_list.stations.squeeze();
            m_byCall.clear();
            m_byCall.reserve(m_list.stations.size());
            // The first entry of a callsign listed twice, as a walk would find it.
            for (qsizetype i = 0; i < m_list.stations.size(); ++i)
                if (!m_byCall.contains(m_list.stations[i].callsign))
                    m_byCall.insert(m_list.stations[i].callsign, i);
            ++m_listsReceived;
            emit listUpdated();
        } else {
            emit listFailed(QLatin1String(why));
        }
        // A whole list's reply and the list it replaced are megabytes in
        // small pieces: handed back to the system, not kept for the next.
        reply = QByteArray();
        releaseMemory();
    }
    next();
}

} // namespace mirelva::echolink
