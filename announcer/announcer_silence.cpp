// The silence scheduler: three weekly schedules that turn the keyed
// announcements off and on at second 15 of their minute.

#include "announcer/mainwindow.h"
#include "core/clock.h"
#include "core/program.h"

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
    // The second this tick stands for. An event handled below may speak for
    // several seconds; the schedules still compare with the second the tick
    // came for, so a busy moment does not cost a schedule.
    const QDateTime now = Clock::now();
    const QTime second(now.time().hour(), now.time().minute(), now.time().second());

    // 1.
    ShowTime2->setText(clockText(now));
    Program::doEvents();
    if (Program::ended())
        return;
    // 2. Sunday 0 to Saturday 6.
    const int day = now.date().dayOfWeek() % 7;
    // 3., 4.
    const Schedule schedules[] = {
        {{Sun, Mon, Tue, Wed, Thur, Fri, Sat}, HourOFF1, MinsOFF1, HourON1b, MinsON1b},
        {{Sun2, Mon2, Tue2, Wed2, Thur2, Fri2, Sat2}, HourOFF2, MinsOFF2, HourON2b, MinsON2b},
        {{Sun3, Mon3, Tue3, Wed3, Thur3, Fri3, Sat3}, HourOFF3, MinsOFF3, HourON3b, MinsON3b},
    };
    for (const Schedule &s : schedules) {
        if (s.days[day]->value() != 1)
            continue;
        if (scheduleTime(s.hourOff, s.minsOff) == second) {
            SilenceOn();
            // The operator asked to be warned, so the warning goes out now,
            // while announcements are still enabled; queued, it would only
            // meet the silence at the next clock tick and be dropped. A busy
            // link still keeps it off the air, as it does every announcement.
            // Taken off the queue first: a clock tick handled inside the
            // speech would otherwise say it a second time.
            if (Check2->value() == 1 && flag2 == 1 && Check1->value() != 1) {
                flag2 = 0;
                SpeakTheText();
                if (Program::ended())
                    return;
            }
            Check1->setValue(1);
        }
        if (scheduleTime(s.hourOn, s.minsOn) == second) {
            SilenceOFF();
            Check1->setValue(0);
        }
    }
}

void MainWindow::SilenceOn() { warnAboutSilence(*this, kEnabled); }

void MainWindow::SilenceOFF() { warnAboutSilence(*this, kDisabled); }

void MainWindow::ScheduleBox_Change(TextBox *box) { box->setDigitsOnly(true); }

} // namespace mirelva
