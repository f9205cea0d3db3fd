#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include <QCoreApplication>

#include <QStringList>
#include <QTemporaryDir>

#include "core/clock.h"
#include "ui/program.h"
#include "core/speechvoice.h"

namespace mirelva::test {

// A voice that speaks nowhere and remembers what it was asked to say. With
// msPerCharacter set, a blocking text lasts that long per character on the
// test clock (which moves on by as much), and one that would run past the
// blocking limit is cut there.
class RecordingVoice : public SpeechVoice {
public:
    struct Spoken {
        QString text;
        int flags;
        int rate;
        int volume;
        bool cut = false;
    };
    int msPerCharacter = 0;
    // Run on a thread of its own while a blocking Speak waits quietly, as
    // the station's voice speaks.
    std::function<void()> speaking;
    QVector<Spoken> spoken;
    // What soundProblem() reports: set it to play a dead sound device.
    QString problem;
    QString soundProblem() const override { return problem; }
    QStringList texts() const
    {
        QStringList l;
        for (const auto &s : spoken)
            l << s.text;
        return l;
    }

protected:
    void play(const QString &text, int flags) override
    {
        const bool blocking = !(flags & SVSFlagsAsync);
        qint64 ms = qint64(text.size()) * msPerCharacter;
        const bool cut = blocking && blockingLimitMs() > 0 && ms > blockingLimitMs();
        if (cut) {
            markCut();
            ms = blockingLimitMs();
        }
        if (blocking && speaking)
            Program::runQuietly(speaking);
        if (blocking && ms > 0)
            Clock::setForTests(Clock::now().addMSecs(ms));
        spoken.push_back({text, flags, Rate(), Volume(), cut});
    }
};

// From another thread (a voice's `speaking`): runs a call on the windows'
// thread as the screen reader's bus does, by a call posted to it, and waits
// until it has run.
inline void onUiThread(const std::function<void()> &call)
{
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    QMetaObject::invokeMethod(qApp, [&] {
        call();
        std::lock_guard lock(m);
        done = true;
        cv.notify_all();
    });
    std::unique_lock lock(m);
    cv.wait_for(lock, std::chrono::seconds(5), [&] { return done; });
}

// A private settings folder for one test program: XDG_CONFIG_HOME points into
// a temporary directory that disappears with the test.
class TempSettings {
public:
    TempSettings();
    QString folder() const;                 // .../mirelva
    QString path(const QString &file) const;
    void writeFile(const QString &file, const QByteArray &bytes) const;
    QByteArray readFile(const QString &file) const;
    // The file's non-empty lines without their line ends (UTF-8 or ASCII).
    QStringList readLines(const QString &file) const;
    void clear() const;                     // removes every settings file

private:
    QTemporaryDir m_dir;
};

} // namespace mirelva::test
