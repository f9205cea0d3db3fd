#pragma once

#include <QPointer>
#include <QWidget>

#include "node/simulated/simulatednode.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace mirelva {

// The operator's hands on the built-in node: fires the node's events (a
// station connects, a local carrier, an internet station talks, DTMF, chat,
// the node closes), shows the node's state live, and lists what Mirelva asks
// of the node together with what went over the air.
class NodeConsole : public QWidget {
    Q_OBJECT
public:
    explicit NodeConsole(SimulatedNode *node, QWidget *parent = nullptr);

    // Puts the console where it covers nothing of w: beside it, else below
    // it, else cascaded from it, with its title bar on w's screen. Called
    // before show(), so the console opens there rather than jumping.
    void placeBeside(QWidget *w);

    // Runs one text command (see NodeCommands); what it prints goes to the
    // log. False with *error set on a bad command.
    bool runCommand(const QString &line, QString *error);

    // The log keeps this many lines; older ones drop off the top.
    static constexpr int kMaxLogLines = 2000;
    QStringList logLines() const;

private:
    void build();
    void refresh();
    void appendLog(const QString &text, const QDateTime &when = QDateTime::currentDateTime());
    void addLine(const QString &line);
    void onAirLine(const QString &stamped);
    void showError(const QString &text);
    void clearError();

    void connectStation();
    void disconnectStation();
    void sendDtmf();
    void sendChat();
    void setCallsign();
    void runCommandLine();

    QPointer<SimulatedNode> m_node;

    QLineEdit *m_call = nullptr;
    QLineEdit *m_name = nullptr;
    QLineEdit *m_addr = nullptr;
    QPushButton *m_carrier = nullptr;
    QPushButton *m_internet = nullptr;
    QPushButton *m_linkBusy = nullptr;
    QPushButton *m_linkActive = nullptr;
    QLineEdit *m_dtmf = nullptr;
    QLineEdit *m_chat = nullptr;
    QLineEdit *m_ownCall = nullptr;
    QLineEdit *m_command = nullptr;
    QLabel *m_status = nullptr;

    QLabel *m_stateCall = nullptr;
    QLabel *m_statePtt = nullptr;
    QLabel *m_stateKeyed = nullptr;
    QLabel *m_stateReceiving = nullptr;
    QLabel *m_stateLinkBusy = nullptr;
    QLabel *m_stateLinkActive = nullptr;
    QLabel *m_stateBusy = nullptr;
    QLabel *m_stateRts = nullptr;
    QLabel *m_stateDtr = nullptr;
    QListWidget *m_connected = nullptr;
    QListWidget *m_log = nullptr;
};

} // namespace mirelva
