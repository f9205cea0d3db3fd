#include "core/speechvoice.h"

#include <algorithm>

#include "core/speechengine.h"

namespace mirelva {

void SpeechVoice::Speak(const QString &text, int flags)
{
    for (const auto &l : m_listeners)
        l(text, flags);
    if (!(flags & SVSFlagsAsync))
        m_cut = false;
    play(text, flags);
}

void SpeechVoice::setRate(int rate) { m_rate = std::clamp(rate, -10, 10); }
void SpeechVoice::setVolume(int volume) { m_volume = std::clamp(volume, 0, 100); }

RenderedSpeech renderSpeech(const QString &text, int rate, int volume) { return speechengine::synthesize(text, rate, volume); }

QByteArray speechWav(const RenderedSpeech &speech, int toRate)
{
    return speechengine::wavFile(speechengine::resampled(speech, toRate));
}

} // namespace mirelva
