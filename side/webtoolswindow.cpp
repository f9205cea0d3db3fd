// The web tools window: its form, tolvane.ini, the page buttons and closing.

#include "side/webtoolswindow.h"

#include <algorithm>

#include <QCloseEvent>

#include "ui/program.h"
#include "ui/questions.h"
#include "core/version.h"
#include "side/webaddresses.h"

namespace mirelva {

// Closing the window asks nothing (closeEvent saves the switch); the node's
// closing saves it and ends the program, releasing nothing.
WebToolsWindow::WebToolsWindow(Station &st, QWidget *parent)
    : StationWindow(st, parent, iniName(), kIniCapacity, {{}, {}, {}, {}, [this] { SaveData2(); }})
{
    buildForm();
    m_resize.FormInitialize(this);
    enlist(&Station::webTools);
}

// Every control has a fixed place in the design size; ClsResize keeps them in
// proportion from there. Sizes follow the font, so captions fit at any dpi.
void WebToolsWindow::buildForm()
{
    setObjectName(QStringLiteral("Form9"));
    setWindowTitle(QStringLiteral("Tolvane"));

    const int line = fontMetrics().height();
    const int row = std::max(line + 14, 28);
    const int gap = 8;
    const int frameHeight = line + row + 2 * gap;
    const int width = std::max(760, fontMetrics().horizontalAdvance(QString(110, QLatin1Char('x'))));
    const int browserHeight = 420;
    const int height = gap + browserHeight + gap + frameHeight + gap + row + gap;

    // Created in the order Tab visits them.
    WebBrowser1 = new BrowserView(QStringLiteral("WebBrowser1"), this);
    WebBrowser1->setGeometry(gap, gap, width - 2 * gap, browserHeight);
    WebBrowser1->setAccessibleName(QStringLiteral("Web page"));

    const int framesTop = gap + browserHeight + gap;
    const int frameWidth = (width - 4 * gap) / 3;
    const int inner = frameWidth - 2 * gap;

    Frame1 = frame(this, QStringLiteral("Frame1"), QStringLiteral("Look up Call on QRZ"));
    Frame1->setGeometry(gap, framesTop, frameWidth, frameHeight);
    Text1 = textBox(Frame1, QStringLiteral("Text1"), QString(), QStringLiteral("Enter Callsign to Lookup on QRZ."), {});
    Text1->setAccessibleName(QStringLiteral("Callsign to look up"));
    const int qrzWidth = std::max(64, fontMetrics().horizontalAdvance(QStringLiteral("QRZ")) + 32);
    Text1->setGeometry(gap, line + gap, inner - qrzWidth - gap, row);
    Command1 = button(Frame1, QStringLiteral("Command1"), QStringLiteral("QRZ"), QStringLiteral("Look up callsign on QRZ"));
    Command1->setGeometry(inner - qrzWidth + gap, line + gap, qrzWidth, row);

    Frame2 = frame(this, QStringLiteral("Frame2"), QStringLiteral("Auto Show QRZ Info "));
    Frame2->setGeometry(2 * gap + frameWidth, framesTop, frameWidth, frameHeight);
    Check9 = checkBox(Frame2, QStringLiteral("Check9"), QStringLiteral("Show QRZ Info"),
                      QStringLiteral("Auto Show QRZ Info on Newly Connected Calls"));
    Check9->setGeometry(gap, line + gap, inner, row);

    Frame3 = frame(this, QStringLiteral("Frame3"), QStringLiteral("Last Connected Node"));
    Frame3->setGeometry(3 * gap + 2 * frameWidth, framesTop, width - 4 * gap - 2 * frameWidth, frameHeight);
    Label2 = new ValueLabel(QStringLiteral("None"), Frame3, ValueLabel::Sizing::ByForm);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setToolTip(QStringLiteral("Last Connected Call"));
    Label2->setAccessibleName(QStringLiteral("Last Connected Call"));
    Label2->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    // It shows a station's name from the network: never read as rich text.
    Label2->setTextFormat(Qt::PlainText);
    Label2->setGeometry(gap, line + gap, Frame3->width() - 2 * gap, row);

    const int buttonsTop = framesTop + frameHeight + gap;
    const int buttonWidth = (width - 8 * gap) / 7;
    int x = gap;
    const auto place = [&](QPushButton *b) {
        b->setGeometry(x, buttonsTop, buttonWidth, row);
        x += buttonWidth + gap;
    };
    Command10 = button(this, QStringLiteral("Command10"), QStringLiteral("Current Logins"),
                       QStringLiteral("Current EchoLink Logins"));
    place(Command10);
    Command11 = button(this, QStringLiteral("Command11"), QStringLiteral("Proxy List"), QStringLiteral("Avalible Proxy List"));
    place(Command11);
    Command9 = button(this, QStringLiteral("Command9"), QStringLiteral("EchoLink"), QStringLiteral("EchoLink WebSite"));
    place(Command9);
    Command2 = button(this, QStringLiteral("Command2"), QStringLiteral("eQSL"), QStringLiteral("eQSL WebSite"));
    place(Command2);
    Command3 = button(this, QStringLiteral("Command3"), QStringLiteral("Translator"),
                      QStringLiteral("Babel Fish Translation"));
    place(Command3);
    Command4 = button(this, QStringLiteral("Command4"), QStringLiteral("Save Data"), QStringLiteral("Save Data"));
    place(Command4);
    Command5 = button(this, QStringLiteral("Command5"), QStringLiteral("Hide"), QStringLiteral("Hide this screen"));
    place(Command5);

    resize(width, height);
    applyAccessibleNames(this);
    giveKeyboardAccess(this);

    onClick(Command1, &WebToolsWindow::Command1_Click);
    onClick(Command10, &WebToolsWindow::Command10_Click);
    onClick(Command11, &WebToolsWindow::Command11_Click);
    onClick(Command9, &WebToolsWindow::Command9_Click);
    onClick(Command2, &WebToolsWindow::Command2_Click);
    onClick(Command3, &WebToolsWindow::Command3_Click);
    onClick(Command4, &WebToolsWindow::SaveData2);
    onClick(Command5, &WebToolsWindow::Command5_Click);
    connect(Text1, &QLineEdit::textChanged, this, &WebToolsWindow::Text1_Change);
}

void WebToolsWindow::Form_Load()
{
    // 1. The program entry turns a second copy away before any window exists;
    //    should one get this far, it says so and ends.
    if (Program::anotherCopyRunning()) {
        Questions::inform(this, Questions::Icon::None, QStringLiteral("Mirelva"),
                          QStringLiteral("Program is already running."));
        Program::end();
        return;
    }
    // 2.
    Check9->setValue(m_ini.check(QStringLiteral("CHECK9"), QStringLiteral("1")));
    // 3., 4.
    EchoLink1 = new EchoLink(station.node, QStringLiteral("web tools"), this);
    EchoLink1->setAutomationTimeouts(900000);
    connect(EchoLink1, &EchoLink::Closing, this, &WebToolsWindow::EchoLink_Closing);
    // 5. The caption follows the node's callsign once the node tells it.
    if (station.node) {
        connect(station.node, &NodeBackend::stateChanged, this, &WebToolsWindow::refreshCaption);
        connect(station.node, &NodeBackend::onlineChanged, this, &WebToolsWindow::refreshCaption);
    }
    refreshCaption();
}

void WebToolsWindow::refreshCaption()
{
    if (EchoLink1)
        setWindowTitle(windowCaption(EchoLink1->LocalStation(), QStringLiteral("   Internet Option")));
}

void WebToolsWindow::SaveData2()
{
    IniFile::Save save(m_ini);
    m_ini.writeCheck(QStringLiteral("CHECK9"), Check9->value());
}

void WebToolsWindow::Command1_Click()
{
    // What is not a callsign is never put into an address.
    const QString address = WebAddresses::callLookup(Text1->text());
    if (!address.isEmpty())
        WebBrowser1->Navigate(address);
}
void WebToolsWindow::Command10_Click() { WebBrowser1->Navigate(WebAddresses::echoLinkLogins()); }
void WebToolsWindow::Command11_Click() { WebBrowser1->Navigate(WebAddresses::echoLinkProxyList()); }
void WebToolsWindow::Command9_Click() { WebBrowser1->Navigate(WebAddresses::echoLinkHome()); }
void WebToolsWindow::Command2_Click() { WebBrowser1->Navigate(WebAddresses::eqslHome()); }
void WebToolsWindow::Command3_Click() { WebBrowser1->Navigate(WebAddresses::translator()); }
void WebToolsWindow::Command5_Click() { hide(); }

// Letters typed after the first change come out as capitals; what is already
// in the box stays as it is.
void WebToolsWindow::Text1_Change() { Text1->setUpperCase(true); }

void WebToolsWindow::closeEvent(QCloseEvent *event)
{
    // Closing keeps the switch: it is saved, without a question.
    if (!Program::ended())
        SaveData2();
    event->accept();
}

void WebToolsWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_resize.FormResize();
}

} // namespace mirelva
