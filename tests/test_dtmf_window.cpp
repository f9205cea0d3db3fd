#include <QAccessible>
#include <QApplication>
#include <QRegularExpression>
#include <QTest>

#include "ui/program.h"
#include "ui/questions.h"
#include "core/settingsstore.h"
#include "dtmf/dtmfwindow.h"
#include "support/a11y.h"
#include "support/mainfixture.h"

using namespace mirelva;
using namespace mirelva::test;

namespace {

// Every stored control of the DTMF window as text, by control name, so two
// windows can be compared whole. The last connected station and the warning
// box are not stored.
QMap<QString, QString> snapshot(DtmfWindow &d)
{
    QMap<QString, QString> m;
    for (auto *b : d.findChildren<TextBox *>())
        if (b != d.LastConnected)
            m[b->objectName()] = b->text();
    for (auto *c : d.findChildren<CheckBox *>())
        if (c != d.Check4)
            m[c->objectName()] = QString::number(c->value());
    m[QStringLiteral("(position)")] = QStringLiteral("%1,%2").arg(d.pos().x()).arg(d.pos().y());
    return m;
}

QStringList keysOf(const QByteArray &file)
{
    QStringList keys;
    for (const QString &line : QString::fromLatin1(file).split(QRegularExpression(QStringLiteral("\r?\n"))))
        if (line.contains('='))
            keys << line.section('=', 0, 0);
    return keys;
}

// The keys in the order the window reads and writes them.
QStringList keyTable()
{
    QStringList k{"DISCMINS1", "DISCMINS2", "DISCMINS3", "DISCMINS4", "CHECK2", "CHECK3", "CHECK11", "CHECK20",
                  "DTMFDELAYSECONDS", "USEDTMFDELAY", "TEXT555", "BEACONPERIOD", "TEXT111", "TEXT222", "TEXT333",
                  "CHECK1", "TEXT1111", "TEXT2222"};
    for (int n = 1; n <= 8; ++n)
        k << QStringLiteral("DTMF%1").arg(n);
    for (int n = 1; n <= 8; ++n)
        k << QStringLiteral("CALL%1").arg(n);
    k << "DTMFGROUP1CONNECT" << "DTMFGROUP1DISC" << "DTMFGROUP2CONNECT" << "DTMFGROUP2DISC";
    for (int n = 1; n <= 6; ++n)
        k << QStringLiteral("GROUPCALL%1").arg(n);
    const auto net = [&k](const QString &s) {
        for (const char *d : {"SUN", "MON", "TUE", "WED", "THUR", "FRI", "SAT"})
            k << QLatin1String(d) + s;
        k << "HOUR" + s << "MINS" + s;
    };
    net("2");
    k << "NETCALL1" << "NETCALL2" << "NETCALL3" << "NETCALL4";
    net("");
    net("3");
    net("4");
    k << "DISCONNECTALL1" << "DISCONNECTALL2" << "DISCONNECTALL3" << "DISCONNECTALL4" << "LEFT" << "TOP"
      << "DTMF" << "USEDTMF" << "SHOWBUSY1" << "SHOWBUSY2" << "SHOWBUSY3" << "SHOWBUSY4" << "RFBUSY";
    return k;
}

} // namespace

// The DTMF window's settings, its start-up and its life: loaded hidden by the
// main window, saved and restored whole, hidden and shown, and its ending.
class TestDtmfWindow : public QObject {
    Q_OBJECT
private slots:
    void init() { Program::resetForTests(); }

    void startsOnTheDefaults_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("no file") << QByteArray();
        QTest::newRow("a file with no keys") << QByteArray("[SETTINGS]\r\n[OTHER]\r\nCHECK1=0\r\n");
    }

    void startsOnTheDefaults()
    {
        QFETCH(QByteArray, file);
        MainFixture f(MainFixture::Built);
        if (!file.isNull())
            f.settings.writeFile(DtmfWindow::iniName(), file);
        f.node.setLocalStation(QStringLiteral("VK2XYZ-L"));
        f.load(true);
        QVERIFY(f.station.dtmf);
        DtmfWindow &d = *f.station.dtmf;

        // Loaded hidden, after the main window released the radio, and it
        // releases the transmitter again itself.
        QVERIFY(!d.isVisible());
        QCOMPARE(f.requests(), QStringList({"SetPTT off", "SetDTR off", "SetRTS off", "SetPTT off"}));
        QCOMPARE(d.windowTitle(), QStringLiteral("Mirelva    VK2XYZ-L   v3.0.3   DTMFctrl and Nets"));

        QCOMPARE(d.DTMFDelaySeconds->text(), QStringLiteral("5"));
        QCOMPARE(d.DTMFDelayPeriod->text(), QStringLiteral("5"));
        QCOMPARE(d.UseDTMFDelay->value(), 0);
        QCOMPARE(d.Text111->text(), QStringLiteral("73"));
        QCOMPARE(d.Check1->value(), 1);
        QCOMPARE(d.BeaconPeriod->text(), QStringLiteral("1"));
        QCOMPARE(d.BeaconSeconds->text(), QStringLiteral("60"));
        QCOMPARE(d.DTMF->text(), QStringLiteral("123"));
        QCOMPARE(d.UseDTMF->value(), 1);
        for (TextBox *b : {d.Text555, d.Text222, d.Text333, d.Text1111, d.Text2222, d.LastConnected})
            QVERIFY2(b->text().isEmpty(), qPrintable(b->objectName()));
        for (int n = 1; n <= 4; ++n) {
            const DtmfWindow::Net x = d.net(n);
            QCOMPARE(x.Hour->text(), QStringLiteral("24"));
            QCOMPARE(x.Mins->text(), QStringLiteral("00"));
            QCOMPARE(x.DiscMins->text(), QStringLiteral("0"));
            QCOMPARE(x.DiscPeriod->text(), QStringLiteral("0"));
            QVERIFY(x.NetCall->text().isEmpty());
            for (CheckBox *c : x.days)
                QCOMPARE(c->value(), 0);
            QCOMPARE(x.DisconnectAll->value() + x.ShowBusy->value() + x.Use->value(), 0);
            QVERIFY(!x.timer->isEnabled());
        }
        for (const QString &stem : {QStringLiteral("DTMF"), QStringLiteral("Call")})
            for (int n = 1; n <= 8; ++n)
                QVERIFY(d.findChild<TextBox *>(stem + QString::number(n))->text().isEmpty());
        for (TextBox *b : {d.GroupCall1, d.GroupCall2, d.GroupCall3, d.GroupCall4, d.GroupCall5, d.GroupCall6,
                           d.DTMFGroup1Connect, d.DTMFGroup1Disc, d.DTMFGroup2Connect, d.DTMFGroup2Disc})
            QVERIFY(b->text().isEmpty());
        QCOMPARE(d.RFBusy->value(), 0);
        // No stored place: it opens beside the main window when first shown.
        QVERIFY(!hasPlace(&d));
        QVERIFY(d.DTMFDelay->isEnabled() && d.Timer1->isEnabled() && d.Timer2->isEnabled());
        // Reading writes nothing back.
        QCOMPARE(f.settings.readFile(DtmfWindow::iniName()), file);
    }

    void keysReadInOrderRunTheirChangeHandlers()
    {
        MainFixture f(MainFixture::Built);
        f.settings.writeFile(DtmfWindow::iniName(),
                             "[SETTINGS]\nDTMFDELAYSECONDS=8\nBEACONPERIOD=3\nDISCMINS2=30\nDISCMINS3=\nCALL1=w1aw\n");
        f.load();
        DtmfWindow &d = *f.station.dtmf;
        QCOMPARE(d.DTMFDelayPeriod->text(), QStringLiteral("8"));
        QCOMPARE(d.BeaconSeconds->text(), QStringLiteral("180"));
        QCOMPARE(d.DiscPeriod2->text(), QStringLiteral("1800"));
        // An empty stored value refills the box with "0".
        QCOMPARE(d.DiscMins3->text(), QStringLiteral("0"));
        // A stored callsign is shown in capitals, as a typed one.
        QCOMPARE(d.Call1->text(), QStringLiteral("W1AW"));
        QVERIFY(d.Call1->upperCase() && d.DTMFDelaySeconds->digitsOnly() && d.Hour2->digitsOnly());
    }

    void saveAndRestartRestoresEveryKey()
    {
        MainFixture f;
        DtmfWindow &d = *f.station.dtmf;
        const QMap<QString, QString> defaults = snapshot(d);
        int i = 0;
        for (auto *b : d.findChildren<TextBox *>()) {
            ++i;
            b->setText(b->digitsOnly() ? QString::number(100 + i) : QStringLiteral("c%1 x").arg(i));
        }
        for (auto *c : d.findChildren<CheckBox *>())
            c->setValue(c->value() == 1 ? 0 : 1);
        d.Check20->setValue(2);
        d.move(d.pos() + QPoint(40, 25));
        const QMap<QString, QString> changed = snapshot(d);
        for (auto it = changed.cbegin(); it != changed.cend(); ++it)
            QVERIFY2(defaults.value(it.key()) != it.value(), qPrintable(it.key()));

        // Either tab's "Save" writes every key, in order.
        d.Command14->click();
        const QByteArray saved = f.settings.readFile(DtmfWindow::iniName());
        QCOMPARE(keysOf(saved), keyTable());
        f.settings.clear();
        d.Command2->click();
        QCOMPARE(f.settings.readFile(DtmfWindow::iniName()), saved);

        auto next = f.restart();
        QVERIFY(next->station.dtmf && next->station.dtmf != &d);
        QCOMPARE(snapshot(*next->station.dtmf), changed);
    }

    void shownFromTheMainWindowAndHiddenWithoutStopping()
    {
        MainFixture f;
        DtmfWindow &d = *f.station.dtmf;
        d.Text111->setText(QStringLiteral("99"));
        // Showing never reads the file again.
        f.settings.writeFile(DtmfWindow::iniName(), "[SETTINGS]\nTEXT111=11\n");
        f.w().Command9->click();
        f.w().Command9->click();
        QVERIFY(d.isVisible());
        QCOMPARE(f.station.dtmf, &d);
        QCOMPARE(d.Text111->text(), QStringLiteral("99"));

        for (QPushButton *hide : {d.Command1, d.Command16}) {
            d.show();
            hide->click();
            QVERIFY(!d.isVisible());
            QVERIFY(d.DTMFDelay->isEnabled() && d.Timer1->isEnabled() && d.Timer2->isEnabled());
        }
        f.node.dtmf(QStringLiteral("99"));
        QCOMPARE(f.requests(), QStringList{"DisconnectAll"});
    }

    void quitQuestion()
    {
        for (const auto answer : {Questions::Answer::No, Questions::Answer::Yes}) {
            Program::resetForTests();
            MainFixture f;
            DtmfWindow &d = *f.station.dtmf;
            d.show();
            QStringList asked;
            Questions::setAnswererForTests([&](const QString &title, const QString &text) {
                asked << title << text;
                return answer;
            });
            d.Text111->setText(QStringLiteral("5"));
            d.close();
            QCOMPARE(asked, QStringList({"Exit Program", "Quit Mirelva - Are You Sure ? Remember To Save Any Changes  "}));
            if (answer == Questions::Answer::No) {
                QVERIFY(!Program::ended());
                QVERIFY(d.isVisible());
                QVERIFY(f.requests().isEmpty());
            } else {
                QVERIFY(Program::ended());
                QCOMPARE(f.requests(), QStringList{"SetPTT off"});
            }
            QVERIFY(f.settings.readFile(DtmfWindow::iniName()).isEmpty());
        }
    }

    void nodeClosingEndsWithoutSaving()
    {
        MainFixture f;
        DtmfWindow &d = *f.station.dtmf;
        d.EchoLink_Closing();
        QVERIFY(Program::ended());
        QCOMPARE(f.requests(), QStringList{"SetPTT off"});
        QVERIFY(f.settings.readFile(DtmfWindow::iniName()).isEmpty());
    }

    void tabsAndTyping()
    {
        MainFixture f;
        DtmfWindow &d = *f.station.dtmf;
        QCOMPARE(d.SSTab1->count(), 2);
        QCOMPARE(d.SSTab1->tabText(0), QStringLiteral("DTMF Control"));
        QCOMPARE(d.SSTab1->tabText(1), QStringLiteral("Net Scheduler"));
        QVERIFY(d.SSTab1->widget(0)->isAncestorOf(d.Command15));
        QVERIFY(d.SSTab1->widget(1)->isAncestorOf(d.Check20));
        QCOMPARE(d.Command15->toolTip(), QStringLiteral("Connect / Disconnect Selected Callsign"));
        QVERIFY(d.Command15->text().isEmpty());
        QCOMPARE(d.findChild<QGroupBox *>(QStringLiteral("FrameNet3"))->title(),
                 QStringLiteral("Net Scheduler 3 --  15 seconds after allotted time to allow for beacons"));

        // Typing: capitals in callsign boxes, digits in number boxes, two
        // digits in the start boxes.
        for (TextBox *b : {d.Call8, d.GroupCall6, d.NetCall1}) {
            b->clear();
            QTest::keyClicks(b, QStringLiteral("vk2ab-l"));
            QCOMPARE(b->text(), QStringLiteral("VK2AB-L"));
        }
        d.Hour3->clear();
        QTest::keyClicks(d.Hour3, QStringLiteral("1x234"));
        QCOMPARE(d.Hour3->text(), QStringLiteral("12"));
        d.DTMFDelaySeconds->clear();
        QCOMPARE(d.DTMFDelaySeconds->text(), QStringLiteral("0"));
        QTest::keyClicks(d.DTMFDelaySeconds, QStringLiteral("a7"));
        QCOMPARE(d.DTMFDelaySeconds->text(), QStringLiteral("07"));
    }

    void everyControlHasANameAndTabReachesIt()
    {
        MainFixture f;
        DtmfWindow &d = *f.station.dtmf;
        for (int tab = 0; tab < d.SSTab1->count(); ++tab) {
            d.SSTab1->setCurrentIndex(tab);
            const QStringList order = spokenNamesAndTabOrder(d.SSTab1->widget(tab));
            // Rows are walked across, one row after another.
            const QStringList row = tab == 0 ? QStringList{"Call2", "DTMF2", "Command8", "Call3"}
                                             : QStringList{"NetCall2", "Hour2", "Mins2", "Sun2"};
            const qsizetype at = order.indexOf(row.first());
            QVERIFY(at >= 0);
            QCOMPARE(order.mid(at, row.size()), row);
        }
        QCOMPARE(d.Command7->accessibleName(), QStringLiteral("Connect or disconnect single 1"));
        QCOMPARE(d.GroupCall5->accessibleName(), QStringLiteral("Group 2 callsign 2"));
        QCOMPARE(d.Tue4->accessibleName(), QStringLiteral("Tue (net 4)"));
        QCOMPARE(d.Text555->accessibleDescription(), QStringLiteral("DTMF to Disconnect Last Call Connected"));
        // Indicators are named by what the value is about, and read by it.
        for (QLabel *l : {d.DTMFDelayPeriod, d.BeaconSeconds, d.DiscPeriod1, d.ShowTime}) {
            QAccessibleInterface *a = QAccessible::queryAccessibleInterface(l);
            QVERIFY(!a->text(QAccessible::Name).isEmpty() && a->text(QAccessible::Name) != l->text());
            QCOMPARE(a->text(QAccessible::Description), l->text());
        }
        // The receiver's six blanks when idle are read as what they mean.
        QCOMPARE(QAccessible::queryAccessibleInterface(d.PTT3)->text(QAccessible::Description), QStringLiteral("no signal"));
    }
};

QTEST_MAIN(TestDtmfWindow)
#include "test_dtmf_window.moc"
