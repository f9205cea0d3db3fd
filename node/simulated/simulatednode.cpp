#include "node/simulated/simulatednode.h"

#include <QHash>
#include <QTimer>

namespace mirelva {

namespace {
QString onOff(bool on) { return on ? QStringLiteral("on") : QStringLiteral("off"); }
} // namespace

namespace {

// Dots and dashes of each character a keyer knows.
const QHash<QChar, const char *> &morseTable()
{
    static const QHash<QChar, const char *> table = {
        {'A', ".-"},     {'B', "-..."},   {'C', "-.-."},   {'D', "-.."},    {'E', "."},
        {'F', "..-."},   {'G', "--."},    {'H', "...."},   {'I', ".."},     {'J', ".---"},
        {'K', "-.-"},    {'L', ".-.."},   {'M', "--"},     {'N', "-."},     {'O', "---"},
        {'P', ".--."},   {'Q', "--.-"},   {'R', ".-."},    {'S', "..."},    {'T', "-"},
        {'U', "..-"},    {'V', "...-"},   {'W', ".--"},    {'X', "-..-"},   {'Y', "-.--"},
        {'Z', "--.."},
        {'0', "-----"},  {'1', ".----"},  {'2', "..---"},  {'3', "...--"},  {'4', "....-"},
        {'5', "....."},  {'6', "-...."},  {'7', "--..."},  {'8', "---.."},  {'9', "----."},
        {'.', ".-.-.-"}, {',', "--..--"}, {'?', "..--.."}, {'\'', ".----."}, {'!', "-.-.--"},
        {'/', "-..-."},  {'(', "-.--."},  {')', "-.--.-"}, {'&', ".-..."},  {':', "---..."},
        {';', "-.-.-."}, {'=', "-...-"},  {'+', ".-.-."},  {'-', "-....-"}, {'_', "..--.-"},
        {'"', ".-..-."}, {'$', "...-..-"}, {'@', ".--.-."},
    };
    return table;
}

// Units one character takes, without the gap after it; 0 when it has no code.
int characterUnits(QChar c)
{
    const char *code = morseTable().value(c.toUpper(), nullptr);
    if (!code)
        return 0;
    int units = 0;
    for (const char *p = code; *p; ++p)
        units += (*p == '-' ? 3 : 1) + (p[1] ? 1 : 0);
    return units;
}

QString normalCall(const QString &call) { return call.trimmed().toUpper(); }

} // namespace

SimulatedNode::SimulatedNode(QObject *parent) : NodeBackend(parent)
{
    m_state.localStation = QStringLiteral("N0CALL");
    m_morseTimer = new QTimer(this);
    m_morseTimer->setSingleShot(true);
    m_morseTimer->setTimerType(Qt::PreciseTimer);
    connect(m_morseTimer, &QTimer::timeout, this, &SimulatedNode::endMorse);
}

QStringList SimulatedNode::requestTexts() const
{
    QStringList l;
    l.reserve(m_records.size());
    for (const auto &r : m_records)
        l << r.request.toText();
    return l;
}

int SimulatedNode::morseUnits(const QString &text)
{
    int units = 0;
    bool sentAny = false;     // a character has been sent before this point
    bool blankSince = false;  // and blanks followed it
    for (QChar c : text) {
        if (c.isSpace()) {
            blankSince = sentAny;
            continue;
        }
        const int u = characterUnits(c);
        if (u == 0)
            continue;
        if (sentAny)
            units += blankSince ? 7 : 3;
        units += u;
        sentAny = true;
        blankSince = false;
    }
    return units;
}

int SimulatedNode::morseDurationMs(const QString &text, int wpm)
{
    if (wpm < 1)
        wpm = 1;
    // Rounded to the nearest millisecond; a 64-bit product cannot overflow
    // for any text a QString holds.
    const qint64 ms = (qint64(morseUnits(text)) * 1200 + wpm / 2) / wpm;
    return ms > INT_MAX ? INT_MAX : int(ms);
}

QString SimulatedNode::documentationAddress(const QString &call)
{
    // 192.0.2.0/24 is set aside for examples: it never reaches a real host.
    uint h = 0;
    for (QChar c : normalCall(call))
        h = h * 31 + c.unicode();
    return QStringLiteral("192.0.2.%1").arg(h % 254 + 1);
}

void SimulatedNode::answerLater(std::function<void()> answer)
{
    // The node as context: an answer still pending when the node goes away
    // is simply never given.
    QTimer::singleShot(m_answerDelayMs, this, std::move(answer));
}

void SimulatedNode::request(const NodeRequest &r)
{
    // The oldest tenth goes at once, so forgetting costs little per request.
    if (m_records.size() >= kRecordsKept)
        m_records.remove(0, kRecordsKept / 10);
    m_records.append({QDateTime::currentDateTime(), r});
    emit recorded(m_records.last());

    const NodeOp op = r.op;
    if (op == NodeOp::Connect) {
        const QString call = normalCall(r.fields.value("call").toString());
        answerLater([this, call] {
            if (call.isEmpty() || call == QLatin1String("LOCAL") || call == m_state.localStation
                || m_state.connected.contains(call))
                return;
            addStation(call, QString(), documentationAddress(call));
        });
    } else if (op == NodeOp::Disconnect) {
        const QString call = normalCall(r.fields.value("call").toString());
        answerLater([this, call] { removeStation(call); });
    } else if (op == NodeOp::DisconnectAll) {
        answerLater([this] {
            // Each station leaves on its own, with its own event.
            const QStringList calls = m_state.connected;
            for (const QString &call : calls)
                removeStation(call);
        });
    } else if (op == NodeOp::SetPTT) {
        m_ptt = r.fields.value("on").toBool();
        updateKeyed();
    } else if (op == NodeOp::SendCW) {
        const int ms = morseDurationMs(r.fields.value("text").toString(), m_wpm);
        if (ms <= 0)
            return;
        // A second text waits for the first to end, as a keyer's buffer does.
        const qint64 remaining = m_morseRunning > 0 ? qMax<qint64>(0, m_morseEnds.remainingTime()) : 0;
        const int total = int(qMin<qint64>(remaining + ms, INT_MAX));
        m_morseEnds.setRemainingTime(total);
        m_morseTimer->start(total);
        m_morseRunning = 1;
        updateKeyed();
    } else if (op == NodeOp::SetBusy) {
        setFlag(m_busy, r.fields.value("on").toBool());
    } else if (op == NodeOp::SetRTS) {
        setFlag(m_rts, r.fields.value("on").toBool());
    } else if (op == NodeOp::SetDTR) {
        setFlag(m_dtr, r.fields.value("on").toBool());
    }
    // SendChatText, Speech and anything unknown are only recorded.
}

void SimulatedNode::setFlag(bool &flag, bool on)
{
    // Lines and the busy mark are not part of what a client mirrors, but the
    // console shows them, so a change is announced all the same.
    if (flag == on)
        return;
    flag = on;
    emit stateChanged();
}

void SimulatedNode::updateKeyed()
{
    NodeState s = m_state;
    s.transmitterKeyed = m_ptt || m_morseRunning > 0;
    setState(s);
}

void SimulatedNode::finishMorse()
{
    if (m_morseRunning == 0)
        return;
    m_morseTimer->stop();
    endMorse();
}

void SimulatedNode::endMorse()
{
    m_morseRunning = 0;
    updateKeyed();
}

void SimulatedNode::addStation(const QString &call, const QString &name, const QString &addr)
{
    NodeState s = m_state;
    s.connected.append(call);
    setState(s);
    raise([this, call, name, addr] {
        emit raising(QStringLiteral("event connected %1, name \"%2\", address %3").arg(call, name, addr));
        emit connected(call, name, addr);
    });
}

void SimulatedNode::removeStation(const QString &call)
{
    if (!m_state.connected.contains(call))
        return;
    NodeState s = m_state;
    s.connected.removeAll(call);
    setState(s);
    raise([this, call] {
        emit raising(QStringLiteral("event Disconnected %1").arg(call));
        emit Disconnected(call);
    });
}

void SimulatedNode::setLocalStation(const QString &call)
{
    const QString c = normalCall(call);
    if (c.isEmpty())
        return;     // a node always has a callsign
    NodeState s = m_state;
    s.localStation = c;
    setState(s);
}

void SimulatedNode::setStateFlag(bool NodeState::*flag, bool on)
{
    NodeState s = m_state;
    s.*flag = on;
    setState(s);
}

void SimulatedNode::setLinkActive(bool on) { setStateFlag(&NodeState::linkActive, on); }

void SimulatedNode::setCarries(const QStringList &ops)
{
    NodeState s = m_state;
    s.carries = ops;
    setState(s);
}

void SimulatedNode::setPttProblem(const QString &problem)
{
    NodeState s = m_state;
    s.pttProblem = problem;
    setState(s);
}

void SimulatedNode::setLinkBusy(bool on) { setStateFlag(&NodeState::linkBusy, on); }

void SimulatedNode::setReceivingSignal(bool on) { setStateFlag(&NodeState::receivingSignal, on); }

void SimulatedNode::setTransmitterKeyed(bool on) { setStateFlag(&NodeState::transmitterKeyed, on); }

void SimulatedNode::stationConnects(const QString &call, const QString &name, const QString &addr)
{
    const QString c = normalCall(call);
    if (c.isEmpty() || m_state.connected.contains(c))
        return;
    if (m_busy) {
        emit note(QStringLiteral("%1 was turned away: the node is busy").arg(c));
        return;
    }
    addStation(c, name, addr);
}

void SimulatedNode::stationDisconnects(const QString &call) { removeStation(normalCall(call)); }

void SimulatedNode::localCarrier(bool on)
{
    m_carrier = on;
    NodeState s = m_state;
    s.receivingSignal = on;
    // The node passes the local over on to the internet.
    s.linkBusy = on || m_internet;
    setState(s);
    raise([this, on] {
        emit raising(QStringLiteral("event CarrierDetect %1").arg(onOff(on)));
        emit CarrierDetect(on);
    });
}

void SimulatedNode::internetTalking(bool on)
{
    m_internet = on;
    NodeState s = m_state;
    s.linkBusy = on || m_carrier;
    s.linkActive = on;
    setState(s);
    raise([this, on] {
        emit raising(QStringLiteral("event RX %1").arg(onOff(on)));
        emit RX(on);
    });
}

void SimulatedNode::dtmf(const QString &digits)
{
    raise([this, digits] {
        emit raising(QStringLiteral("event DTMFString %1").arg(digits));
        emit DTMFString(digits);
    });
}

void SimulatedNode::chat(const QString &text)
{
    raise([this, text] {
        emit raising(QStringLiteral("event ChatTextReceived %1").arg(text));
        emit ChatTextReceived(text);
    });
}

void SimulatedNode::closing()
{
    raise([this] {
        emit raising(QStringLiteral("event Closing"));
        emit Closing();
    });
}

} // namespace mirelva
