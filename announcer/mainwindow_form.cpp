// The main window's form: every control with its caption, tool tip, input
// limits and design value, the timers with their design intervals, and the
// wiring of controls, timers and node events to their handlers.
//
// Widgets are created with their page as parent in reading order, so the Tab
// key walks them the way they are laid out, and a screen reader meets them in
// the same order a sighted operator reads them.

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QStatusBar>
#include <QVBoxLayout>

#include "announcer/mainwindow.h"
#include "core/clock.h"
#include "ui/program.h"

namespace mirelva {

namespace {

constexpr unsigned kDarkGreen = 0x8000;
constexpr unsigned kDarkRed = 128;

} // namespace

void MainWindow::buildForm()
{
    setObjectName(QStringLiteral("Mirelva"));
    auto *central = new QWidget(this);
    auto *outer = new QVBoxLayout(central);
    SSTab1 = new QTabWidget(central);
    SSTab1->setObjectName(QStringLiteral("SSTab1"));
    outer->addWidget(SSTab1);
    setCentralWidget(central);

    // The status line: lasting warnings first, where the eye lands, the
    // node's state at the right.
    Warnings = new QLabel(this);
    Warnings->setObjectName(QStringLiteral("Warnings"));
    Warnings->setAccessibleDescription(QStringLiteral("Warnings"));
    Warnings->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold;"));
    Warnings->setTextFormat(Qt::PlainText);
    statusBar()->addWidget(Warnings, 1);
    showLastingWarnings();
    NodeStatus = new QLabel(this);
    NodeStatus->setObjectName(QStringLiteral("NodeStatus"));
    NodeStatus->setAccessibleDescription(QStringLiteral("Node status"));
    statusBar()->addPermanentWidget(NodeStatus);

    const QString sayTheTime = QStringLiteral("Say the Time");
    const QString infoTip = QStringLiteral("TX Info Text. See Mirelva to Enter Text.");
    const QString saveCaption = QStringLiteral("Save  Changes");
    const QString saveTip = QStringLiteral("Save the changes made");

    // ---- tab "Mirelva" -----------------------------------------------------
    {
        auto *page = new QWidget;
        page->setObjectName(QStringLiteral("TabMirelva"));
        auto *v = new QVBoxLayout(page);

        auto *texts = frame(page, QStringLiteral("FrameTexts"), QStringLiteral("Voice Ident and Texts"));
        auto *g = new QGridLayout(texts);
        auto *lCall = captionFor(texts, QStringLiteral("Voice Ident Callsign"));
        Callsign = textBox(texts, QStringLiteral("Callsign"), QStringLiteral("Your Call"), {}, {.limit = 70});
        tie(lCall, Callsign);
        Callsign->setAccessibleName(lCall->text());
        Label19 = valueLabel(texts, QStringLiteral("Label19"), QStringLiteral("0"),
                             QStringLiteral("Characters in the voice ident callsign"));
        SayCall = button(texts, QStringLiteral("SayCall"), QStringLiteral("PTT Call Now"),
                         QStringLiteral("Say the Voice Ident Callsign with PTT"));
        SayCallNoPTT = button(texts, QStringLiteral("SayCallNoPTT"), QStringLiteral("Say Call Now"),
                              QStringLiteral("Say the Voice Ident Callsign no PTT"));
        g->addWidget(lCall, 0, 0);
        g->addWidget(Callsign, 0, 1);
        g->addWidget(Label19, 0, 2);
        g->addWidget(SayCall, 0, 3);
        g->addWidget(SayCallNoPTT, 0, 4);

        auto *lText = captionFor(texts, QStringLiteral("TTS Beacon Text"));
        TextInput3 = textBox(texts, QStringLiteral("TextInput3"), {}, {}, {.limit = 70});
        tie(lText, TextInput3);
        TextInput3->setAccessibleName(lText->text());
        Label20 = valueLabel(texts, QStringLiteral("Label20"), QStringLiteral("0"),
                             QStringLiteral("Characters in the TTS beacon text"));
        Speak3 = button(texts, QStringLiteral("Speak3"), QStringLiteral("Speak The Text Plus PTT"),
                        QStringLiteral("Speak the above text with PTT"));
        TextNoPTT3 = button(texts, QStringLiteral("TextNoPTT3"), QStringLiteral("Say Text no PTT"),
                            QStringLiteral("Speak the above text no PTT. Test what you have typed in"));
        ClearText3 = button(texts, QStringLiteral("ClearText3"), QStringLiteral("Clear"),
                            QStringLiteral("Clear the TTS Text"));
        // Two rows of the same captions: the names a screen reader gives say
        // which text each button works on.
        TextNoPTT3->setAccessibleName(QStringLiteral("Say TTS Text no PTT"));
        ClearText3->setAccessibleName(ClearText3->toolTip());
        g->addWidget(lText, 1, 0);
        g->addWidget(TextInput3, 1, 1);
        g->addWidget(Label20, 1, 2);
        g->addWidget(Speak3, 1, 3);
        g->addWidget(TextNoPTT3, 1, 4);
        g->addWidget(ClearText3, 1, 5);

        auto *lInfo = captionFor(texts, QStringLiteral("Info Text"));
        InfoText = textBox(texts, QStringLiteral("InfoText"), {}, {}, {.limit = 70});
        tie(lInfo, InfoText);
        InfoText->setAccessibleName(lInfo->text());
        Label21 = valueLabel(texts, QStringLiteral("Label21"), QStringLiteral("0"),
                             QStringLiteral("Characters in the info text"));
        SpeakInfo = button(texts, QStringLiteral("SpeakInfo"), QStringLiteral("Speak The Info Text Plus PTT"),
                           QStringLiteral("Speak the above text with PTT"));
        InfoNoPTT = button(texts, QStringLiteral("InfoNoPTT"), QStringLiteral("Say Text no PTT"),
                           QStringLiteral("Speak the above text no PTT. Test what you have typed in"));
        ClearInfoText = button(texts, QStringLiteral("ClearInfoText"), QStringLiteral("Clear"),
                               QStringLiteral("Clear the Info Text"));
        InfoNoPTT->setAccessibleName(QStringLiteral("Say Info Text no PTT"));
        ClearInfoText->setAccessibleName(ClearInfoText->toolTip());
        g->addWidget(lInfo, 2, 0);
        g->addWidget(InfoText, 2, 1);
        g->addWidget(Label21, 2, 2);
        g->addWidget(SpeakInfo, 2, 3);
        g->addWidget(InfoNoPTT, 2, 4);
        g->addWidget(ClearInfoText, 2, 5);
        g->setColumnStretch(1, 1);
        v->addWidget(texts);

        // State line: transmitter, receiver, clock, and the switches that
        // govern every keyed announcement.
        auto *state = new QHBoxLayout;
        PTT = valueLabel(page, QStringLiteral("PTT"), {}, QStringLiteral("Transmitter"));
        setColouredCaption(PTT, QStringLiteral("PTT OFF"), kDarkGreen);
        QFont bold = PTT->font();
        bold.setBold(true);
        PTT->setFont(bold);
        PTT2 = valueLabel(page, QStringLiteral("PTT2"), QStringLiteral("      "), QStringLiteral("Receiver"));
        PTT2->setMinimumWidth(PTT2->fontMetrics().horizontalAdvance(QStringLiteral("Receiving Signal")) + 8);
        showReceiving(PTT2, false);
        ShowTime = valueLabel(page, QStringLiteral("ShowTime"), QStringLiteral("00:00:00"), QStringLiteral("Time"));
        Program::showsTime(ShowTime, Clock::clockFace);
        Check1 = checkBox(page, QStringLiteral("Check1"), QStringLiteral("Disable Announcements"));
        TTSCTRL = checkBox(page, QStringLiteral("TTSCTRL"), QStringLiteral("Use TTS Delay"));
        TTSPeriod = textBox(page, QStringLiteral("TTSPeriod"), QStringLiteral("0"),
                            QStringLiteral("xx Delay Increments 0 to 9 Before TTS"),
                            {.limit = 2, .digits = true, .width = 2});
        state->addWidget(PTT);
        state->addSpacing(12);
        state->addWidget(PTT2);
        state->addWidget(ShowTime);
        state->addStretch(1);
        state->addWidget(Check1);
        state->addSpacing(12);
        state->addWidget(TTSCTRL);
        state->addWidget(TTSPeriod);
        v->addLayout(state);

        auto *middle = new QHBoxLayout;
        auto *timeFrame = frame(page, QStringLiteral("FrameSayTheTime"), QStringLiteral("Say The Time"));
        auto *tg = new QGridLayout(timeFrame);
        OnHour = checkBox(timeFrame, QStringLiteral("OnHour"), QStringLiteral("On The Hour"), sayTheTime);
        QuarterHour = checkBox(timeFrame, QStringLiteral("QuarterHour"), QStringLiteral("Quarter"), sayTheTime);
        HalfHour = checkBox(timeFrame, QStringLiteral("HalfHour"), QStringLiteral("Half"), sayTheTime);
        TimeFormat = new OptionGroup(this);
        TimeFormat->setObjectName(QStringLiteral("TimeFormat"));
        Option1 = new OptionButton(QStringLiteral("Option1"), QStringLiteral("12 Hr"), TimeFormat, timeFrame);
        Option2 = new OptionButton(QStringLiteral("Option2"), QStringLiteral("24 Hr"), TimeFormat, timeFrame);
        Check3 = checkBox(timeFrame, QStringLiteral("Check3"), QStringLiteral("Use Preamble"));
        TheTime = button(timeFrame, QStringLiteral("TheTime"), sayTheTime, QStringLiteral("Say the itme with PTT"));
        tg->addWidget(OnHour, 0, 0);
        tg->addWidget(QuarterHour, 0, 1);
        tg->addWidget(HalfHour, 0, 2);
        tg->addWidget(Option1, 1, 0);
        tg->addWidget(Option2, 1, 1);
        tg->addWidget(Check3, 1, 2);
        tg->addWidget(TheTime, 2, 0, 1, 3);
        middle->addWidget(timeFrame);

        auto *idFrame = frame(page, QStringLiteral("FrameIdents"), QStringLiteral("Idents and Beacons"));
        auto *ig = new QGridLayout(idFrame);
        ig->addWidget(new QLabel(QStringLiteral("Every xx Minutes"), idFrame), 0, 2);
        ig->addWidget(new QLabel(QStringLiteral("Seconds"), idFrame), 0, 3);

        auto *lVoice = captionFor(idFrame, QStringLiteral("Voice Ident"));
        StopClock6 = checkBox(idFrame, QStringLiteral("StopClock6"), QStringLiteral("Use"), QStringLiteral("Use TTS Ident"));
        StopClock6->setAccessibleName(QStringLiteral("Use TTS Ident"));
        BeaconPeriod6 = textBox(idFrame, QStringLiteral("BeaconPeriod6"), {},
                                QStringLiteral("TTS Ident Your Call Every xx Minutes"), {.digits = true, .width = 3});
        BeaconSeconds6 = valueLabel(idFrame, QStringLiteral("BeaconSeconds6"), QStringLiteral("0"),
                                    QStringLiteral("Seconds to the voice ident"));
        ig->addWidget(lVoice, 1, 0);
        ig->addWidget(StopClock6, 1, 1);
        ig->addWidget(BeaconPeriod6, 1, 2);
        ig->addWidget(BeaconSeconds6, 1, 3);

        auto *lCw = captionFor(idFrame, QStringLiteral("CW Ident"));
        StopClock7 = checkBox(idFrame, QStringLiteral("StopClock7"), QStringLiteral("Use"));
        StopClock7->setAccessibleName(QStringLiteral("Use CW Ident"));
        BeaconPeriod7 = textBox(idFrame, QStringLiteral("BeaconPeriod7"), {}, QStringLiteral("CW Ident Ever xx Minutes"),
                                {.limit = 3, .digits = true, .width = 3});
        BeaconSeconds7 = valueLabel(idFrame, QStringLiteral("BeaconSeconds7"), QStringLiteral("0"),
                                    QStringLiteral("Seconds to the CW ident"));
        auto *lCwCall = captionFor(idFrame, QStringLiteral("CW Ident Callsign"));
        CWCallsign = textBox(idFrame, QStringLiteral("CWCallsign"), {}, QStringLiteral("Enter you Call"), {});
        tie(lCwCall, CWCallsign);
        SendCW = button(idFrame, QStringLiteral("SendCW"), QStringLiteral("Send ID"),
                        QStringLiteral("Send the CW Ident Callsign with PTT"));
        ig->addWidget(lCw, 2, 0);
        ig->addWidget(StopClock7, 2, 1);
        ig->addWidget(BeaconPeriod7, 2, 2);
        ig->addWidget(BeaconSeconds7, 2, 3);
        ig->addWidget(lCwCall, 3, 0);
        ig->addWidget(CWCallsign, 3, 1, 1, 2);
        ig->addWidget(SendCW, 3, 3, 1, 2);

        auto *lBeacon = captionFor(idFrame, QStringLiteral("TTS Beacon"));
        StopClock3 = checkBox(idFrame, QStringLiteral("StopClock3"), QStringLiteral("Use"), QStringLiteral("Use TTS Beacon"));
        StopClock3->setAccessibleName(QStringLiteral("Use TTS Beacon"));
        BeaconPeriod3 = textBox(idFrame, QStringLiteral("BeaconPeriod3"), {},
                                QStringLiteral("Beacon TTS Beacon every xx Minutes"),
                                {.limit = 3, .digits = true, .width = 3});
        BeaconSeconds3 = valueLabel(idFrame, QStringLiteral("BeaconSeconds3"), QStringLiteral("0"),
                                    QStringLiteral("Seconds to the TTS beacon"));
        ig->addWidget(lBeacon, 4, 0);
        ig->addWidget(StopClock3, 4, 1);
        ig->addWidget(BeaconPeriod3, 4, 2);
        ig->addWidget(BeaconSeconds3, 4, 3);

        auto *lIdle = captionFor(idFrame, QStringLiteral("Turn ID Off After"));
        IDCheck = checkBox(idFrame, QStringLiteral("IDCheck"), QStringLiteral("If Link Idle   (VK Use)"),
                           QStringLiteral("Use if in VK"));
        VoicePeriod = textBox(idFrame, QStringLiteral("VoicePeriod"), {},
                              QStringLiteral("If Node Idle for xx Minutes dont sent Ident. ( Used in VK)"),
                              {.digits = true, .width = 3});
        IDSeconds = valueLabel(idFrame, QStringLiteral("IDSeconds"), QStringLiteral("0"),
                               QStringLiteral("Seconds to turning the idents off"));
        ig->addWidget(lIdle, 5, 0);
        ig->addWidget(IDCheck, 5, 1);
        ig->addWidget(VoicePeriod, 5, 2);
        ig->addWidget(IDSeconds, 5, 3);
        ig->setColumnStretch(4, 1);
        middle->addWidget(idFrame, 1);
        v->addLayout(middle);
        v->addStretch(1);

        auto *windows = new QGridLayout;
        Command1 = button(page, QStringLiteral("Command1"), QStringLiteral("Message Box"));
        Command13 = button(page, QStringLiteral("Command13"), QStringLiteral("Greeting Message"));
        Command12 = button(page, QStringLiteral("Command12"), QStringLiteral("Internet Option"));
        Command9 = button(page, QStringLiteral("Command9"), QStringLiteral("DTMF Settings"));
        Command8 = button(page, QStringLiteral("Command8"), QStringLiteral("TTS Settings"));
        Command3 = button(page, QStringLiteral("Command3"), QStringLiteral("About"));
        SaveDataNow = button(page, QStringLiteral("SaveDataNow"), saveCaption, saveTip);
        Command4 = button(page, QStringLiteral("Command4"), QStringLiteral("Exit"), QStringLiteral("Hide this screen"));
        const QList<QPushButton *> row1{Command1, Command13, Command12, Command9};
        const QList<QPushButton *> row2{Command8, Command3, SaveDataNow, Command4};
        for (int i = 0; i < 4; ++i) {
            windows->addWidget(row1[i], 0, i);
            windows->addWidget(row2[i], 1, i);
        }
        v->addLayout(windows);

        SSTab1->addTab(page, QStringLiteral("Mirelva"));
    }

    // ---- tab "Connects and Settings" ---------------------------------------
    {
        auto *page = new QWidget;
        page->setObjectName(QStringLiteral("TabConnects"));
        auto *grid = new QGridLayout(page);

        // left column
        auto *left = new QVBoxLayout;
        auto *ct = frame(page, QStringLiteral("FrameCourtesy"), QStringLiteral("Courtesy Tone "));
        auto *cg = new QGridLayout(ct);
        UseCT = checkBox(ct, QStringLiteral("UseCT"), QStringLiteral("Use ID"), QStringLiteral("Use CW End of Over"));
        auto *lRf = captionFor(ct, QStringLiteral("RF CW Ident Letter"));
        CourtesyID = textBox(ct, QStringLiteral("CourtesyID"), QStringLiteral("K"), QStringLiteral("RF CW Ident Letter"),
                             {.upper = true, .width = 6});
        tie(lRf, CourtesyID);
        auto *lIp = captionFor(ct, QStringLiteral("Internet CW Ident Letter"));
        IPCourtesy = textBox(ct, QStringLiteral("IPCourtesy"), {}, QStringLiteral("Internet CW Ident Letter"),
                             {.upper = true, .width = 6});
        tie(lIp, IPCourtesy);
        cg->addWidget(UseCT, 0, 0, 1, 2);
        cg->addWidget(lRf, 1, 0);
        cg->addWidget(CourtesyID, 1, 1);
        cg->addWidget(lIp, 2, 0);
        cg->addWidget(IPCourtesy, 2, 1);
        left->addWidget(ct);

        auto *kf = frame(page, QStringLiteral("FrameKerchunk"), QStringLiteral("Kerchunk Guard"));
        auto *kg = new QGridLayout(kf);
        auto *lKw = captionFor(kf, QStringLiteral("Anti-Kerchunker ms"));
        KerchunkWait = textBox(kf, QStringLiteral("KerchunkWait"), QStringLiteral("3000"),
                               QStringLiteral("Anti-Kerchunker time in Milliseconds"), {.digits = true, .width = 6});
        tie(lKw, KerchunkWait);
        auto *lHt = captionFor(kf, QStringLiteral("Hang Time ms"));
        HangTime = textBox(kf, QStringLiteral("HangTime"), QStringLiteral("500"),
                           QStringLiteral("Hang Time Before ID in xx Milliseconds"), {.digits = true, .width = 6});
        tie(lHt, HangTime);
        auto *lOk = captionFor(kf, QStringLiteral("Over Confirmed"));
        OK2Kerchunk = valueLabel(kf, QStringLiteral("OK2Kerchunk"), QStringLiteral("No"),
                                 QStringLiteral("Over confirmed for the courtesy letter"));
        kg->addWidget(lKw, 0, 0);
        kg->addWidget(KerchunkWait, 0, 1);
        kg->addWidget(lHt, 1, 0);
        kg->addWidget(HangTime, 1, 1);
        kg->addWidget(lOk, 2, 0);
        kg->addWidget(OK2Kerchunk, 2, 1);
        left->addWidget(kf);

        auto *af = frame(page, QStringLiteral("FrameAnnounce"), QStringLiteral("Announce"));
        auto *ag = new QGridLayout(af);
        ConDisc = checkBox(af, QStringLiteral("ConDisc"), QStringLiteral("Station Con/Dis"));
        AddTime = checkBox(af, QStringLiteral("AddTime"), QStringLiteral("Add the time"),
                           QStringLiteral("Announce time with Station Connect / Disconnect"));
        SayText = checkBox(af, QStringLiteral("SayText"), QStringLiteral("Text Messages"));
        auto *lToggle = captionFor(af, QStringLiteral("DTMF Toggle Text Messages"));
        ToggleText = textBox(af, QStringLiteral("ToggleText"), {}, {}, {.width = 6});
        tie(lToggle, ToggleText);
        ToggleText->setAccessibleName(lToggle->text());
        ag->addWidget(ConDisc, 0, 0);
        ag->addWidget(AddTime, 0, 1);
        ag->addWidget(SayText, 1, 0);
        ag->addWidget(lToggle, 2, 0);
        // Right-aligned like the letter and time boxes of the frames above,
        // so the boxes of the column form one line.
        ag->addWidget(ToggleText, 2, 1, Qt::AlignRight);
        left->addWidget(af);
        left->addStretch(1);
        grid->addLayout(left, 0, 0);

        // right column
        auto *right = new QVBoxLayout;
        auto *ff = frame(page, QStringLiteral("FrameFan"), QStringLiteral("DTR / RTS Control   ( Fan )"));
        auto *fg = new QGridLayout(ff);
        FanCTRL = checkBox(ff, QStringLiteral("FanCTRL"), QStringLiteral("Use Fan Control"));
        FanLine = new OptionGroup(this);
        FanLine->setObjectName(QStringLiteral("FanLine"));
        UseDTR = new OptionButton(QStringLiteral("UseDTR"), QStringLiteral("Use DTR"), FanLine, ff);
        UseRTS = new OptionButton(QStringLiteral("UseRTS"), QStringLiteral("Use RTS"), FanLine, ff);
        auto *lFp = captionFor(ff, QStringLiteral("Fan Run Minutes"));
        FanPeriod = textBox(ff, QStringLiteral("FanPeriod"), QStringLiteral("1"),
                            QStringLiteral("xx Minutes fan will fun after TX"), {.limit = 3, .digits = true, .width = 3});
        tie(lFp, FanPeriod);
        FanSeconds = valueLabel(ff, QStringLiteral("FanSeconds"), QStringLiteral("0"),
                                QStringLiteral("Seconds of fan run left"));
        FanOnOff = valueLabel(ff, QStringLiteral("FanOnOff"), {}, QStringLiteral("Fan"));
        setColouredCaption(FanOnOff, QStringLiteral("Fan OFF"), kDarkRed);
        FanOnOff->setFont(PTT->font());
        DelayCTRL = checkBox(ff, QStringLiteral("DelayCTRL"), QStringLiteral("Use Start Delay"));
        DelayPeriod = textBox(ff, QStringLiteral("DelayPeriod"), QStringLiteral("10"), {},
                              {.limit = 3, .digits = true, .width = 3});
        auto *lDp = captionFor(ff, QStringLiteral("Seconds Start Delay"), DelayPeriod);
        DelaySeconds = valueLabel(ff, QStringLiteral("DelaySeconds"), QStringLiteral("10"),
                                  QStringLiteral("Seconds of start delay left"));
        fg->addWidget(FanCTRL, 0, 0, 1, 2);
        fg->addWidget(UseDTR, 1, 0);
        fg->addWidget(UseRTS, 1, 1);
        fg->addWidget(lFp, 2, 0);
        fg->addWidget(FanPeriod, 2, 1, Qt::AlignLeft);
        fg->addWidget(new QLabel(QStringLiteral("Seconds Left"), ff), 2, 2);
        fg->addWidget(FanSeconds, 2, 3);
        fg->addWidget(FanOnOff, 3, 0, 1, 4);
        fg->addWidget(DelayCTRL, 4, 0, 1, 2);
        fg->addWidget(lDp, 5, 0);
        fg->addWidget(DelayPeriod, 5, 1, Qt::AlignLeft);
        fg->addWidget(new QLabel(QStringLiteral("Seconds Left"), ff), 5, 2);
        fg->addWidget(DelaySeconds, 5, 3);
        fg->setColumnStretch(1, 1);
        right->addWidget(ff);

        auto *inf = frame(page, QStringLiteral("FrameInfo"), QStringLiteral("TX Info Text"));
        auto *ing = new QHBoxLayout(inf);
        InfoHourly = checkBox(inf, QStringLiteral("InfoHourly"), QStringLiteral("On The Hour"), infoTip);
        InfoQuarter = checkBox(inf, QStringLiteral("InfoQuarter"), QStringLiteral("Quarter"), infoTip);
        InfoHalf = checkBox(inf, QStringLiteral("InfoHalf"), QStringLiteral("Half"), infoTip);
        ing->addWidget(InfoHourly);
        ing->addWidget(InfoQuarter);
        ing->addWidget(InfoHalf);
        right->addWidget(inf);
        right->addStretch(1);
        grid->addLayout(right, 0, 1);

        auto *auto_ = frame(page, QStringLiteral("FrameAutoConnects"), QStringLiteral("Auto Connects"));
        auto *acg = new QGridLayout(auto_);
        const QString autoTip = QStringLiteral("Auto Connect Call");
        const QString conTip = QStringLiteral("Connect or disconnect callsign");
        auto *l1 = captionFor(auto_, QStringLiteral("Station 1"));
        ConnectStation1 = textBox(auto_, QStringLiteral("ConnectStation1"), {}, autoTip, {.upper = true});
        tie(l1, ConnectStation1);
        ConnectStation1->setAccessibleName(QStringLiteral("Auto Connect Call 1"));
        StayCon1 = checkBox(auto_, QStringLiteral("StayCon1"), QStringLiteral("Stay Con"));
        StayCon1->setAccessibleName(QStringLiteral("Stay Con 1"));
        Connect1 = button(auto_, QStringLiteral("Connect1"), QStringLiteral("Con/Disc"), conTip);
        Connect1->setAccessibleName(QStringLiteral("Con/Disc 1"));
        auto *l2 = captionFor(auto_, QStringLiteral("Station 2"));
        ConnectStation2 = textBox(auto_, QStringLiteral("ConnectStation2"), {}, autoTip, {.upper = true});
        tie(l2, ConnectStation2);
        ConnectStation2->setAccessibleName(QStringLiteral("Auto Connect Call 2"));
        StayCon2 = checkBox(auto_, QStringLiteral("StayCon2"), QStringLiteral("Stay Con"));
        StayCon2->setAccessibleName(QStringLiteral("Stay Con 2"));
        Command2 = button(auto_, QStringLiteral("Command2"), QStringLiteral("Con/Disc"), conTip);
        Command2->setAccessibleName(QStringLiteral("Con/Disc 2"));
        auto *lEn = captionFor(auto_, QStringLiteral("DTMF Enable Auto Connects"));
        EnableAutoConnect = textBox(auto_, QStringLiteral("EnableAutoConnect"), {}, {}, {.width = 6});
        tie(lEn, EnableAutoConnect);
        EnableAutoConnect->setAccessibleName(lEn->text());
        auto *lDis = captionFor(auto_, QStringLiteral("DTMF Disable Auto Connects"));
        DisableAutoConnect = textBox(auto_, QStringLiteral("DisableAutoConnect"), {}, {}, {.width = 6});
        tie(lDis, DisableAutoConnect);
        DisableAutoConnect->setAccessibleName(lDis->text());
        acg->addWidget(l1, 0, 0);
        acg->addWidget(ConnectStation1, 0, 1);
        acg->addWidget(StayCon1, 0, 2);
        acg->addWidget(Connect1, 0, 3);
        acg->addWidget(l2, 1, 0);
        acg->addWidget(ConnectStation2, 1, 1);
        acg->addWidget(StayCon2, 1, 2);
        acg->addWidget(Command2, 1, 3);
        acg->addWidget(lEn, 2, 0);
        acg->addWidget(EnableAutoConnect, 2, 1, Qt::AlignLeft);
        acg->addWidget(lDis, 3, 0);
        acg->addWidget(DisableAutoConnect, 3, 1, Qt::AlignLeft);
        acg->setColumnStretch(1, 1);
        grid->addWidget(auto_, 1, 0, 1, 2);

        Command6 = button(page, QStringLiteral("Command6"), saveCaption, saveTip);
        grid->addWidget(Command6, 2, 1, Qt::AlignRight);
        grid->setRowStretch(3, 1);

        SSTab1->addTab(page, QStringLiteral("Connects and Settings"));
    }

    // ---- tab "Connect History" ---------------------------------------------
    {
        auto *page = new QWidget;
        page->setObjectName(QStringLiteral("TabHistory"));
        auto *v = new QVBoxLayout(page);
        auto *hf = frame(page, QStringLiteral("FrameHistory"),
                         QStringLiteral("Call Connect History          ( Time - Call - Name - IP Address  )"));
        auto *hv = new QVBoxLayout(hf);
        CallHistory = new LogBox(QStringLiteral("CallHistory"), hf);
        CallHistory->setAccessibleName(QStringLiteral("Call Connect History"));
        CallHistory->setLineWrapMode(QPlainTextEdit::NoWrap);
        hv->addWidget(CallHistory);
        v->addWidget(hf, 1);
        Command5 = button(page, QStringLiteral("Command5"), QStringLiteral("Clear"), QStringLiteral("Clear the Call History"));
        v->addWidget(Command5, 0, Qt::AlignRight);
        SSTab1->addTab(page, QStringLiteral("Connect History"));
    }

    // ---- tab "Silence Announcements " --------------------------------------
    {
        auto *page = new QWidget;
        page->setObjectName(QStringLiteral("TabSilence"));
        auto *v = new QVBoxLayout(page);

        struct Schedule {
            CheckBox **days[7];   // Mon .. Sun, the order the frame shows them
            TextBox **times[4];   // hour off, minutes off, hour on, minutes on
        };
        const Schedule schedules[3] = {
            {{&Mon, &Tue, &Wed, &Thur, &Fri, &Sat, &Sun}, {&HourOFF1, &MinsOFF1, &HourON1b, &MinsON1b}},
            {{&Mon2, &Tue2, &Wed2, &Thur2, &Fri2, &Sat2, &Sun2}, {&HourOFF2, &MinsOFF2, &HourON2b, &MinsON2b}},
            {{&Mon3, &Tue3, &Wed3, &Thur3, &Fri3, &Sat3, &Sun3}, {&HourOFF3, &MinsOFF3, &HourON3b, &MinsON3b}},
        };
        const QStringList dayCaptions{QStringLiteral("Mon"), QStringLiteral("Tue"), QStringLiteral("Wed"),
                                      QStringLiteral("Thur"), QStringLiteral("Fri"), QStringLiteral("Sat"),
                                      QStringLiteral("Sun")};
        for (int n = 0; n < 3; ++n) {
            const QString num = QString::number(n + 1);
            const QString suffix = n == 0 ? QString() : num;
            auto *sf = frame(page, QStringLiteral("FrameSchedule") + num,
                             QStringLiteral("Announcement Silence Scheduler ") + num +
                                 QStringLiteral("       ( 15 Seconds Delay )"));
            auto *sg = new QGridLayout(sf);
            for (int d = 0; d < 7; ++d) {
                *schedules[n].days[d] = checkBox(sf, dayCaptions[d] + suffix, dayCaptions[d]);
                (*schedules[n].days[d])->setAccessibleName(dayCaptions[d] + QStringLiteral(" (schedule ") + num + ')');
                sg->addWidget(*schedules[n].days[d], 0, d);
            }
            const QString timeNames[4] = {QStringLiteral("HourOFF") + num, QStringLiteral("MinsOFF") + num,
                                          QStringLiteral("HourON") + num + 'b', QStringLiteral("MinsON") + num + 'b'};
            const QString timeMeaning[4] = {QStringLiteral("Announce OFF hour"), QStringLiteral("Announce OFF minutes"),
                                            QStringLiteral("Announce ON hour"), QStringLiteral("Announce ON minutes")};
            const QString design[4] = {QStringLiteral("24"), QStringLiteral("00"), QStringLiteral("24"),
                                       QStringLiteral("00")};
            auto *times = new QHBoxLayout;
            for (int t = 0; t < 4; ++t) {
                if (t == 0 || t == 2)
                    times->addWidget(new QLabel(t == 0 ? QStringLiteral("Announce OFF ") : QStringLiteral("Announce ON"), sf));
                TextBox *b = textBox(sf, timeNames[t], design[t], {}, {.limit = 2, .digits = true, .width = 2});
                b->setAccessibleName(timeMeaning[t] + QStringLiteral(" (schedule ") + num + ')');
                *schedules[n].times[t] = b;
                times->addWidget(b);
                if (t == 0 || t == 2)
                    times->addWidget(new QLabel(QStringLiteral(":"), sf));
                if (t == 1)
                    times->addSpacing(24);
            }
            times->addStretch(1);
            sg->addLayout(times, 1, 0, 1, 7);
            v->addWidget(sf);
        }

        auto *bottom = new QGridLayout;
        Check2 = checkBox(page, QStringLiteral("Check2"), QStringLiteral("Warn About Silence Mode"));
        ShowTime2 = valueLabel(page, QStringLiteral("ShowTime2"), QStringLiteral("00:00:00"), QStringLiteral("Time"));
        Program::showsTime(ShowTime2, Clock::clockFace);
        auto *lOff = captionFor(page, QStringLiteral("DTMF Announce OFF"));
        AnnounceOff = textBox(page, QStringLiteral("AnnounceOff"), {}, {}, {.width = 6});
        tie(lOff, AnnounceOff);
        AnnounceOff->setAccessibleName(lOff->text());
        auto *lOn = captionFor(page, QStringLiteral("DTMF Announce ON"));
        AnnounceOn = textBox(page, QStringLiteral("AnnounceOn"), {}, {}, {.width = 6});
        tie(lOn, AnnounceOn);
        AnnounceOn->setAccessibleName(lOn->text());
        Command11 = button(page, QStringLiteral("Command11"), saveCaption);
        bottom->addWidget(Check2, 0, 0);
        bottom->addWidget(ShowTime2, 0, 1);
        bottom->addWidget(lOff, 1, 0);
        bottom->addWidget(AnnounceOff, 1, 1, Qt::AlignLeft);
        bottom->addWidget(lOn, 2, 0);
        bottom->addWidget(AnnounceOn, 2, 1, Qt::AlignLeft);
        bottom->addWidget(Command11, 2, 2, Qt::AlignRight);
        bottom->setColumnStretch(2, 1);
        v->addLayout(bottom);
        v->addStretch(1);
        SSTab1->addTab(page, QStringLiteral("Silence Announcements "));
    }

    // ---- timers, with their design intervals and states ----------------------
    Timer1 = new VbTimer(this, QStringLiteral("Timer1"), 1000, true);
    Timer1->setWallClockSecond(true);
    Timer4 = new VbTimer(this, QStringLiteral("Timer4"), 1, true);
    IDTimer = new VbTimer(this, QStringLiteral("IDTimer"), 1000, true);
    Beacon6 = new VbTimer(this, QStringLiteral("Beacon6"), 1000, true);
    Beacon7 = new VbTimer(this, QStringLiteral("Beacon7"), 1000, true);
    Beacon3 = new VbTimer(this, QStringLiteral("Beacon3"), 1000, true);
    // The kerchunk guard is started by the carrier events.
    Kerchunker = new VbTimer(this, QStringLiteral("Kerchunker"), 5000, false);
    KickBackCheck = new VbTimer(this, QStringLiteral("KickBackCheck"), 500, false);
    Timer5 = new VbTimer(this, QStringLiteral("Timer5"), 1000, true);
    Timer5->setWallClockSecond(true);
    Timer6 = new VbTimer(this, QStringLiteral("Timer6"), 1000, true);
    Fan = new VbTimer(this, QStringLiteral("Fan"), 1000, false);
    FanDelay = new VbTimer(this, QStringLiteral("FanDelay"), 1000, false);
    Timer2 = new VbTimer(this, QStringLiteral("Timer2"), 60000, true);
    Timer3 = new VbTimer(this, QStringLiteral("Timer3"), 60000, true);

    // Short spoken names where the caption alone does not say what a control
    // is: boxes whose only words are a tool tip, and captions that stand on
    // two tabs, which get their context. Tool tips stay, read as descriptions.
    const std::pair<QWidget *, const char *> spokenNames[] = {
        {TTSPeriod, "TTS delay increments, 0 to 9"},
        {BeaconPeriod6, "Voice ident period, minutes"},
        {BeaconPeriod7, "CW ident period, minutes"},
        {BeaconPeriod3, "TTS beacon period, minutes"},
        {VoicePeriod, "Idents off after idle minutes"},
        {IDCheck, "Turn idents off if link idle (VK use)"},
        {UseCT, "Use courtesy ID"},
        {OnHour, "On The Hour, say the time"},
        {QuarterHour, "Quarter, say the time"},
        {HalfHour, "Half, say the time"},
        {InfoHourly, "On The Hour, info text"},
        {InfoQuarter, "Quarter, info text"},
        {InfoHalf, "Half, info text"},
        {SaveDataNow, "Save Changes, Mirelva tab"},
        {Command6, "Save Changes, Connects and Settings tab"},
        {Command11, "Save Changes, Silence Announcements tab"},
        {Command5, "Clear the Call History"},
    };
    for (const auto &[control, name] : spokenNames)
        control->setAccessibleName(QString::fromUtf8(name));

    applyAccessibleNames(this);
    giveKeyboardAccess(this);

    resize(860, 620);
}

void MainWindow::wireHandlers()
{
    onClick(SayCall, &MainWindow::SayCall_Click);
    onClick(SayCallNoPTT, &MainWindow::SayCallNoPTT_Click);
    onClick(Speak3, &MainWindow::Speak3_Click);
    onClick(TextNoPTT3, &MainWindow::TextNoPTT3_Click);
    onClick(SpeakInfo, &MainWindow::SpeakInfo_Click);
    onClick(InfoNoPTT, &MainWindow::InfoNoPTT_Click);
    onClick(TheTime, &MainWindow::TheTime_Click);
    onClick(ClearText3, &MainWindow::ClearText3_Click);
    onClick(ClearInfoText, &MainWindow::ClearInfoText_Click);
    onClick(SendCW, &MainWindow::SendCW_Click);
    onClick(Command1, &MainWindow::Command1_Click);
    onClick(Command13, &MainWindow::Command13_Click);
    onClick(Command12, &MainWindow::Command12_Click);
    onClick(Command9, &MainWindow::Command9_Click);
    onClick(Command8, &MainWindow::Command8_Click);
    onClick(Command3, &MainWindow::Command3_Click);
    onClick(SaveDataNow, &MainWindow::SaveData);
    onClick(Command4, &MainWindow::Command4_Click);
    onClick(Connect1, &MainWindow::Connect1_Click);
    onClick(Command2, &MainWindow::Command2_Click);
    onClick(Command6, &MainWindow::SaveData);
    onClick(Command5, &MainWindow::Command5_Click);
    onClick(Command11, &MainWindow::SaveData);

    onChange(TTSPeriod, &MainWindow::TTSPeriod_Change);
    onChange(BeaconPeriod6, &MainWindow::BeaconPeriod6_Change);
    onChange(BeaconPeriod7, &MainWindow::BeaconPeriod7_Change);
    onChange(BeaconPeriod3, &MainWindow::BeaconPeriod3_Change);
    onChange(VoicePeriod, &MainWindow::VoicePeriod_Change);
    onChange(KerchunkWait, &MainWindow::KerchunkWait_Change);
    onChange(HangTime, &MainWindow::HangTime_Change);
    onChange(CourtesyID, &MainWindow::CourtesyID_Change);
    onChange(IPCourtesy, &MainWindow::IPCourtesy_Change);
    onChange(FanPeriod, &MainWindow::FanPeriod_Change);
    onChange(DelayPeriod, &MainWindow::DelayPeriod_Change);
    onChange(ConnectStation1, &MainWindow::ConnectStation1_Change);
    onChange(ConnectStation2, &MainWindow::ConnectStation2_Change);
    for (TextBox *b : {HourOFF1, MinsOFF1, HourON1b, MinsON1b, HourOFF2, MinsOFF2, HourON2b, MinsON2b, HourOFF3,
                       MinsOFF3, HourON3b, MinsON3b})
        connect(b, &QLineEdit::textChanged, this, [this, b] { ScheduleBox_Change(b); });
}

void MainWindow::wireEchoLink()
{
    connect(Echolink, &EchoLink::connected, this, &MainWindow::Echolink_connected);
    connect(Echolink, &EchoLink::Disconnected, this, &MainWindow::Echolink_Disconnected);
    connect(Echolink, &EchoLink::RX, this, &MainWindow::EchoLink_RX);
    connect(Echolink, &EchoLink::CarrierDetect, this, &MainWindow::EchoLink_CarrierDetect);
    connect(Echolink, &EchoLink::DTMFString, this, &MainWindow::EchoLink_DTMFString);
    connect(Echolink, &EchoLink::Closing, this, &MainWindow::EchoLink_Closing);
}

void MainWindow::wireTimers()
{
    connect(Timer1, &VbTimer::Timer, this, &MainWindow::Timer1_Timer);
    connect(Timer4, &VbTimer::Timer, this, &MainWindow::Timer4_Timer);
    connect(IDTimer, &VbTimer::Timer, this, &MainWindow::IDTimer_Timer);
    connect(Beacon6, &VbTimer::Timer, this, &MainWindow::Beacon6_Timer);
    connect(Beacon7, &VbTimer::Timer, this, &MainWindow::Beacon7_Timer);
    connect(Beacon3, &VbTimer::Timer, this, &MainWindow::Beacon3_Timer);
    connect(Kerchunker, &VbTimer::Timer, this, &MainWindow::Kerchunker_Timer);
    connect(KickBackCheck, &VbTimer::Timer, this, &MainWindow::KickBackCheck_Timer);
    connect(Timer5, &VbTimer::Timer, this, &MainWindow::Timer5_Timer);
    connect(Timer6, &VbTimer::Timer, this, &MainWindow::Timer6_Timer);
    connect(Fan, &VbTimer::Timer, this, &MainWindow::Fan_Timer);
    connect(FanDelay, &VbTimer::Timer, this, &MainWindow::FanDelay_Timer);
    connect(Timer2, &VbTimer::Timer, this, &MainWindow::Timer2_Timer);
    connect(Timer3, &VbTimer::Timer, this, &MainWindow::Timer3_Timer);
}

} // namespace mirelva
