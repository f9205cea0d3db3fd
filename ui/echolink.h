#pragma once

#include <QObject>
#include <QString>

#include "core/nodebackend.h"

namespace mirelva {

// A window's own EchoLink instance: the operations and events the windows
// were written against, all bound to the one node backend. Every event reaches
// the instances in the order they were created; once the program has ended no
// instance delivers anything more. Every request goes to the on-air log.
class EchoLink : public QObject {
    Q_OBJECT
public:
    EchoLink(NodeBackend *node, const QString &owner, QObject *parent = nullptr);

    void Connect(const QString &call, bool flag = true);
    void Disconnect(const QString &call);
    void DisconnectAll();
    void SetPTT(bool on);
    bool LinkActive() const;
    bool ReceivingSignal() const;
    bool TransmitterKeyed() const;
    bool LinkBusy() const;
    void SendCW(bool flag, const QString &text);
    bool IsConnected(const QString &call) const;
    // The first member of the node's station record: its own callsign.
    QString LocalStation() const;
    void SetBusy(bool on);
    void SetRTS(bool on);
    void SetDTR(bool on);
    // Whether the node took the text: false when it cannot send chat texts
    // or cannot be reached, and the on-air log says so.
    bool SendChatText(const QString &text);
    // Why a chat text was not sent, in the words the windows show.
    QString chatRefusal() const;

    // The automation time-outs of the Windows program: a node request here
    // never blocks, so there is nothing to wait for. Kept so call sites read
    // as the handlers were written.
    void setAutomationTimeouts(int ms = 900000) { m_timeoutMs = ms; }

    NodeBackend *node() const { return m_node; }

signals:
    void connected(const QString &sCallConnected, const QString &sName, const QString &sAddr);
    void Disconnected(const QString &sCall);
    void RX(bool bRX);
    void CarrierDetect(bool bCD);
    void DTMFString(const QString &sDigits);
    void ChatTextReceived(const QString &sText);
    void Closing();

private:
    // False when the request was not handed to the node.
    bool send(const NodeRequest &r);

    NodeBackend *m_node;
    QString m_owner;
    int m_timeoutMs = 900000;
};

} // namespace mirelva
