#pragma once

#include <QObject>

namespace mirelva::radio {

struct VoxSettings {
    double thresholdDbfs = -30;  // a sine reaching full scale is 0 dBFS
    int attackMs = 50;           // this long above the threshold before the squelch opens
    int hangMs = 700;            // this long below it before it closes
};

// The squelch by the receiver's audio, made for speech on a noisy receiver:
// the level is taken in the speech band (300..3000 Hz), so hum and the hiss
// above the voice do not count; it must stay above the threshold for the
// whole attack time (a click or a burst of static does not open it); once
// open, 3 dB less keeps it open, and the hang time carries it over the gaps
// between words.
class Vox : public QObject {
    Q_OBJECT
public:
    explicit Vox(VoxSettings s, int sampleRate = 8000, QObject *parent = nullptr);
    void feed(const float *samples, int count);
    bool open() const { return m_open; }

    static constexpr int kBlockMs = 10;
    static constexpr int kMeterMs = 250;
    static constexpr double kHysteresisDb = 3;

signals:
    void changed(bool open);
    // The loudest 10 ms of the last quarter second, for setting the threshold.
    void meter(double dbfs);

private:
    struct Biquad {
        double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0, z1 = 0, z2 = 0;
        double run(double x);
    };
    void block(double dbfs);

    VoxSettings m_settings;
    Biquad m_highPass, m_lowPass;
    int m_blockSamples;
    int m_inBlock = 0;
    double m_sum = 0;
    double m_smoothed = 0;       // mean square, smoothed over a few blocks
    int m_aboveMs = 0;
    int m_belowMs = 0;
    int m_meterMs = 0;
    double m_meterPeak = -120;
    bool m_open = false;
};

} // namespace mirelva::radio
