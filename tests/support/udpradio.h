#pragma once

#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>

#include <cmath>
#include <functional>
#include <utility>
#include <vector>

namespace mirelva::test {

// Of the 20 ms blocks of `samples` (at `rate`) from `from` on, those louder
// than -40 dBFS, and of these the ones mostly at `hz`.
inline std::pair<int, int> loudBlocks(const std::vector<float> &samples, size_t from, int rate, double hz)
{
    const size_t n = size_t(rate) / 50;
    int loud = 0, atHz = 0;
    for (size_t b = from; b + n <= samples.size(); b += n) {
        double power = 0, re = 0, im = 0;
        for (size_t i = 0; i < n; ++i) {
            const double s = samples[b + i];
            power += s * s;
            re += s * std::cos(2 * M_PI * hz * double(i) / rate);
            im += s * std::sin(2 * M_PI * hz * double(i) / rate);
        }
        if (power / double(n) < 1e-4)
            continue;
        ++loud;
        if ((re * re + im * im) * 2 / double(n) > 0.5 * power)
            ++atHz;
    }
    return {loud, atHz};
}

// A node's radio on UDP sound devices in libasyncaudio's form (16-bit little-endian,
// `channels` interleaved; the radio is on the first): the receiver is fed
// 20 ms of samples every 20 ms, silence unless something is queued (a node's
// audio path stalls without samples), and what the transmitter sends on the
// first channel is kept. SvxLink opens its devices with two channels,
// mirelva-echolink with one.
class UdpRadio : public QObject {
public:
    explicit UdpRadio(int sampleRate, int channelCount = 1) : rate(sampleRate), channels(channelCount) {}

    bool open(QString *why)
    {
        const QHostAddress local(QStringLiteral("127.0.0.1"));
        if (!m_tx.bind(local, 0)) {
            *why = QStringLiteral("cannot bind a UDP port for the transmitter's audio");
            return false;
        }
        txPort = m_tx.localPort();
        m_since.start();
        {
            QUdpSocket probe;
            probe.bind(local, 0);
            rxPort = probe.localPort();
        }
        connect(&m_tx, &QUdpSocket::readyRead, this, [this] {
            while (m_tx.hasPendingDatagrams()) {
                const QByteArray d = m_tx.receiveDatagram().data();
                if (onTx)
                    onTx(d);
                double power = 0;
                for (qsizetype i = 0; i + 1 < d.size(); i += 2 * channels) {
                    const double v = qFromLittleEndian<qint16>(d.constData() + i) / 32768.0;
                    power += v * v;
                }
                if (d.size() >= 2 && power / double(d.size() / 2 / channels) > 1e-4)
                    m_lastLoud = m_since.elapsed();
                if (keepTx)
                    for (qsizetype i = 0; i + 1 < d.size(); i += 2 * channels)
                        out.push_back(qFromLittleEndian<qint16>(d.constData() + i) / 32768.0f);
            }
        });
        connect(&m_feed, &QTimer::timeout, this, [this, local] {
            const qsizetype block = rate / 50 * 2 * channels;
            QByteArray d = m_queued.left(block);
            m_queued.remove(0, d.size());
            d.append(QByteArray(block - d.size(), '\0'));
            m_rx.writeDatagram(d, local, rxPort);
        });
        m_feed.setTimerType(Qt::PreciseTimer);
        m_feed.start(20);
        return true;
    }
    void stop() { m_feed.stop(); }
    // Samples into the receiver, after whatever is queued.
    void say(const std::vector<float> &samples)
    {
        for (const float s : samples) {
            char b[2];
            qToLittleEndian<qint16>(qint16(std::lround(std::clamp(s, -1.0f, 1.0f) * 32767)), b);
            m_queued.append(b, 2);
            if (channels > 1)
                m_queued.append(QByteArray(2 * (channels - 1), '\0'));
        }
    }
    bool saying() const { return !m_queued.isEmpty(); }
    // Nothing louder than -40 dBFS came out of the transmitter for `ms`.
    bool quietFor(int ms) const { return m_since.elapsed() - m_lastLoud >= ms; }

    // Of the 20 ms blocks the transmitter sent from sample `from` on, those
    // louder than -40 dBFS, and of these the ones mostly at `hz`.
    std::pair<int, int> loudBlocks(size_t from, double hz) const { return mirelva::test::loudBlocks(out, from, rate, hz); }

    const int rate;
    const int channels;
    quint16 rxPort = 0, txPort = 0;
    std::vector<float> out;        // the transmitter's samples, while keepTx
    bool keepTx = true;
    std::function<void(const QByteArray &)> onTx;

private:
    QUdpSocket m_rx, m_tx;
    QTimer m_feed;
    QByteArray m_queued;
    QElapsedTimer m_since;
    qint64 m_lastLoud = -1000000;
};

} // namespace mirelva::test
