#include "announcer/mainwindow.h"

#include "core/clock.h"
#include "ui/countdowns.h"
#include "ui/program.h"
#include "dtmf/dtmfwindow.h"

namespace mirelva {

namespace {

// The parts of the time the phrases are built from. AM and PM are English
// whatever the desktop's language, since the voice reads them out.
struct TimeParts {
    QString hour12;      // "1" to "12", no leading zero
    QString minutes;     // "00" to "59"
    QString amPm;        // "AM" or "PM"
    QString hhmm24;      // "00 00" to "23 59"
    int hourOfDay;       // 0 to 23
};

TimeParts timeParts(const QTime &t)
{
    const int h12 = t.hour() % 12 == 0 ? 12 : t.hour() % 12;
    const QString mm = QStringLiteral("%1").arg(t.minute(), 2, 10, QLatin1Char('0'));
    return {QString::number(h12), mm, t.hour() < 12 ? QStringLiteral("AM") : QStringLiteral("PM"),
            QStringLiteral("%1 %2").arg(t.hour(), 2, 10, QLatin1Char('0')).arg(mm), t.hour()};
}

TimeParts timePartsNow() { return timeParts(Clock::now().time()); }

// The transmit indicator. Timer4 stands for a poll of TransmitterKeyed every
// millisecond; run all the time, that poll alone would keep the machine busy
// while the station sits idle. So the poll follows the node instead: every
// change of the node's state runs it once, and the 1 ms timer runs only while
// the transmitter is keyed, where it keeps reloading the fan's run time as the
// continuous poll did. While unkeyed the poll only shows "PTT OFF", which a
// state change does just as well.
void showTransmitter(MainWindow &w)
{
    const bool keyed = w.Echolink->TransmitterKeyed();
    w.showPtt(keyed);
    if (keyed && w.FanCTRL->value() == 1)
        w.FanOn();
    w.Timer4->setEnabled(keyed);
}

// Hooks the poll to the node once. The connection lives in a child object so
// that it goes with the window. No event processing here: a state change can
// arrive in the middle of a keyed announcement.
void followNodeForPtt(MainWindow &w)
{
    static const QString name = QStringLiteral("PttPollFollowsNode");
    if (!w.station.node || w.findChild<QObject *>(name, Qt::FindDirectChildrenOnly))
        return;
    auto *hook = new QObject(&w);
    hook->setObjectName(name);
    MainWindow *window = &w;
    QObject::connect(w.station.node, &NodeBackend::stateChanged, hook, [window] {
        if (!Program::ended())
            showTransmitter(*window);
    });
}

// The hour, quarter and half-hour announcements: the time first, then the
// information text, each a transmission of its own.
void announceOnTheMark(MainWindow &w, CheckBox *sayTime, CheckBox *sayInfo)
{
    if (sayTime->value() == 1) {
        w.SayTheText = w.timePhrase();
        w.SpeakTheText();
        if (Program::ended())
            return;
    }
    // An empty information text keys nothing.
    if (sayInfo->value() == 1 && !countdowns::carriesNothing(w.InfoText->text())) {
        w.SayTheText = w.InfoText->text();
        w.SpeakTheText();
    }
}

} // namespace

QString MainWindow::timePhrase() const
{
    const TimeParts t = timePartsNow();
    QString opening = QStringLiteral("The Time Is");
    if (Check3->value() != 0) {
        if (t.hourOfDay < 12)
            opening = QStringLiteral("Good Morning, The Time Is");
        else if (t.hourOfDay < 18)
            opening = QStringLiteral("Good Afternoon, The Time Is");
        else
            opening = QStringLiteral("Good Evening, The Time Is");
    }
    if (Option1->value())
        return opening + t.hour12 + ' ' + t.minutes + ' ' + t.amPm;
    return opening + t.hhmm24;
}

void MainWindow::Timer1_Timer()
{
    followNodeForPtt(*this);
    checkTransmitTimeout();

    // 1.
    ShowTime->setText(Clock::clockFace(Clock::now()));
    showSoundProblem();
    // 2.
    Program::doEvents();
    if (Program::ended())
        return;
    // 3. The hour, minutes and AM/PM are worked out where a phrase is built,
    //    not here: a queued announcement in step 5 can run on until the very
    //    second of a mark, and the time said at the mark must be the mark's,
    //    not that of the tick's start a few seconds earlier.
    // 4.
    setLabelNumber(Label20, TextInput3->text().size());
    setLabelNumber(Label21, InfoText->text().size());
    setLabelNumber(Label19, Callsign->text().size());
    // 5.
    if (flag2 == 1) {
        SpeakTheText();
        if (Program::ended())
            return;
    }
    // 6.
    Echolink->setAutomationTimeouts();
    // 7.
    const bool receiving = Echolink->ReceivingSignal();
    if (showReceiving(PTT2, receiving))
        tellIndicator(PTT2, receiverNotice(PTT2));
    if (receiving) {
        Beacon7->setEnabled(false);
        Beacon3->setEnabled(false);
    } else {
        Beacon7->setEnabled(Beacon6->isEnabled());
        Beacon3->setEnabled(true);
        // Re-arms the DTMF window's acceptance delay after each reception.
        if (station.dtmf)
            station.dtmf->DTMFDelay->setEnabled(true);
    }
    // 8. Any activity wakes the idents the idle stop put to sleep.
    if (Echolink->LinkActive() || Echolink->ReceivingSignal() || Echolink->LinkBusy()) {
        IDTimer->setEnabled(true);
        Beacon6->setEnabled(true);
        Beacon7->setEnabled(true);
    }
    // 9. A mark that passed while the thread was blocked (a queued
    //    announcement spoken above, a speech before this tick) is said late,
    //    if less than a minute late, rather than not at all. While a signal
    //    is received or the link is busy, the mark passes unsaid for good.
    const QDateTime now = Clock::now();
    const QList<QDateTime> owed = m_markSeconds.take(now);
    if (InUse == 1 || Echolink->LinkBusy())
        return;
    for (const QDateTime &at : owed) {
        if (at.secsTo(now) >= 60)
            continue;
        const QString mark = at.toString(QStringLiteral("mm:ss"));
        if (mark == QLatin1String("00:00"))
            announceOnTheMark(*this, OnHour, InfoHourly);
        else if (mark == QLatin1String("45:00") || mark == QLatin1String("15:00"))
            announceOnTheMark(*this, QuarterHour, InfoQuarter);
        else if (mark == QLatin1String("30:00"))
            announceOnTheMark(*this, HalfHour, InfoHalf);
        if (Program::ended())
            return;
    }
}

void MainWindow::Timer4_Timer()
{
    followNodeForPtt(*this);
    Program::doEvents();
    if (Program::ended())
        return;
    showTransmitter(*this);
}

void MainWindow::TheTime_Click()
{
    SayTheText = timePhrase();
    flag2 = 1;
}

void MainWindow::TheTimeBit()
{
    const TimeParts t = timePartsNow();
    if (Option1->value())
        SayTheText = QStringLiteral("at") + t.hour12 + ' ' + t.minutes + ' ' + ' ' + t.amPm;
    else
        SayTheText = QStringLiteral("at") + t.hhmm24;
    // Spoken at the next tick, straight after the announcement it follows.
    flagtime = 1;
    flag2 = 1;
}

} // namespace mirelva
