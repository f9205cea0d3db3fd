#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QtEndian>

#include <unistd.h>

#include "ui/espeakvoice.h"
#include "support/fixture.h"

using namespace mirelva;

namespace {

const QString kNoDevice = QStringLiteral("mirelva_no_such_pcm");
const QString kSentence = QStringLiteral("This is the node announcement for the evening net.");

// Everything written to standard error while it lives.
class StderrCapture {
public:
    StderrCapture()
    {
        m_file.open();
        std::fflush(stderr);
        m_saved = dup(2);
        dup2(m_file.handle(), 2);
    }
    QString finish()
    {
        std::fflush(stderr);
        dup2(m_saved, 2);
        close(m_saved);
        m_file.seek(0);
        return QString::fromLocal8Bit(m_file.readAll());
    }

private:
    QTemporaryFile m_file;
    int m_saved = -1;
};

struct Wav {
    bool valid = false;
    quint32 rate = 0;
    QVector<qint16> samples;
    double seconds() const { return rate ? double(samples.size()) / rate : 0; }
    int peak() const
    {
        int p = 0;
        for (qint16 s : samples)
            p = std::max(p, std::abs(int(s)));
        return p;
    }
};

Wav readWav(const QString &path)
{
    QFile f(path);
    Wav w;
    if (!f.open(QIODevice::ReadOnly))
        return w;
    const QByteArray b = f.readAll();
    if (b.size() < 44)
        return w;
    const char *h = b.constData();
    auto u32 = [h](int at) { return qFromLittleEndian<quint32>(h + at); };
    auto u16 = [h](int at) { return qFromLittleEndian<quint16>(h + at); };
    w.rate = u32(24);
    const quint32 dataBytes = u32(40);
    w.valid = b.startsWith("RIFF") && u32(4) == quint32(b.size() - 8) && b.mid(8, 8) == "WAVEfmt "
        && u32(16) == 16 && u16(20) == 1 && u16(22) == 1 && w.rate >= 8000 && u32(28) == w.rate * 2
        && u16(32) == 2 && u16(34) == 16 && b.mid(36, 4) == "data" && dataBytes == quint32(b.size() - 44);
    for (int i = 44; i + 1 < b.size(); i += 2)
        w.samples.push_back(qFromLittleEndian<qint16>(h + i));
    return w;
}

QStringList wavs(const QString &dir)
{
    return QDir(dir).entryList({"*.wav"}, QDir::Files, QDir::Name);
}

} // namespace

class TestEspeakVoice : public QObject {
    Q_OBJECT
    test::TempSettings m_settings;

private slots:
    void blockingSpeakWithoutDeviceStillRecords()
    {
        QTemporaryDir dir;
        const QString rec = dir.path() + "/made/by/voice";
        StderrCapture err;
        {
            EspeakVoice voice(kNoDevice, rec);
            voice.Speak(kSentence, SpeechVoice::SVSFPurgeBeforeSpeak);
            voice.Speak(QStringLiteral("Second."), SpeechVoice::SVSFPurgeBeforeSpeak);
            QVERIFY(!voice.isSpeaking());
            QCOMPARE(voice.soundProblem(), "Sound device \"" + kNoDevice + "\" cannot be opened");
        }
        const QString said = err.finish();
        QCOMPARE(said.count("speech plays nowhere"), 1);
        QVERIFY2(said.contains("\"" + kNoDevice + "\" cannot be opened"), qPrintable(said));

        const QStringList files = wavs(rec);
        QCOMPARE(files.size(), 2);
        const QRegularExpression name(R"(^\d{8}-\d{6}-\d{4}\.wav$)");
        for (const QString &f : files)
            QVERIFY2(name.match(f).hasMatch(), qPrintable(f));
        const Wav first = readWav(rec + '/' + files[0]);
        QVERIFY(first.valid);
        QVERIFY(first.seconds() > 0.3);
        QVERIFY(first.peak() > 1000); // speech, not silence
        QVERIFY(readWav(rec + '/' + files[1]).seconds() < first.seconds());
    }

    // The transmit time-out reaches the engine: a blocking text that would
    // run past the limit is cut there, what went out is no longer, and one
    // that fits is spoken whole.
    void aBlockingLimitCutsTheSpeech()
    {
        QTemporaryDir dir;
        EspeakVoice voice(kNoDevice, dir.path());
        voice.setBlockingLimitMs(400);
        voice.Speak(kSentence, SpeechVoice::SVSFPurgeBeforeSpeak);
        QVERIFY(voice.lastSpeakCut());
        voice.setBlockingLimitMs(20000);
        voice.Speak(QStringLiteral("One."), SpeechVoice::SVSFPurgeBeforeSpeak);
        QVERIFY(!voice.lastSpeakCut());
        const QStringList files = wavs(dir.path());
        QCOMPARE(files.size(), 2);
        const Wav cut = readWav(dir.filePath(files[0]));
        QVERIFY(cut.valid);
        QVERIFY2(cut.seconds() <= 0.401 && cut.seconds() > 0.1, qPrintable(QString::number(cut.seconds())));
    }

    void rateAndVolumeReachTheEngine()
    {
        QTemporaryDir dir;
        EspeakVoice voice(kNoDevice, dir.path());
        const QString text = QStringLiteral("Net control, one two three.");
        voice.setRate(-5);
        voice.Speak(text, SpeechVoice::SVSFPurgeBeforeSpeak);
        voice.setRate(5);
        voice.Speak(text, SpeechVoice::SVSFPurgeBeforeSpeak);
        voice.setVolume(30);
        voice.Speak(text, SpeechVoice::SVSFPurgeBeforeSpeak);

        const QStringList files = wavs(dir.path());
        QCOMPARE(files.size(), 3);
        const Wav slow = readWav(dir.filePath(files[0]));
        const Wav fast = readWav(dir.filePath(files[1]));
        const Wav quiet = readWav(dir.filePath(files[2]));
        QVERIFY(slow.valid && fast.valid && quiet.valid);
        QVERIFY2(fast.seconds() < slow.seconds() * 0.75, qPrintable(QString("%1 s vs %2 s").arg(fast.seconds()).arg(slow.seconds())));
        QVERIFY(std::abs(quiet.seconds() - fast.seconds()) < fast.seconds() * 0.05);
        QVERIFY(quiet.peak() < fast.peak() * 0.6);
    }

    void asyncReturnsAtOnceAndAPurgeStopsIt()
    {
        QTemporaryDir dir;
        EspeakVoice voice(kNoDevice, dir.path());
        // Many seconds of speech; with no device the voice sits out its length.
        voice.Speak(kSentence.repeated(6), SpeechVoice::SVSFlagsAsync);
        QVERIFY(voice.isSpeaking());
        QTRY_COMPARE_WITH_TIMEOUT(wavs(dir.path()).size(), 1, 5000);
        QVERIFY(voice.isSpeaking());

        voice.Speak(QStringLiteral("Break."), SpeechVoice::SVSFPurgeBeforeSpeak);
        QVERIFY(!voice.isSpeaking());
        const QStringList files = wavs(dir.path());
        QCOMPARE(files.size(), 2);
        QVERIFY(readWav(dir.filePath(files[0])).seconds() > 5);
        QVERIFY(readWav(dir.filePath(files[1])).seconds() < 2);
    }

    // "node": the node plays the speech, so no device of ours is tried at
    // start-up or blamed afterwards.
    void aDeviceThatWorksHasNoProblem_data()
    {
        QTest::addColumn<QString>("device");
        QTest::newRow("null") << QStringLiteral("null");
        QTest::newRow("node") << kNodeAudioDevice;
    }
    void aDeviceThatWorksHasNoProblem()
    {
        QFETCH(QString, device);
        StderrCapture err;
        {
            EspeakVoice voice(device, QString());
            voice.Speak(QStringLiteral("Test."), SpeechVoice::SVSFPurgeBeforeSpeak);
            QCOMPARE(voice.soundProblem(), QString());
        }
        QCOMPARE(err.finish(), QString());
    }

    void oddInputDoesNotCrash()
    {
        QTemporaryDir dir;
        StderrCapture err;
        {
            EspeakVoice voice(kNoDevice, dir.path());
            voice.Speak(QString(), SpeechVoice::SVSFPurgeBeforeSpeak);
            voice.Speak(QStringLiteral("   "), SpeechVoice::SVSFlagsAsync);
            voice.Speak(QStringLiteral("<speak>\x01 \xFF</speak>"), SpeechVoice::SVSFPurgeBeforeSpeak);
            // Still queued and playing when the voice goes away.
            voice.Speak(kSentence.repeated(3), SpeechVoice::SVSFlagsAsync);
            voice.Speak(kSentence.repeated(3), SpeechVoice::SVSFlagsAsync);
        }
        err.finish();
        for (const QString &f : wavs(dir.path()))
            QVERIFY(readWav(dir.filePath(f)).valid);

        // A record folder that cannot exist: said once, speech goes on.
        QFile blocker(dir.filePath("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        StderrCapture err2;
        {
            EspeakVoice voice(kNoDevice, dir.filePath("blocker/rec"));
            voice.Speak(QStringLiteral("One."), SpeechVoice::SVSFPurgeBeforeSpeak);
            voice.Speak(QStringLiteral("Two."), SpeechVoice::SVSFPurgeBeforeSpeak);
        }
        QCOMPARE(err2.finish().count("spoken texts are not kept"), 1);
    }

    // The engine starts once per process, so its failure is tried in a child.
    void missingEngineDataStillBlocks()
    {
        if (qEnvironmentVariableIsSet("MIRELVA_ESPEAK_CHILD")) {
            EspeakVoice voice(kNoDevice, QString());
            voice.Speak(QStringLiteral("Nothing to hear."), SpeechVoice::SVSFPurgeBeforeSpeak);
            voice.Speak(QStringLiteral("Still nothing."), SpeechVoice::SVSFlagsAsync);
            QCOMPARE(voice.soundProblem(), QStringLiteral("The speech engine cannot start"));
            return;
        }
        QTemporaryDir empty;
        QVERIFY(QDir().mkpath(empty.filePath("espeak-ng-data")));
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("MIRELVA_ESPEAK_CHILD", "1");
        env.insert("ESPEAK_DATA_PATH", empty.path());
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {"missingEngineDataStillBlocks"});
        QVERIFY(child.waitForFinished(60000));
        const QString said = QString::fromLocal8Bit(child.readAllStandardError());
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(said.count("speech engine cannot start"), 1);
    }
};

QTEST_GUILESS_MAIN(TestEspeakVoice)
#include "test_espeakvoice.moc"
