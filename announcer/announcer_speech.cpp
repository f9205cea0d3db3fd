#include "announcer/mainwindow.h"

#include <algorithm>
#include <utility>

#include <QThread>

#include "announcer/speechpause.h"
#include "core/clock.h"
#include "core/onairlog.h"
#include "core/nodebackend.h"
#include "ui/program.h"
#include "core/speechvoice.h"
#include "speech_settings/speechsettingswindow.h"

namespace mirelva {

namespace SpeechPause {
namespace {
bool g_skipped = false;
int g_count = 0;
} // namespace
void setSkippedForTests(bool skipped) { g_skipped = skipped; }
int count() { return g_count; }
void resetCount() { g_count = 0; }
} // namespace SpeechPause

namespace {

const QString kPttOn = QStringLiteral("PTT ON");
const QString kPttOff = QStringLiteral("PTT OFF");
constexpr unsigned kRed = 255;
constexpr unsigned kDarkGreen = 0x8000;
const QString kNoInformation = QStringLiteral("No information at this time.");

struct VoiceLevels {
    int rate;
    int volume;
};

// Keyed speech takes its rate and volume from the speech settings window's
// bars as they stand, saved or not. Without that window (a station being
// built) the defaults of its settings file stand.
VoiceLevels voiceRateAndVolume(const Station &station)
{
    if (const SpeechSettingsWindow *s = station.speechSettings)
        return {s->VoiceSpeed->value(), s->VolLev->value()};
    return {0, 50};
}

// The node's events wait while a keyed announcement blocks, and reach the
// handlers when it lets waiting events run: the quiet wait that paints the
// windows meanwhile lets posted work run, and the node link takes up its
// lines in posted turns.
class HeldNodeEvents {
public:
    explicit HeldNodeEvents(NodeBackend *node) : m_node(node)
    {
        if (m_node)
            m_node->holdEvents();
    }
    ~HeldNodeEvents() { release(); }
    HeldNodeEvents(const HeldNodeEvents &) = delete;
    HeldNodeEvents &operator=(const HeldNodeEvents &) = delete;
    void release()
    {
        if (NodeBackend *node = std::exchange(m_node, nullptr))
            node->releaseEvents();
    }

private:
    NodeBackend *m_node;
};

// An empty box is never spoken as silence: the button fills in its own text
// first, so the operator sees what went out.
QString textOrReplacement(TextBox *box, const QString &replacement)
{
    if (box->text().isEmpty())
        box->setText(replacement);
    return box->text();
}

} // namespace

void MainWindow::SpeakTheText()
{
    // 1. A busy link leaves everything as it is, so a queued text is tried
    //    again at the next tick.
    if (Echolink->LinkBusy())
        return;

    // A click, key or web press that came while this speaks is handled once
    // the transmitter is released, so what it starts follows this
    // announcement instead of nesting in it.
    const Program::OnAir onAir;

    // SayTheText is the one slot: whatever was queued in it is either the
    // text spoken now or was overwritten by it. A clock tick that comes due
    // while this one speaks (in step 3) must not find the slot still marked
    // and speak the same text a second time.
    flag2 = 0;

    // Released in step 3, or, when the key-up ran out its time, once the
    // transmitter is released.
    HeldNodeEvents held(station.node);
    bool timedOut = false;
    // 2.
    if (Check1->value() != 1) {
        // 2.1 The link may have turned busy meanwhile; then the text is still
        //     prepared and spoken, only not keyed.
        if (!Echolink->LinkBusy()) {
            if (FanCTRL->value() == 1) {
                DelaySeconds->setText(DelayPeriod->text());
                FanOn();
            }
            showPtt(true);
            Echolink->SetPTT(true);
        }
        showOnAirStateNow();
        // 2.2 The voice would read an asterisk out loud.
        SayTheText.replace(QLatin1Char('*'), QLatin1Char(' '));
        // A text from outside (a chat text, say) must not hold the
        // transmitter: it is cut to a length that speaks in well under the
        // transmit time-out.
        if (SayTheText.size() > kMaxAirTextChars) {
            OnAirLog::note(QStringLiteral("announcement cut to %1 characters for the air (it had %2)")
                               .arg(kMaxAirTextChars)
                               .arg(SayTheText.size()));
            SayTheText = boundedText(SayTheText, kMaxAirTextChars);
        }
        // 2.3
        if (TTSCTRL->value() == 1) {
            if (TTSPeriod->number() > 9)
                TTSPeriod->setText(QStringLiteral("9"));
            if (flagtime == 1) {
                flagtime = 0;
            } else {
                const qint64 pauses = TTSPeriod->number();
                for (qint64 i = 1; i <= pauses; ++i)
                    SleepTTS();
            }
        }
        // 2.4, 2.5 Keyed, the speech gets what is left of the transmit
        //     time-out (an announcement nested in another shares its key-up).
        if (station.voice) {
            const VoiceLevels levels = voiceRateAndVolume(station);
            station.voice->setRate(levels.rate);
            station.voice->setVolume(levels.volume);
            const bool keyed = station.node && station.node->pttRequested();
            const qint64 left = keyed ? transmitTimeoutMs - station.node->pttRequestedForMs() : 0;
            if (keyed && left <= 0) {
                timedOut = true;
            } else {
                station.voice->setBlockingLimitMs(left);
                station.voice->Speak(SayTheText, SpeechVoice::SVSFPurgeBeforeSpeak);
                station.voice->setBlockingLimitMs(0);
                timedOut = keyed && station.voice->lastSpeakCut();
                // The record of the air says what the listeners did not hear.
                if (const QString problem = station.voice->soundProblem(); keyed && !problem.isEmpty())
                    OnAirLog::note(QStringLiteral("speech not heard on air: ") + problem);
                showSoundProblem();
            }
        }
    }

    // 3. A key-up that ran out its time ends at once: nothing may run
    //    meanwhile that keeps it going.
    if (timedOut) {
        reportTransmitTimeout();
    } else {
        held.release();
        Program::doEvents();
    }
    if (Program::ended()) {
        // Something handled meanwhile ended the program. The transmitter must
        // not stay keyed: the ending paths release it themselves, and if one
        // did not, release it here, past the gate that stops requests once
        // the program has ended.
        if (station.node && station.node->pttRequested()) {
            const NodeRequest release = NodeRequest::setPTT(false);
            OnAirLog::request(release);
            station.node->submit(release);
        }
        return;
    }

    // 4. Not cleared again here: the slot was emptied before speaking, and
    //    what was queued since (a DTMF request handled in step 3, an ident
    //    whose countdown ran out while the speech blocked) is spoken at the
    //    next tick instead of being lost.
    // 5.
    Echolink->SetPTT(false);
    showPtt(false);
    // 6. The fan line drops with the transmitter; a running fan raises it
    //    again at its next tick.
    if (UseDTR->value())
        Echolink->SetDTR(false);
    if (UseRTS->value())
        Echolink->SetRTS(false);
}

QString MainWindow::boundedText(const QString &text, int maxChars)
{
    if (text.size() <= maxChars)
        return text;
    qsizetype n = std::max(0, maxChars);
    if (n > 0 && text[n - 1].isHighSurrogate())
        --n;
    return text.left(n);
}

void MainWindow::reportTransmitTimeout()
{
    const qint64 seconds = (transmitTimeoutMs + 500) / 1000;
    OnAirLog::note(QStringLiteral("on air: transmit time-out after %1 s: speech cut, transmitter released").arg(seconds));
    setLastingWarning(QStringLiteral("transmit-timeout"),
                      QStringLiteral("Transmit time-out at %1: a transmission ran past %2 seconds; the speech was "
                                     "cut and the transmitter released.")
                          .arg(Clock::now().toString(QStringLiteral("HH:mm")))
                          .arg(seconds));
}

void MainWindow::checkTransmitTimeout()
{
    if (!station.node || !station.node->pttRequested() || station.node->pttRequestedForMs() < transmitTimeoutMs)
        return;
    Echolink->SetPTT(false);
    showPtt(false);
    reportTransmitTimeout();
}

void MainWindow::showPtt(bool keyed)
{
    const QString &caption = keyed ? kPttOn : kPttOff;
    const bool changed = PTT->text() != caption;
    setColouredCaption(PTT, caption, keyed ? kRed : kDarkGreen);
    if (changed)
        tellIndicator(PTT, keyed ? QStringLiteral("PTT on") : QStringLiteral("PTT off"));
}

void MainWindow::showOnAirStateNow()
{
    ShowTime->setText(Clock::clockFace(Clock::now()));
    Program::paintNow();
    tellIndicatorsNow();
}

void MainWindow::showSoundProblem()
{
    const QString problem = station.voice ? station.voice->soundProblem() : QString();
    setLastingWarning(QStringLiteral("sound"),
                      problem.isEmpty() ? QString() : problem + QStringLiteral(": speech is not heard on air"));
}

void MainWindow::SleepTTS()
{
    // A fixed pause in which no handler runs, so the delay before speech is
    // the same whatever is waiting; the windows are still painted and answer
    // the screen reader meanwhile.
    ++SpeechPause::g_count;
    if (!SpeechPause::g_skipped)
        Program::runQuietly([] { QThread::msleep(kSleepTTSMs); });
}

void MainWindow::SayCall_Click()
{
    SayTheText = textOrReplacement(Callsign, QStringLiteral("NoCall"));
    SpeakTheText();
}

void MainWindow::SayCallNoPTT_Click()
{
    const QString text = textOrReplacement(Callsign, QStringLiteral("No Callsign"));
    if (station.voice)
        station.voice->Speak(text, SpeechVoice::SVSFlagsAsync);
}

void MainWindow::Speak3_Click()
{
    SayTheText = textOrReplacement(TextInput3, kNoInformation);
    SpeakTheText();
}

void MainWindow::TextNoPTT3_Click()
{
    const QString text = textOrReplacement(TextInput3, kNoInformation);
    if (station.voice)
        station.voice->Speak(text, SpeechVoice::SVSFlagsAsync);
}

void MainWindow::SpeakInfo_Click()
{
    SayTheText = textOrReplacement(InfoText, kNoInformation);
    flag2 = 1;
}

void MainWindow::InfoNoPTT_Click()
{
    const QString text = textOrReplacement(InfoText, kNoInformation);
    if (station.voice)
        station.voice->Speak(text, SpeechVoice::SVSFlagsAsync);
}

void MainWindow::TTSPeriod_Change()
{
    TTSPeriod->setDigitsOnly(true);
    if (TTSPeriod->text().isEmpty())
        TTSPeriod->setText(QStringLiteral("0"));
}

} // namespace mirelva
