#include "core/espeakvoice.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <espeak-ng/speak_lib.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "core/clock.h"
#include "core/program.h"

namespace mirelva {

namespace {

using std::chrono::milliseconds;

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

// espeak-ng is one engine per process with global state: it is started once
// and every synthesis goes through this lock, whichever voice asks.
std::mutex g_engineMutex;
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

using Audio = RenderedSpeech;

// At most maxMs of audio is made (0: no more than kMaxSeconds): a text that
// would run past a limit stops being synthesized there.
Audio synthesize(const QString &text, int sapiRate, int sapiVolume, qint64 maxMs = 0)
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

milliseconds lengthOf(const Audio &audio, const QString &text)
{
    if (audio.rate <= 0)
        return milliseconds(qint64(text.size()) * kMsPerCharacterWithoutEngine);
    return milliseconds(qint64(audio.samples.size()) * 1000 / audio.rate);
}

// ---- the sound device -------------------------------------------------------

// Never two plays at once, whichever voice asks.
std::mutex g_playMutex;

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

struct Job {
    QString text;
    int rate = 0;
    int volume = 100;
    QDateTime when;
};

} // namespace

RenderedSpeech renderSpeech(const QString &text, int rate, int volume) { return synthesize(text, rate, volume); }

QByteArray speechWav(const RenderedSpeech &speech, int toRate) { return wavFile(resampled(speech, toRate)); }

struct EspeakVoice::Impl {
    QByteArray device;
    QString recordDir;

    std::mutex m;
    std::condition_variable cv;
    std::deque<Job> queue;
    bool busy = false;
    std::atomic<bool> cancel{false};
    std::atomic<bool> stop{false};
    std::thread worker;
    std::thread starter;   // starts the engine off the start-up path

    mutable std::mutex problemMutex;
    QString problem;   // why speech is not heard; empty while it is
    std::atomic<bool> recordReported{false};
    std::mutex recordMutex;
    int recordCounter = 0;

    void run();
    void speak(const Job &job, bool cancellable);
    // A blocking Speak stopped at limitMs after it began; true when cut.
    bool speakWithin(const Job &job, qint64 limitMs);
    void record(const Audio &audio, const QDateTime &when);
    void playOut(const Audio &audio, milliseconds length, bool cancellable);
    // Sleeps; false when cut short by a purge or the end of the voice.
    bool pause(milliseconds length, bool cancellable);
    bool cancelled(bool cancellable) const { return cancellable && (cancel || stop); }
    QString deviceName() const { return QString::fromLocal8Bit(device); }
    // The node plays the speech: no sound device of ours is opened, tried or blamed.
    bool nodePlays() const { return device == kNodeAudioDevice.toLocal8Bit(); }
    // Said once on standard error when it first stands, with the sound
    // library's detail; said again only after the device worked meanwhile.
    void setProblem(const QString &cause, const QString &detail, bool report = true);
    void clearProblem();
    void probeDevice();
    void purge();
    void waitIdle();
};

void EspeakVoice::Impl::run()
{
    for (;;) {
        std::unique_lock lock(m);
        cv.wait(lock, [this] { return stop || !queue.empty(); });
        if (stop)
            return;
        const Job job = std::move(queue.front());
        queue.pop_front();
        busy = true;
        lock.unlock();
        speak(job, true);
        lock.lock();
        busy = false;
        cv.notify_all();
    }
}

void EspeakVoice::Impl::speak(const Job &job, bool cancellable)
{
    const Audio audio = synthesize(job.text, job.rate, job.volume);
    // The engine said why on standard error when it failed to start.
    if (audio.rate <= 0)
        setProblem(QStringLiteral("The speech engine cannot start"), {}, false);
    if (cancelled(cancellable))
        return;
    if (!recordDir.isEmpty() && audio.rate > 0)
        record(audio, job.when);
    playOut(audio, lengthOf(audio, job.text), cancellable);
}

bool EspeakVoice::Impl::speakWithin(const Job &job, qint64 limitMs)
{
    const auto start = std::chrono::steady_clock::now();
    // Synthesis stops a little past the limit (it stops short of a whole
    // chunk), enough to know that the text runs over.
    Audio audio = synthesize(job.text, job.rate, job.volume, limitMs + 500);
    const qint64 spent =
        std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start).count();
    const qint64 left = std::max<qint64>(0, limitMs - spent);
    milliseconds length = lengthOf(audio, job.text);
    const bool cut = length.count() > left;
    if (cut) {
        length = milliseconds(left);
        if (audio.rate > 0)
            audio.samples.resize(std::min(audio.samples.size(), size_t(qint64(audio.rate) * left / 1000)));
    }
    if (!recordDir.isEmpty() && audio.rate > 0)
        record(audio, job.when);
    playOut(audio, length, false);
    return cut;
}

bool EspeakVoice::Impl::pause(milliseconds length, bool cancellable)
{
    std::unique_lock lock(m);
    return !cv.wait_for(lock, length, [&] { return cancelled(cancellable); });
}

void EspeakVoice::Impl::setProblem(const QString &cause, const QString &detail, bool reportIt)
{
    std::lock_guard lock(problemMutex);
    if (problem == cause)
        return;
    problem = cause;
    if (reportIt)
        report(QStringLiteral("speech plays nowhere: %1%2%3")
                   .arg(cause.left(1).toLower(), cause.mid(1), detail.isEmpty() ? QString() : ": " + detail));
}

void EspeakVoice::Impl::clearProblem()
{
    std::lock_guard lock(problemMutex);
    if (problem.isEmpty())
        return;
    problem.clear();
    report(QStringLiteral("sound device \"%1\" works again").arg(deviceName()));
}

// Opened and closed once at start-up, so a dead device is known before the
// first announcement goes out into nothing.
void EspeakVoice::Impl::probeDevice()
{
    if (nodePlays())
        return;
    std::lock_guard playing(g_playMutex);
    const AlsaLibrary *alsa = alsaLibrary();
    if (!alsa) {
        setProblem(QStringLiteral("Sound device \"%1\" cannot be opened").arg(deviceName()),
                   QStringLiteral("the ALSA library is missing"));
        return;
    }
    silenceAlsaOnce(alsa);
    snd_pcm_t *pcm = nullptr;
    const int err = alsa->snd_pcm_open(&pcm, device.constData(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err < 0) {
        setProblem(QStringLiteral("Sound device \"%1\" cannot be opened").arg(deviceName()),
                   QString::fromLocal8Bit(alsa->snd_strerror(err)));
        return;
    }
    alsa->snd_pcm_close(pcm);
    clearProblem();
}

void EspeakVoice::Impl::playOut(const Audio &audio, milliseconds length, bool cancellable)
{
    std::lock_guard playing(g_playMutex);
    // The node plays it: only the speech's length is kept here.
    if (audio.samples.empty() || nodePlays()) {
        pause(length, cancellable);
        return;
    }

    const AlsaLibrary *alsa = alsaLibrary();
    if (!alsa) {
        setProblem(QStringLiteral("Sound device \"%1\" cannot be opened").arg(deviceName()),
                   QStringLiteral("the ALSA library is missing"));
        pause(length, cancellable);
        return;
    }
    silenceAlsaOnce(alsa);
    snd_pcm_t *pcm = nullptr;
    // Opened non-blocking so a card held by another program fails at once
    // instead of hanging the caller; writing then blocks as it should.
    int err = alsa->snd_pcm_open(&pcm, device.constData(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err < 0) {
        setProblem(QStringLiteral("Sound device \"%1\" cannot be opened").arg(deviceName()),
                   QString::fromLocal8Bit(alsa->snd_strerror(err)));
        pause(length, cancellable);
        return;
    }
    alsa->snd_pcm_nonblock(pcm, 0);
    err = alsa->snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, 1, unsigned(audio.rate),
                             1 /* resample if the card needs it */, 200000 /* us */);
    if (err < 0) {
        setProblem(QStringLiteral("Sound device \"%1\" cannot play 16-bit mono at %2 Hz").arg(deviceName()).arg(audio.rate),
                   QString::fromLocal8Bit(alsa->snd_strerror(err)));
        alsa->snd_pcm_close(pcm);
        pause(length, cancellable);
        return;
    }

    constexpr size_t kChunk = 1024;
    const size_t total = audio.samples.size();
    size_t done = 0;
    while (done < total && !cancelled(cancellable)) {
        const size_t frames = std::min(kChunk, total - done);
        snd_pcm_sframes_t n = alsa->snd_pcm_writei(pcm, audio.samples.data() + done, frames);
        if (n < 0)
            n = alsa->snd_pcm_recover(pcm, int(n), 1);
        if (n < 0) {
            setProblem(QStringLiteral("Sound device \"%1\" failed while playing").arg(deviceName()),
                       QString::fromLocal8Bit(alsa->snd_strerror(int(n))));
            // The rest still takes its time, so keying stays the same.
            pause(milliseconds(qint64(total - done) * 1000 / audio.rate), cancellable);
            break;
        }
        done += size_t(n);
    }
    if (cancelled(cancellable))
        alsa->snd_pcm_drop(pcm);
    else
        alsa->snd_pcm_drain(pcm);
    alsa->snd_pcm_close(pcm);
    if (done == total)
        clearProblem();
}

void EspeakVoice::Impl::record(const Audio &audio, const QDateTime &when)
{
    std::lock_guard lock(recordMutex);
    auto fail = [this](const QString &why) {
        if (!recordReported.exchange(true))
            report(QStringLiteral("spoken texts are not kept in \"%1\": %2").arg(recordDir, why));
    };
    if (!QDir().mkpath(recordDir)) {
        fail(QStringLiteral("the folder cannot be made"));
        return;
    }
    const QString stamp = when.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString path;
    do {
        recordCounter = recordCounter % 9999 + 1;
        path = QStringLiteral("%1/%2-%3.wav").arg(recordDir, stamp).arg(recordCounter, 4, 10, QLatin1Char('0'));
    } while (QFile::exists(path) && recordCounter != 9999);
    if (QFile::exists(path)) {
        fail(QStringLiteral("no free file name for %1").arg(stamp));
        return;
    }
    // Written whole or not at all: a reader never sees half a recording.
    QSaveFile file(path);
    const QByteArray bytes = wavFile(audio);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        fail(file.errorString());
}

void EspeakVoice::Impl::purge()
{
    std::unique_lock lock(m);
    queue.clear();
    if (!busy)
        return;
    cancel = true;
    cv.notify_all();
    cv.wait(lock, [this] { return !busy; });
    cancel = false;
}

void EspeakVoice::Impl::waitIdle()
{
    std::unique_lock lock(m);
    cv.wait(lock, [this] { return !busy && queue.empty(); });
}

EspeakVoice::EspeakVoice(const QString &alsaDevice, const QString &recordDir, EngineStart start) : d(new Impl)
{
    d->device = (alsaDevice.isEmpty() ? QStringLiteral("default") : alsaDevice).toLocal8Bit();
    d->recordDir = recordDir;
    if (start == EngineStart::Now)
        startEngine();
}

void EspeakVoice::startEngine()
{
    if (d->starter.joinable())
        return;
    // Started at start-up, so a missing engine or a dead sound device is
    // reported then, but on a thread of its own: loading its data would
    // otherwise hold up the window. The first Speak waits for it through the
    // engine's lock.
    d->starter = std::thread([impl = d] {
        bool ok;
        {
            std::lock_guard lock(g_engineMutex);
            ok = engineReady();
        }
        if (ok)
            impl->probeDevice();
        else
            impl->setProblem(QStringLiteral("The speech engine cannot start"), {}, false);
    });
}

EspeakVoice::~EspeakVoice()
{
    if (d->starter.joinable())
        d->starter.join();
    {
        std::lock_guard lock(d->m);
        d->queue.clear();
        d->stop = true;
        d->cv.notify_all();
    }
    if (d->worker.joinable())
        d->worker.join();
    delete d;
}

QString EspeakVoice::soundProblem() const
{
    std::lock_guard lock(d->problemMutex);
    return d->problem;
}

bool EspeakVoice::isSpeaking() const
{
    std::lock_guard lock(d->m);
    return d->busy || !d->queue.empty();
}

void EspeakVoice::play(const QString &text, int flags)
{
    Job job{text, Rate(), Volume(), Clock::now()};
    if (flags & SVSFPurgeBeforeSpeak)
        d->purge();
    if (flags & SVSFlagsAsync) {
        std::lock_guard lock(d->m);
        if (!d->worker.joinable())
            d->worker = std::thread([this] { d->run(); });
        d->queue.push_back(std::move(job));
        d->cv.notify_all();
        return;
    }
    // A blocking Speak comes after whatever is still queued, as SAPI's does.
    // It is spoken on a thread of its own while this one waits quietly: the
    // windows are painted and answer the screen reader, and no handler runs
    // until the speech is over, as if this thread itself were speaking.
    Program::runQuietly([this, &job] {
        d->waitIdle();
        if (blockingLimitMs() > 0) {
            if (d->speakWithin(job, blockingLimitMs()))
                markCut();
            return;
        }
        d->speak(job, false);
    });
}

} // namespace mirelva
