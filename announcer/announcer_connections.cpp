#include "announcer/mainwindow.h"

#include "core/clock.h"
#include "ui/countdowns.h"
#include "core/onairlog.h"
#include "ui/program.h"
#include "greeting/greetingwindow.h"
#include "side/webaddresses.h"
#include "side/webtoolswindow.h"

namespace mirelva {

namespace {

// Conferences the station knows by name, matched exactly and with letter case,
// and how each is spoken. Anything else ending in "*" is spelled out.
struct Conference {
    const char *received;
    const char *spokenOnConnect;
    const char *spokenOnDisconnect;
    const char *connectSuffix;
    const char *disconnectSuffix;
};

constexpr const char *kConnected = "  conference has connected.";
constexpr const char *kDisconnected = "  conference has disconnected.";
constexpr const char *kConnectedCaps = "  Conference Has Connected.";
constexpr const char *kDisconnectedCaps = "  Conference Has disconnected.";

constexpr Conference kConferences[] = {
    {"*IRELAND*", "Ireland", "Ireland", kConnected, kDisconnected},
    {"*ENGLAND*", "England", "England", kConnected, kDisconnected},
    {"*QX3ABC*", "Q X 3 A B C : V Kay Drive Time Net", "Q X 3 A B C : V Kay Drive Time Net", kConnectedCaps,
     kDisconnectedCaps},
    {"*UKLOTA*", "U Kay Ladies On The Air", "U Kay Ladies On The Air", kConnectedCaps, kDisconnectedCaps},
    {"*NASA*", "Nassa", "Nassa", kConnectedCaps, kDisconnectedCaps},
    {"*JOTA-E*", "Jamboree on the air : English", "Jamboree on the air : English", kConnectedCaps,
     kDisconnectedCaps},
    {"*Q2XY*", "Q 2 ex why", "Q 2 Ex why", kConnectedCaps, kDisconnectedCaps},
    {"*VKEMCOMM*", "V Kay Emergency Communications", "V Kay Emergency Communications", kConnectedCaps,
     kDisconnectedCaps},
    {"*QO3XNET*", "Q O 3 X Net", "Q O 3 X Net", kConnectedCaps, kDisconnectedCaps},
    {"*AUSSIE*", "Australian", "Australian", "  Conference Has Connected. GuDay from Down Under",
     kDisconnectedCaps},
    {"*CANADIAN*", "Canadian", "Canadian", kConnectedCaps, kDisconnectedCaps},
};

// Where the caret is put after each history line: past this many characters
// it stops following the newest line.
constexpr int kHistoryCaretLimit = 20000;

// " h:mm AM -- ", with English AM/PM whatever the desktop's language.
QString historyTimeStamp(const QTime &t)
{
    const int h12 = t.hour() % 12 == 0 ? 12 : t.hour() % 12;
    return QStringLiteral(" %1:%2 %3 -- ")
        .arg(h12)
        .arg(t.minute(), 2, 10, QLatin1Char('0'))
        .arg(t.hour() < 12 ? QStringLiteral("AM") : QStringLiteral("PM"));
}

// 1-based position of the first "-", 0 when there is none.
int firstDash(const QString &text) { return int(text.indexOf(QLatin1Char('-'))) + 1; }

// The web tools window shows the connecting station's look-up page when its
// "Show QRZ Info" is ticked.
void lookUpIfAsked(const Station &station, const QString &call)
{
    const QString address = WebAddresses::callLookup(call);
    if (WebToolsWindow *web = station.webTools; web && web->Check9->value() == 1 && !address.isEmpty())
        web->WebBrowser1->Navigate(address);
}

} // namespace

// Each announcement lets waiting events run; one of them may end the program,
// and then the handler must stop where it is.
bool MainWindow::speakAnnouncementNow()
{
    SpeakTheText();
    return !Program::ended();
}

void MainWindow::queueTimeIfAsked()
{
    if (AddTime->value() == 1)
        TheTimeBit();
}

// Walks the conference table with the whole received text, letter case and
// all; a listed conference is announced by its spoken name, which then stands
// in for the text. False when the program ended meanwhile.
bool MainWindow::announceListedConference(QString &name, int &pos, bool connecting, const QString &received)
{
    for (const Conference &c : kConferences) {
        if (name != QLatin1String(c.received))
            continue;
        if (connecting)
            TempHold = received;
        name = QString::fromLatin1(connecting ? c.spokenOnConnect : c.spokenOnDisconnect);
        SayTheText = QStringLiteral("The ") + name + QLatin1String(connecting ? c.connectSuffix : c.disconnectSuffix);
        if (!speakAnnouncementNow())
            return false;
        pos = 1;
        queueTimeIfAsked();
    }
    return true;
}

void MainWindow::Echolink_connected(const QString &sCallConnected, const QString &sName, const QString &sAddr)
{
    // 1.
    int pos = firstDash(sCallConnected);
    QString name = sCallConnected;

    // 2.
    if (WebToolsWindow *web = station.webTools)
        web->Label2->setText(sCallConnected + QLatin1Char(' ') + sName);

    // 3. The caret goes to a fixed position, so the view follows the newest
    //    lines only while the history is short.
    CallHistory->appendLine(historyTimeStamp(Clock::now().time()) + sCallConnected + QStringLiteral(" -- ") + sName
                            + QStringLiteral(" -- ") + sAddr);
    CallHistory->placeCaret(kHistoryCaretLimit);
    tellScreenReader(this, sName.trimmed().isEmpty() ? sCallConnected + QStringLiteral(" connected")
                                                     : sCallConnected + QStringLiteral(" connected, ") + sName);

    // 4.
    if (ConDisc->value() != 1)
        return;

    // 5.
    if (name.endsWith(QLatin1Char('*'))) {
        // A conference is welcomed with the connect notice, not by name.
        if (station.greeting)
            station.greeting->Option10->setValue(true);
        if (!announceListedConference(name, pos, true, sCallConnected))
            return;
    }

    // 6. A conference not in the table is spelled out.
    if (name.endsWith(QLatin1Char('*'))) {
        if (station.greeting)
            station.greeting->Option4->setValue(true);
        TempCall = name;
        SplitCall();
        SayTheText = QStringLiteral("The ") + TempCall + QLatin1String(kConnected);
        if (!speakAnnouncementNow())
            return;
        queueTimeIfAsked();
        pos = 1;
    }

    // 7. to 9.
    if (name.endsWith(QLatin1String("-L")) || name.endsWith(QLatin1String("-R"))) {
        const bool link = name.endsWith(QLatin1String("-L"));
        if (station.greeting)
            station.greeting->Option4->setValue(true);
        TempCall = name.left(pos);
        lookUpIfAsked(station, TempCall);
        SplitCall();
        SayTheText = TempCall + (link ? QStringLiteral(" : Link Connected.") : QStringLiteral(" : Repeater Connected."));
        if (!speakAnnouncementNow())
            return;
        queueTimeIfAsked();
    } else if (pos == 0) {
        TempCall = name;
        lookUpIfAsked(station, TempCall);
        SplitCall();
        SayTheText = TempCall + QStringLiteral(" , Connected");
        if (!speakAnnouncementNow())
            return;
        queueTimeIfAsked();
    }
}

void MainWindow::Echolink_Disconnected(const QString &sCall)
{
    // 1.
    int pos = firstDash(sCall);
    QString name = sCall;
    // Told as the connect is, announced on air or not.
    tellScreenReader(this, sCall + QStringLiteral(" disconnected"));
    // 2.
    if (ConDisc->value() != 1)
        return;

    // 3.
    if (name.endsWith(QLatin1Char('*'))) {
        if (!announceListedConference(name, pos, false, QString()))
            return;
        if (name.endsWith(QLatin1Char('*'))) {
            TempCall = name;
            SplitCall();
            SayTheText = QStringLiteral("The ") + TempCall + QLatin1String(kDisconnected);
            if (!speakAnnouncementNow())
                return;
            pos = 1;
            queueTimeIfAsked();
        }
    }

    // 4. to 6.
    if (name.endsWith(QLatin1String("-L")) || name.endsWith(QLatin1String("-R"))) {
        const bool link = name.endsWith(QLatin1String("-L"));
        TempCall = name.left(pos);
        SplitCall();
        SayTheText = TempCall
                     + (link ? QStringLiteral(" : Link Disconnected.") : QStringLiteral(" : Repeater Disconnected."));
        if (!speakAnnouncementNow())
            return;
        queueTimeIfAsked();
    } else if (pos == 0) {
        TempCall = name;
        SplitCall();
        SayTheText = TempCall + QStringLiteral(" , Disconnected");
        if (!speakAnnouncementNow())
            return;
        queueTimeIfAsked();
    }
}

void MainWindow::SplitCall()
{
    // One blank after every character, so the voice spells the call out. A
    // character written as a surrogate pair stays whole: a blank between its
    // halves would leave text that no longer encodes anything.
    // A station text comes from the network: one that is far longer than
    // any call would hold the transmitter while it is spelled.
    if (TempCall.size() > kMaxSpokenCallChars) {
        OnAirLog::note(QStringLiteral("station text cut to %1 characters for the air (it had %2)")
                           .arg(kMaxSpokenCallChars)
                           .arg(TempCall.size()));
        TempCall = boundedText(TempCall, kMaxSpokenCallChars);
    }
    QString spelled;
    spelled.reserve(TempCall.size() * 2);
    for (qsizetype i = 0; i < TempCall.size(); ++i) {
        spelled += TempCall[i];
        if (TempCall[i].isHighSurrogate() && i + 1 < TempCall.size() && TempCall[i + 1].isLowSurrogate())
            spelled += TempCall[++i];
        spelled += QLatin1Char(' ');
    }
    TempCall = spelled;
}

void MainWindow::EchoLink_RX(bool bRX)
{
    if (Check1->value() == 1)
        return;
    if (bRX) {
        InUse = 1;
        return;
    }
    InUse = 0;
    // The internet-side over has ended: give the courtesy letter unless the
    // link is still passing audio. An emptied letter box sends no bare carrier.
    if (UseCT->value() == 1 && !Echolink->LinkBusy() && !countdowns::carriesNothing(IPCourtesy->text()))
        Echolink->SendCW(false, IPCourtesy->text());
}

void MainWindow::EchoLink_CarrierDetect(bool bCD)
{
    // The kerchunk guard decides from its own ticks whether the over counts.
    if (bCD) {
        InUse = 1;
        Kerchunker->setEnabled(true);
    } else {
        InUse = 0;
        KickBackCheck->setEnabled(true);
    }
}

} // namespace mirelva
