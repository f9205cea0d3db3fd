// espeak-ng and ALSA as the voice and the node use them: the libraries,
// opened when first needed, and speech rendered to samples. The window
// program's voice plays it (ui/espeakvoice.cpp); the node programs render
// it for their own transmitters, without the windows.
#include "core/speechengine.h"

#include <dlfcn.h>
#include <espeak-ng/speak_lib.h>

#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace mirelva {

namespace speechengine {

std::mutex g_engineMutex;



void report(const QString &message)
{
    std::fprintf(stderr, "mirelva: %s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
}

// ---- the libraries ----------------------------------------------------------

// espeak-ng and ALSA, with the fifteen other libraries they bring along, are
// opened when the voice first needs them rather than linked: linked, they
// were loaded and bound at every start, some 1.5 ms here before the window
// could be painted. Each is opened once; a library that cannot be opened is
// said on standard error, and the voice goes on without it as it does
// without a sound device or the engine's data.
template <class Function>
bool bind(void *library, Function *&function, const char *name)
{
    function = reinterpret_cast<Function *>(dlsym(library, name));
    return function != nullptr;
}

// Opens the library once and binds every function it is asked for; null,
// said once on standard error, when it cannot be opened or lacks one.
template <class Library>
const Library *openOnce(const char *soname, bool (*bindAll)(void *, Library &))
{
    static const Library *const library = [&]() -> const Library * {
        static Library l;
        void *h = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
        if (!h) {
            report(QStringLiteral("%1 cannot be opened: %2").arg(QLatin1String(soname), QString::fromLocal8Bit(dlerror())));
            return nullptr;
        }
        if (!bindAll(h, l)) {
            report(QStringLiteral("%1 lacks a function the voice uses").arg(QLatin1String(soname)));
            return nullptr;
        }
        return &l;
    }();
    return library;
}

struct EspeakLibrary {
    decltype(&::espeak_Initialize) espeak_Initialize;
    decltype(&::espeak_SetVoiceByName) espeak_SetVoiceByName;
    decltype(&::espeak_SetSynthCallback) espeak_SetSynthCallback;
    decltype(&::espeak_SetParameter) espeak_SetParameter;
    decltype(&::espeak_Synth) espeak_Synth;
};

const EspeakLibrary *espeakLibrary()
{
    return openOnce<EspeakLibrary>(MIRELVA_ESPEAK_LIBRARY, [](void *h, EspeakLibrary &l) {
        return bind(h, l.espeak_Initialize, "espeak_Initialize") && bind(h, l.espeak_SetVoiceByName, "espeak_SetVoiceByName")
               && bind(h, l.espeak_SetSynthCallback, "espeak_SetSynthCallback")
               && bind(h, l.espeak_SetParameter, "espeak_SetParameter") && bind(h, l.espeak_Synth, "espeak_Synth");
    });
}


const AlsaLibrary *alsaLibrary()
{
    return openOnce<AlsaLibrary>(MIRELVA_ALSA_LIBRARY, [](void *h, AlsaLibrary &l) {
        return bind(h, l.snd_lib_error_set_handler, "snd_lib_error_set_handler") && bind(h, l.snd_pcm_open, "snd_pcm_open")
               && bind(h, l.snd_pcm_close, "snd_pcm_close") && bind(h, l.snd_pcm_nonblock, "snd_pcm_nonblock")
               && bind(h, l.snd_pcm_set_params, "snd_pcm_set_params") && bind(h, l.snd_pcm_writei, "snd_pcm_writei")
               && bind(h, l.snd_pcm_recover, "snd_pcm_recover") && bind(h, l.snd_pcm_drop, "snd_pcm_drop")
               && bind(h, l.snd_pcm_drain, "snd_pcm_drain") && bind(h, l.snd_strerror, "snd_strerror");
    });
}

// ---- the engine -----------------------------------------------------------

bool g_engineTried = false;
bool g_engineOk = false;
int g_sampleRate = 0;
std::vector<short> *g_collecting = nullptr;
size_t g_collectLimit = 0;

// No announcement is longer than this; a runaway text is cut rather than
// filling memory.
constexpr int kMaxSeconds = 15 * 60;

// Without the engine a blocking Speak still takes about as long as speech
// would, so keying still brackets something.
constexpr int kMsPerCharacterWithoutEngine = 60;

int collectSamples(short *wav, int count, espeak_EVENT *)
{
    if (!wav || count <= 0 || !g_collecting)
        return 0;
    if (g_collecting->size() + size_t(count) > g_collectLimit)
        return 1;
    g_collecting->insert(g_collecting->end(), wav, wav + count);
    return 0;
}

// Caller holds g_engineMutex.
bool engineReady()
{
    if (g_engineTried)
        return g_engineOk;
    g_engineTried = true;
    const EspeakLibrary *es = espeakLibrary();
    if (!es) {
        report(QStringLiteral("the espeak-ng speech engine cannot start; nothing will be spoken"));
        return false;
    }
    // DONT_EXIT: without its data the library would otherwise end the program.
    const int rate = es->espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);
    // espeak_Initialize reports a sample rate even when its data is missing;
    // loading a voice is what shows the data is there.
    if (rate <= 0 || es->espeak_SetVoiceByName("en") != EE_OK) {
        report(QStringLiteral("the espeak-ng speech engine cannot start (is espeak-ng-data installed?); "
                              "nothing will be spoken"));
        return false;
    }
    es->espeak_SetSynthCallback(collectSamples);
    g_sampleRate = rate;
    g_engineOk = true;
    return true;
}

// SAPI's -10..10 maps piecewise-linearly onto espeak's whole range: -10 is
// espeak's slowest (80 words a minute), 0 its normal 175, 10 its fastest
// (450). Each of the 21 steps stays a distinct speed, which a geometric
// scale would lose at the slow end where espeak stops at 80.
int wordsPerMinute(int sapiRate)
{
    const int r = std::clamp(sapiRate, -10, 10);
    const double wpm = r < 0 ? espeakRATE_NORMAL + r * (espeakRATE_NORMAL - espeakRATE_MINIMUM) / 10.0
                             : espeakRATE_NORMAL + r * (espeakRATE_MAXIMUM - espeakRATE_NORMAL) / 10.0;
    return int(wpm + 0.5);
}

// SAPI volume 100 is full loudness, which is espeak's normal 100; espeak's
// range above that only adds distortion.
int espeakVolume(int sapiVolume) { return std::clamp(sapiVolume, 0, 100); }


// At most maxMs of audio is made (0: no more than kMaxSeconds): a text that
// would run past a limit stops being synthesized there.
Audio synthesize(const QString &text, int sapiRate, int sapiVolume, qint64 maxMs)
{
    std::lock_guard lock(g_engineMutex);
    Audio audio;
    if (!engineReady())
        return audio;
    const EspeakLibrary *es = espeakLibrary();
    audio.rate = g_sampleRate;
    es->espeak_SetParameter(espeakRATE, wordsPerMinute(sapiRate), 0);
    es->espeak_SetParameter(espeakVOLUME, espeakVolume(sapiVolume), 0);
    const QByteArray utf8 = text.toUtf8();
    g_collecting = &audio.samples;
    g_collectLimit = size_t(g_sampleRate) * kMaxSeconds;
    if (maxMs > 0)
        g_collectLimit = std::min(g_collectLimit, size_t(qint64(g_sampleRate) * maxMs / 1000) + 1);
    es->espeak_Synth(utf8.constData(), size_t(utf8.size()) + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr);
    g_collecting = nullptr;
    return audio;
}

std::chrono::milliseconds lengthOf(const Audio &audio, const QString &text)
{
    if (audio.rate <= 0)
        return std::chrono::milliseconds(qint64(text.size()) * kMsPerCharacterWithoutEngine);
    return std::chrono::milliseconds(qint64(audio.samples.size()) * 1000 / audio.rate);
}

// ---- the sound device -------------------------------------------------------


void quietAlsa(const char *, int, const char *, int, const char *, ...) {}

// alsa-lib prints every failed open itself; we say it once, in our words.
void silenceAlsaOnce(const AlsaLibrary *alsa)
{
    static std::once_flag once;
    std::call_once(once, [alsa] { alsa->snd_lib_error_set_handler(quietAlsa); });
}

// Linear interpolation is plenty for speech going to a radio's audio band.
Audio resampled(const Audio &audio, int toRate)
{
    if (toRate <= 0 || audio.rate <= 0 || toRate == audio.rate || audio.samples.empty())
        return audio;
    Audio out;
    out.rate = toRate;
    const size_t n = size_t(double(audio.samples.size()) * toRate / audio.rate);
    out.samples.resize(n);
    const double step = double(audio.rate) / toRate;
    for (size_t i = 0; i < n; ++i) {
        const double pos = double(i) * step;
        const size_t j = size_t(pos);
        const double frac = pos - double(j);
        const double a = audio.samples[std::min(j, audio.samples.size() - 1)];
        const double b = audio.samples[std::min(j + 1, audio.samples.size() - 1)];
        out.samples[i] = short(std::lround(a + (b - a) * frac));
    }
    return out;
}

QByteArray wavFile(const Audio &audio)
{
    const quint32 dataBytes = quint32(audio.samples.size() * 2);
    QByteArray out(44, Qt::Uninitialized);
    char *h = out.data();
    auto u32 = [](char *p, quint32 v) { qToLittleEndian<quint32>(v, p); };
    auto u16 = [](char *p, quint16 v) { qToLittleEndian<quint16>(v, p); };
    std::memcpy(h, "RIFF", 4);
    u32(h + 4, 36 + dataBytes);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    u32(h + 16, 16);                       // fmt chunk size
    u16(h + 20, 1);                        // PCM
    u16(h + 22, 1);                        // mono
    u32(h + 24, quint32(audio.rate));      // sample rate
    u32(h + 28, quint32(audio.rate) * 2);  // bytes per second
    u16(h + 32, 2);                        // block align
    u16(h + 34, 16);                       // bits per sample
    std::memcpy(h + 36, "data", 4);
    u32(h + 40, dataBytes);
    out.reserve(44 + int(dataBytes));
    for (short s : audio.samples) {
        char le[2];
        qToLittleEndian<qint16>(s, le);
        out.append(le, 2);
    }
    return out;
}

} // namespace speechengine

} // namespace mirelva
