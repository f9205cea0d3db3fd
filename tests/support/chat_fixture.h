#pragma once

#include <QStringList>

#include "greeting/greetingwindow.h"
#include "messagebox/messageboxwindow.h"
#include "support/announcer_fixture.h"

namespace mirelva::test {

// The station with its greeting window and message box, for the chat:
// every window's timers are in the test's hand (see AnnouncerFixture), and
// the greeting window sends, as it does on a first start.
class ChatFixture : public AnnouncerFixture {
public:
    explicit ChatFixture(const QDateTime &now = QDateTime(QDate(2024, 3, 5), QTime(10, 7, 23)))
        : AnnouncerFixture(now)
    {
        g().UseGreeting->setValue(1);
    }

    GreetingWindow &g() { return *station.greeting; }
    MessageBoxWindow &mb() { return *station.messageBox; }

    // The chat texts sent to the node, in order.
    QStringList chats() const
    {
        QStringList l;
        for (const QString &r : node.requestTexts())
            if (r.startsWith(QLatin1String("SendChatText ")))
                l << r.mid(13);
        return l;
    }

    // Ticks of the greeting countdown; a disabled timer does not tick.
    void countdown(int ticks)
    {
        for (int i = 0; i < ticks; ++i)
            if (g().Timer2Delay->isEnabled())
                g().Timer2Delay_Timer();
    }

    // The message box's log, one entry per line.
    QStringList logLines() const
    {
        QStringList l = station.messageBox->IncomingText->toPlainText().split(QLatin1Char('\n'));
        if (!l.isEmpty() && l.last().isEmpty())
            l.removeLast();
        return l;
    }
};

} // namespace mirelva::test
