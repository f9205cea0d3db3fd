#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <vector>

struct dtmf_rx_state_s;

namespace mirelva::radio {

// DTMF digits in the receiver's audio, found by spandsp's dtmf_rx (which
// works at 8000 Hz: other rates are resampled on the way in).
class DtmfDecoder : public QObject {
    Q_OBJECT
public:
    explicit DtmfDecoder(int sampleRate = 8000, QObject *parent = nullptr);
    ~DtmfDecoder() override;
    void feed(const float *samples, int count);

signals:
    void digit(QChar d);

private:
    static void received(void *self, const char *digits, int len);
    dtmf_rx_state_s *m_rx;
    int m_rate;
    double m_position = 0;       // resampling: where the next output sample falls
    float m_last = 0;
    std::vector<short> m_buffer;
};

// Digits into one string, sent when the squelch closes or when no new digit
// came for the pause time (0: only at squelch close). Nothing is sent for
// no digits.
class DtmfCollector : public QObject {
    Q_OBJECT
public:
    explicit DtmfCollector(int pauseMs, QObject *parent = nullptr);
    void digit(QChar d);
    void squelchClosed();
    // Sends what was collected now: what the pause timer runs.
    void flush();
    QString pending() const { return m_digits; }
    const QTimer &pauseTimer() const { return m_pause; }

signals:
    void collected(const QString &digits);

private:
    QString m_digits;
    QTimer m_pause;
};

} // namespace mirelva::radio
