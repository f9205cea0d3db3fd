#include "side/aboutwindow.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "ui/controls.h"
#include "ui/program.h"
#include "core/version.h"
#include "side/webaddresses.h"
#include "side/website.h"

namespace mirelva {

namespace {
// "Donation: $10.00" gives "10.00".
QString amountOf(const QString &entry) { return entry.section(QLatin1Char('$'), 1).trimmed(); }
} // namespace

// No settings file, and closing it asks and ends nothing.
AboutWindow::AboutWindow(Station &st, QWidget *parent) : StationWindow(st, parent, QString(), 0, {})
{
    buildForm();
    enlist(&Station::about);
}

QStringList AboutWindow::amounts()
{
    return {QStringLiteral("Donation: $10.00"), QStringLiteral("Donation: $20.00"), QStringLiteral("Donation: $30.00"),
            QStringLiteral("Donation: $40.00"), QStringLiteral("Donation: $50.00")};
}

void AboutWindow::buildForm()
{
    setObjectName(QStringLiteral("Form14"));
    setWindowTitle(QStringLiteral("About"));
    auto *v = new QVBoxLayout(this);

    Label1 = new QLabel(this);
    Label1->setTextFormat(Qt::PlainText);   // the caption carries the node's callsign
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont big = Label1->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.3);
    Label1->setFont(big);
    Label1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    v->addWidget(Label1);

    // Shown as text to read or copy; the only address this window opens is
    // the donation page.
    Label3 = new ValueLabel(QStringLiteral("Web: ") + WebAddresses::makerWebSite() + QStringLiteral("\nMail: ")
                                + WebAddresses::makerMail(),
                            this, ValueLabel::Sizing::ByForm);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Label3->setAccessibleName(QStringLiteral("Contact"));
    v->addWidget(Label3);

    auto *row = new QHBoxLayout;
    Combo1 = new QComboBox(this);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->addItems(amounts());
    Combo1->setAccessibleName(QStringLiteral("Donation amount"));
    Command1 = button(this, QStringLiteral("Command1"), QStringLiteral("Make Donation"));
    row->addWidget(Combo1, 1);
    row->addWidget(Command1);
    v->addLayout(row);

    Command2 = button(this, QStringLiteral("Command2"), QStringLiteral("Hide"));
    v->addWidget(Command2, 0, Qt::AlignRight);

    applyAccessibleNames(this);
    giveKeyboardAccess(this);

    onClick(Command1, &AboutWindow::Command1_Click);
    onClick(Command2, &AboutWindow::Command2_Click);
}

void AboutWindow::Form_Load()
{
    EchoLink1 = new EchoLink(station.node, QStringLiteral("about"), this);
    if (station.node) {
        connect(station.node, &NodeBackend::stateChanged, this, &AboutWindow::refreshCaption);
        connect(station.node, &NodeBackend::onlineChanged, this, &AboutWindow::refreshCaption);
    }
    refreshCaption();
}

void AboutWindow::refreshCaption()
{
    if (!EchoLink1)
        return;
    const QString caption = windowCaption(EchoLink1->LocalStation());
    setWindowTitle(caption);
    Label1->setText(caption);
}

void AboutWindow::Command1_Click() { WebSite::OpenAddress(WebAddresses::donationPage(amountOf(Combo1->currentText()))); }

void AboutWindow::Command2_Click() { hide(); }

} // namespace mirelva
