#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <random>

#include "node/radio/dtmf.h"
#include "node/radio/morse.h"
#include "node/radio/vox.h"

using namespace mirelva::radio;

namespace {

constexpr int kRate = 8000;

// Receiver audio: a voice (harmonics of 140 Hz under a 4 Hz syllable
// envelope that dips 14 dB between syllables) at `speechDb` and white hiss
// at `noiseDb`, both dBFS as the VOX counts them (a full-scale sine is 0).
std::vector<float> receiver(double seconds, double speechDb, double noiseDb, unsigned seed = 1)
{
    const int n = int(seconds * kRate);
    std::vector<float> voice(size_t(n), 0.0f);
    double power = 0;
    for (int i = 0; i < n; ++i) {
        const double t = double(i) / kRate;
        double v = 0;
        for (int k = 2; k <= 20; ++k)
            v += std::sin(2 * M_PI * 140 * k * t + k) / std::sqrt(double(k));
        v *= 0.2 + 0.8 * std::fabs(std::sin(M_PI * 4 * t));
        voice[size_t(i)] = float(v);
        power += v * v;
    }
    const double voiceScale = speechDb > -200 ? std::pow(10, speechDb / 20) / std::sqrt(2 * power / n) : 0;
    std::mt19937 rng(seed);
    std::normal_distribution<double> hiss(0, std::pow(10, noiseDb / 20) / std::sqrt(2.0));
    std::vector<float> out(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        out[size_t(i)] = float(voice[size_t(i)] * voiceScale + hiss(rng));
    return out;
}

std::vector<float> dtmf(const QString &digits)
{
    static const QString keys = "123A456B789C*0#D";
    static const int rows[] = {697, 770, 852, 941}, cols[] = {1209, 1336, 1477, 1633};
    std::vector<float> out;
    for (QChar d : digits) {
        const int k = int(keys.indexOf(d));
        for (int i = 0; i < kRate / 10; ++i) {
            const double t = double(i) / kRate;
            out.push_back(float(0.25 * std::sin(2 * M_PI * rows[k / 4] * t) + 0.25 * std::sin(2 * M_PI * cols[k % 4] * t)));
        }
        out.insert(out.end(), kRate / 10, 0.0f);
    }
    return out;
}

} // namespace

class TestRadioAudio : public QObject {
    Q_OBJECT
private slots:
    // The VOX opens once on speech over the receiver's hiss, stays open
    // between syllables, closes a hang time after the voice ends, and never
    // opens on the hiss alone 20 dB below the speech.
    void vox_data()
    {
        QTest::addColumn<double>("speechDb");
        QTest::addColumn<double>("noiseDb");
        QTest::addColumn<QList<bool>>("changes");
        QTest::newRow("speech over hiss") << -22.0 << -42.0 << QList<bool>{true, false};
        QTest::newRow("hiss alone") << -300.0 << -42.0 << QList<bool>{};
        QTest::newRow("quiet speech") << -28.0 << -48.0 << QList<bool>{true, false};
    }
    void vox()
    {
        QFETCH(double, speechDb);
        QFETCH(double, noiseDb);
        QFETCH(QList<bool>, changes);
        Vox vox(VoxSettings{});
        QSignalSpy changed(&vox, &Vox::changed);
        QSignalSpy meter(&vox, &Vox::meter);
        const auto hiss = receiver(1, -300, noiseDb, 7);
        const auto talk = receiver(3, speechDb, noiseDb);
        vox.feed(hiss.data(), int(hiss.size()));
        QCOMPARE(changed.count(), 0);
        vox.feed(talk.data(), kRate / 5);   // 200 ms: past the attack time
        QCOMPARE(vox.open(), !changes.isEmpty());
        vox.feed(talk.data() + kRate / 5, int(talk.size()) - kRate / 5);
        QCOMPARE(vox.open(), !changes.isEmpty());
        vox.feed(hiss.data(), kRate * 6 / 10);   // inside the 700 ms hang
        QCOMPARE(vox.open(), !changes.isEmpty());
        vox.feed(hiss.data() + kRate * 6 / 10, kRate * 4 / 10);
        QList<bool> seen;
        for (const auto &c : changed)
            seen << c.at(0).toBool();
        QCOMPARE(seen, changes);
        // Four meter readings a second, the hiss's level while it is alone.
        QCOMPARE(meter.count(), 4 * 5);
        QVERIFY(std::fabs(meter.first().at(0).toDouble() - noiseDb) < 3);
    }

    // Tones the test makes are decoded by spandsp and collected into one
    // string, sent at squelch close, or after the pause.
    void dtmfCollected()
    {
        DtmfDecoder decoder;
        DtmfCollector collector(2000);
        connect(&decoder, &DtmfDecoder::digit, &collector, &DtmfCollector::digit);
        QSignalSpy collected(&collector, &DtmfCollector::collected);
        const auto tones = dtmf("*0123456789#ABCD");
        for (size_t i = 0; i < tones.size(); i += 160)
            decoder.feed(tones.data() + i, int(std::min<size_t>(160, tones.size() - i)));
        QCOMPARE(collected.count(), 0);
        QVERIFY(collector.pauseTimer().isActive());
        QCOMPARE(collector.pauseTimer().interval(), 2000);
        collector.squelchClosed();
        collector.squelchClosed();
        QCOMPARE(collected.count(), 1);
        QCOMPARE(collected.at(0).at(0).toString(), QString("*0123456789#ABCD"));

        // At 48 kHz too, resampled on the way in; and sent by the pause.
        DtmfDecoder fast(48000);
        connect(&fast, &DtmfDecoder::digit, &collector, &DtmfCollector::digit);
        std::vector<float> up;
        for (float s : dtmf("73#"))
            up.insert(up.end(), 6, s);
        fast.feed(up.data(), int(up.size()));
        collector.flush();
        QCOMPARE(collected.count(), 2);
        QCOMPARE(collected.at(1).at(0).toString(), QString("73#"));
    }

    // PARIS timing, key-down and key-up read at the middle of each unit;
    // unknown characters and extra blanks are skipped; the edges are shaped.
    void morse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("keying");   // one character per unit
        QTest::newRow("PARIS") << "paris"
                               << "1011101110100010111000101110100010100010101";
        QTest::newRow("words") << " E~  T? " << "10000000111000101011101110101";
        QTest::newRow("digits and signs") << "5/=" << "10101010100011101010111010001110101010111";
    }
    void morse()
    {
        QFETCH(QString, text);
        QFETCH(QString, keying);
        const int wpm = 20, unit = kRate * 6 / 100;   // 60 ms at 20 WPM
        const auto audio = renderMorse(text, wpm, 800, 0.5f);
        QCOMPARE(int(audio.size()), keying.size() * unit);
        QString read;
        for (int u = 0; u < keying.size(); ++u) {
            float peak = 0;
            for (int i = u * unit + unit / 3; i < u * unit + 2 * unit / 3; ++i)
                peak = std::max(peak, std::fabs(audio[size_t(i)]));
            read += peak > 0.45f ? '1' : '0';
        }
        QCOMPARE(read, keying);
        // No click: each element starts and ends at silence and takes 5 ms to rise.
        QCOMPARE(audio.front(), 0.0f);
        QVERIFY(std::fabs(audio.back()) < 0.01f);
        for (int i = 0; i < kRate / 1000; ++i)
            QVERIFY(std::fabs(audio[size_t(i)]) < 0.05f);
    }
};

QTEST_GUILESS_MAIN(TestRadioAudio)
#include "test_radio_audio.moc"
