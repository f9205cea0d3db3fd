#include "ui/espeakvoice.h"

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
#include "ui/program.h"
#include "core/speechengine.h"

namespace mirelva {

using namespace speechengine;

namespace {

using std::chrono::milliseconds;

// Never two plays at once, whichever voice asks.
std::mutex g_playMutex;

struct Job {
    QString text;
    int rate = 0;
    int volume = 100;
    QDateTime when;
};
} // namespace

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
