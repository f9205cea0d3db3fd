#pragma once

#include <functional>
#include <vector>

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

protected:
    virtual void play(const QString &text, int flags) = 0;

private:
    int m_rate = 0;
    int m_volume = 100;
    std::vector<Listener> m_listeners;
};

} // namespace mirelva
