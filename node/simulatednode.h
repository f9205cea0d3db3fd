#pragma once

#include <QDateTime>
#include <QVector>

#include "core/nodebackend.h"

namespace mirelva {

// A model of a node that answers like one: the built-in default backend, the
// heart of the stand-alone mirelva-node, and the node every test drives.
// It records every request it is given, with the local time.
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
    const QVector<Record> &records() const { return m_records; }
    QStringList requestTexts() const;     // toText() of every record, in order
    void clearRecords() { m_records.clear(); }

    bool rts() const { return m_rts; }
    bool dtr() const { return m_dtr; }
    bool busy() const { return m_busy; }
    bool ptt() const { return m_ptt; }

    // How long the node takes to answer a Connect, Disconnect or DisconnectAll
    // with its event. 0 answers at the next turn of the event loop.
    void setAnswerDelayMs(int ms) { m_answerDelayMs = ms; }
    // Morse speed used to work out how long SendCW keys the transmitter.
    void setMorseWpm(int wpm) { m_wpm = wpm; }
    static int morseDurationMs(const QString &text, int wpm);

    // The scene, set by the console and by tests. Each change of state is
    // visible before the event it leads to is raised.
    void setLocalStation(const QString &call);
    void setLinkActive(bool on);
    void setLinkBusy(bool on);
    void setReceivingSignal(bool on);
    void setTransmitterKeyed(bool on);
    void stationConnects(const QString &call, const QString &name, const QString &addr);
    void stationDisconnects(const QString &call);
    void localCarrier(bool on);          // CarrierDetect; the receiver hears it
    void internetTalking(bool on);       // RX; the link is busy passing it
    void dtmf(const QString &digits);
    void chat(const QString &text);
    void closing();

signals:
    void recorded(const SimulatedNode::Record &record);

private:
    void answerLater(std::function<void()> answer);
    void endMorse();

    QVector<Record> m_records;
    bool m_rts = false;
    bool m_dtr = false;
    bool m_busy = false;
    bool m_ptt = false;
    int m_answerDelayMs = 500;
    int m_wpm = 20;
    int m_morseRunning = 0;
};

} // namespace mirelva
