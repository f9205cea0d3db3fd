// The silence scheduler: three weekly schedules that turn the keyed
// announcements off and on at second 15 of their minute.

#include "announcer/mainwindow.h"
#include "core/clock.h"
#include "ui/program.h"

namespace mirelva {

namespace {

const QString kEnabled = QStringLiteral("Silence Mode Enabled");
const QString kDisabled = QStringLiteral("Silence Mode Disabled");

QString clockText(const QDateTime &when) { return when.toString(QStringLiteral("HH:mm:ss")); }

// The hour and minutes of one schedule time as hh:mm:15, or no time at all
// when the boxes hold no time of day (the default hour 24, an emptied box,
// junk from a settings file); such a schedule never fires. One digit is as
// good as two.
QTime scheduleTime(const TextBox *hour, const TextBox *minutes)
{
    const auto part = [](const QString &text, int most) {
        if (text.isEmpty())
            return -1;
        int value = 0;
        for (const QChar c : text) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return -1;
            value = value * 10 + (c.unicode() - '0');
            if (value > most)
                return -1;
        }
        return value;
    };
    const int h = part(hour->text(), 23);
    const int m = part(minutes->text(), 59);
    if (h < 0 || m < 0)
        return {};
    return QTime(h, m, 15);
}

struct Schedule {
    CheckBox *days[7];   // Sunday first, as the clock counts them
    TextBox *hourOff, *minsOff, *hourOn, *minsOn;
};

// A change of silence is a transmission of its own, with a copy to the
// stations connected: the time as text, two blanks and the notice.
void warnAboutSilence(MainWindow &w, const QString &notice)
{
    if (w.Check2->value() != 1)
        return;
    w.SayTheText = notice;
    w.flag2 = 1;
    w.Echolink->SendChatText(clockText(Clock::now()) + QStringLiteral("  <") + notice + QLatin1Char('>'));
}

} // namespace

void MainWindow::Timer5_Timer()
{
    // The seconds this tick stands for: its own and every one that passed
    // since the last tick while the thread was blocked (an announcement, a
    // warning spoken below), so a busy moment does not cost a schedule.
    // Taken before waiting events run, which may speak for several seconds
    // more; the next tick takes those.
    const QDateTime now = Clock::now();
    const QList<QDateTime> owed = m_silenceSeconds.take(now);

    // 1.
    ShowTime2->setText(Clock::clockFace(now));
    Program::doEvents();
    if (Program::ended())
        return;
    // 3., 4.
    const Schedule schedules[] = {
        {{Sun, Mon, Tue, Wed, Thur, Fri, Sat}, HourOFF1, MinsOFF1, HourON1b, MinsON1b},
        {{Sun2, Mon2, Tue2, Wed2, Thur2, Fri2, Sat2}, HourOFF2, MinsOFF2, HourON2b, MinsON2b},
        {{Sun3, Mon3, Tue3, Wed3, Thur3, Fri3, Sat3}, HourOFF3, MinsOFF3, HourON3b, MinsON3b},
    };
    for (const QDateTime &at : owed) {
        // 2. Sunday 0 to Saturday 6, of the second acted on.
        const int day = at.date().dayOfWeek() % 7;
        const QTime second = at.time();
        for (const Schedule &s : schedules) {
            if (s.days[day]->value() != 1)
                continue;
            if (scheduleTime(s.hourOff, s.minsOff) == second) {
                SilenceOn();
                sayQueuedSilenceWarning();
                if (Program::ended())
                    return;
                Check1->setValue(1);
            }
            if (scheduleTime(s.hourOn, s.minsOn) == second) {
                SilenceOFF();
                Check1->setValue(0);
            }
        }
    }
}

void MainWindow::sayQueuedSilenceWarning()
{
    if (Check2->value() == 1 && flag2 == 1 && Check1->value() != 1 && SayTheText == kEnabled) {
        flag2 = 0;
        SpeakTheText();
    }
}

void MainWindow::SilenceOn() { warnAboutSilence(*this, kEnabled); }

void MainWindow::SilenceOFF() { warnAboutSilence(*this, kDisabled); }

void MainWindow::ScheduleBox_Change(TextBox *box) { box->setDigitsOnly(true); }

} // namespace mirelva
