#pragma once

#include <QColor>
#include <QDateTime>
#include <QPalette>

#include "announcer/speechpause.h"
#include "core/clock.h"
#include "core/nodebackend.h"
#include "ui/vbtimer.h"
#include "dtmf/dtmfwindow.h"
#include "greeting/greetingwindow.h"
#include "support/mainfixture.h"

namespace mirelva::test {

// The main window as the program runs it, for the announcer's handlers:
// - the voice tells the node what it speaks, as the program entry wires it,
//   so request sequences carry the "Speech keyed: ..." lines;
// - the windows' timers are disconnected from their handlers: a test calls
//   the handlers itself and sees exactly the ticks it makes (the timers'
//   enabled states still count);
// - SleepTTS pauses are counted, not slept;
// - the PTT indicator follows the node, as it does from the first Timer4 tick.
class AnnouncerFixture : public MainFixture {
public:
    explicit AnnouncerFixture(const QDateTime &now = QDateTime(QDate(2024, 3, 5), QTime(10, 7, 23)))
    {
        Clock::setForTests(now);
        tellNodeOfSpeech(voice, node);
        QList<VbTimer *> timers = window->findChildren<VbTimer *>();
        if (station.dtmf)
            timers += station.dtmf->findChildren<VbTimer *>();
        if (station.greeting)
            timers += station.greeting->findChildren<VbTimer *>();
        for (VbTimer *t : timers)
            QObject::disconnect(t, &VbTimer::Timer, nullptr, nullptr);
        // The greeting window's chat texts have tests of their own; here the
        // requests compared are the announcer's.
        if (station.greeting)
            station.greeting->UseGreeting->setValue(0);
        SpeechPause::setSkippedForTests(true);
        SpeechPause::resetCount();
        window->Timer4_Timer();
        node.clearRecords();
    }

    static void setTime(int h, int m, int s)
    {
        Clock::setForTests(QDateTime(QDate(2024, 3, 5), QTime(h, m, s)));
    }
};

// The colour a label shows, written the Windows way (0x00BBGGRR).
inline unsigned captionColour(const QLabel *label)
{
    const QColor c = label->palette().color(QPalette::WindowText);
    return unsigned(c.red()) | unsigned(c.green()) << 8 | unsigned(c.blue()) << 16;
}

} // namespace mirelva::test
