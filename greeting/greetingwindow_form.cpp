// The greeting window's form: the ten slotFrame with their texts and counters,
// the switches, the delay, the clock and the two buttons, the timers, and the
// wiring of controls, timers and node events to their handlers.
//
// Controls are created in reading order, so Tab and a screen reader walk
// them the way they are laid out.

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "core/clock.h"
#include "ui/program.h"
#include "greeting/greetingwindow.h"

namespace mirelva {

void GreetingWindow::buildForm()
{
    setObjectName(QStringLiteral("Form10"));
    auto *outer = new QVBoxLayout(this);

    // ---- the ten slotFrame ---------------------------------------------------------
    auto *slotFrame = frame(this, QStringLiteral("FrameGreeting"),
                        QStringLiteral("Greeting Message  ----    ( Max 160 Characters )"));
    auto *grid = new QGridLayout(slotFrame);
    Slots = new OptionGroup(this);
    OptionButton **options[kSlots] = {&Option1, &Option2, &Option3, &Option4, &Option5,
                                      &Option6, &Option7, &Option8, &Option9, &Option10};
    TextBox **texts[kSlots - 1] = {&TextTXMessage,  &TextTXMessage2, &TextTXMessage3,
                                   &TextTXMessage4, &TextTXMessage5, &TextTXMessage6,
                                   &TextTXMessage7, &TextTXMessage8, &TextTXMessage9};
    QLabel **counters[kSlots - 1] = {&Label16, &Label17, &Label18, &Label19, &Label20,
                                     &Label21, &Label22, &Label23, &Label24};
    for (int n = 1; n <= kSlots; ++n) {
        const QString num = QString::number(n);
        auto *option = new OptionButton(QStringLiteral("Option") + num, num, Slots, slotFrame);
        Slots->add(option);
        *options[n - 1] = option;
        m_slots[n - 1] = option;
        grid->addWidget(option, n - 1, 0);
        if (n == kSlots) {
            option->setAccessibleName(QStringLiteral("Connect notice, slot 10"));
            Label10 = new QLabel(QStringLiteral(" Show stations in text box Connect / Disconnect.\n"
                                                "(12:30) VK2ABC Peter Connected / Disconnected"),
                                 slotFrame);
            Label10->setObjectName(QStringLiteral("Label10"));
            grid->addWidget(Label10, n - 1, 1, 1, 3);
            break;
        }
        option->setAccessibleName(QStringLiteral("Greeting ") + num);
        auto *hello = new QLabel(n == 9 ? QStringLiteral("\"Call - Name\"") : QStringLiteral("Hello \"Name\""), slotFrame);
        auto *box = textBox(slotFrame, n == 1 ? QStringLiteral("TextTXMessage") : QStringLiteral("TextTXMessage") + num,
                            {}, {}, {.limit = kTextLimit});
        box->setAccessibleName(QStringLiteral("Greeting text ") + num);
        hello->setBuddy(box);
        *texts[n - 1] = box;
        m_texts[n - 1] = box;
        auto *count = valueLabel(slotFrame, QStringLiteral("Label") + QString::number(15 + n), QStringLiteral("000"),
                                 QStringLiteral("Characters in greeting text ") + num);
        *counters[n - 1] = count;
        m_counters[n - 1] = count;
        grid->addWidget(hello, n - 1, 1);
        grid->addWidget(box, n - 1, 2);
        grid->addWidget(count, n - 1, 3);
    }
    grid->setColumnStretch(2, 1);
    outer->addWidget(slotFrame);

    // ---- switches, randomising and the delay -----------------------------------
    auto *switches = new QHBoxLayout;
    UseGreeting = checkBox(this, QStringLiteral("UseGreeting"), QStringLiteral("Use Greeting"));
    TimeStamp = checkBox(this, QStringLiteral("TimeStamp"), QStringLiteral("Time Stamp Greeting"));
    Check1 = checkBox(this, QStringLiteral("Check1"), QStringLiteral("Randomise  Greeting"));
    auto *lRand = captionFor(this, QStringLiteral("From 1 to"));
    MaxRand = textBox(this, QStringLiteral("MaxRand"), QStringLiteral("10"), {}, {.limit = 2, .digits = true, .width = 2});
    MaxRand->setAccessibleName(QStringLiteral("Randomise from 1 to"));
    tie(lRand, MaxRand);
    switches->addWidget(UseGreeting);
    switches->addWidget(TimeStamp);
    switches->addWidget(Check1);
    switches->addWidget(lRand);
    switches->addWidget(MaxRand);
    switches->addStretch(1);
    outer->addLayout(switches);

    auto *bottom = new QHBoxLayout;
    auto *delay = frame(this, QStringLiteral("FrameDelay"), QStringLiteral("Delay Before Sending Connect Message"));
    auto *dg = new QHBoxLayout(delay);
    auto *lDelay = captionFor(delay, QStringLiteral("Set Delay Seconds"));
    BeaconPeriodDelay = textBox(delay, QStringLiteral("BeaconPeriodDelay"), QStringLiteral("3"), {},
                                {.limit = 1, .digits = true, .width = 1});
    tie(lDelay, BeaconPeriodDelay);
    auto *lSentIn = new QLabel(QStringLiteral("Message Sent In"), delay);
    BeaconSecondsDelay = valueLabel(delay, QStringLiteral("BeaconSecondsDelay"), QStringLiteral("3"),
                                    QStringLiteral("Seconds until the message is sent"));
    auto *lSeconds = new QLabel(QStringLiteral("Seconds"), delay);
    dg->addWidget(lDelay);
    dg->addWidget(BeaconPeriodDelay);
    dg->addSpacing(16);
    dg->addWidget(lSentIn);
    dg->addWidget(BeaconSecondsDelay);
    dg->addWidget(lSeconds);
    dg->addStretch(1);
    bottom->addWidget(delay, 1);

    auto *right = new QVBoxLayout;
    auto *clock = new QHBoxLayout;
    clock->addWidget(new QLabel(QStringLiteral("Local Time :"), this));
    ShowTime = valueLabel(this, QStringLiteral("ShowTime"), QStringLiteral("00:00:00"), QStringLiteral("Local Time"));
    Program::showsTime(ShowTime, Clock::clockFace);
    clock->addWidget(ShowTime);
    right->addLayout(clock);
    auto *buttons = new QHBoxLayout;
    Command1 = button(this, QStringLiteral("Command1"), QStringLiteral("Hide"));
    Command2 = button(this, QStringLiteral("Command2"), QStringLiteral("Save Settings"));
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);
    right->addLayout(buttons);
    bottom->addLayout(right);
    outer->addLayout(bottom);
    // Says why greetings do not go out, when they do not.
    StatusLine = new QLabel(this);
    StatusLine->setObjectName(QStringLiteral("StatusLine"));
    StatusLine->setAccessibleName(QStringLiteral("Status"));
    outer->addWidget(StatusLine);

    // ---- timers, with their design intervals and states -------------------------
    // The countdown starts with a connect.
    Timer2Delay = new VbTimer(this, QStringLiteral("Timer2Delay"), 1000, false);
    Timer1 = new VbTimer(this, QStringLiteral("Timer1"), 1000, true);
    Timer2 = new VbTimer(this, QStringLiteral("Timer2"), 100, true);

    applyAccessibleNames(this);
    giveKeyboardAccess(this);
    resize(760, 520);
}

void GreetingWindow::wireHandlers()
{
    onClick(Command1, &GreetingWindow::Command1_Click);
    onClick(Command2, &GreetingWindow::Command2_Click);
}

void GreetingWindow::wireEchoLink()
{
    connect(Echolink, &EchoLink::connected, this, &GreetingWindow::Echolink_connected);
    connect(Echolink, &EchoLink::Disconnected, this, &GreetingWindow::Echolink_Disconnected);
    connect(Echolink, &EchoLink::Closing, this, &GreetingWindow::EchoLink_Closing);
}

void GreetingWindow::wireTimers()
{
    connect(Timer2Delay, &VbTimer::Timer, this, &GreetingWindow::Timer2Delay_Timer);
    connect(Timer1, &VbTimer::Timer, this, &GreetingWindow::Timer1_Timer);
    connect(Timer2, &VbTimer::Timer, this, &GreetingWindow::Timer2_Timer);
    for (TextBox *box : m_texts)
        connect(box, &QLineEdit::textChanged, Timer2, &VbTimer::wake);
}

} // namespace mirelva
