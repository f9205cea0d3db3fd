// Start-up, saving and ending of the greeting window, and the sender: the
// countdown after a connect, the greeting or connect notice it sends, and
// the goodbye on a disconnect.

#include "greeting/greetingwindow.h"

#include <cmath>

#include <QCloseEvent>
#include <QRandomGenerator>

#include "core/clock.h"
#include "ui/program.h"
#include "ui/questions.h"
#include "messagebox/messageboxwindow.h"

namespace mirelva {

// The one window that saves as the program ends: on "Yes" to its quit
// question and on the node's closing, releasing the transmitter first.
GreetingWindow::GreetingWindow(Station &st, QWidget *parent)
    : StationWindow(st, parent, iniName(), kIniCapacity,
                    {QStringLiteral("Quit - Remember to save your settings - Are You Sure ? "),
                     {WindowEnding::Line::PTT}, {WindowEnding::Line::PTT}, [this] { SaveData(); },
                     [this] { SaveData(); }})
{
    random = [] { return QRandomGenerator::global()->generateDouble(); };
    buildForm();
    wireHandlers();
    enlist(&Station::greeting);
}

OptionButton *GreetingWindow::slot(int n) const { return n >= 1 && n <= kSlots ? m_slots[n - 1] : nullptr; }
TextBox *GreetingWindow::slotText(int n) const { return n >= 1 && n < kSlots ? m_texts[n - 1] : nullptr; }

int GreetingWindow::selectedSlot() const
{
    for (int n = 1; n <= kSlots; ++n)
        if (slot(n)->value())
            return n;
    return 0;
}

// ---- start-up, settings and ending -------------------------------------------

void GreetingWindow::Form_Load()
{
    if (m_loaded)
        return;
    m_loaded = true;

    // The window's own EchoLink instance, created after the main window's and
    // the DTMF window's, so those hear each connect first.
    Echolink = new EchoLink(station.node, QStringLiteral("greeting"), this);
    wireEchoLink();
    connect(station.node, &NodeBackend::stateChanged, this, &GreetingWindow::refreshCaption);
    refreshCaption();

    loadSettings();
    wireTimers();
}

void GreetingWindow::refreshCaption()
{
    // This window names the version by its major and minor numbers only.
    if (Echolink)
        setWindowTitle(QStringLiteral("Mirelva    ") + Echolink->LocalStation()
                       + QStringLiteral("   v%1.%2").arg(MIRELVA_VERSION_MAJOR).arg(MIRELVA_VERSION_MINOR)
                       + QStringLiteral("      Text Box Greeting Message"));
}

void GreetingWindow::loadSettings() { SettingTables::load(m_ini, this, settingTable()); }

void GreetingWindow::SaveData()
{
    // Every key in one replacement of the file.
    SettingTables::save(m_ini, this, settingTable());
}

// Hidden, the window keeps counting down and greeting.
void GreetingWindow::Command1_Click() { hide(); }
void GreetingWindow::Command2_Click() { SaveData(); }

void GreetingWindow::Timer1_Timer() { ShowTime->setText(Clock::clockFace(Clock::now())); }

void GreetingWindow::Timer2_Timer()
{
    Program::doEvents();
    if (Program::ended())
        return;
    bool changed = false;
    for (int n = 1; n < kSlots; ++n) {
        const QString before = m_counters[n - 1]->text();
        setLabelNumber(m_counters[n - 1], slotText(n)->text().size());
        changed |= m_counters[n - 1]->text() != before;
    }
    // The counters follow the texts alone: until a text changes again, the
    // next ticks would change nothing.
    if (!changed)
        Timer2->rest();
}

// ---- the sender ------------------------------------------------------------------

void GreetingWindow::Echolink_connected(const QString &sCallConnected, const QString &sName, const QString &)
{
    // A conference is welcomed with the connect notice; the choice stays.
    if (sCallConnected.endsWith(QLatin1Char('*')))
        Option10->setValue(true);
    // A connect during the countdown starts it again for this station: only
    // the last of a burst is greeted, once.
    sCallConnectedx = sCallConnected;
    sNamex = sName;
    BeaconSecondsDelay->setText(BeaconPeriodDelay->text());
    Timer2Delay->setEnabled(true);
}

void GreetingWindow::Timer2Delay_Timer()
{
    Program::doEvents();
    if (Program::ended())
        return;
    setLabelNumber(BeaconSecondsDelay, labelNumber(BeaconSecondsDelay) - 1);
    // A delay of 0 (or one left empty or unreadable) would never count down
    // to the greeting: it becomes 1 second.
    if (BeaconPeriodDelay->number() < 1) {
        BeaconPeriodDelay->setText(QStringLiteral("1"));
        BeaconSecondsDelay->setText(QStringLiteral("1"));
    }
    if (labelNumber(BeaconSecondsDelay) <= 0) {
        BeaconSecondsDelay->setText(BeaconPeriodDelay->text());
        Timer2Delay->setEnabled(false);
        SendMessage();
    }
}

QString GreetingWindow::timeStampPrefix() const
{
    return TimeStamp->value() == 1 ? QLatin1Char('(') + Clock::chatTime() + QStringLiteral(") ") : QString();
}

void GreetingWindow::sendAndLog(const QString &body)
{
    const bool sent = Echolink->SendChatText(timeStampPrefix() + body);
    // A text the node did not take is not shown as sent: its copy says why,
    // and so does the status line, once, until a text goes out again.
    const QString refusal = sent ? QString() : Echolink->chatRefusal();
    StatusLine->setText(sent ? QString() : QStringLiteral("Greetings are ") + refusal);
    if (station.messageBox) {
        LogBox *log = station.messageBox->IncomingText;
        const QString copy = timeStampPrefix() + body;
        log->appendLine(sent ? copy : refusal + QStringLiteral(": ") + copy);
        log->placeCaretAtEnd();
    }
}

void GreetingWindow::SendMessage()
{
    // The pick comes before the master switch: with randomising on, the
    // slot changes at every countdown end even when nothing is sent.
    if (Check1->value() == 1)
        PickRandomGreeting();
    if (UseGreeting->value() == 0)
        return;
    const int n = selectedSlot();
    if (n == 0)
        return;
    if (n == kSlots)
        sendAndLog(sCallConnectedx + QLatin1Char(' ') + sNamex + QStringLiteral(" Connected"));
    else
        sendAndLog(QStringLiteral("Hello ") + sNamex + QLatin1Char(' ') + slotText(n)->text());
}

void GreetingWindow::PickRandomGreeting()
{
    if (MaxRand->number() > kSlots)
        MaxRand->setText(QString::number(kSlots));
    if (MaxRand->text().isEmpty() || MaxRand->text() == QLatin1String("0"))
        MaxRand->setText(QStringLiteral("1"));
    const double n = std::floor(double(MaxRand->number()) * random() + 1);
    if (n >= 1 && n <= kSlots)
        slot(int(n))->setValue(true);
}

void GreetingWindow::Echolink_Disconnected(const QString &sCall)
{
    // The goodbye names the station that left, which need not be the one
    // last greeted; a countdown still running goes on.
    if (UseGreeting->value() != 0 && Option10->value())
        sendAndLog(sCall + QStringLiteral(" Disconnected 73's"));
}

} // namespace mirelva
