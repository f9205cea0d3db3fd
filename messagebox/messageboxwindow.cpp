// Start-up, saving and ending of the message box, the handling of received
// chat texts, and sending typed ones.

#include "messagebox/messageboxwindow.h"

#include <QCloseEvent>

#include "announcer/mainwindow.h"
#include "core/clock.h"
#include "ui/program.h"
#include "ui/questions.h"
#include "core/version.h"
#include "greeting/greetingwindow.h"

namespace mirelva {

// "Yes" to the quit question ends the program without saving anything; the
// transmitter is released first, on the question and on the node's closing.
MessageBoxWindow::MessageBoxWindow(Station &st, QWidget *parent)
    : StationWindow(st, parent, iniName(), kIniCapacity,
                    {QStringLiteral("Quit Message Box - Are You Sure ? Remember To Save Any Changes  "),
                     {WindowEnding::Line::PTT}, {WindowEnding::Line::PTT}, {}, {}})
{
    buildForm();
    wireHandlers();
    ChatNotice = new VbTimer(this, QStringLiteral("ChatNotice"), kChatNoticeGapMs, false);
    connect(ChatNotice, &VbTimer::Timer, this, &MessageBoxWindow::ChatNotice_Timer);
    enlist(&Station::messageBox);
}

TextBox *MessageBoxWindow::filterText(int n) const { return n >= 1 && n <= 8 ? m_filters[n - 1] : nullptr; }

// ---- start-up, settings and ending -------------------------------------------

void MessageBoxWindow::Form_Load()
{
    if (m_loaded)
        return;
    m_loaded = true;

    // The last window loaded, so its EchoLink instance hears each event last.
    Echolink = new EchoLink(station.node, QStringLiteral("messagebox"), this);
    wireEchoLink();
    connect(station.node, &NodeBackend::stateChanged, this, &MessageBoxWindow::refreshCaption);
    refreshCaption();

    loadSettings();
}

void MessageBoxWindow::refreshCaption()
{
    if (Echolink)
        setWindowTitle(windowCaption(Echolink->LocalStation(), QStringLiteral("   Text Messages")));
}

void MessageBoxWindow::loadSettings()
{
    const IniFile &ini = m_ini;
    // With none stored (a first start) the window opens beside the main
    // window when it is first shown, not over it.
    const QString left = ini.text(QStringLiteral("LEFT"), QString());
    const QString top = ini.text(QStringLiteral("TOP"), QString());
    if (!left.isEmpty() || !top.isEmpty())
        moveToTwips(this, ini.twips(QStringLiteral("LEFT"), QStringLiteral("300")),
                    ini.twips(QStringLiteral("TOP"), QStringLiteral("300")));
    SettingTables::load(ini, this, settingTable());
}

void MessageBoxWindow::SaveData()
{
    // Every key in one replacement of the file.
    SettingTables::save(m_ini, this, settingTable());
}

const SettingTable &MessageBoxWindow::settingTable()
{
    static const SettingTable table = [] {
        using K = Setting::Kind;
        SettingTable t{
            {QStringLiteral("LEFT"), {}, K::WindowLeft, QStringLiteral("300")},
            {QStringLiteral("TOP"), {}, K::WindowTop, QStringLiteral("300")},
            {QStringLiteral("CHECK1"), QStringLiteral("Check1"), K::Check, QStringLiteral("1"),
             QStringLiteral("Chat texts sent carry the time they were sent.")},
            {QStringLiteral("CHECK2"), QStringLiteral("Check2"), K::Check, QStringLiteral("1"),
             QStringLiteral("Chat texts received are logged with the time they came.")},
        };
        for (int n = 1; n <= 8; ++n)
            t << Setting{QStringLiteral("FILTERTEXT%1").arg(n), QStringLiteral("FilterText%1").arg(n), K::Text, {},
                         QStringLiteral("A received chat text holding this word (after its first letter, in this letter case) is "
                                        "not shown in the log; it is still read out when chat texts are (filter %1).")
                             .arg(n)};
        return t;
    }();
    return table;
}

void MessageBoxWindow::ClearRX_Click() { IncomingText->clear(); }
void MessageBoxWindow::SaveIt_Click() { SaveData(); }
// Hidden, the window goes on receiving and logging.
void MessageBoxWindow::Exit_Click() { hide(); }

// ---- receiving -------------------------------------------------------------------

bool MessageBoxWindow::isFiltered(const QString &sText) const
{
    // Searched from the second character on, with letter case: a word that
    // stands only at the very start (the sender's call) hides nothing, and an
    // empty filter box never hides anything.
    const auto foundAfterFirst = [&sText](const QString &word) {
        return !word.isEmpty() && sText.indexOf(word, 1) >= 1;
    };
    for (const TextBox *f : m_filters)
        if (foundAfterFirst(f->text()))
            return true;
    return foundAfterFirst(QStringLiteral(".list"));
}

void MessageBoxWindow::EchoLink_ChatTextReceived(const QString &sText)
{
    // 1. Offered for speaking before and whatever the filters say.
    if (station.main && station.main->SayText->value() == 1) {
        station.main->SayTheText = QStringLiteral("Message from  ") + sText;
        station.main->flag2 = 1;
    }

    // 2. Answered whether the text is shown or not. An answer the node could
    //    not send is told in the log, after the question.
    QString unsentAnswer;
    if (sText.contains(QLatin1String("/ver/"))) {
        const QString answer = QStringLiteral("Mirelva  v") + versionText();
        if (!Echolink->SendChatText(answer))
            unsentAnswer = Echolink->chatRefusal() + QStringLiteral(": ") + answer;
    }

    // 3.
    if (sText.contains(QLatin1String("/Greeting/")) && station.greeting)
        station.greeting->Option10->setValue(true);

    // 4. and 5.
    if (!isFiltered(sText)) {
        IncomingText->setReadOnly(true);
        QString text = sText;
        text.replace(QLatin1Char('\r'), QLatin1String("\r\n"));
        // The time goes after the sender's ">", which then stands twice:
        // "ABC>hello" becomes "ABC> (16:45)>hello". A text without a sender
        // keeps its words after the time.
        const qsizetype p = text.indexOf(QLatin1Char('>')) + 1;
        const QString head = text.left(p);
        const QString tail = p > 0 ? text.mid(p - 1) : text;
        ReceivedStamped = head + QStringLiteral(" (") + Clock::chatTime() + QLatin1Char(')') + tail;
        IncomingText->appendLine(Check2->value() == 0 ? text : ReceivedStamped);
        tellChat(text);
    }

    if (!unsentAnswer.isEmpty())
        IncomingText->appendLine(unsentAnswer);

    // 6. The caret goes to the end, however long the log has grown, so the
    //    newest line is in view.
    IncomingText->placeCaretAtEnd();
}

void MessageBoxWindow::tellChat(const QString &text)
{
    // A pasted page or a looping script must not keep a screen reader busy
    // for minutes, nor make a notice per line: after one told, the rest of
    // the burst waits for the timer.
    const qint64 now = Clock::nowMs();
    // A clock set back counts as quiet, else the burst would wait for it.
    const bool quiet = !m_chatToldAt || now - *m_chatToldAt >= kChatNoticeGapMs || now < *m_chatToldAt;
    if (m_chatsHeld == 0 && quiet) {
        m_chatToldAt = now;
        sayChat(QStringLiteral("Chat: ") + text);
        return;
    }
    ++m_chatsHeld;
    m_lastHeld = text;
    ChatNotice->setEnabled(true);
}

void MessageBoxWindow::ChatNotice_Timer()
{
    ChatNotice->setEnabled(false);
    if (m_chatsHeld == 0)
        return;
    const QString words = m_chatsHeld == 1
                              ? QStringLiteral("Chat: ") + m_lastHeld
                              : QStringLiteral("Chat: %1 more texts, the last: %2").arg(m_chatsHeld).arg(m_lastHeld);
    m_chatsHeld = 0;
    m_lastHeld.clear();
    m_chatToldAt = Clock::nowMs();
    sayChat(words);
}

void MessageBoxWindow::sayChat(const QString &words)
{
    // Heard wherever the focus is; from the main window while this one is
    // hidden.
    QWidget *teller = isVisible() || !station.main ? static_cast<QWidget *>(this) : station.main;
    tellScreenReader(teller, words);
    emit chatTold(words);
}

// ---- sending -----------------------------------------------------------------------

void MessageBoxWindow::TXText()
{
    if (Check1->value() == 1) {
        SentStamped = QLatin1Char('(') + Clock::chatTime() + QStringLiteral(") >") + TextTX->text();
        m_lastSent = Echolink->SendChatText(SentStamped);
    } else {
        m_lastSent = Echolink->SendChatText(TextTX->text());
    }
    TXText2();
    TextTX->clear();
    TextTX->setFocus();
}

void MessageBoxWindow::TXText2()
{
    const QString sent = Check1->value() == 1 ? SentStamped : TextTX->text();
    const QString line = Echolink->LocalStation() + QStringLiteral("> ") + sent;
    IncomingText->appendLine(m_lastSent ? line : Echolink->chatRefusal() + QStringLiteral(": ") + line);
}

} // namespace mirelva
