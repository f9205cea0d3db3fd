#pragma once

// The voice's engine and sound library, shared by the window program's
// voice and the node programs' speech: not for other use.

#include <alsa/asoundlib.h>

#include <chrono>
#include <mutex>

#include <QByteArray>
#include <QString>

#include "core/speechvoice.h"

namespace mirelva::speechengine {

using Audio = RenderedSpeech;

// A line on standard error, as the voice says its troubles.
void report(const QString &message);

struct AlsaLibrary {
    decltype(&::snd_lib_error_set_handler) snd_lib_error_set_handler;
    decltype(&::snd_pcm_open) snd_pcm_open;
    decltype(&::snd_pcm_close) snd_pcm_close;
    decltype(&::snd_pcm_nonblock) snd_pcm_nonblock;
    decltype(&::snd_pcm_set_params) snd_pcm_set_params;
    decltype(&::snd_pcm_writei) snd_pcm_writei;
    decltype(&::snd_pcm_recover) snd_pcm_recover;
    decltype(&::snd_pcm_drop) snd_pcm_drop;
    decltype(&::snd_pcm_drain) snd_pcm_drain;
    decltype(&::snd_strerror) snd_strerror;
};

// Null, said once, when libasound cannot be opened.
const AlsaLibrary *alsaLibrary();
// alsa-lib prints every failed open itself; we say it once, in our words.
void silenceAlsaOnce(const AlsaLibrary *alsa);

// espeak-ng is one engine per process with global state: it is started once
// and every synthesis goes through this lock, whichever voice asks.
extern std::mutex g_engineMutex;
// Caller holds g_engineMutex.
bool engineReady();
// At most maxMs of audio is made (0: no more than the longest announcement).
Audio synthesize(const QString &text, int sapiRate, int sapiVolume, qint64 maxMs = 0);
// How long the audio plays, or about how long the text would be spoken
// when the engine could not start.
std::chrono::milliseconds lengthOf(const Audio &audio, const QString &text);
Audio resampled(const Audio &audio, int toRate);
QByteArray wavFile(const Audio &audio);

} // namespace mirelva::speechengine
