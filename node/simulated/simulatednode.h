#pragma once

#include <functional>

#include <QDateTime>
#include <QDeadlineTimer>
#include <QVector>

#include "core/nodebackend.h"

class QTimer;

namespace mirelva {

// A model of a node that answers like one: the built-in default backend, the
// heart of the stand-alone mirelva-node, and the node every test drives.
// It records every request it is given, with the local time, and keeps the
// newest kRecordsKept of them: a station runs for weeks.
//
// How it answers:
// - Connect, Disconnect and DisconnectAll are answered after the answer delay
//   with `connected` / `Disconnected`; the list of connected stations changes
//   first. Calls are taken trimmed and in capitals, as a node shows them. A
//   connect to a station already connected, to "LOCAL", to the node itself or
//   to an empty call makes no connection and raises nothing.
// - SetPTT keys the transmitter. SendCW keys it for as long as the Morse
//   lasts (a second text queues behind the first) and unkeys it afterwards
//   unless PTT is held; a text with nothing to send keys nothing.
// - SetBusy marks the node busy the way a node shows "busy" to the network:
//   stations calling in are turned away. It does not refuse our own Connect
//   requests, since a net is started by marking the node busy and then
//   connecting to the net. LinkBusy is a different thing: the link passing
//   traffic, driven by a local carrier or an internet station talking.
// - SetRTS / SetDTR remember the line; SendChatText and Speech are recorded.
class SimulatedNode : public NodeBackend {
    Q_OBJECT
public:
    explicit SimulatedNode(QObject *parent = nullptr);

    QString describe() const override { return QStringLiteral("built-in simulated node"); }
    void request(const NodeRequest &r) override;

    struct Record {
        QDateTime when;
        NodeRequest request;
    };
    static constexpr qsizetype kRecordsKept = 10000;
    const QVector<Record> &records() const { return m_records; }
    QStringList requestTexts() const;     // toText() of every record, in order
    void clearRecords() { m_records.clear(); }

    bool rts() const { return m_rts; }
    bool dtr() const { return m_dtr; }
    bool busy() const { return m_busy; }
    bool ptt() const { return m_ptt; }
    bool carrierOn() const { return m_carrier; }
    bool internetTalkingOn() const { return m_internet; }

    // How long the node takes to answer a Connect, Disconnect or DisconnectAll
    // with its event. 0 answers at the next turn of the event loop.
    void setAnswerDelayMs(int ms) { m_answerDelayMs = ms < 0 ? 0 : ms; }
    int answerDelayMs() const { return m_answerDelayMs; }
    // Morse speed used to work out how long SendCW keys the transmitter.
    void setMorseWpm(int wpm) { m_wpm = wpm < 1 ? 1 : wpm; }
    int morseWpm() const { return m_wpm; }
    // PARIS timing, one unit 1200/wpm ms: dot 1, dash 3, 1 between the
    // elements of a character, 3 between characters, 7 for each run of
    // blanks between words. Blanks at either end send nothing, and
    // characters without a Morse code are skipped. "PARIS" is 43 units.
    static int morseDurationMs(const QString &text, int wpm);
    static int morseUnits(const QString &text);

    // Whether Morse is being sent now, and a way to let it run out at once
    // (tests, and anyone who does not want to wait for it).
    bool morseSending() const { return m_morseRunning > 0; }
    void finishMorse();

    // The address a station gets when none is given: one of the addresses
    // reserved for documentation, the same for the same call.
    static QString documentationAddress(const QString &call);

    // The scene, set by the console and by tests. Each change of state is
    // visible before the event it leads to is raised.
    void setLocalStation(const QString &call);
    void setLinkActive(bool on);
    void setLinkBusy(bool on);
    void setReceivingSignal(bool on);
    void setTransmitterKeyed(bool on);
    // The requests the node says it carries out; it plays a node that lacks
    // some (SvxLink has no chat) when told to.
    void setCarries(const QStringList &ops);
    // Plays a node whose PTT line is gone (empty: back).
    void setPttProblem(const QString &problem);
    void stationConnects(const QString &call, const QString &name, const QString &addr);
    void stationDisconnects(const QString &call);
    void localCarrier(bool on);          // CarrierDetect; the receiver hears it
    void internetTalking(bool on);       // RX; the link is busy passing it
    void dtmf(const QString &digits);
    void chat(const QString &text);
    void closing();

signals:
    void recorded(const SimulatedNode::Record &record);
    // Something the node did on its own that no event reports, such as
    // turning a caller away while busy.
    void note(const QString &text);
    // Said just before each event is raised, so a log shows the event ahead
    // of whatever the windows do about it.
    void raising(const QString &description);

private:
    void setStateFlag(bool NodeState::*flag, bool on);
    void answerLater(std::function<void()> answer);
    void endMorse();
    void updateKeyed();
    void setFlag(bool &flag, bool on);
    void addStation(const QString &call, const QString &name, const QString &addr);
    void removeStation(const QString &call);

    QVector<Record> m_records;
    bool m_rts = false;
    bool m_dtr = false;
    bool m_busy = false;
    bool m_ptt = false;
    bool m_carrier = false;
    bool m_internet = false;
    int m_answerDelayMs = 500;
    int m_wpm = 20;
    int m_morseRunning = 0;
    QTimer *m_morseTimer = nullptr;
    QDeadlineTimer m_morseEnds;
};

} // namespace mirelva
