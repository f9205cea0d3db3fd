// The DTMF window's form: every control with its caption, tool tip, input
// limits and design value, the timers with their design intervals, and the
// wiring of controls, timers and node events to their handlers.
//
// Widgets are created in reading order, so the Tab key walks them the way
// they are laid out. Rows of look-alike boxes (eight singles, six group
// members, four nets) get spoken names that say which row they belong to.

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "core/clock.h"
#include "ui/program.h"
#include "dtmf/dtmfwindow.h"

namespace mirelva {

namespace {

// A code or callsign box with the name a screen reader says for it.
TextBox *namedBox(QWidget *parent, const QString &name, const QString &design, const QString &tip,
                  const QString &spoken, BoxStyle style = {.width = 8})
{
    TextBox *b = textBox(parent, name, design, tip, style);
    b->setAccessibleName(spoken);
    return b;
}

QLabel *heading(QWidget *parent, const QString &text)
{
    auto *l = new QLabel(text, parent);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    return l;
}

} // namespace

void DtmfWindow::buildForm()
{
    setObjectName(QStringLiteral("Form4"));
    setWindowFlag(Qt::Window);
    auto *outer = new QVBoxLayout(this);
    SSTab1 = new QTabWidget(this);
    SSTab1->setObjectName(QStringLiteral("SSTab1"));
    outer->addWidget(SSTab1);

    const QString callTip = QStringLiteral("Enter Call");
    const QString groupTip = QStringLiteral("Enter Group Call");

    // ---- tab "DTMF Control" ------------------------------------------------
    {
        auto *page = new QWidget;
        page->setObjectName(QStringLiteral("TabDTMFControl"));
        auto *grid = new QGridLayout(page);
        auto *left = new QVBoxLayout;

        // The disconnect functions and their re-enable countdown.
        auto *ff = frame(page, QStringLiteral("FrameFunction"), QStringLiteral("DTMF Disconnect Functions"));
        auto *fg = new QGridLayout(ff);
        Check1 = checkBox(ff, QStringLiteral("Check1"), QStringLiteral("Enable DTMF Use"));
        auto *lOn = captionFor(ff, QStringLiteral("Enable Code"));
        Text222 = namedBox(ff, QStringLiteral("Text222"), QStringLiteral("Text222"),
                           QStringLiteral("DTMF to Enable Function"), QStringLiteral("DTMF to enable the functions"));
        tie(lOn, Text222);
        auto *lOff = captionFor(ff, QStringLiteral("Disable Code"));
        Text333 = namedBox(ff, QStringLiteral("Text333"), QStringLiteral("Text333"),
                           QStringLiteral("DTMF to Disable Function"), QStringLiteral("DTMF to disable the functions"));
        tie(lOff, Text333);
        auto *lRe = captionFor(ff, QStringLiteral("Re-Enable Minutes"));
        BeaconPeriod = namedBox(ff, QStringLiteral("BeaconPeriod"), QStringLiteral("5"),
                                QStringLiteral("Re-Enable Minutes"), QStringLiteral("Re-enable after minutes"),
                                {.digits = true, .width = 3});
        tie(lRe, BeaconPeriod);
        BeaconSeconds = valueLabel(ff, QStringLiteral("BeaconSeconds"), QStringLiteral("15"),
                                   QStringLiteral("Seconds until the functions are enabled again"));
        fg->addWidget(Check1, 0, 0, 1, 3);
        fg->addWidget(lOn, 1, 0);
        fg->addWidget(Text222, 1, 1);
        fg->addWidget(lOff, 2, 0);
        fg->addWidget(Text333, 2, 1);
        fg->addWidget(lRe, 3, 0);
        fg->addWidget(BeaconPeriod, 3, 1);
        fg->addWidget(BeaconSeconds, 3, 2);
        left->addWidget(ff);

        // The acceptance delay.
        auto *df = frame(page, QStringLiteral("FrameDelay"),
                         QStringLiteral("The 1st seconds of TX dont allow DTMF Con/Disc"));
        auto *dg = new QGridLayout(df);
        UseDTMFDelay = checkBox(df, QStringLiteral("UseDTMFDelay"), QStringLiteral("Use Delay"));
        auto *lSec = captionFor(df, QStringLiteral("Delay Seconds"));
        DTMFDelaySeconds = namedBox(df, QStringLiteral("DTMFDelaySeconds"), {}, QStringLiteral("Delay Seconds"),
                                    QStringLiteral("Delay seconds"), {.digits = true, .width = 3});
        tie(lSec, DTMFDelaySeconds);
        DTMFDelayPeriod = valueLabel(df, QStringLiteral("DTMFDelayPeriod"), QStringLiteral("5"),
                                     QStringLiteral("Seconds of received signal before codes are obeyed"));
        auto *lDOn = captionFor(df, QStringLiteral("Delay On Code"));
        Text1111 = namedBox(df, QStringLiteral("Text1111"), QStringLiteral("Text1"),
                            QStringLiteral("DTMF to Enable Delay"), QStringLiteral("DTMF to enable the delay"));
        tie(lDOn, Text1111);
        auto *lDOff = captionFor(df, QStringLiteral("Delay Off Code"));
        Text2222 = namedBox(df, QStringLiteral("Text2222"), QStringLiteral("Text2"),
                            QStringLiteral("DTMF to Disable Delay"), QStringLiteral("DTMF to disable the delay"));
        tie(lDOff, Text2222);
        PTT3 = valueLabel(df, QStringLiteral("PTT3"), QStringLiteral("      "), QStringLiteral("Receiver"));
        PTT3->setMinimumWidth(PTT3->fontMetrics().horizontalAdvance(QStringLiteral("Receiving Signal")) + 8);
        showReceiving(PTT3, false);
        dg->addWidget(UseDTMFDelay, 0, 0);
        dg->addWidget(PTT3, 0, 1, 1, 2);
        dg->addWidget(lSec, 1, 0);
        dg->addWidget(DTMFDelaySeconds, 1, 1);
        dg->addWidget(DTMFDelayPeriod, 1, 2);
        dg->addWidget(lDOn, 2, 0);
        dg->addWidget(Text1111, 2, 1);
        dg->addWidget(lDOff, 3, 0);
        dg->addWidget(Text2222, 3, 1);
        left->addWidget(df);

        // Last call, disconnect all and the time code.
        auto *lf = frame(page, QStringLiteral("FrameLastCall"), QStringLiteral("Last Call and All Stations"));
        auto *lg = new QGridLayout(lf);
        auto *lLast = captionFor(lf, QStringLiteral("Disconnect Last Call Code"));
        Text555 = namedBox(lf, QStringLiteral("Text555"), QStringLiteral("Text555"),
                           QStringLiteral("DTMF to Disconnect Last Call Connected"),
                           QStringLiteral("DTMF to disconnect the last call"));
        tie(lLast, Text555);
        auto *lLc = captionFor(lf, QStringLiteral("Last Call Connected"));
        LastConnected = namedBox(lf, QStringLiteral("LastConnected"), {}, QStringLiteral("Last Call Connected"),
                                 QStringLiteral("Last call connected"));
        tie(lLc, LastConnected);
        auto *lAll = captionFor(lf, QStringLiteral("Disconnect All Code"));
        Text111 = namedBox(lf, QStringLiteral("Text111"), QStringLiteral("Text111"),
                           QStringLiteral("DTMF to Disconnect All stations connected."),
                           QStringLiteral("DTMF to disconnect all stations"));
        tie(lAll, Text111);
        auto *lTime = captionFor(lf, QStringLiteral("Local Time Code"));
        DTMF = namedBox(lf, QStringLiteral("DTMF"), QStringLiteral("DTMF"), QStringLiteral("DTMF for Local Time"),
                        QStringLiteral("DTMF for local time"));
        tie(lTime, DTMF);
        UseDTMF = checkBox(lf, QStringLiteral("UseDTMF"), QStringLiteral("Use"));
        UseDTMF->setAccessibleName(QStringLiteral("Use the local time code"));
        lg->addWidget(lLast, 0, 0);
        lg->addWidget(Text555, 0, 1);
        lg->addWidget(lLc, 1, 0);
        lg->addWidget(LastConnected, 1, 1);
        lg->addWidget(lAll, 2, 0);
        lg->addWidget(Text111, 2, 1);
        lg->addWidget(lTime, 3, 0);
        lg->addWidget(DTMF, 3, 1);
        lg->addWidget(UseDTMF, 3, 2);
        left->addWidget(lf);
        left->addStretch(1);
        grid->addLayout(left, 0, 0, 2, 1);

        // The eight single stations.
        auto *sf = frame(page, QStringLiteral("FrameSingles"), QStringLiteral("Singles"));
        auto *sg = new QGridLayout(sf);
        sg->addWidget(heading(sf, QStringLiteral("Callsign")), 0, 1);
        sg->addWidget(heading(sf, QStringLiteral("DTMF")), 0, 2);
        sg->addWidget(heading(sf, QStringLiteral("Con/Disc")), 0, 3);
        TextBox **calls[8] = {&Call1, &Call2, &Call3, &Call4, &Call5, &Call6, &Call7, &Call8};
        TextBox **codes[8] = {&DTMF1, &DTMF2, &DTMF3, &DTMF4, &DTMF5, &DTMF6, &DTMF7, &DTMF8};
        QPushButton **toggles[8] = {&Command7, &Command8, &Command9, &Command10,
                                    &Command11, &Command12, &Command13, &Command15};
        const char *toggleNames[8] = {"Command7", "Command8", "Command9", "Command10",
                                      "Command11", "Command12", "Command13", "Command15"};
        for (int i = 0; i < 8; ++i) {
            const QString n = QString::number(i + 1);
            sg->addWidget(new QLabel(n, sf), i + 1, 0);
            *calls[i] = namedBox(sf, QStringLiteral("Call") + n, {}, callTip, QStringLiteral("Single ") + n +
                                 QStringLiteral(" callsign"), {.upper = true, .width = 10});
            *codes[i] = namedBox(sf, QStringLiteral("DTMF") + n, {}, QStringLiteral("Enter DTMF to Con/Disc Call"),
                                 QStringLiteral("Single ") + n + QStringLiteral(" DTMF code"), {.width = 6});
            QPushButton *b = button(sf, QLatin1String(toggleNames[i]), {},
                                    QStringLiteral("Connect / Disconnect Selected Callsign"));
            b->setAccessibleName(QStringLiteral("Connect or disconnect single ") + n);
            b->setFixedSize(22, 22);
            *toggles[i] = b;
            sg->addWidget(*calls[i], i + 1, 1);
            sg->addWidget(*codes[i], i + 1, 2);
            sg->addWidget(b, i + 1, 3, Qt::AlignCenter);
        }
        sg->setColumnStretch(4, 1);
        grid->addWidget(sf, 0, 1);

        // The two groups of three.
        // One above the other, so the page fits a 1024x768 screen.
        auto *groups = new QVBoxLayout;
        struct Group {
            TextBox **members[3];
            TextBox **connectCode;
            TextBox **discCode;
            QPushButton **connectButton;
            QPushButton **discButton;
        };
        const Group gs[2] = {
            {{&GroupCall1, &GroupCall2, &GroupCall3}, &DTMFGroup1Connect, &DTMFGroup1Disc, &Command3, &Command4},
            {{&GroupCall4, &GroupCall5, &GroupCall6}, &DTMFGroup2Connect, &DTMFGroup2Disc, &Command5, &Command6},
        };
        for (int g = 0; g < 2; ++g) {
            const QString gn = QString::number(g + 1);
            const QString group = QStringLiteral("Group ") + gn;
            auto *gf = frame(page, QStringLiteral("FrameGroup") + gn, group);
            auto *gg = new QGridLayout(gf);
            gg->addWidget(heading(gf, QStringLiteral("Connect")), 0, 1);
            gg->addWidget(heading(gf, QStringLiteral("Disconnect")), 0, 2);
            gg->addWidget(new QLabel(QStringLiteral("DTMF"), gf), 1, 0);
            *gs[g].connectCode = namedBox(gf, QStringLiteral("DTMFGroup") + gn + QStringLiteral("Connect"), {}, {},
                                          group + QStringLiteral(" connect DTMF code"), {.width = 6});
            *gs[g].discCode = namedBox(gf, QStringLiteral("DTMFGroup") + gn + QStringLiteral("Disc"), {}, {},
                                       group + QStringLiteral(" disconnect DTMF code"), {.width = 6});
            gg->addWidget(*gs[g].connectCode, 1, 1);
            gg->addWidget(*gs[g].discCode, 1, 2);
            *gs[g].connectButton = button(gf, g == 0 ? QStringLiteral("Command3") : QStringLiteral("Command5"), {},
                                          QStringLiteral("Test Connection Selection"));
            (*gs[g].connectButton)->setAccessibleName(QStringLiteral("Test connect ") + group.toLower());
            *gs[g].discButton = button(gf, g == 0 ? QStringLiteral("Command4") : QStringLiteral("Command6"), {},
                                       QStringLiteral("Test Disconnection Selection"));
            (*gs[g].discButton)->setAccessibleName(QStringLiteral("Test disconnect ") + group.toLower());
            for (QPushButton *b : {*gs[g].connectButton, *gs[g].discButton})
                b->setFixedSize(22, 22);
            gg->addWidget(*gs[g].connectButton, 2, 1, Qt::AlignCenter);
            gg->addWidget(*gs[g].discButton, 2, 2, Qt::AlignCenter);
            gg->addWidget(new QLabel(QStringLiteral("Callsign"), gf), 3, 0);
            auto *members = new QHBoxLayout;
            for (int m = 0; m < 3; ++m) {
                const QString mn = QString::number(g * 3 + m + 1);
                *gs[g].members[m] = namedBox(gf, QStringLiteral("GroupCall") + mn, {}, groupTip,
                                             group + QStringLiteral(" callsign ") + QString::number(m + 1),
                                             {.upper = true, .width = 10});
                members->addWidget(*gs[g].members[m]);
            }
            gg->addLayout(members, 3, 1, 1, 3);
            gg->setColumnStretch(3, 1);
            groups->addWidget(gf);
        }
        grid->addLayout(groups, 1, 1);

        auto *buttons = new QHBoxLayout;
        buttons->addStretch(1);
        Command2 = button(page, QStringLiteral("Command2"), QStringLiteral("Save"), QStringLiteral("Save your data"));
        Command1 = button(page, QStringLiteral("Command1"), QStringLiteral("Hide"), QStringLiteral("Hide this screen"));
        buttons->addWidget(Command2);
        buttons->addWidget(Command1);
        grid->addLayout(buttons, 2, 0, 1, 2);
        grid->setRowStretch(1, 1);
        SSTab1->addTab(page, QStringLiteral("DTMF Control"));
    }

    // ---- tab "Net Scheduler" -------------------------------------------------
    {
        auto *page = new QWidget;
        page->setObjectName(QStringLiteral("TabNetScheduler"));
        auto *v = new QVBoxLayout(page);
        auto *nets = new QGridLayout;

        struct NetParts {
            TextBox **call, **hour, **mins, **discMins;
            CheckBox **days[7];
            CheckBox **discAll, **busy, **use;
            QLabel **period;
            const char *hourName, *minsName, *useName;
        };
        const NetParts parts[4] = {
            {&NetCall1, &Hour, &Mins, &DiscMins1, {&Sun, &Mon, &Tue, &Wed, &Thur, &Fri, &Sat},
             &DisconnectAll1, &ShowBusy1, &Check3, &DiscPeriod1, "Hour", "Mins", "Check3"},
            {&NetCall2, &Hour2, &Mins2, &DiscMins2, {&Sun2, &Mon2, &Tue2, &Wed2, &Thur2, &Fri2, &Sat2},
             &DisconnectAll2, &ShowBusy2, &Check2, &DiscPeriod2, "Hour2", "Mins2", "Check2"},
            {&NetCall3, &Hour3, &Mins3, &DiscMins3, {&Sun3, &Mon3, &Tue3, &Wed3, &Thur3, &Fri3, &Sat3},
             &DisconnectAll3, &ShowBusy3, &Check11, &DiscPeriod3, "Hour3", "Mins3", "Check11"},
            {&NetCall4, &Hour4, &Mins4, &DiscMins4, {&Sun4, &Mon4, &Tue4, &Wed4, &Thur4, &Fri4, &Sat4},
             &DisconnectAll4, &ShowBusy4, &Check20, &DiscPeriod4, "Hour4", "Mins4", "Check20"},
        };
        const QStringList days{QStringLiteral("Sun"), QStringLiteral("Mon"), QStringLiteral("Tue"),
                               QStringLiteral("Wed"), QStringLiteral("Thur"), QStringLiteral("Fri"),
                               QStringLiteral("Sat")};
        for (int i = 0; i < 4; ++i) {
            const NetParts &p = parts[i];
            const QString n = QString::number(i + 1);
            const QString ofNet = QStringLiteral(" (net ") + n + ')';
            auto *nf = frame(page, QStringLiteral("FrameNet") + n,
                             QStringLiteral("Net Scheduler ") + n +
                                 QStringLiteral(" --  15 seconds after allotted time to allow for beacons"));
            auto *ng = new QGridLayout(nf);

            auto *top = new QHBoxLayout;
            auto *lCall = captionFor(nf, QStringLiteral("Callsign"));
            *p.call = namedBox(nf, QStringLiteral("NetCall") + n, {},
                               QStringLiteral("Enter NET Callsign ... Tip = For no connections to be made enter the "
                                              "Word \"LOCAL\"."),
                               QStringLiteral("Net ") + n + QStringLiteral(" callsign"), {.upper = true, .width = 10});
            lCall->setBuddy(*p.call);
            auto *lStart = captionFor(nf, QStringLiteral("Start"));
            *p.hour = namedBox(nf, QLatin1String(p.hourName), QStringLiteral("24"), {},
                               QStringLiteral("Net ") + n + QStringLiteral(" start hour"),
                               {.limit = 2, .digits = true, .width = 2});
            lStart->setBuddy(*p.hour);
            *p.mins = namedBox(nf, QLatin1String(p.minsName), QStringLiteral("00"), {},
                               QStringLiteral("Net ") + n + QStringLiteral(" start minutes"),
                               {.limit = 2, .digits = true, .width = 2});
            top->addWidget(lCall);
            top->addWidget(*p.call);
            top->addSpacing(12);
            top->addWidget(lStart);
            top->addWidget(*p.hour);
            top->addWidget(new QLabel(QStringLiteral(":"), nf));
            top->addWidget(*p.mins);
            top->addStretch(1);
            ng->addLayout(top, 0, 0);

            auto *dayRow = new QHBoxLayout;
            for (int d = 0; d < 7; ++d) {
                *p.days[d] = checkBox(nf, days[d] + (i == 0 ? QString() : n), days[d]);
                (*p.days[d])->setAccessibleName(days[d] + ofNet);
                dayRow->addWidget(*p.days[d]);
            }
            dayRow->addStretch(1);
            ng->addLayout(dayRow, 1, 0);

            auto *opts = new QHBoxLayout;
            *p.discAll = checkBox(nf, QStringLiteral("DisconnectAll") + n, QStringLiteral("Disconnect All"),
                                  QStringLiteral("Disconnect All Connected Stations At The Time Of Net"));
            (*p.discAll)->setAccessibleName(QStringLiteral("Disconnect All") + ofNet);
            *p.busy = checkBox(nf, QStringLiteral("ShowBusy") + n, QStringLiteral("Show Busy"));
            (*p.busy)->setAccessibleName(QStringLiteral("Show Busy") + ofNet);
            opts->addWidget(*p.discAll);
            opts->addWidget(*p.busy);
            opts->addStretch(1);
            ng->addLayout(opts, 2, 0);

            auto *disc = new QHBoxLayout;
            *p.use = checkBox(nf, QLatin1String(p.useName), QStringLiteral("Use"),
                              QStringLiteral("Use Disconnect Net Callsign after"));
            (*p.use)->setAccessibleName(QStringLiteral("Use timed disconnect") + ofNet);
            auto *lAfter = new QLabel(QStringLiteral("Disconnect after"), nf);
            *p.discMins = namedBox(nf, QStringLiteral("DiscMins") + n, QStringLiteral("1"),
                                   QStringLiteral("Disconnect Net Callsign after xx Minutes"),
                                   QStringLiteral("Net ") + n + QStringLiteral(" disconnect after minutes"),
                                   {.digits = true, .width = 4});
            lAfter->setBuddy(*p.discMins);
            *p.period = valueLabel(nf, QStringLiteral("DiscPeriod") + n, QStringLiteral("0"),
                                   QStringLiteral("Seconds until net ") + n + QStringLiteral(" is disconnected"));
            disc->addWidget(*p.use);
            disc->addWidget(lAfter);
            disc->addWidget(*p.discMins);
            disc->addWidget(new QLabel(QStringLiteral("Minutes"), nf));
            disc->addSpacing(12);
            disc->addWidget(*p.period);
            disc->addWidget(new QLabel(QStringLiteral("Seconds Left"), nf));
            disc->addStretch(1);
            ng->addLayout(disc, 3, 0);
            nets->addWidget(nf, i / 2, i % 2);
        }
        v->addLayout(nets);

        auto *bottom = new QHBoxLayout;
        RFBusy = checkBox(page, QStringLiteral("RFBusy"),
                          QStringLiteral("If Local RF Busy Then No Auto Scheduler Connects"));
        Check4 = checkBox(page, QStringLiteral("Check4"), QStringLiteral("Use 1 Minute Warning Before Net"),
                          QStringLiteral("Give 1 Minute Warning Before Net"));
        ShowTime = valueLabel(page, QStringLiteral("ShowTime"), QStringLiteral("00:00:00"), QStringLiteral("Time"));
        Program::showsTime(ShowTime, Clock::clockFace);
        auto *checks = new QVBoxLayout;
        checks->addWidget(RFBusy);
        checks->addWidget(Check4);
        bottom->addLayout(checks);
        bottom->addStretch(1);
        bottom->addWidget(ShowTime);
        bottom->addSpacing(12);
        Command14 = button(page, QStringLiteral("Command14"), QStringLiteral("Save"));
        Command16 = button(page, QStringLiteral("Command16"), QStringLiteral("Hide"));
        bottom->addWidget(Command14);
        bottom->addWidget(Command16);
        v->addLayout(bottom);
        v->addStretch(1);
        SSTab1->addTab(page, QStringLiteral("Net Scheduler"));
    }

    // The same captions on both tabs: the spoken names say which tab.
    Command2->setAccessibleName(QStringLiteral("Save (DTMF Control)"));
    Command1->setAccessibleName(QStringLiteral("Hide (DTMF Control)"));
    Command14->setAccessibleName(QStringLiteral("Save (Net Scheduler)"));
    Command16->setAccessibleName(QStringLiteral("Hide (Net Scheduler)"));

    // ---- timers, with their design intervals and states ----------------------
    DTMFDelay = new VbTimer(this, QStringLiteral("DTMFDelay"), 1000, true);
    Timer1 = new VbTimer(this, QStringLiteral("Timer1"), 1000, true);
    // Nets start on an exact second, so the scheduler ticks on the wall clock.
    Timer2 = new VbTimer(this, QStringLiteral("Timer2"), 1000, true);
    Timer2->setWallClockSecond(true);
    Timer3 = new VbTimer(this, QStringLiteral("Timer3"), 1000, false);
    Timer4 = new VbTimer(this, QStringLiteral("Timer4"), 1000, false);
    Timer5 = new VbTimer(this, QStringLiteral("Timer5"), 1000, false);
    Timer6 = new VbTimer(this, QStringLiteral("Timer6"), 1000, false);

    applyAccessibleNames(this);
    giveKeyboardAccess(this);
    resize(900, 560);
}

void DtmfWindow::wireHandlers()
{
    const TextBox *calls[8] = {Call1, Call2, Call3, Call4, Call5, Call6, Call7, Call8};
    QPushButton *toggles[8] = {Command7, Command8, Command9, Command10, Command11, Command12, Command13, Command15};
    for (int i = 0; i < 8; ++i) {
        const TextBox *call = calls[i];
        // An empty box does nothing; the codes and the buttons share the toggle.
        onClick(toggles[i], [this, call] {
            if (!call->text().isEmpty())
                toggle(call);
        });
    }
    onClick(Command3, &DtmfWindow::Command3_Click);
    onClick(Command4, &DtmfWindow::Command4_Click);
    onClick(Command5, &DtmfWindow::Command5_Click);
    onClick(Command6, &DtmfWindow::Command6_Click);
    onClick(Command2, &DtmfWindow::SaveData);
    onClick(Command14, &DtmfWindow::SaveData);
    onClick(Command1, &DtmfWindow::Command1_Click);
    onClick(Command16, &DtmfWindow::Command16_Click);

    onChange(DTMFDelaySeconds, &DtmfWindow::DTMFDelaySeconds_Change);
    onChange(BeaconPeriod, &DtmfWindow::BeaconPeriod_Change);
    connect(Check1, &QCheckBox::stateChanged, this, [this] { Check1_Change(); });
    for (TextBox *b : {Call1, Call2, Call3, Call4, Call5, Call6, Call7, Call8, GroupCall1, GroupCall2, GroupCall3,
                       GroupCall4, GroupCall5, GroupCall6, NetCall1, NetCall2, NetCall3, NetCall4})
        onChange(b, [this, b] { CallBox_Change(b); });
    for (int n = 1; n <= 4; ++n) {
        onChange(net(n).DiscMins, [this, n] { DiscMins_Change(n); });
        for (TextBox *b : {net(n).Hour, net(n).Mins})
            onChange(b, [this, b] { TimeBox_Change(b); });
    }
}

void DtmfWindow::wireTimers()
{
    connect(DTMFDelay, &VbTimer::Timer, this, &DtmfWindow::DTMFDelay_Timer);
    connect(Timer1, &VbTimer::Timer, this, &DtmfWindow::Timer1_Timer);
    connect(Timer2, &VbTimer::Timer, this, &DtmfWindow::Timer2_Timer);
    connect(Timer3, &VbTimer::Timer, this, &DtmfWindow::Timer3_Timer);
    connect(Timer4, &VbTimer::Timer, this, &DtmfWindow::Timer4_Timer);
    connect(Timer5, &VbTimer::Timer, this, &DtmfWindow::Timer5_Timer);
    connect(Timer6, &VbTimer::Timer, this, &DtmfWindow::Timer6_Timer);
}

void DtmfWindow::wireEchoLink()
{
    connect(Echolink, &EchoLink::DTMFString, this, &DtmfWindow::EchoLink_DTMFString);
    connect(Echolink, &EchoLink::connected, this, &DtmfWindow::Echolink_connected);
    connect(Echolink, &EchoLink::Disconnected, this, &DtmfWindow::Echolink_Disconnected);
    connect(Echolink, &EchoLink::Closing, this, &DtmfWindow::EchoLink_Closing);
}

DtmfWindow::Net DtmfWindow::net(int n) const
{
    switch (n) {
    case 1:
        return {NetCall1, Hour, Mins, {Sun, Mon, Tue, Wed, Thur, Fri, Sat}, DisconnectAll1, ShowBusy1, Check3,
                DiscMins1, DiscPeriod1, Timer3};
    case 2:
        return {NetCall2, Hour2, Mins2, {Sun2, Mon2, Tue2, Wed2, Thur2, Fri2, Sat2}, DisconnectAll2, ShowBusy2,
                Check2, DiscMins2, DiscPeriod2, Timer4};
    case 3:
        return {NetCall3, Hour3, Mins3, {Sun3, Mon3, Tue3, Wed3, Thur3, Fri3, Sat3}, DisconnectAll3, ShowBusy3,
                Check11, DiscMins3, DiscPeriod3, Timer5};
    default:
        return {NetCall4, Hour4, Mins4, {Sun4, Mon4, Tue4, Wed4, Thur4, Fri4, Sat4}, DisconnectAll4, ShowBusy4,
                Check20, DiscMins4, DiscPeriod4, Timer6};
    }
}

} // namespace mirelva
