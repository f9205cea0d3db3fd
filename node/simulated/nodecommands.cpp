#include "node/simulated/nodecommands.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "node/link/nodeprotocol.h"
#include "node/simulated/simulatednode.h"

namespace mirelva::NodeCommands {

namespace {

constexpr int kMaxCallLength = 32;

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

} // namespace

bool isCall(const QString &call)
{
    if (call.isEmpty() || call.size() > kMaxCallLength)
        return false;
    for (QChar c : call) {
        const bool ok = (c.unicode() < 128 && c.isLetterOrNumber()) || c == '-' || c == '/' || c == '*' || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

bool splitWords(const QString &line, QStringList *words)
{
    words->clear();
    QString word;
    bool inWord = false;
    bool quoted = false;
    for (QChar c : line) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;     // "" is an empty word
        } else if (c.isSpace() && !quoted) {
            if (inWord)
                words->append(word);
            word.clear();
            inWord = false;
        } else {
            word.append(c);
            inWord = true;
        }
    }
    if (quoted)
        return false;
    if (inWord)
        words->append(word);
    return true;
}

bool parseOnOff(const QString &word, bool *on)
{
    const QString w = word.toLower();
    if (w == "on" || w == "1" || w == "true" || w == "yes") {
        *on = true;
        return true;
    }
    if (w == "off" || w == "0" || w == "false" || w == "no") {
        *on = false;
        return true;
    }
    return false;
}

bool isDtmf(const QString &digits)
{
    if (digits.isEmpty())
        return false;
    for (QChar c : digits) {
        const char a = c.unicode() < 128 ? char(c.toUpper().unicode()) : '\0';
        if (!((a >= '0' && a <= '9') || (a >= 'A' && a <= 'D') || a == '*' || a == '#'))
            return false;
    }
    return true;
}

QStringList helpText()
{
    return {
        QStringLiteral("connect CALL [NAME] [ADDR]   a station connects (quote a name with blanks)"),
        QStringLiteral("disconnect CALL              a station disconnects"),
        QStringLiteral("carrier on|off               a local carrier (CarrierDetect)"),
        QStringLiteral("rx on|off                    an internet station talks (RX)"),
        QStringLiteral("busy on|off                  the link is busy"),
        QStringLiteral("active on|off                the link is active"),
        QStringLiteral("receiving on|off             the receiver hears a signal"),
        QStringLiteral("keyed on|off                 the transmitter is keyed"),
        QStringLiteral("dtmf DIGITS                  a DTMF string (0-9, A-D, * and #)"),
        QStringLiteral("chat TEXT...                 a chat text arrives"),
        QStringLiteral("callsign CALL                the node's own callsign"),
        QStringLiteral("closing                      the node closes"),
        QStringLiteral("state                        the node's state, as one line of JSON"),
        QStringLiteral("help                         this list"),
    };
}

QString stateLine(const SimulatedNode &node)
{
    // The state a client is sent, named as on the wire, and what only the
    // node knows (the lines Mirelva set), so a script reads it like the
    // request and event lines around it.
    QJsonObject o = nodelink::StatePatch::full(node.state()).toJson();
    // What it carries is for Mirelva; the console shows the scene.
    o.remove(QStringLiteral("carries"));
    o.insert(QStringLiteral("ptt"), node.ptt());
    o.insert(QStringLiteral("nodeBusy"), node.busy());
    o.insert(QStringLiteral("rts"), node.rts());
    o.insert(QStringLiteral("dtr"), node.dtr());
    return QStringLiteral("state ") + QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

bool run(SimulatedNode *node, const QString &line, QString *error, QStringList *output)
{
    if (!node)
        return fail(error, QStringLiteral("no node to drive"));

    QString text = line;
    while (!text.isEmpty() && (text.endsWith('\n') || text.endsWith('\r')))
        text.chop(1);
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith('#'))
        return true;

    // The command word, and the rest of the line as typed (chat keeps its blanks).
    const qsizetype end = [&] {
        qsizetype i = 0;
        while (i < trimmed.size() && !trimmed.at(i).isSpace())
            ++i;
        return i;
    }();
    const QString command = trimmed.left(end).toLower();
    QString rest = trimmed.mid(end);
    while (!rest.isEmpty() && rest.at(0).isSpace())
        rest.remove(0, 1);

    QStringList args;
    const bool split = splitWords(rest, &args);

    auto needSplit = [&]() { return split ? true : fail(error, QStringLiteral("%1: a quote is not closed").arg(command)); };
    auto oneSwitch = [&](bool *on) {
        if (!needSplit())
            return false;
        if (args.size() != 1 || !parseOnOff(args.at(0), on))
            return fail(error, QStringLiteral("%1: say on or off").arg(command));
        return true;
    };
    auto oneCall = [&](QString *call) {
        if (!needSplit())
            return false;
        if (args.size() != 1)
            return fail(error, QStringLiteral("%1: give one callsign").arg(command));
        *call = args.at(0).toUpper();
        if (!isCall(*call))
            return fail(error, QStringLiteral("%1: \"%2\" is not a callsign").arg(command, args.at(0)));
        return true;
    };

    bool on = false;
    QString call;
    if (command == "connect") {
        if (!needSplit())
            return false;
        if (args.isEmpty() || args.size() > 3)
            return fail(error, QStringLiteral("connect: give CALL [NAME] [ADDR] (quote a name with blanks)"));
        call = args.at(0).toUpper();
        if (!isCall(call))
            return fail(error, QStringLiteral("connect: \"%1\" is not a callsign").arg(args.at(0)));
        if (node->state().connected.contains(call))
            return fail(error, QStringLiteral("connect: %1 is connected already").arg(call));
        if (node->busy())
            return fail(error, QStringLiteral("connect: the node is marked busy and turns callers away"));
        const QString name = args.value(1);
        const QString addr = args.size() > 2 ? args.at(2) : SimulatedNode::documentationAddress(call);
        node->stationConnects(call, name, addr);
    } else if (command == "disconnect") {
        if (!oneCall(&call))
            return false;
        if (!node->state().connected.contains(call))
            return fail(error, QStringLiteral("disconnect: %1 is not connected").arg(call));
        node->stationDisconnects(call);
    } else if (command == "carrier") {
        if (!oneSwitch(&on))
            return false;
        node->localCarrier(on);
    } else if (command == "rx") {
        if (!oneSwitch(&on))
            return false;
        node->internetTalking(on);
    } else if (command == "busy") {
        if (!oneSwitch(&on))
            return false;
        node->setLinkBusy(on);
    } else if (command == "active") {
        if (!oneSwitch(&on))
            return false;
        node->setLinkActive(on);
    } else if (command == "receiving") {
        if (!oneSwitch(&on))
            return false;
        node->setReceivingSignal(on);
    } else if (command == "keyed") {
        if (!oneSwitch(&on))
            return false;
        node->setTransmitterKeyed(on);
    } else if (command == "dtmf") {
        if (!needSplit())
            return false;
        if (args.size() != 1 || !isDtmf(args.at(0)))
            return fail(error, QStringLiteral("dtmf: give digits 0-9, A-D, * or #"));
        node->dtmf(args.at(0).toUpper());
    } else if (command == "chat") {
        if (rest.trimmed().isEmpty())
            return fail(error, QStringLiteral("chat: give the text"));
        node->chat(rest);
    } else if (command == "callsign") {
        if (!oneCall(&call))
            return false;
        node->setLocalStation(call);
    } else if (command == "closing") {
        if (!rest.isEmpty())
            return fail(error, QStringLiteral("closing takes nothing more"));
        node->closing();
    } else if (command == "state") {
        if (output)
            output->append(stateLine(*node));
    } else if (command == "help") {
        if (output)
            output->append(helpText());
    } else {
        return fail(error, QStringLiteral("unknown command \"%1\"; try help").arg(command));
    }
    return true;
}

} // namespace mirelva::NodeCommands
