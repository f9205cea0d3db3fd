// The message box's form: the log, the typing line, the two time-stamp
// switches, the eight filter words and the buttons, and the wiring of
// controls and node events to their handlers.
//
// Controls are created in reading order, so Tab and a screen reader walk
// them the way they are laid out: the log, then what the operator uses most
// (the typing line), then the settings.

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "ui/program.h"
#include "messagebox/messageboxwindow.h"

namespace mirelva {

void MessageBoxWindow::buildForm()
{
    setObjectName(QStringLiteral("Form16"));
    auto *outer = new QVBoxLayout(this);
    QFont verdana = font();
    verdana.setFamily(QStringLiteral("Verdana"));

    IncomingText = new LogBox(QStringLiteral("IncomingText"), this);
    IncomingText->setAccessibleName(QStringLiteral("Text Messages"));
    IncomingText->setFont(verdana);
    outer->addWidget(IncomingText, 1);

    auto *typing = frame(this, QStringLiteral("FrameSend"), QStringLiteral("Type Message Click Send"));
    auto *tg = new QHBoxLayout(typing);
    TextTX = textBox(typing, QStringLiteral("TextTX"), {}, {}, {});
    TextTX->setFont(verdana);
    TextTX->setAccessibleName(QStringLiteral("Type Message"));
    Send = button(typing, QStringLiteral("Send"), QStringLiteral("Send"));
    Send->setAccessibleName(QStringLiteral("Send Message"));
    tg->addWidget(TextTX, 1);
    tg->addWidget(Send);
    outer->addWidget(typing);

    auto *switches = new QHBoxLayout;
    Check1 = checkBox(this, QStringLiteral("Check1"), QStringLiteral("Send Text With Time Stamp"));
    Check2 = checkBox(this, QStringLiteral("Check2"), QStringLiteral("Time Stamp Incoming"));
    switches->addWidget(Check1);
    switches->addWidget(Check2);
    switches->addStretch(1);
    outer->addLayout(switches);

    auto *filters = frame(this, QStringLiteral("FrameFilter"),
                          QStringLiteral("Text Filter              Filter Text Messages Containing The Words  "));
    auto *fg = new QGridLayout(filters);
    TextBox **boxes[8] = {&FilterText1, &FilterText2, &FilterText3, &FilterText4,
                          &FilterText5, &FilterText6, &FilterText7, &FilterText8};
    for (int n = 1; n <= 8; ++n) {
        auto *box = textBox(filters, QStringLiteral("FilterText") + QString::number(n), {}, {}, {});
        box->setAccessibleName(QStringLiteral("Filter word ") + QString::number(n));
        *boxes[n - 1] = box;
        m_filters[n - 1] = box;
        fg->addWidget(box, (n - 1) / 4, (n - 1) % 4);
    }
    outer->addWidget(filters);

    auto *buttons = new QHBoxLayout;
    ClearRX = button(this, QStringLiteral("ClearRX"), QStringLiteral("Clear"));
    ClearRX->setAccessibleName(QStringLiteral("Clear Text Messages"));
    SaveIt = button(this, QStringLiteral("SaveIt"), QStringLiteral("Save"));
    Exit = button(this, QStringLiteral("Exit"), QStringLiteral("Hide"));
    buttons->addStretch(1);
    buttons->addWidget(ClearRX);
    buttons->addWidget(SaveIt);
    buttons->addWidget(Exit);
    outer->addLayout(buttons);

    applyAccessibleNames(this);
    giveKeyboardAccess(this);
    resize(640, 520);
}

void MessageBoxWindow::wireHandlers()
{
    onClick(ClearRX, &MessageBoxWindow::ClearRX_Click);
    onClick(SaveIt, &MessageBoxWindow::SaveIt_Click);
    onClick(Exit, &MessageBoxWindow::Exit_Click);
    onClick(Send, &MessageBoxWindow::TXText);
    // Enter in the typing line sends, as the button does.
    connect(TextTX, &QLineEdit::returnPressed, this, [this] {
        if (!Program::ended())
            TXText();
    });
}

void MessageBoxWindow::wireEchoLink()
{
    connect(Echolink, &EchoLink::ChatTextReceived, this, &MessageBoxWindow::EchoLink_ChatTextReceived);
    connect(Echolink, &EchoLink::Closing, this, &MessageBoxWindow::EchoLink_Closing);
}

} // namespace mirelva
