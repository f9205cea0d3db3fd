#include <QAccessible>
#include <QDir>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <sys/inotify.h>
#include <unistd.h>

#include "core/onairlog.h"
#include "ui/program.h"
#include "ui/questions.h"
#include "core/settingsstore.h"
#include "dtmf/dtmfwindow.h"
#include "greeting/greetingwindow.h"
#include "messagebox/messageboxwindow.h"
#include "support/mainfixture.h"

using namespace mirelva;
using namespace mirelva::test;

namespace {

// Every setting of the main window as text, by control name, so two windows
// can be compared whole.
QMap<QString, QString> snapshot(MainWindow &w)
{
    QMap<QString, QString> m;
    for (auto *b : w.findChildren<TextBox *>())
        m[b->objectName()] = b->text();
    for (auto *c : w.findChildren<CheckBox *>())
        m[c->objectName()] = QString::number(c->value());
    for (auto *o : w.findChildren<OptionButton *>())
        m[o->objectName()] = o->value() ? QStringLiteral("True") : QStringLiteral("False");
    m[QStringLiteral("(position)")] = QStringLiteral("%1,%2").arg(w.pos().x()).arg(w.pos().y());
    return m;
}

QStringList fileLines(const QByteArray &bytes)
{
    QStringList lines = QString::fromLatin1(bytes).split(QRegularExpression(QStringLiteral("\r?\n")));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

int px(double twips, int dpi) { return Convert::twipsToPixels(twips, dpi); }

// Stands in for a window manager that frames a window only after the program
// placed it: the frame lands up and to the left of the point asked for, by
// the border and the title bar, as X does with a window made before it was
// moved.
class FakeWindowFrame : public QObject {
public:
    FakeWindowFrame(QWidget *window, QPoint border) : m_border(border) { window->installEventFilter(this); }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            auto *w = static_cast<QWidget *>(watched);
            w->move(w->pos() - m_border);
        }
        return false;
    }

private:
    QPoint m_border;
};

QString lineOf(const QByteArray &file, const QString &key)
{
    for (const QString &l : fileLines(file))
        if (l.startsWith(key + '='))
            return l;
    return {};
}

// The main window releases the radio; the DTMF window, loaded next, releases
// the transmitter once more.
const QStringList kStartRequests{QStringLiteral("SetPTT off"), QStringLiteral("SetDTR off"),
                                 QStringLiteral("SetRTS off"), QStringLiteral("SetPTT off")};

} // namespace

class TestMainWindowStartup : public QObject {
    Q_OBJECT
private slots:
    void init() { Program::resetForTests(); }

    void firstStartRunsOnTheDefaults()
    {
        MainFixture f;
        MainWindow &w = f.w();

        QCOMPARE(w.pos(), QPoint(px(300, w.logicalDpiX()), px(300, w.logicalDpiY())));
        if (w.logicalDpiX() == 96)
            QCOMPARE(w.pos(), QPoint(20, 20));
        QVERIFY(w.Option1->value());
        QVERIFY(!w.Option2->value());
        QCOMPARE(w.Check3->value(), 1);
        QCOMPARE(w.ConDisc->value(), 1);
        QCOMPARE(w.AddTime->value(), 1);
        QCOMPARE(w.UseCT->value(), 1);
        QCOMPARE(w.CourtesyID->text(), QStringLiteral("K"));
        QCOMPARE(w.IPCourtesy->text(), QStringLiteral("S"));
        QCOMPARE(w.FanCTRL->value(), 1);
        QVERIFY(w.UseDTR->value());
        QVERIFY(!w.UseRTS->value());
        QCOMPARE(w.EnableAutoConnect->text(), QStringLiteral("*1*"));
        QCOMPARE(w.DisableAutoConnect->text(), QStringLiteral("*0*"));
        QCOMPARE(w.TextInput3->text(), QStringLiteral("TTS Text Here"));
        QCOMPARE(w.InfoText->text(), QStringLiteral("TTS Text Here"));
        QCOMPARE(w.Callsign->text(), QString());
        QCOMPARE(w.CWCallsign->text(), QString());
        QCOMPARE(w.BeaconPeriod7->text(), QStringLiteral("15"));
        QCOMPARE(w.BeaconPeriod6->text(), QStringLiteral("10"));
        QCOMPARE(w.BeaconPeriod3->text(), QStringLiteral("10"));
        QCOMPARE(w.VoicePeriod->text(), QStringLiteral("10"));
        for (TextBox *b : {w.HourOFF1, w.HourON1b, w.HourOFF2, w.HourON2b, w.HourOFF3, w.HourON3b})
            QCOMPARE(b->text(), QStringLiteral("24"));
        for (TextBox *b : {w.MinsOFF1, w.MinsON1b, w.MinsOFF2, w.MinsON2b, w.MinsOFF3, w.MinsON3b})
            QCOMPARE(b->text(), QStringLiteral("00"));
        for (CheckBox *c : {w.Check1, w.Check2, w.SayText, w.StayCon1, w.StayCon2, w.IDCheck, w.OnHour,
                            w.QuarterHour, w.HalfHour, w.InfoHourly, w.InfoQuarter, w.InfoHalf, w.StopClock3,
                            w.StopClock6, w.StopClock7, w.TTSCTRL, w.DelayCTRL, w.Sun, w.Sat3})
            QCOMPARE(c->value(), 0);
        QCOMPARE(w.KerchunkWait->text(), QStringLiteral("3000"));
        QCOMPARE(w.HangTime->text(), QStringLiteral("500"));
        QCOMPARE(w.Kerchunker->interval(), 3000);
        QCOMPARE(w.KickBackCheck->interval(), 500);
        QVERIFY(!w.Kerchunker->isEnabled());
        QVERIFY(!w.KickBackCheck->isEnabled());
        QCOMPARE(w.FanPeriod->text(), QStringLiteral("1"));
        QCOMPARE(w.DelayPeriod->text(), QStringLiteral("10"));
        QCOMPARE(w.DelaySeconds->text(), QStringLiteral("10"));
        QCOMPARE(w.TTSPeriod->text(), QStringLiteral("0"));
        QCOMPARE(w.ToggleText->text(), QString());
        QCOMPARE(w.AnnounceOff->text(), QString());
        QCOMPARE(w.AnnounceOn->text(), QString());
        QCOMPARE(w.CWPending, QStringLiteral("0"));
        QCOMPARE(w.flag2, 0);
        QCOMPARE(w.flag3, 0);
        QCOMPARE(w.flagtime, 0);
        QVERIFY(w.isVisible());
        QCOMPARE(w.windowTitle(), QStringLiteral("Mirelva    N0CALL   v3.0.3"));

        // Start-up reads; it never writes.
        QVERIFY(QDir(f.settings.folder()).entryList(QDir::Files).isEmpty());
    }

    void startUpReleasesTheRadioAndNothingElse()
    {
        MainFixture f(MainFixture::LoadedKeepRequests);
        QCOMPARE(f.requests(), kStartRequests);

        // The same with a settings file that changes every box with a handler.
        MainFixture g(MainFixture::Built);
        g.settings.writeFile(MainWindow::iniName(),
                             "[SETTINGS]\r\nFANPERIOD=4\r\nDELAYPERIOD=30\r\nHANGTIME=900\r\nKERCHUNKWAIT=1200\r\n"
                             "CONNECTSTATION1=vk2abc\r\nCOURTESYID=t\r\nHOUROFF1=22\r\n");
        g.load(true);
        QCOMPARE(g.requests(), kStartRequests);
        QCOMPARE(g.w().Kerchunker->interval(), 1200);
        QCOMPARE(g.w().KickBackCheck->interval(), 900);
        QCOMPARE(g.w().DelaySeconds->text(), QStringLiteral("30"));
        QCOMPARE(g.w().FanSeconds->text(), QStringLiteral("240"));
        // The fan is not started by loading its run time: fan control is
        // read only after the run time.
        QVERIFY(!g.w().Fan->isEnabled());
    }

    // The program paints its window before the other windows load. Meanwhile
    // no timer ticks and the node's events wait; once the windows are loaded
    // every event reaches every window, and the start-up requests are those
    // of a start that loads everything at once.
    void theOtherWindowsLoadAfterTheFirstPaintAndMissNothing()
    {
        MainFixture f(MainFixture::Built);
        MainWindow &w = f.w();
        // A window that is never painted (here: not shown) does not hold the
        // start-up for longer than the wait allows.
        QVERIFY(!Program::waitForFirstPaint(&w, 50));

        w.Form_Load(MainWindow::OtherWindows::Later);
        QVERIFY(w.isVisible());
        QVERIFY(!w.otherWindowsLoaded());
        QVERIFY(!f.station.dtmf && !f.station.speechSettings && !f.station.webTools && !f.station.greeting
                && !f.station.about && !f.station.messageBox);

        bool ticked = false;
        QTimer due;
        due.setSingleShot(true);
        connect(&due, &QTimer::timeout, [&ticked] { ticked = true; });
        due.start(0);
        f.node.stationConnects(QStringLiteral("VK2ABC"), QStringLiteral("Bob"), QStringLiteral("192.0.2.7"));
        f.node.chat(QStringLiteral("hello there"));
        QVERIFY(Program::waitForFirstPaint(&w, 10000));
        QVERIFY(!ticked);
        QCOMPARE(w.CallHistory->toPlainText(), QString());

        w.loadOtherWindows();
        QVERIFY(w.otherWindowsLoaded());
        QVERIFY(f.station.dtmf && f.station.speechSettings && f.station.webTools && f.station.greeting
                && f.station.about && f.station.messageBox);
        QVERIFY(!f.station.dtmf->isVisible() && !f.station.messageBox->isVisible());
        QCOMPARE(f.requests().mid(0, kStartRequests.size()), kStartRequests);
        QVERIFY(w.CallHistory->toPlainText().contains(QStringLiteral("VK2ABC -- Bob")));
        QCOMPARE(f.station.greeting->sCallConnectedx, QStringLiteral("VK2ABC"));
        QVERIFY(f.station.greeting->Timer2Delay->isEnabled());
        QVERIFY(f.station.messageBox->IncomingText->toPlainText().contains(QStringLiteral("hello there")));
        // Events raised from now on go straight through; loading again does nothing.
        f.node.chat(QStringLiteral("again"));
        QVERIFY(f.station.messageBox->IncomingText->toPlainText().contains(QStringLiteral("again")));
        QWidget *dtmf = f.station.dtmf;
        const QStringList requests = f.requests();
        w.loadOtherWindows();
        QCOMPARE(f.station.dtmf, dtmf);
        QCOMPARE(f.requests(), requests);
    }

    // A window's button pressed before the other windows were loaded loads
    // them first, and what the node said meanwhile is not lost.
    void aButtonPressedBeforeTheOtherWindowsLoadLoadsThem()
    {
        MainFixture f(MainFixture::Built);
        f.w().Form_Load(MainWindow::OtherWindows::Later);
        f.node.chat(QStringLiteral("early"));
        f.w().Command1->click();
        QVERIFY(f.w().otherWindowsLoaded());
        QVERIFY(f.station.messageBox && f.station.messageBox->isVisible());
        QVERIFY(f.station.dtmf && !f.station.dtmf->isVisible());
        QVERIFY(f.station.messageBox->IncomingText->toPlainText().contains(QStringLiteral("early")));
    }

    void captionFollowsTheNodesCallsign()
    {
        MainFixture f;
        QCOMPARE(f.w().windowTitle(), QStringLiteral("Mirelva    N0CALL   v3.0.3"));
        f.node.setLocalStation(QStringLiteral("VK2RAG-L"));
        QCOMPARE(f.w().windowTitle(), QStringLiteral("Mirelva    VK2RAG-L   v3.0.3"));
        QCOMPARE(f.w().NodeStatus->text(), QStringLiteral("Node: built-in simulated node"));
    }

    void saveWritesEveryKeyInOrderAndTheNextStartReadsThemBack()
    {
        MainFixture f;
        MainWindow &w = f.w();
        const QList<CheckBox *> days{w.Sun, w.Mon, w.Tue, w.Wed, w.Thur, w.Fri, w.Sat,
                                     w.Sun2, w.Mon2, w.Tue2, w.Wed2, w.Thur2, w.Fri2, w.Sat2,
                                     w.Sun3, w.Mon3, w.Tue3, w.Wed3, w.Thur3, w.Fri3, w.Sat3};
        for (int i = 0; i < days.size(); ++i)
            days[i]->setValue(i % 3 == 2 ? 2 : 1);
        w.HourOFF1->setText("22");
        w.MinsOFF1->setText("05");
        w.HourON1b->setText("7");
        w.MinsON1b->setText("30");
        w.HourOFF2->setText("21");
        w.MinsOFF2->setText("15");
        w.HourON2b->setText("6");
        w.MinsON2b->setText("45");
        w.HourOFF3->setText("20");
        w.MinsOFF3->setText("59");
        w.HourON3b->setText("8");
        w.MinsON3b->setText("01");
        w.AnnounceOff->setText("#90");
        w.AnnounceOn->setText("#91");
        w.Check1->setValue(1);
        w.Check2->setValue(1);
        w.Option2->setValue(true);
        w.SayText->setValue(1);
        w.StayCon1->setValue(1);
        w.StayCon2->setValue(2);
        w.EnableAutoConnect->setText("*7*");
        w.DisableAutoConnect->setText("*8*");
        w.IDCheck->setValue(1);
        w.VoicePeriod->setText("25");
        w.TextInput3->setText("Beacon text here");
        w.InfoText->setText("Net tonight at eight");
        w.OnHour->setValue(1);
        w.QuarterHour->setValue(1);
        w.HalfHour->setValue(1);
        w.InfoHourly->setValue(1);
        w.InfoQuarter->setValue(2);
        w.InfoHalf->setValue(1);
        w.BeaconPeriod3->setText("30");
        w.StopClock3->setValue(1);
        w.ConnectStation1->setText("vk2abc-l");
        w.ConnectStation2->setText("*ireland*");
        w.StopClock6->setValue(1);
        w.BeaconPeriod6->setText("20");
        w.Callsign->setText("V K 2 A B C");
        w.StopClock7->setValue(1);
        w.BeaconPeriod7->setText("45");
        w.CWCallsign->setText("VK2ABC");
        w.ConDisc->setValue(0);
        w.AddTime->setValue(0);
        w.move(150, 90);
        w.CourtesyID->setText("T");
        w.IPCourtesy->setText("N");
        w.HangTime->setText("750");
        w.KerchunkWait->setText("4000");
        w.UseCT->setValue(0);
        w.FanPeriod->setText("5");
        w.FanCTRL->setValue(0);
        w.TTSPeriod->setText("3");
        w.ToggleText->setText("*5*");
        w.TTSCTRL->setValue(1);
        w.UseRTS->setValue(true);
        w.DelayPeriod->setText("20");
        w.DelayCTRL->setValue(1);
        w.Check3->setValue(0);
        const auto before = snapshot(w);

        w.SaveData();
        QVERIFY(f.requests().isEmpty());   // saving asks nothing of the node

        const QString left = Convert::twipsToText(Convert::pixelsToTwips(150, w.logicalDpiX()));
        const QString top = Convert::twipsToText(Convert::pixelsToTwips(90, w.logicalDpiY()));
        if (w.logicalDpiX() == 96)
            QCOMPARE(left, QStringLiteral("2250"));
        const QStringList expected{
            "[SETTINGS]",
            "SUN=1", "MON=1", "TUE=2", "WED=1", "THUR=1", "FRI=2", "SAT=1",
            "HOUROFF1=22", "MINSOFF1=05", "HOURON1B=7", "MINSON1B=30",
            "SUN2=1", "MON2=2", "TUE2=1", "WED2=1", "THUR2=2", "FRI2=1", "SAT2=1",
            "HOUROFF2=21", "MINSOFF2=15", "TOGGLETEXT=*5*", "HOURON2B=6", "MINSON2B=45",
            "SUN3=2", "MON3=1", "TUE3=1", "WED3=2", "THUR3=1", "FRI3=1", "SAT3=2",
            "HOUROFF3=20", "MINSOFF3=59", "HOURON3B=8", "MINSON3B=01",
            "ANNOUNCEOFF=#90", "ANNOUNCEON=#91",
            "CHECK1=1", "CHECK2=1",
            "OPTION1=False", "OPTION2=True",
            "SAYTEXT=1", "STAYCON1=1", "STAYCON2=2",
            "ENABLEAUTOCONNECT=*7*", "DISABLEAUTOCONNECT=*8*",
            "IDCHECK=1", "VOICEPERIOD=25",
            "TEXTINPUT3=Beacon text here", "INFOTEXT=Net tonight at eight",
            "TXTIMEHOUR=1", "TXQUARTERHOUR=1", "TXHALFHOUR=1",
            "INFOHOURLY=1", "INFOQUATER=2", "INFOHALF=1",
            "BEACONPERIOD3=30", "STOPCLOCK3=1",
            "CONNECTSTATION1=VK2ABC-L", "CONNECTSTATION2=*IRELAND*",
            "STOPCLOCK6=1", "BEACONPERIOD6=20", "CALLSIGN=V K 2 A B C",
            "STOPCLOCK7=1", "BEACONPERIOD7=45", "CWCALLSIGN=VK2ABC",
            "CONDISC=0", "ADDTIME=0",
            "LEFT=" + left, "TOP=" + top,
            "COURTESYID=T", "IPCOURTESY=N", "HANGTIME=750", "KERCHUNKWAIT=4000", "USECT=0",
            "FANPERIOD=5", "FANCTRL=0", "TTSPERIOD=3", "TTSCTRL=1",
            "USEDTR=False", "USERTS=True",
            "DELAYPERIOD=20", "DELAYCTRL=1", "CHECK3=0",
        };
        const QStringList written = fileLines(f.settings.readFile(MainWindow::iniName()));
        QCOMPARE(written, expected);

        auto next = f.restart();
        auto after = snapshot(next->w());
        auto wanted = before;
        wanted[QStringLiteral("ConnectStation1")] = QStringLiteral("VK2ABC-L");
        wanted[QStringLiteral("ConnectStation2")] = QStringLiteral("*IRELAND*");
        for (auto it = wanted.cbegin(); it != wanted.cend(); ++it)
            QVERIFY2(after.value(it.key()) == it.value(),
                     qPrintable(it.key() + ": " + after.value(it.key()) + " != " + it.value()));
        QCOMPARE(after, wanted);
        QCOMPARE(next->w().Kerchunker->interval(), 4000);
        QCOMPARE(next->w().KickBackCheck->interval(), 750);
        QCOMPARE(next->w().DelaySeconds->text(), QStringLiteral("20"));

        // Saving the unchanged window again gives the same file.
        next->w().SaveData();
        QCOMPARE(fileLines(f.settings.readFile(MainWindow::iniName())), expected);
    }

    void clearedInfoTextIsSavedEmpty()
    {
        MainFixture f;
        f.w().ClearInfoText->click();
        QCOMPARE(f.w().InfoText->text(), QString());
        f.w().Command6->click();
        QVERIFY(fileLines(f.settings.readFile(MainWindow::iniName())).contains(QStringLiteral("INFOTEXT=")));
        auto next = f.restart();
        QCOMPARE(next->w().InfoText->text(), QString());
    }

    void everySaveButtonSaves()
    {
        MainFixture f;
        for (QPushButton *b : {f.w().SaveDataNow, f.w().Command6, f.w().Command11}) {
            f.settings.clear();
            f.w().Callsign->setText(b->objectName());
            b->click();
            QVERIFY2(fileLines(f.settings.readFile(MainWindow::iniName())).contains("CALLSIGN=" + b->objectName()),
                     qPrintable(b->objectName()));
        }
    }

    void aSaveIsOneReplacementOfTheFile()
    {
        MainFixture f;
        MainWindow &w = f.w();
        // Counted from outside: the file's name arriving in the folder by a
        // rename, and any writing into the file itself.
        const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        QVERIFY(watch >= 0);
        QVERIFY(inotify_add_watch(watch, QFile::encodeName(f.settings.folder()).constData(),
                                  IN_MOVED_TO | IN_CLOSE_WRITE) >= 0);
        const auto events = [watch] {
            QStringList seen;
            alignas(inotify_event) char buf[64 * 1024];
            for (ssize_t n; (n = ::read(watch, buf, sizeof buf)) > 0;) {
                for (char *p = buf; p < buf + n; p += sizeof(inotify_event) + reinterpret_cast<inotify_event *>(p)->len) {
                    const auto *e = reinterpret_cast<inotify_event *>(p);
                    if (QString::fromUtf8(e->name) == MainWindow::iniName())
                        seen << ((e->mask & IN_MOVED_TO) ? "replaced" : "written");
                }
            }
            return seen;
        };
        w.Callsign->setText("VK2RAG");
        w.SaveData();
        QCOMPARE(events(), QStringList{"replaced"});
        QCOMPARE(fileLines(f.settings.readFile(MainWindow::iniName())).size(), 84); // the section and every key
        w.SaveData(); // nothing changed
        QCOMPARE(events(), QStringList());
        w.Check1->setValue(1);
        w.InfoText->setText("Net tonight");
        w.SaveData();
        QCOMPARE(events(), QStringList{"replaced"});
        ::close(watch);
    }

    void failedSavesAndUnreadFilesAreSaidUntilASaveWorks()
    {
        MainFixture f(MainFixture::Built);
        MainWindow &w = f.w();
        QStringList log;
        QObject listening;
        connect(&OnAirLog::instance(), &OnAirLog::line, &listening, [&log](const QString &line) {
            if (line.mid(24).startsWith("settings"))
                log << line.mid(24);
        });
        const QString path = f.settings.path(MainWindow::iniName());
        QDir().mkpath(path);
        f.load();
        const QString notRead = "mirelva.ini not read: a folder is in its place. Defaults in use; saving will not "
                                "replace the file.";
        QVERIFY(w.Warnings->isVisibleTo(&w));
        QCOMPARE(w.Warnings->text(), notRead);
        // What a screen reader says is the warning itself.
        QCOMPARE(QAccessible::queryAccessibleInterface(w.Warnings)->text(QAccessible::Name), notRead);
        QCOMPARE(w.CourtesyID->text(), QStringLiteral("K"));

        w.Callsign->setText("VK2RAG");
        w.SaveDataNow->click();
        const QString notSaved = "Nothing saved to mirelva.ini: a folder is in its place. The file is as it was.";
        QCOMPARE(w.Warnings->text(), notSaved);
        QVERIFY(QFileInfo(path).isDir());
        QVERIFY(w.Timer1->isEnabled());
        QCOMPARE(log, (QStringList{"settings not read: " + path + ": a folder is in its place",
                                   "settings not saved: " + path + ": a folder is in its place"}));

        // Another window's failed save is said beside it.
        QDir().mkpath(f.settings.path("dtmfctrl.ini"));
        const IniFile dtmf(QStringLiteral("dtmfctrl.ini"), 256);
        {
            IniFile::Save save(dtmf);
            dtmf.write("TIMECODE", "*9*");
        }
        const QString dtmfNotSaved = "Nothing saved to dtmfctrl.ini: a folder is in its place. The file is as it was.";
        QCOMPARE(w.lastingWarnings(), (QStringList{notSaved, dtmfNotSaved}));

        // A save that works ends the warning of its own file only.
        QDir(path).removeRecursively();
        w.SaveData();
        QCOMPARE(w.Warnings->text(), dtmfNotSaved);
        QVERIFY(fileLines(f.settings.readFile(MainWindow::iniName())).contains("CALLSIGN=VK2RAG"));
        QDir(f.settings.path("dtmfctrl.ini")).removeRecursively();
        dtmf.write("TIMECODE", "*9*");
        QVERIFY(!w.Warnings->isVisibleTo(&w));
        QCOMPARE(log.size(), 3);
    }

    void upperCaseBKeysAndLowerCaseCallsRead()
    {
        MainFixture f(MainFixture::Built);
        f.settings.writeFile(MainWindow::iniName(), "[SETTINGS]\r\nHOURON1B=7\r\nminson3B=9\r\n"
                                                    "CONNECTSTATION1=vk3xyz\r\n");
        f.load();
        QCOMPARE(f.w().HourON1b->text(), QStringLiteral("7"));
        QCOMPARE(f.w().MinsON3b->text(), QStringLiteral("9"));
        QCOMPARE(f.w().ConnectStation1->text().toUpper(), QStringLiteral("VK3XYZ"));
        f.w().SaveData();
        QVERIFY(fileLines(f.settings.readFile(MainWindow::iniName())).contains(QStringLiteral("CONNECTSTATION1=VK3XYZ")));
    }

    void positionStaysPutThroughSavesAndStartsUnderAWindowFrame()
    {
        auto f = std::make_unique<MainFixture>(MainFixture::Built);
        f->settings.writeFile(MainWindow::iniName(), "[SETTINGS]\r\nLEFT=1500\r\nTOP=750\r\n");
        // The first start and three more, each saving where the window is.
        for (int start = 0; start < 4; ++start) {
            MainWindow &w = f->w();
            FakeWindowFrame frame(&w, QPoint(1, 20));
            f->load();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            const QPoint wanted(px(1500, w.logicalDpiX()), px(750, w.logicalDpiY()));
            QTRY_COMPARE(w.frameGeometry().topLeft(), wanted);
            QCOMPARE(w.pos(), wanted);
            w.SaveData();
            const QByteArray file = f->settings.readFile(MainWindow::iniName());
            QCOMPARE(lineOf(file, "LEFT"), QStringLiteral("LEFT=1500"));
            QCOMPARE(lineOf(file, "TOP"), QStringLiteral("TOP=750"));
            f = f->restart(MainFixture::Built);
        }
    }

    void positionOffEveryScreenComesBackWithoutTouchingTheFile_data()
    {
        QTest::addColumn<QByteArray>("stored");
        // The frame's corner, 96 dpi, 800x800 screen; the window is 860x624
        // as shown (its layout's least height), its frame 2 px wider each way.
        QTest::addColumn<QPoint>("framePx");
        QTest::newRow("title bar above the screen") << QByteArray("LEFT=270\r\nTOP=-300") << QPoint(18, 0);
        QTest::newRow("far up and left") << QByteArray("LEFT=-150000\r\nTOP=-150000") << QPoint(0, 0);
        QTest::newRow("past the right edge") << QByteArray("LEFT=999990\r\nTOP=300") << QPoint(0, 20);
        QTest::newRow("below the screen") << QByteArray("LEFT=300\r\nTOP=99990") << QPoint(20, 800 - 628);
        QTest::newRow("partly off to the left, wider than the screen: at its left edge")
            << QByteArray("LEFT=-4500\r\nTOP=1500") << QPoint(0, 100);
        QTest::newRow("partly below, moved up to fit") << QByteArray("LEFT=1500\r\nTOP=4500") << QPoint(100, 800 - 628);
    }

    void positionOffEveryScreenComesBackWithoutTouchingTheFile()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QPoint, framePx);
        MainFixture f(MainFixture::Built);
        const QByteArray file = "[SETTINGS]\r\n" + stored + "\r\nCALLSIGN=VK2RAG\r\n";
        f.settings.writeFile(MainWindow::iniName(), file);
        f.load();
        MainWindow &w = f.w();
        if (w.logicalDpiX() != 96 || w.screen()->availableGeometry() != QRect(0, 0, 800, 800))
            QSKIP("the figures assume the offscreen platform's 800x800 screen at 96 dpi");
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTRY_COMPARE(w.pos(), framePx);
        QCOMPARE(f.settings.readFile(MainWindow::iniName()), file);
        // Saved, the window's place is where the operator now sees it.
        w.SaveData();
        const QByteArray saved = f.settings.readFile(MainWindow::iniName());
        QCOMPARE(lineOf(saved, "LEFT"), "LEFT=" + QString::number(framePx.x() * 15));
        QCOMPARE(lineOf(saved, "TOP"), "TOP=" + QString::number(framePx.y() * 15));
    }

    void windowsFileReadsLikeItsCleanTwin()
    {
        MainFixture clean(MainFixture::Built);
        clean.settings.writeFile(MainWindow::iniName(),
                                 "[SETTINGS]\nINFOTEXT=Caf\xE9 net at eight\nCALLSIGN=V K 2 R A G\nCHECK3=0\n"
                                 "OPTION1=False\nOPTION2=True\nUSEDTR=False\nUSERTS=True\nHOURON2B=6\n"
                                 "FANPERIOD=3\nSTAYCON1=2\nLEFT=1500\nTOP=750\n");
        clean.load();
        const auto cleanState = snapshot(clean.w());
        QCOMPARE(clean.w().InfoText->text(), QStringLiteral("Caf\u00e9 net at eight"));
        clean.window.reset();

        MainFixture messy(MainFixture::Built);
        messy.settings.writeFile(MainWindow::iniName(),
                                 "; carried over from the station PC\r\n[Settings]\r\n"
                                 "  infotext =   Caf\xE9 net at eight   \r\nCallSign=\"V K 2 R A G\"\r\n"
                                 "check3 = 0\r\noption1=false\r\nOption2 = TRUE\r\nUseDtr=False\r\nuserts=True\r\n"
                                 "hourON2b= 6 \r\nFanPeriod=3\r\nStayCon1=  2\r\nleft=1500\r\nTop = 750\r\n");
        messy.load();
        QCOMPARE(snapshot(messy.w()), cleanState);
    }

    void laterOfTwoTrueOptionsWins()
    {
        MainFixture f(MainFixture::Built);
        f.settings.writeFile(MainWindow::iniName(),
                             "[SETTINGS]\r\nOPTION1=True\r\nOPTION2=True\r\nUSEDTR=True\r\nUSERTS=True\r\n");
        f.load();
        QVERIFY(!f.w().Option1->value());
        QVERIFY(f.w().Option2->value());
        QVERIFY(!f.w().UseDTR->value());
        QVERIFY(f.w().UseRTS->value());

        // Both False: neither line chosen, and it stays so through a save.
        MainFixture g(MainFixture::Built);
        g.settings.writeFile(MainWindow::iniName(), "[SETTINGS]\r\nUSEDTR=False\r\nUSERTS=False\r\n");
        g.load();
        QVERIFY(!g.w().UseDTR->value());
        QVERIFY(!g.w().UseRTS->value());
    }

    void junkValuesLoadAsDefaults()
    {
        MainFixture f(MainFixture::Built);
        f.settings.writeFile(MainWindow::iniName(),
                             "[SETTINGS]\r\nCHECK3=abc\r\nFANCTRL=yes\r\nSUN=abc\r\nCHECK1=7\r\nOPTION1=maybe\r\n"
                             "OPTION2=perhaps\r\nUSEDTR=\r\nLEFT=abc\r\nTOP=\r\n");
        f.load();
        MainWindow &w = f.w();
        QCOMPARE(w.Check3->value(), 1);
        QCOMPARE(w.FanCTRL->value(), 1);
        QCOMPARE(w.Sun->value(), 0);
        QCOMPARE(w.Check1->value(), 0);
        QVERIFY(w.Option1->value());
        QVERIFY(!w.Option2->value());
        QVERIFY(w.UseDTR->value());
        QCOMPARE(w.pos(), QPoint(px(300, w.logicalDpiX()), px(300, w.logicalDpiY())));
    }

    void hugeNumbersDoNotCrash()
    {
        MainFixture f(MainFixture::Built);
        const QByteArray huge = "99999999999999999999999999999";
        f.settings.writeFile(MainWindow::iniName(),
                             "[SETTINGS]\r\nKERCHUNKWAIT=" + huge + "\r\nHANGTIME=70000\r\nFANPERIOD=" + huge +
                                 "\r\nDELAYPERIOD=" + huge + "\r\nBEACONPERIOD6=" + huge + "\r\nBEACONPERIOD7=" +
                                 huge + "\r\nBEACONPERIOD3=" + huge + "\r\nVOICEPERIOD=" + huge + "\r\nTTSPERIOD=" +
                                 huge + "\r\nLEFT=1e38\r\nTOP=-1e38\r\nHOUROFF1=" + huge + "\r\n");
        f.load(true);
        MainWindow &w = f.w();
        QCOMPARE(f.requests(), kStartRequests);
        // Intervals the timer cannot take leave the design intervals.
        QCOMPARE(w.Kerchunker->interval(), 5000);
        QCOMPARE(w.KickBackCheck->interval(), 500);
        QCOMPARE(w.KerchunkWait->text(), QString::fromLatin1(huge));
        QVERIFY(labelNumber(w.FanSeconds) > 0);
        QCOMPARE(w.DelaySeconds->text(), QString::fromLatin1(huge));
        w.SaveData();
        QVERIFY(fileLines(f.settings.readFile(MainWindow::iniName())).contains("FANPERIOD=" + QString::fromLatin1(huge)));
    }

    void damagedFilesStartOnDefaultsAndSaveBesideThem()
    {
        // Binary garbage, NULs and all: the defaults, and a save keeps it.
        QByteArray garbage(256 << 10, Qt::Uninitialized);
        QRandomGenerator random(2026);
        for (char &c : garbage)
            c = char(random.bounded(256));
        MainFixture f(MainFixture::Built);
        f.settings.writeFile(MainWindow::iniName(), garbage);
        f.load(true);
        MainWindow &w = f.w();
        QCOMPARE(f.requests(), kStartRequests);
        QVERIFY(w.Option1->value());
        QCOMPARE(w.CourtesyID->text(), QStringLiteral("K"));
        QCOMPARE(w.Kerchunker->interval(), 3000);
        QCOMPARE(w.pos(), QPoint(px(300, w.logicalDpiX()), px(300, w.logicalDpiY())));
        w.Callsign->setText("VK2RAG");
        w.Check1->setValue(1);
        const auto before = snapshot(w);
        w.SaveData();
        QVERIFY(f.settings.readFile(MainWindow::iniName()).startsWith(garbage));
        QCOMPARE(snapshot(f.restart()->w()), before);

        // A name without '=', a value far past the buffer, a second section.
        MainFixture g(MainFixture::Built);
        g.settings.writeFile(MainWindow::iniName(), "[SETTINGS]\r\nCALLSIGN\r\nCALLSIGN=" + QByteArray(100000, 'V') +
                                                        "\r\nINFOTEXT=first\r\n[SETTINGS]\r\nINFOTEXT=second\r\n"
                                                        "CHECK3=0\r\n");
        g.load();
        QCOMPARE(g.w().Callsign->text(), QString(255, 'V'));
        QCOMPARE(g.w().InfoText->text(), QStringLiteral("first"));
        QCOMPARE(g.w().Check3->value(), 1);
        g.w().SaveData();
        const QStringList lines = fileLines(g.settings.readFile(MainWindow::iniName()));
        QCOMPARE(lines.mid(0, 3), (QStringList{"[SETTINGS]", "CALLSIGN", "CALLSIGN=" + QString(255, 'V')}));
        QCOMPARE(lines.mid(lines.indexOf("[SETTINGS]", 1)), (QStringList{"[SETTINGS]", "INFOTEXT=second", "CHECK3=0"}));
        QCOMPARE(lines.count(QStringLiteral("CHECK3=1")), 1);
        QCOMPARE(g.restart()->w().InfoText->text(), QStringLiteral("first"));
    }

    void quitQuestionNoKeepsRunning()
    {
        MainFixture f;
        QStringList asked;
        Questions::setAnswererForTests([&asked](const QString &title, const QString &text) {
            asked << title << text;
            return Questions::Answer::No;
        });
        f.w().Callsign->setText("VK2RAG");
        QVERIFY(!f.w().close());
        QCOMPARE(asked, (QStringList{"Exit Program", "Quit Mirelva - Are You Sure ? Remember To Save Any Changes  "}));
        QVERIFY(f.w().isVisible());
        QVERIFY(!Program::ended());
        QVERIFY(f.requests().isEmpty());
        QCOMPARE(f.w().Callsign->text(), QStringLiteral("VK2RAG"));
        QVERIFY(f.w().Timer1->isEnabled());
        QVERIFY(f.settings.readFile(MainWindow::iniName()).isEmpty());
    }

    void quitQuestionYesReleasesTheRadioAndEnds()
    {
        MainFixture f;
        int asked = 0;
        Questions::setAnswererForTests([&asked](const QString &, const QString &) {
            ++asked;
            return Questions::Answer::Yes;
        });
        f.w().Callsign->setText("VK2RAG");
        QVERIFY(f.w().close());
        QCOMPARE(asked, 1);
        QCOMPARE(f.requests(), (QStringList{"SetPTT off", "SetRTS off", "SetDTR off"}));
        QVERIFY(Program::ended());
        // Nothing is saved on the way out, and nothing more reaches the node.
        QVERIFY(f.settings.readFile(MainWindow::iniName()).isEmpty());
        f.node.closing();
        QCOMPARE(f.requests().size(), 3);
    }

    void nodeClosingEndsWithoutAQuestion()
    {
        MainFixture f;
        int asked = 0;
        Questions::setAnswererForTests([&asked](const QString &, const QString &) {
            ++asked;
            return Questions::Answer::No;
        });
        f.w().Callsign->setText("VK2RAG");
        f.node.closing();
        QCOMPARE(asked, 0);
        const QStringList released{"SetPTT off", "SetDTR off", "SetRTS off"};
        QCOMPARE(f.requests(), released);
        QVERIFY(Program::ended());
        QVERIFY(f.settings.readFile(MainWindow::iniName()).isEmpty());
        // A second event after the end does nothing.
        f.node.closing();
        QCOMPARE(f.requests(), released);
        // Closing the window afterwards asks nothing either.
        QVERIFY(f.w().close());
        QCOMPARE(asked, 0);
    }

    void exitReleasesPttOnlyAndEnds()
    {
        MainFixture f;
        int asked = 0;
        Questions::setAnswererForTests([&asked](const QString &, const QString &) {
            ++asked;
            return Questions::Answer::No;
        });
        f.w().Echolink->SetDTR(true);
        f.node.clearRecords();
        f.w().Command4->click();
        QCOMPARE(asked, 0);
        // The transmitter is never left keyed; the fan line is left as it is.
        QCOMPARE(f.requests(), QStringList{"SetPTT off"});
        QVERIFY(Program::ended());
        QVERIFY(f.settings.readFile(MainWindow::iniName()).isEmpty());
    }

    void clearButtonsEmptyTheirBoxes()
    {
        MainFixture f;
        MainWindow &w = f.w();
        w.CallHistory->setPlainText("1:00 PM -- VK2RAG -- Rag -- 10.0.0.1");
        w.Command5->click();
        QCOMPARE(w.CallHistory->toPlainText(), QString());
        w.ClearText3->click();
        QCOMPARE(w.TextInput3->text(), QString());
        QCOMPARE(w.InfoText->text(), QStringLiteral("TTS Text Here"));
        QVERIFY(f.settings.readFile(MainWindow::iniName()).isEmpty());
    }
};

QTEST_MAIN(TestMainWindowStartup)
#include "test_mainwindow_startup.moc"
