#include "node/link/nodeprotocol.h"

#include <cmath>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace mirelva::nodelink {

// ---- addresses ----------------------------------------------------------

std::optional<NodeAddress> NodeAddress::parse(const QString &text, QString *error)
{
    auto fail = [error](const QString &why) -> std::optional<NodeAddress> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    const QString t = text.trimmed();
    NodeAddress a;
    if (t.startsWith(QLatin1String("unix:"))) {
        a.kind = Unix;
        a.path = t.mid(5);
        if (a.path.isEmpty())
            return fail(QStringLiteral("no socket path after \"unix:\""));
        if (a.path.contains(QChar(0)))
            return fail(QStringLiteral("socket path holds a NUL character"));
        return a;
    }
    if (t.startsWith(QLatin1String("tcp:"))) {
        a.kind = Tcp;
        const QString rest = t.mid(4);
        const int colon = rest.lastIndexOf(QLatin1Char(':'));
        if (colon < 0)
            return fail(QStringLiteral("no port in \"%1\" (want tcp:HOST:PORT)").arg(t));
        QString host = rest.left(colon);
        const QString portText = rest.mid(colon + 1);
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
        else if (host.contains(QLatin1Char(':')))
            return fail(QStringLiteral("an IPv6 host must be written in brackets, as in tcp:[::1]:7300"));
        if (host.isEmpty())
            return fail(QStringLiteral("no host in \"%1\" (want tcp:HOST:PORT)").arg(t));
        bool ok = false;
        const uint port = portText.toUInt(&ok, 10);
        if (!ok || port == 0 || port > 65535 || portText.startsWith(QLatin1Char('+')))
            return fail(QStringLiteral("\"%1\" is not a port from 1 to 65535").arg(portText));
        a.host = host;
        a.port = quint16(port);
        return a;
    }
    return fail(QStringLiteral("\"%1\" is neither unix:PATH nor tcp:HOST:PORT").arg(t));
}

QString NodeAddress::toString() const
{
    if (kind == Unix)
        return QStringLiteral("unix:") + path;
    const QString h = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return QStringLiteral("tcp:%1:%2").arg(h).arg(port);
}

bool NodeAddress::isLoopback() const
{
    if (kind == Unix)
        return true;
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress h(host);
    return !h.isNull() && h.isLoopback();
}

// ---- lines ----------------------------------------------------------------

void LineReader::reset()
{
    m_buffer.clear();
    m_discarding = false;
}

QVector<LineReader::Item> LineReader::feed(const QByteArray &bytes)
{
    QVector<Item> out;
    qsizetype from = 0;
    while (from < bytes.size()) {
        const qsizetype nl = bytes.indexOf('\n', from);
        const qsizetype end = nl < 0 ? bytes.size() : nl;
        if (!m_discarding) {
            // Only as much as still fits is kept; one byte over proves the
            // line too long, and the rest of it is skipped.
            const qsizetype room = qsizetype(m_max) + 1 - m_buffer.size();
            m_buffer.append(bytes.constData() + from, std::min(end - from, room));
            if (m_buffer.size() > m_max) {
                m_buffer.clear();
                m_discarding = true;
                out.push_back({QByteArray(), true});
            }
        }
        if (nl < 0)
            break;
        if (!m_discarding) {
            QByteArray line = std::move(m_buffer);
            m_buffer = QByteArray();
            if (line.endsWith('\r'))
                line.chop(1);
            out.push_back({std::move(line), false});
        }
        m_discarding = false;
        from = nl + 1;
    }
    return out;
}

// ---- state ----------------------------------------------------------------

void StatePatch::applyTo(NodeState &s) const
{
    if (localStation)
        s.localStation = *localStation;
    if (linkActive)
        s.linkActive = *linkActive;
    if (receivingSignal)
        s.receivingSignal = *receivingSignal;
    if (transmitterKeyed)
        s.transmitterKeyed = *transmitterKeyed;
    if (linkBusy)
        s.linkBusy = *linkBusy;
    if (connected)
        s.connected = *connected;
    if (carries)
        s.carries = *carries;
    if (pttProblem)
        s.pttProblem = *pttProblem;
}

bool StatePatch::isEmpty() const
{
    return !localStation && !linkActive && !receivingSignal && !transmitterKeyed && !linkBusy && !connected
           && !carries && !pttProblem;
}

StatePatch StatePatch::full(const NodeState &s)
{
    StatePatch p;
    p.localStation = s.localStation;
    p.linkActive = s.linkActive;
    p.receivingSignal = s.receivingSignal;
    p.transmitterKeyed = s.transmitterKeyed;
    p.linkBusy = s.linkBusy;
    p.connected = s.connected;
    p.carries = s.carries;
    // Only a node with a problem says so: a client starts each connection
    // from "can be keyed", and nodes that never have one send what they did.
    if (!s.pttProblem.isEmpty())
        p.pttProblem = s.pttProblem;
    return p;
}

StatePatch StatePatch::diff(const NodeState &before, const NodeState &now)
{
    StatePatch p;
    if (before.localStation != now.localStation)
        p.localStation = now.localStation;
    if (before.linkActive != now.linkActive)
        p.linkActive = now.linkActive;
    if (before.receivingSignal != now.receivingSignal)
        p.receivingSignal = now.receivingSignal;
    if (before.transmitterKeyed != now.transmitterKeyed)
        p.transmitterKeyed = now.transmitterKeyed;
    if (before.linkBusy != now.linkBusy)
        p.linkBusy = now.linkBusy;
    if (before.connected != now.connected)
        p.connected = now.connected;
    if (before.carries != now.carries)
        p.carries = now.carries;
    if (before.pttProblem != now.pttProblem)
        p.pttProblem = now.pttProblem;
    return p;
}

QJsonObject StatePatch::toJson() const
{
    QJsonObject o;
    if (localStation)
        o.insert(QStringLiteral("localStation"), *localStation);
    if (linkActive)
        o.insert(QStringLiteral("linkActive"), *linkActive);
    if (receivingSignal)
        o.insert(QStringLiteral("receivingSignal"), *receivingSignal);
    if (transmitterKeyed)
        o.insert(QStringLiteral("transmitterKeyed"), *transmitterKeyed);
    if (linkBusy)
        o.insert(QStringLiteral("linkBusy"), *linkBusy);
    if (connected)
        o.insert(QStringLiteral("connected"), QJsonArray::fromStringList(*connected));
    if (carries)
        o.insert(QStringLiteral("carries"), QJsonArray::fromStringList(*carries));
    if (pttProblem)
        o.insert(QStringLiteral("pttProblem"), *pttProblem);
    return o;
}

// ---- events ---------------------------------------------------------------

std::optional<NodeEvent::Kind> nodeEventNamed(const QString &name)
{
    for (size_t i = 0; i < std::size(kNodeEventNames); ++i)
        if (name == QLatin1String(kNodeEventNames[i]))
            return NodeEvent::Kind(i);
    return std::nullopt;
}

NodeEvent NodeEvent::stateLine(const StatePatch &p)
{
    NodeEvent e;
    e.kind = State;
    e.state = p;
    return e;
}

NodeEvent NodeEvent::connected(const QString &call, const QString &name, const QString &addr)
{
    NodeEvent e;
    e.kind = Connected;
    e.call = call;
    e.name = name;
    e.addr = addr;
    return e;
}

NodeEvent NodeEvent::disconnected(const QString &call)
{
    NodeEvent e;
    e.kind = Disconnected;
    e.call = call;
    return e;
}

NodeEvent NodeEvent::rx(bool on)
{
    NodeEvent e;
    e.kind = RX;
    e.on = on;
    return e;
}

NodeEvent NodeEvent::carrierDetect(bool on)
{
    NodeEvent e;
    e.kind = CarrierDetect;
    e.on = on;
    return e;
}

NodeEvent NodeEvent::dtmf(const QString &digits)
{
    NodeEvent e;
    e.kind = DTMF;
    e.text = digits;
    return e;
}

NodeEvent NodeEvent::chat(const QString &text)
{
    NodeEvent e;
    e.kind = Chat;
    e.text = text;
    return e;
}

NodeEvent NodeEvent::closing()
{
    NodeEvent e;
    e.kind = Closing;
    return e;
}

void forEachNodeEvent(NodeBackend *node, QObject *context, std::function<void(const NodeEvent &)> handle)
{
    QObject::connect(node, &NodeBackend::connected, context, [handle](const QString &call, const QString &name,
                                                                      const QString &addr) {
        handle(NodeEvent::connected(call, name, addr));
    });
    QObject::connect(node, &NodeBackend::Disconnected, context,
                     [handle](const QString &call) { handle(NodeEvent::disconnected(call)); });
    QObject::connect(node, &NodeBackend::RX, context, [handle](bool on) { handle(NodeEvent::rx(on)); });
    QObject::connect(node, &NodeBackend::CarrierDetect, context,
                     [handle](bool on) { handle(NodeEvent::carrierDetect(on)); });
    QObject::connect(node, &NodeBackend::DTMFString, context,
                     [handle](const QString &digits) { handle(NodeEvent::dtmf(digits)); });
    QObject::connect(node, &NodeBackend::ChatTextReceived, context,
                     [handle](const QString &text) { handle(NodeEvent::chat(text)); });
    QObject::connect(node, &NodeBackend::Closing, context, [handle] { handle(NodeEvent::closing()); });
}

namespace {

// JSON objects come out with their keys sorted; the name of the line goes
// first so that a person reading a trace sees at once what each line is.
QByteArray lineNameFirst(const char *key, const QString &name, const QJsonObject &rest)
{
    const QByteArray head = QJsonDocument(QJsonObject{{QLatin1String(key), name}}).toJson(QJsonDocument::Compact);
    if (rest.isEmpty())
        return head + '\n';
    const QByteArray tail = QJsonDocument(rest).toJson(QJsonDocument::Compact);
    // head is {"key":"name"} and tail {...}: join them as one object.
    return head.left(head.size() - 1) + ',' + tail.mid(1) + '\n';
}

} // namespace

QByteArray NodeEvent::toLine() const
{
    QJsonObject o;
    switch (kind) {
    case State:
        o = state.toJson();
        break;
    case Connected:
        o.insert(QStringLiteral("call"), call);
        o.insert(QStringLiteral("name"), name);
        o.insert(QStringLiteral("addr"), addr);
        break;
    case Disconnected:
        o.insert(QStringLiteral("call"), call);
        break;
    case RX:
    case CarrierDetect:
        o.insert(QStringLiteral("on"), on);
        break;
    case DTMF:
        o.insert(QStringLiteral("digits"), text);
        break;
    case Chat:
        o.insert(QStringLiteral("text"), text);
        break;
    case Closing:
        break;
    }
    return lineNameFirst("event", QLatin1String(kNodeEventNames[kind]), o);
}

QByteArray helloLine(const QString &client, const QString &version, const QByteArray &token)
{
    // In the documented order, which a bridge's trace will show.
    auto quoted = [](const QString &text) {
        const QByteArray a = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
        return a.mid(1, a.size() - 2);   // ["..."] -> "..."
    };
    return QByteArrayLiteral("{\"op\":\"hello\",\"client\":") + quoted(client) + QByteArrayLiteral(",\"version\":")
        + quoted(version) + QByteArrayLiteral(",\"protocol\":") + QByteArray::number(kProtocolVersion)
        + (token.isEmpty() ? QByteArray() : QByteArrayLiteral(",\"token\":") + quoted(QString::fromLatin1(token)))
        + QByteArrayLiteral("}\n");
}

bool sameToken(const QByteArray &a, const QByteArray &b)
{
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    const QByteArray &walk = a.size() == b.size() ? a : b;
    for (qsizetype i = 0; i < walk.size(); ++i)
        diff |= static_cast<unsigned char>(walk[i] ^ b[i]);
    return diff == 0 && !b.isEmpty();
}

Admission admitFirstLine(const LineReader::Item &first, const QByteArray &wantedToken)
{
    Admission a;
    if (first.overlong) {
        a.why = QStringLiteral("first line is longer than %1 bytes, not a hello").arg(kMaxLineBytes);
        return a;
    }
    const ParsedRequest p = parseRequest(first.line);
    if (p.status != ParseStatus::Ok || !p.isHello) {
        a.why = QStringLiteral("first line is not a hello: ") + excerpt(first.line);
        return a;
    }
    if (!wantedToken.isEmpty()) {
        if (p.hello.token.isEmpty()) {
            a.why = QStringLiteral("no token in its hello");
            return a;
        }
        if (!sameToken(p.hello.token.toUtf8(), wantedToken)) {
            a.why = QStringLiteral("wrong token in its hello");
            return a;
        }
    }
    a.admitted = true;
    a.hello = p.hello;
    return a;
}

QByteArray requestLine(const NodeRequest &r)
{
    QJsonObject rest = r.fields;
    rest.remove(QStringLiteral("op"));
    return lineNameFirst("op", nameOf(r.op), rest);
}

// ---- parsing ----------------------------------------------------------------

namespace {

// Reads the fields of one line, remembering the first one that is wrong.
class Fields {
public:
    explicit Fields(const QJsonObject &o) : m_o(o) {}

    QString requiredString(const char *key)
    {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (!v.isString())
            wrong(key, v.isUndefined() ? "missing" : "not a string");
        return v.toString();
    }
    QString optionalString(const char *key)
    {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (!v.isUndefined() && !v.isString())
            wrong(key, "not a string");
        return v.toString();
    }
    bool requiredBool(const char *key)
    {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (!v.isBool())
            wrong(key, v.isUndefined() ? "missing" : "not true or false");
        return v.toBool();
    }
    std::optional<QString> maybeString(const char *key)
    {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (v.isUndefined())
            return std::nullopt;
        if (!v.isString()) {
            wrong(key, "not a string");
            return std::nullopt;
        }
        return v.toString();
    }
    std::optional<bool> maybeBool(const char *key)
    {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (v.isUndefined())
            return std::nullopt;
        if (!v.isBool()) {
            wrong(key, "not true or false");
            return std::nullopt;
        }
        return v.toBool();
    }
    std::optional<QStringList> maybeStringList(const char *key)
    {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (v.isUndefined())
            return std::nullopt;
        if (!v.isArray()) {
            wrong(key, "not an array");
            return std::nullopt;
        }
        QStringList out;
        const QJsonArray a = v.toArray();
        out.reserve(a.size());
        for (const QJsonValue &item : a) {
            if (!item.isString()) {
                wrong(key, "holds something other than strings");
                return std::nullopt;
            }
            out << item.toString();
        }
        return out;
    }
    int requiredInt(const char *key)
    {
        const QJsonValue v = m_o.value(QLatin1String(key));
        const double d = v.toDouble();
        if (!v.isDouble() || d != std::floor(d) || d < -2147483648.0 || d > 2147483647.0) {
            wrong(key, v.isUndefined() ? "missing" : "not a whole number");
            return 0;
        }
        return int(d);
    }

    bool ok() const { return m_error.isEmpty(); }
    const QString &error() const { return m_error; }
    void fail(const QString &why)
    {
        if (m_error.isEmpty())
            m_error = why;
    }

private:
    void wrong(const char *key, const char *why)
    {
        if (m_error.isEmpty())
            m_error = QStringLiteral("field \"%1\" %2").arg(QLatin1String(key), QLatin1String(why));
    }
    const QJsonObject &m_o;
    QString m_error;
};

// A name from the peer as it may appear in a log text: on one line, short.
QString printable(const QString &name)
{
    QString s = name.left(80);
    for (QChar &c : s)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char('.');
    return s;
}

// The object on the line, or why there is none.
std::optional<QJsonObject> objectOf(const QByteArray &line, QString *error)
{
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(line, &pe);
    if (pe.error != QJsonParseError::NoError) {
        *error = QStringLiteral("not JSON (%1 at byte %2)").arg(pe.errorString()).arg(pe.offset);
        return std::nullopt;
    }
    if (!doc.isObject()) {
        *error = QStringLiteral("not a JSON object");
        return std::nullopt;
    }
    return doc.object();
}

} // namespace

ParsedEvent parseEvent(const QByteArray &line)
{
    ParsedEvent r;
    const std::optional<QJsonObject> o = objectOf(line, &r.error);
    if (!o) {
        r.status = ParseStatus::NotJsonObject;
        return r;
    }
    const QJsonValue name = o->value(QLatin1String("event"));
    if (!name.isString()) {
        r.status = ParseStatus::MissingName;
        r.error = name.isUndefined() ? QStringLiteral("no \"event\" field") : QStringLiteral("\"event\" is not a string");
        return r;
    }
    r.name = name.toString();
    const std::optional<NodeEvent::Kind> kind = nodeEventNamed(r.name);
    if (!kind) {
        r.status = ParseStatus::UnknownName;
        r.error = QStringLiteral("unknown event \"%1\"").arg(printable(r.name));
        return r;
    }
    Fields f(*o);
    NodeEvent &e = r.event;
    switch (*kind) {
    case NodeEvent::State:
        e.kind = NodeEvent::State;
        e.state.localStation = f.maybeString("localStation");
        e.state.linkActive = f.maybeBool("linkActive");
        e.state.receivingSignal = f.maybeBool("receivingSignal");
        e.state.transmitterKeyed = f.maybeBool("transmitterKeyed");
        e.state.linkBusy = f.maybeBool("linkBusy");
        e.state.connected = f.maybeStringList("connected");
        e.state.carries = f.maybeStringList("carries");
        e.state.pttProblem = f.maybeString("pttProblem");
        break;
    case NodeEvent::Connected:
        e = NodeEvent::connected(f.requiredString("call"), f.optionalString("name"), f.optionalString("addr"));
        break;
    case NodeEvent::Disconnected:
        e = NodeEvent::disconnected(f.requiredString("call"));
        break;
    case NodeEvent::RX:
        e = NodeEvent::rx(f.requiredBool("on"));
        break;
    case NodeEvent::CarrierDetect:
        e = NodeEvent::carrierDetect(f.requiredBool("on"));
        break;
    case NodeEvent::DTMF:
        e = NodeEvent::dtmf(f.requiredString("digits"));
        break;
    case NodeEvent::Chat:
        e = NodeEvent::chat(f.requiredString("text"));
        break;
    case NodeEvent::Closing:
        e = NodeEvent::closing();
        break;
    }
    if (!f.ok()) {
        r.status = ParseStatus::BadField;
        r.error = QStringLiteral("event \"%1\": %2").arg(r.name, f.error());
        r.event = NodeEvent();
        return r;
    }
    r.status = ParseStatus::Ok;
    return r;
}

ParsedRequest parseRequest(const QByteArray &line)
{
    ParsedRequest r;
    const std::optional<QJsonObject> o = objectOf(line, &r.error);
    if (!o) {
        r.status = ParseStatus::NotJsonObject;
        return r;
    }
    const QJsonValue name = o->value(QLatin1String("op"));
    if (!name.isString()) {
        r.status = ParseStatus::MissingName;
        r.error = name.isUndefined() ? QStringLiteral("no \"op\" field") : QStringLiteral("\"op\" is not a string");
        return r;
    }
    r.name = name.toString();
    Fields f(*o);
    const QString &op = r.name;
    if (op == QLatin1String("hello")) {
        r.isHello = true;
        r.hello.protocol = f.requiredInt("protocol");
        r.hello.client = f.optionalString("client");
        r.hello.version = f.optionalString("version");
        r.hello.token = f.optionalString("token");
    } else if (const std::optional<NodeOp> named = nodeOpNamed(op)) {
        switch (*named) {
        case NodeOp::Connect:
            r.request = NodeRequest::connect(f.requiredString("call"));
            break;
        case NodeOp::Disconnect:
            r.request = NodeRequest::disconnect(f.requiredString("call"));
            break;
        case NodeOp::DisconnectAll:
            r.request = NodeRequest::disconnectAll();
            break;
        case NodeOp::SetPTT:
            r.request = NodeRequest::setPTT(f.requiredBool("on"));
            break;
        case NodeOp::SendCW:
            r.request = NodeRequest::sendCW(f.requiredString("text"));
            break;
        case NodeOp::SetBusy:
            r.request = NodeRequest::setBusy(f.requiredBool("on"));
            break;
        case NodeOp::SetRTS:
            r.request = NodeRequest::setRTS(f.requiredBool("on"));
            break;
        case NodeOp::SetDTR:
            r.request = NodeRequest::setDTR(f.requiredBool("on"));
            break;
        case NodeOp::SendChatText:
            r.request = NodeRequest::sendChatText(f.requiredString("text"));
            break;
        case NodeOp::Speech: {
            const QString text = f.requiredString("text");
            const bool keyed = f.requiredBool("keyed");
            if (f.maybeBool("play").value_or(false)) {
                const int rate = f.requiredInt("rate");
                const int volume = f.requiredInt("volume");
                if (f.ok() && (!keyed || rate < -10 || rate > 10 || volume < 0 || volume > 100))
                    f.fail(QStringLiteral("a speech to play needs \"keyed\" true, \"rate\" -10..10 and \"volume\" 0..100"));
                r.request = NodeRequest::speechOnAir(text, rate, volume);
            } else {
                r.request = NodeRequest::speech(text, keyed);
            }
            break;
        }
        }
    } else {
        r.status = ParseStatus::UnknownName;
        r.error = QStringLiteral("unknown op \"%1\"").arg(printable(op));
        return r;
    }
    if (!f.ok()) {
        r.status = ParseStatus::BadField;
        r.error = QStringLiteral("op \"%1\": %2").arg(op, f.error());
        r.request = NodeRequest();
        r.isHello = false;
        return r;
    }
    r.status = ParseStatus::Ok;
    return r;
}

QString excerpt(const QByteArray &line)
{
    QString s = QString::fromUtf8(line.left(60));
    for (QChar &c : s)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char('.');
    return line.size() > 60 ? s + QStringLiteral("...") : s;
}

} // namespace mirelva::nodelink
