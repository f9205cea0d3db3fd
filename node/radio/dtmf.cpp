#include "node/radio/dtmf.h"

#include <spandsp.h>

#include <algorithm>
#include <cmath>

namespace mirelva::radio {

DtmfDecoder::DtmfDecoder(int sampleRate, QObject *parent)
    : QObject(parent), m_rx(dtmf_rx_init(nullptr, &DtmfDecoder::received, this)), m_rate(std::max(1, sampleRate))
{
}

DtmfDecoder::~DtmfDecoder()
{
    if (m_rx)
        dtmf_rx_free(m_rx);
}

void DtmfDecoder::received(void *self, const char *digits, int len)
{
    auto *decoder = static_cast<DtmfDecoder *>(self);
    for (int i = 0; i < len; ++i)
        emit decoder->digit(QChar::fromLatin1(digits[i]));
}

void DtmfDecoder::feed(const float *samples, int count)
{
    if (!m_rx || count <= 0)
        return;
    auto toShort = [](float f) { return short(std::lround(std::clamp(f, -1.0f, 1.0f) * 32767.0f)); };
    m_buffer.clear();
    if (m_rate == 8000) {
        m_buffer.reserve(size_t(count));
        for (int i = 0; i < count; ++i)
            m_buffer.push_back(toShort(samples[i]));
    } else {
        // Linear interpolation between the last sample and the next; the
        // band DTMF lives in is far below either rate's limit.
        const double step = double(m_rate) / 8000.0;
        for (int i = 0; i < count; ++i) {
            while (m_position <= 1.0) {
                m_buffer.push_back(toShort(float(m_last + (samples[i] - m_last) * m_position)));
                m_position += step;
            }
            m_position -= 1.0;
            m_last = samples[i];
        }
    }
    dtmf_rx(m_rx, m_buffer.data(), int(m_buffer.size()));
}

DtmfCollector::DtmfCollector(int pauseMs, QObject *parent) : QObject(parent)
{
    m_pause.setSingleShot(true);
    m_pause.setInterval(std::max(0, pauseMs));
    connect(&m_pause, &QTimer::timeout, this, &DtmfCollector::flush);
}

void DtmfCollector::digit(QChar d)
{
    m_digits += d;
    if (m_pause.interval() > 0)
        m_pause.start();
}

void DtmfCollector::squelchClosed() { flush(); }

void DtmfCollector::flush()
{
    m_pause.stop();
    if (m_digits.isEmpty())
        return;
    const QString digits = m_digits;
    m_digits.clear();
    emit collected(digits);
}

} // namespace mirelva::radio
