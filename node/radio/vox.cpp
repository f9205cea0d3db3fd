#include "node/radio/vox.h"

#include <algorithm>
#include <cmath>

namespace mirelva::radio {

namespace {

constexpr double kFloorDb = -120;

// Audio EQ cookbook filters, Q = 1/sqrt(2).
void design(double f0, int rate, bool highPass, double *b, double *a)
{
    const double w = 2 * M_PI * f0 / rate;
    const double alpha = std::sin(w) / (2 * M_SQRT1_2);
    const double c = std::cos(w);
    const double a0 = 1 + alpha;
    const double k = highPass ? (1 + c) / 2 : (1 - c) / 2;
    b[0] = k / a0;
    b[1] = (highPass ? -2 * k : 2 * k) / a0;
    b[2] = k / a0;
    a[0] = -2 * c / a0;
    a[1] = (1 - alpha) / a0;
}

} // namespace

double Vox::Biquad::run(double x)
{
    const double y = b0 * x + z1;
    z1 = b1 * x - a1 * y + z2;
    z2 = b2 * x - a2 * y;
    return y;
}

Vox::Vox(VoxSettings s, int sampleRate, QObject *parent)
    : QObject(parent), m_settings(s), m_blockSamples(std::max(1, sampleRate * kBlockMs / 1000))
{
    double b[3], a[2];
    design(300, sampleRate, true, b, a);
    m_highPass = {b[0], b[1], b[2], a[0], a[1]};
    design(std::min(3000.0, sampleRate * 0.45), sampleRate, false, b, a);
    m_lowPass = {b[0], b[1], b[2], a[0], a[1]};
}

void Vox::feed(const float *samples, int count)
{
    for (int i = 0; i < count; ++i) {
        const double y = m_lowPass.run(m_highPass.run(samples[i]));
        m_sum += y * y;
        if (++m_inBlock < m_blockSamples)
            continue;
        // A one-pole average over about 30 ms: speech's pitch periods and
        // white noise's chance peaks both even out.
        const double meanSquare = m_sum / m_inBlock;
        m_smoothed += (meanSquare - m_smoothed) * (1.0 - std::exp(-double(kBlockMs) / 30.0));
        m_sum = 0;
        m_inBlock = 0;
        block(m_smoothed > 0 ? std::max(kFloorDb, 10 * std::log10(2 * m_smoothed)) : kFloorDb);
    }
}

void Vox::block(double dbfs)
{
    m_meterPeak = std::max(m_meterPeak, dbfs);
    m_meterMs += kBlockMs;
    if (m_meterMs >= kMeterMs) {
        emit meter(m_meterPeak);
        m_meterMs = 0;
        m_meterPeak = kFloorDb;
    }

    if (!m_open) {
        m_aboveMs = dbfs >= m_settings.thresholdDbfs ? m_aboveMs + kBlockMs : 0;
        if (m_aboveMs >= std::max(m_settings.attackMs, kBlockMs)) {
            m_open = true;
            m_belowMs = 0;
            emit changed(true);
        }
        return;
    }
    m_belowMs = dbfs >= m_settings.thresholdDbfs - kHysteresisDb ? 0 : m_belowMs + kBlockMs;
    if (m_belowMs > m_settings.hangMs) {
        m_open = false;
        m_aboveMs = 0;
        emit changed(false);
    }
}

} // namespace mirelva::radio
