#include "node/console/nodeconsole.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QVBoxLayout>

#include "ui/controls.h"
#include "core/onairlog.h"
#include "node/simulated/nodecommands.h"

namespace mirelva {

namespace {

const char *kTimeFormat = "HH:mm:ss.zzz";

QLabel *buddyLabel(const QString &caption, QWidget *buddy, QWidget *parent)
{
    auto *l = new QLabel(caption, parent);
    l->setBuddy(buddy);
    return l;
}

QPushButton *button(const QString &name, const QString &caption, QWidget *parent, bool checkable = false)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setCheckable(checkable);
    b->setAutoDefault(false);
    return b;
}

QLineEdit *lineEdit(const QString &name, QWidget *parent)
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(name);
    return e;
}

QLabel *stateLabel(const QString &name, QWidget *parent)
{
    auto *l = new QLabel(parent);
    l->setObjectName(name);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
}

// An indicator reads "Name: value"; the ones that mean the transmitter or the
// link is in use stand out.
void showState(QLabel *label, const QString &name, const QString &value, bool alert = false)
{
    label->setText(name + QStringLiteral(": ") + value);
    label->setStyleSheet(alert ? QStringLiteral("color: #b00000; font-weight: bold;") : QString());
}

QString onOff(bool on) { return on ? QStringLiteral("on") : QStringLiteral("off"); }

// Keyed speech is told by the on-air log's "on air speech:" line, which the
// log on standard error has too; the node's own record of it would say the
// same a second time.
bool toldByOnAirLog(const NodeRequest &r)
{
    return r.op == NodeOp::Speech && r.fields.value(QStringLiteral("keyed")).toBool();
}

} // namespace

NodeConsole::NodeConsole(SimulatedNode *node, QWidget *parent) : QWidget(parent), m_node(node)
{
    setObjectName(QStringLiteral("NodeConsole"));
    setWindowTitle(QStringLiteral("Mirelva node console"));
    build();

    if (m_node) {
        connect(m_node, &NodeBackend::stateChanged, this, &NodeConsole::refresh);
        connect(m_node, &SimulatedNode::recorded, this, [this](const SimulatedNode::Record &r) {
            if (!toldByOnAirLog(r.request))
                appendLog(r.request.toText(), r.when);
        });
        connect(m_node, &SimulatedNode::note, this, [this](const QString &t) { appendLog(t); });
        connect(m_node, &SimulatedNode::raising, this, [this](const QString &t) { appendLog(t); });
    }
    // Requests come from the node's own records, which carry the time the
    // node got them; the on-air log adds what went over the air and notes.
    // What was asked before the console opened (start-up releases PTT and the
    // lines) is shown too.
    if (m_node)
        for (const auto &r : m_node->records())
            if (!toldByOnAirLog(r.request))
                appendLog(r.request.toText(), r.when);
    connect(&OnAirLog::instance(), &OnAirLog::line, this, &NodeConsole::onAirLine);

    refresh();
}

void NodeConsole::build()
{
    auto *root = new QVBoxLayout(this);
    auto *top = new QHBoxLayout;
    root->addLayout(top, 0);
    auto *left = new QVBoxLayout;
    top->addLayout(left, 3);

    // A station connects or leaves.
    auto *stations = new QGroupBox(QStringLiteral("Stations"), this);
    auto *sg = new QGridLayout(stations);
    m_call = lineEdit(QStringLiteral("stationCall"), stations);
    m_call->setPlaceholderText(QStringLiteral("W1AW, VK2ABC-L, *ECHOTEST*"));
    m_name = lineEdit(QStringLiteral("stationName"), stations);
    m_addr = lineEdit(QStringLiteral("stationAddress"), stations);
    m_addr->setPlaceholderText(QStringLiteral("made up when empty"));
    sg->addWidget(buddyLabel(QStringLiteral("&Call:"), m_call, stations), 0, 0);
    sg->addWidget(m_call, 0, 1);
    sg->addWidget(buddyLabel(QStringLiteral("&Name:"), m_name, stations), 1, 0);
    sg->addWidget(m_name, 1, 1);
    sg->addWidget(buddyLabel(QStringLiteral("A&ddress:"), m_addr, stations), 2, 0);
    sg->addWidget(m_addr, 2, 1);
    auto *sb = new QHBoxLayout;
    auto *connectButton = button(QStringLiteral("connectStation"), QStringLiteral("Connect station"), stations);
    auto *disconnectButton = button(QStringLiteral("disconnectStation"), QStringLiteral("Disconnect station"), stations);
    sb->addWidget(connectButton);
    sb->addWidget(disconnectButton);
    sb->addStretch(1);
    sg->addLayout(sb, 3, 0, 1, 2);
    left->addWidget(stations);
    connect(connectButton, &QPushButton::clicked, this, &NodeConsole::connectStation);
    connect(disconnectButton, &QPushButton::clicked, this, &NodeConsole::disconnectStation);

    // The receiver and the link. The buttons stay down while the state is on.
    auto *link = new QGroupBox(QStringLiteral("Receiver and link"), this);
    auto *lg = new QGridLayout(link);
    m_carrier = button(QStringLiteral("localCarrier"), QStringLiteral("Local carrier"), link, true);
    m_carrier->setToolTip(QStringLiteral("A local station keys up: the receiver hears it (CarrierDetect)"));
    m_internet = button(QStringLiteral("internetTalking"), QStringLiteral("Internet station talking"), link, true);
    m_internet->setToolTip(QStringLiteral("A connected station talks over the internet (RX)"));
    m_linkBusy = button(QStringLiteral("linkBusy"), QStringLiteral("Link busy"), link, true);
    m_linkActive = button(QStringLiteral("linkActive"), QStringLiteral("Link active"), link, true);
    // A switch that is on must show it at a glance, whatever the style.
    link->setStyleSheet(QStringLiteral("QPushButton:checked { background-color: #f2c14e; border: 1px solid #8a6d00;"
                                       " border-radius: 3px; padding: 4px; font-weight: bold; }"));
    lg->addWidget(m_carrier, 0, 0);
    lg->addWidget(m_internet, 0, 1);
    lg->addWidget(m_linkBusy, 1, 0);
    lg->addWidget(m_linkActive, 1, 1);
    left->addWidget(link);
    connect(m_carrier, &QPushButton::clicked, this, [this](bool on) {
        if (m_node)
            m_node->localCarrier(on);
        refresh();
    });
    connect(m_internet, &QPushButton::clicked, this, [this](bool on) {
        if (m_node)
            m_node->internetTalking(on);
        refresh();
    });
    connect(m_linkBusy, &QPushButton::clicked, this, [this](bool on) {
        if (m_node)
            m_node->setLinkBusy(on);
        refresh();
    });
    connect(m_linkActive, &QPushButton::clicked, this, [this](bool on) {
        if (m_node)
            m_node->setLinkActive(on);
        refresh();
    });

    // What arrives over the air and over the internet.
    auto *incoming = new QGroupBox(QStringLiteral("DTMF and chat"), this);
    auto *ig = new QGridLayout(incoming);
    // Made in the order Tab should take: each box, then its button.
    m_dtmf = lineEdit(QStringLiteral("dtmfDigits"), incoming);
    m_dtmf->setPlaceholderText(QStringLiteral("0-9 A-D * #"));
    auto *dtmfButton = button(QStringLiteral("sendDtmf"), QStringLiteral("Send DTMF"), incoming);
    m_chat = lineEdit(QStringLiteral("chatText"), incoming);
    m_chat->setPlaceholderText(QStringLiteral("W1AW>hello"));
    auto *chatButton = button(QStringLiteral("sendChat"), QStringLiteral("Send chat"), incoming);
    ig->addWidget(buddyLabel(QStringLiteral("D&TMF:"), m_dtmf, incoming), 0, 0);
    ig->addWidget(m_dtmf, 0, 1);
    ig->addWidget(dtmfButton, 0, 2);
    ig->addWidget(buddyLabel(QStringLiteral("C&hat text:"), m_chat, incoming), 1, 0);
    ig->addWidget(m_chat, 1, 1);
    ig->addWidget(chatButton, 1, 2);
    left->addWidget(incoming);
    connect(dtmfButton, &QPushButton::clicked, this, &NodeConsole::sendDtmf);
    connect(m_dtmf, &QLineEdit::returnPressed, this, &NodeConsole::sendDtmf);
    connect(chatButton, &QPushButton::clicked, this, &NodeConsole::sendChat);
    connect(m_chat, &QLineEdit::returnPressed, this, &NodeConsole::sendChat);

    // The node itself.
    auto *self = new QGroupBox(QStringLiteral("Node"), this);
    auto *ng = new QGridLayout(self);
    m_ownCall = lineEdit(QStringLiteral("ownCallsign"), self);
    auto *setButton = button(QStringLiteral("setCallsign"), QStringLiteral("Set"), self);
    setButton->setToolTip(QStringLiteral("Set the node's own callsign"));
    setButton->setAccessibleName(QStringLiteral("Set own callsign"));
    auto *closingButton = button(QStringLiteral("nodeClosing"), QStringLiteral("Node closing"), self);
    closingButton->setToolTip(QStringLiteral("The node program closes: Mirelva ends"));
    ng->addWidget(buddyLabel(QStringLiteral("&Own callsign:"), m_ownCall, self), 0, 0);
    ng->addWidget(m_ownCall, 0, 1);
    ng->addWidget(setButton, 0, 2);
    ng->addWidget(closingButton, 1, 0, 1, 3, Qt::AlignLeft);
    left->addWidget(self);
    left->addStretch(1);
    connect(setButton, &QPushButton::clicked, this, &NodeConsole::setCallsign);
    connect(m_ownCall, &QLineEdit::returnPressed, this, &NodeConsole::setCallsign);
    connect(closingButton, &QPushButton::clicked, this, [this] {
        clearError();
        if (m_node)
            m_node->closing();
    });

    // The node as Mirelva sees it.
    auto *state = new QGroupBox(QStringLiteral("Node state"), this);
    auto *stg = new QGridLayout(state);
    m_stateCall = stateLabel(QStringLiteral("stateCallsign"), state);
    m_statePtt = stateLabel(QStringLiteral("statePtt"), state);
    m_stateKeyed = stateLabel(QStringLiteral("stateKeyed"), state);
    m_stateReceiving = stateLabel(QStringLiteral("stateReceiving"), state);
    m_stateLinkBusy = stateLabel(QStringLiteral("stateLinkBusy"), state);
    m_stateLinkActive = stateLabel(QStringLiteral("stateLinkActive"), state);
    m_stateBusy = stateLabel(QStringLiteral("stateBusy"), state);
    m_stateRts = stateLabel(QStringLiteral("stateRts"), state);
    m_stateDtr = stateLabel(QStringLiteral("stateDtr"), state);
    stg->addWidget(m_stateCall, 0, 0, 1, 2);
    stg->addWidget(m_statePtt, 1, 0);
    stg->addWidget(m_stateKeyed, 1, 1);
    stg->addWidget(m_stateReceiving, 2, 0);
    stg->addWidget(m_stateBusy, 2, 1);
    stg->addWidget(m_stateLinkBusy, 3, 0);
    stg->addWidget(m_stateLinkActive, 3, 1);
    stg->addWidget(m_stateRts, 4, 0);
    stg->addWidget(m_stateDtr, 4, 1);
    m_connected = new QListWidget(state);
    m_connected->setObjectName(QStringLiteral("connectedStations"));
    m_connected->setMinimumHeight(80);
    stg->addWidget(buddyLabel(QStringLiteral("Connected &stations:"), m_connected, state), 5, 0, 1, 2);
    stg->addWidget(m_connected, 6, 0, 1, 2);
    stg->setRowStretch(6, 1);
    top->addWidget(state, 2);
    // Picking a connected station makes it the one to disconnect.
    connect(m_connected, &QListWidget::currentTextChanged, this, [this](const QString &call) {
        if (!call.isEmpty())
            m_call->setText(call);
    });

    // What Mirelva asks of the node, and what went over the air.
    m_log = new QListWidget(this);
    m_log->setObjectName(QStringLiteral("requestLog"));
    m_log->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_log->setUniformItemSizes(true);
    m_log->setMinimumHeight(160);
    QFont mono = m_log->font();
    mono.setFamily(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::Monospace);
    m_log->setFont(mono);
    root->addWidget(buddyLabel(QStringLiteral("Requests and on-air &log:"), m_log, this));
    root->addWidget(m_log, 1);

    // Typed commands, the same ones a program without windows reads.
    auto *cmd = new QHBoxLayout;
    m_command = lineEdit(QStringLiteral("command"), this);
    m_command->setPlaceholderText(QStringLiteral("connect W1AW John, carrier on, dtmf *1*, help"));
    auto *runButton = button(QStringLiteral("runCommand"), QStringLiteral("Run"), this);
    runButton->setAccessibleName(QStringLiteral("Run command"));
    cmd->addWidget(buddyLabel(QStringLiteral("Co&mmand:"), m_command, this));
    cmd->addWidget(m_command, 1);
    cmd->addWidget(runButton);
    root->addLayout(cmd);
    connect(runButton, &QPushButton::clicked, this, &NodeConsole::runCommandLine);
    connect(m_command, &QLineEdit::returnPressed, this, &NodeConsole::runCommandLine);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setStyleSheet(QStringLiteral("color: #b00000;"));
    m_status->setWordWrap(true);
    root->addWidget(m_status);

    // Names for the controls a label does not name: the indicators speak
    // their own text.
    m_log->setAccessibleName(QStringLiteral("Requests and on-air log"));
    m_status->setAccessibleName(QStringLiteral("Command status"));
    applyAccessibleNames(this);

    resize(740, 700);
}

void NodeConsole::refresh()
{
    if (!m_node)
        return;
    const NodeState &s = m_node->state();
    showState(m_stateCall, QStringLiteral("Own callsign"), s.localStation);
    showState(m_statePtt, QStringLiteral("PTT"), onOff(m_node->ptt()), m_node->ptt());
    showState(m_stateKeyed, QStringLiteral("Transmitter"), s.transmitterKeyed ? QStringLiteral("keyed") : QStringLiteral("not keyed"),
              s.transmitterKeyed);
    showState(m_stateReceiving, QStringLiteral("Receiving"), onOff(s.receivingSignal), s.receivingSignal);
    showState(m_stateLinkBusy, QStringLiteral("Link busy"), onOff(s.linkBusy), s.linkBusy);
    showState(m_stateLinkActive, QStringLiteral("Link active"), onOff(s.linkActive));
    showState(m_stateBusy, QStringLiteral("Node busy"), onOff(m_node->busy()));
    showState(m_stateRts, QStringLiteral("RTS"), onOff(m_node->rts()));
    showState(m_stateDtr, QStringLiteral("DTR"), onOff(m_node->dtr()));

    // Rebuild the list only when it differs, so a selection survives polls.
    QStringList shown;
    for (int i = 0; i < m_connected->count(); ++i)
        shown << m_connected->item(i)->text();
    if (shown != s.connected) {
        const QString current = m_connected->currentItem() ? m_connected->currentItem()->text() : QString();
        const QSignalBlocker block(m_connected);
        m_connected->clear();
        m_connected->addItems(s.connected);
        const auto again = m_connected->findItems(current, Qt::MatchExactly);
        if (!again.isEmpty())
            m_connected->setCurrentItem(again.first());
    }

    m_carrier->setChecked(m_node->carrierOn());
    m_internet->setChecked(m_node->internetTalkingOn());
    m_linkBusy->setChecked(s.linkBusy);
    m_linkActive->setChecked(s.linkActive);
}

void NodeConsole::appendLog(const QString &text, const QDateTime &when)
{
    addLine(when.toString(QLatin1String(kTimeFormat)) + QStringLiteral("  ") + text);
}

void NodeConsole::addLine(const QString &line)
{
    QScrollBar *bar = m_log->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    m_log->addItem(OnAirLog::escaped(line));
    while (m_log->count() > kMaxLogLines)
        delete m_log->takeItem(0);
    // Follow new lines unless the operator scrolled back to read.
    if (atEnd)
        m_log->scrollToBottom();
}

void NodeConsole::onAirLine(const QString &stamped)
{
    // "yyyy-MM-dd HH:mm:ss.zzz text": requests are shown from the node's own
    // records, so only what they do not tell is taken from here.
    static const QRegularExpression re(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d (\\d\\d:\\d\\d:\\d\\d\\.\\d{3}) (.*)$"),
                                       QRegularExpression::DotMatchesEverythingOption);
    const auto m = re.match(stamped);
    if (!m.hasMatch()) {
        appendLog(stamped);
        return;
    }
    const QString text = m.captured(2);
    if (text.startsWith(QLatin1String("request ")))
        return;
    addLine(m.captured(1) + QStringLiteral("  ") + text);
}

QStringList NodeConsole::logLines() const
{
    QStringList l;
    l.reserve(m_log->count());
    for (int i = 0; i < m_log->count(); ++i)
        l << m_log->item(i)->text();
    return l;
}

void NodeConsole::showError(const QString &text) { m_status->setText(text); }

void NodeConsole::clearError() { m_status->clear(); }

void NodeConsole::connectStation()
{
    if (!m_node)
        return;
    const QString call = m_call->text().trimmed().toUpper();
    if (!NodeCommands::isCall(call))
        return showError(call.isEmpty() ? QStringLiteral("Type the call of the station that connects.")
                                        : QStringLiteral("\"%1\" is not a callsign.").arg(call));
    if (m_node->state().connected.contains(call))
        return showError(QStringLiteral("%1 is connected already.").arg(call));
    if (m_node->busy())
        return showError(QStringLiteral("The node is marked busy and turns %1 away.").arg(call));
    clearError();
    QString addr = m_addr->text().trimmed();
    if (addr.isEmpty())
        addr = SimulatedNode::documentationAddress(call);
    m_node->stationConnects(call, m_name->text().trimmed(), addr);
}

void NodeConsole::disconnectStation()
{
    if (!m_node)
        return;
    const QString call = m_call->text().trimmed().toUpper();
    if (!m_node->state().connected.contains(call))
        return showError(call.isEmpty() ? QStringLiteral("Type or pick the call of the station that disconnects.")
                                        : QStringLiteral("%1 is not connected.").arg(call));
    clearError();
    m_node->stationDisconnects(call);
}

void NodeConsole::sendDtmf()
{
    if (!m_node)
        return;
    const QString digits = m_dtmf->text().trimmed().toUpper();
    if (!NodeCommands::isDtmf(digits))
        return showError(QStringLiteral("DTMF takes the digits 0-9, A-D, * and #."));
    clearError();
    m_node->dtmf(digits);
}

void NodeConsole::sendChat()
{
    if (!m_node)
        return;
    const QString text = m_chat->text();
    if (text.trimmed().isEmpty())
        return showError(QStringLiteral("Type the chat text first."));
    clearError();
    m_node->chat(text);
    m_chat->clear();
}

void NodeConsole::setCallsign()
{
    if (!m_node)
        return;
    const QString call = m_ownCall->text().trimmed().toUpper();
    if (!NodeCommands::isCall(call))
        return showError(QStringLiteral("\"%1\" is not a callsign.").arg(m_ownCall->text()));
    clearError();
    m_node->setLocalStation(call);
}

bool NodeConsole::runCommand(const QString &line, QString *error)
{
    QStringList output;
    QString why;
    const bool ok = NodeCommands::run(m_node, line, &why, &output);
    for (const QString &l : std::as_const(output))
        appendLog(l);
    if (ok)
        clearError();
    else
        showError(why);
    if (error)
        *error = why;
    return ok;
}

void NodeConsole::runCommandLine()
{
    if (runCommand(m_command->text(), nullptr))
        m_command->clear();
}

void NodeConsole::placeBeside(QWidget *w)
{
    if (!w)
        return;
    // Until the console is shown its frame is not known; the window manager
    // gives it the one it gave w.
    const QRect outer = w->frameGeometry();
    const QRect inner = w->geometry();
    const QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                         outer.bottom() - inner.bottom());
    // Its layout keeps it no smaller than its least size once shown.
    const QSize least = minimumSizeHint().expandedTo(minimumSize()).grownBy(frame);
    const QSize size = this->size().grownBy(frame).expandedTo(least);
    QList<QRect> screens;
    for (const QScreen *screen : QGuiApplication::screens())
        screens << screen->availableGeometry();
    const QRect to = besideFrame(outer, size, least, screens);
    resize(to.size().shrunkBy(frame));
    moveFrameTo(this, to.topLeft());
}

} // namespace mirelva
