#pragma once

#include <QString>

#include "core/speechvoice.h"

namespace mirelva {

// The speech voice over espeak-ng, played on an ALSA PCM device. With no
// sound device a blocking Speak still takes the audio's length, so keying
// around it stays the same. Optionally every text is also kept as a WAV file.
class EspeakVoice : public SpeechVoice {
public:
    // The engine loads its data on a thread of its own, at once or, with
    // EngineStart::Later, when startEngine() is called: the program starts
    // it after its window has been painted, so the two do not share the
    // processor. A Speak before that loads it then; the first one waits for it.
    enum class EngineStart { Now, Later };
    EspeakVoice(const QString &alsaDevice, const QString &recordDir, EngineStart start = EngineStart::Now);
    ~EspeakVoice() override;
    void startEngine();

    // True while asynchronous speech is queued or playing.
    bool isSpeaking() const;

    // The device is tried when the voice starts and at every play; the
    // problem clears when a play goes out whole.
    QString soundProblem() const override;

protected:
    void play(const QString &text, int flags) override;

private:
    struct Impl;
    Impl *d;
};

} // namespace mirelva
