#pragma once

#include <memory>

#include <QElapsedTimer>
#include <QSet>
#include <QTimer>

#include "core/nodebackend.h"
#include "node/echolink/echolinkconfig.h"
#include "node/echolink/txkeyer.h"
#include "node/radio/dtmf.h"
#include "node/radio/lines.h"
#include "node/radio/vox.h"

namespace mirelva {

// Mirelva's own EchoLink node, on its own protocol (node/echolink/protocol)
// and audio (node/echolink/audio): the directory login and status, connects
// by callsign through the directory, stations calling in (checked against
// the directory), chat, and the radio as a conference: the receiver's audio
// to the stations while the squelch is open, one talker at a time heard by
// the transmitter and every other station, Mirelva's speech and Morse to
// the transmitter and the stations, keyed for as long as anything goes out
// and TXHANG after it, never past TXTIMEOUT.
class EchoLinkNode : public NodeBackend {
    Q_OBJECT
public:
    explicit EchoLinkNode(EchoLinkConfig config, QObject *parent = nullptr);
    ~EchoLinkNode() override;

    // Opens the EchoLink ports and the sound devices and logs in to the
    // directory. False, with the reason, when the ports cannot be had.
    bool start(QString *error);
    // Ends every QSO, goes offline in the directory, releases the
    // transmitter and raises Closing; finished() follows once the
    // directory has heard it (at most a few seconds).
    void stop();

    QString describe() const override;
    const EchoLinkConfig &config() const { return m_config; }
    bool transmitterKeyed() const { return m_keyed; }

signals:
    void finished();
    // The VOX's level of the receiver's audio, a few times a second.
    void voxMeter(double dbfs);

protected:
    void request(const NodeRequest &r) override;

private:
    struct Engine;
    friend struct Engine;

    void apply(const std::function<void(NodeState &)> &change);
    void say(const QString &text);
    void sayOnce(const QString &kind, const QString &text);
    void tellConnectFailure(ConnectFailure why, const QString &call, const QString &detail = QString());
    void updatePtt();
    void applyKeying();
    void finish();
    void playSpeech(const QString &text, int rate, int volume);
    void sendCw(const QString &text);
    void openLines();
    void squelch(bool open);
    void receiverAudio(const float *samples, int count);

    EchoLinkConfig m_config;
    std::unique_ptr<Engine> d;
    bool m_keyed = false;
    bool m_stopping = false;
    bool m_finished = false;
    bool m_toldTimeout = false;
    TxKeyer m_keyer;
    QTimer m_keyerTimer;          // the keyer's next deadline
    QElapsedTimer m_clock;
    QSet<QString> m_saidOnce;
    std::unique_ptr<radio::OutputLine> m_ptt;
    std::unique_ptr<radio::OutputLine> m_rts;
    std::unique_ptr<radio::OutputLine> m_dtr;
    std::unique_ptr<radio::InputLine> m_sqlLine;
    std::unique_ptr<radio::Vox> m_vox;
    radio::DtmfDecoder m_dtmf;
    radio::DtmfCollector m_dtmfDigits;
    bool m_squelchOpen = false;
    bool m_rxHeard = false;
    QTimer m_rxWatch;
};

} // namespace mirelva
