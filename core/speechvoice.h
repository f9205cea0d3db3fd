#pragma once

#include <functional>
#include <vector>

#include <QByteArray>
#include <QString>

namespace mirelva {

// The one speech voice of the program. Speak with flag 2 (purge before speak)
// returns once the text has been spoken; flag 1 (asynchronous) returns at
// once. Rate is on the -10..10 scale, Volume 0..100.
class SpeechVoice {
public:
    enum Flags { SVSFlagsAsync = 1, SVSFPurgeBeforeSpeak = 2 };
    using Listener = std::function<void(const QString &text, int flags)>;

    virtual ~SpeechVoice() = default;

    void Speak(const QString &text, int flags);
    int Rate() const { return m_rate; }
    void setRate(int rate);
    int Volume() const { return m_volume; }
    void setVolume(int volume);

    // Told of every text before it is spoken (the on-air log and the node link).
    void addListener(Listener l) { m_listeners.push_back(std::move(l)); }

    // A blocking Speak lasts at most this many milliseconds and is cut there;
    // 0 leaves it unbounded. A keyed announcement sets what is left of the
    // transmit time-out.
    void setBlockingLimitMs(qint64 ms) { m_limitMs = ms < 0 ? 0 : ms; }
    qint64 blockingLimitMs() const { return m_limitMs; }
    // Whether the last blocking Speak was cut at that limit.
    bool lastSpeakCut() const { return m_cut; }

    // Why speech is not heard, as the operator is told it ("Sound device
    // "default" cannot be opened"); empty while it is heard. Known once the
    // voice has tried its device, and up to date when a blocking Speak returns.
    virtual QString soundProblem() const { return {}; }

protected:
    virtual void play(const QString &text, int flags) = 0;
    // Said by play() when it stopped a blocking Speak at the limit.
    void markCut() { m_cut = true; }

private:
    int m_rate = 0;
    int m_volume = 100;
    qint64 m_limitMs = 0;
    bool m_cut = false;
    std::vector<Listener> m_listeners;
};

// A text as the voice renders it: 16-bit mono samples at `rate` Hz (rate 0:
// the engine could not start, and there are no samples).
struct RenderedSpeech {
    std::vector<short> samples;
    int rate = 0;
};
RenderedSpeech renderSpeech(const QString &text, int rate, int volume);
// A 16-bit mono PCM WAV file of it, resampled to toRate Hz when that is not 0.
QByteArray speechWav(const RenderedSpeech &speech, int toRate = 0);

// The sound device name that hands the voice's audio to the node: nothing is
// opened, and a blocking Speak still takes the speech's length.
inline const QString kNodeAudioDevice = QStringLiteral("node");

} // namespace mirelva
