// The web console's password hash and its refusals to listen; the windows'
// settings as the page shows, changes and saves them.

#include <QtTest>

#include "core/nodelinkconfig.h"
#include "core/onairlog.h"
#include "ui/station.h"
#include "messagebox/messageboxwindow.h"
#include "speech_settings/speechsettingswindow.h"
#include "station/windowstation.h"
#include "support/announcer_fixture.h"
#include "support/fakestation.h"
#include "support/fixture.h"
#include "web/webconsole.h"
#include "web/webpassword.h"

using namespace mirelva;
using namespace mirelva::test;

namespace {

struct Request {
    QString window;
    QList<StationPort::Change> changes;
};

Request change(const QString &window, const QList<std::array<QString, 3>> &changes)
{
    Request r{window, {}};
    for (const auto &[key, value, was] : changes)
        r.changes.append({key, value, was});
    return r;
}

// A save as the page makes it: it has its turn as a press would, and the
// outcome comes once it had it.
StationPort::Outcome save(WindowStation &port, const Request &r, const QString &from)
{
    std::optional<StationPort::Outcome> out;
    port.changeSettings(r.window, r.changes, from, [&out](const StationPort::Outcome &o) { out = o; });
    for (int i = 0; i < 100 && !out; ++i)
        QCoreApplication::processEvents();
    return out.value_or(StationPort::Outcome{-1, {}});
}

QJsonObject settingOnPage(const QJsonObject &page, const QString &window, const QString &key, QString *group = nullptr)
{
    for (const QJsonValue &w : page["windows"].toArray())
        if (w["id"] == window)
            for (const QJsonValue &g : w["groups"].toArray())
                for (const QJsonValue &s : g["settings"].toArray())
                    if (s["key"] == key) {
                        if (group)
                            *group = g["name"].toString();
                        return s.toObject();
                    }
    return {};
}

// The file's lines that differ from another version of it.
QStringList changedLines(const QByteArray &before, const QByteArray &after)
{
    const QStringList a = QString::fromLatin1(before).split('\n'), b = QString::fromLatin1(after).split('\n');
    QStringList out;
    for (const QString &l : b)
        if (!a.contains(l))
            out << l;
    return out;
}

} // namespace

class TestWebSettings : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { OnAirLog::setEchoToStderr(false); }

    void pbkdf2MatchesTheKnownVector()
    {
        // RFC 7914, section 11: PBKDF2-HMAC-SHA256, the first 32 bytes.
        QCOMPARE(WebPassword::pbkdf2Sha256("passwd", "salt", 1).toHex(),
                 QByteArray("55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"));
        const QString stored = WebPassword::hash(QStringLiteral("abc def ghi"), 1000);
        QVERIFY(stored.startsWith(QStringLiteral("pbkdf2-sha256$1000$")));
        QVERIFY(WebPassword::verify(QStringLiteral("abc def ghi"), stored));
        QVERIFY(!WebPassword::verify(QStringLiteral("abc def gh"), stored));
        QVERIFY(WebPassword::hash(QStringLiteral("abc def ghi"), 1000) != stored);   // a salt of its own
        // Zero rounds would derive what one round derives: an entry that
        // says 0 is refused even when its hash matches.
        const QString zeroRounds = QStringLiteral("pbkdf2-sha256$0$c2FsdA==$")
                                   + QString::fromLatin1(WebPassword::pbkdf2Sha256("abc def ghi", "salt", 1).toBase64());
        QVERIFY(WebPassword::verify(QStringLiteral("abc def ghi"), QString(zeroRounds).replace("$0$", "$1$")));
        // A hash one byte off, first or in the middle, as a compare that
        // looked at the last byte alone would let through.
        const auto oneByteOff = [](int at) {
            QByteArray derived = WebPassword::pbkdf2Sha256("abc def ghi", "salt", 1);
            derived[at] = char(derived[at] ^ 0x01);
            return QStringLiteral("pbkdf2-sha256$1$c2FsdA==$") + QString::fromLatin1(derived.toBase64());
        };
        // An iteration count past the bound is refused before any work (it
        // would take the worker for hours); a salt of nothing is no salt.
        const QString tooMany = QString(zeroRounds).replace("$0$", "$2147483647$");
        for (const QString &bad : {QString(), QStringLiteral("abc def ghi"), QStringLiteral("pbkdf2-sha256$0$c2FsdA==$AA=="),
                                   zeroRounds, QString(zeroRounds).replace("$0$", "$-1$"), oneByteOff(0), oneByteOff(15),
                                   tooMany, QStringLiteral("pbkdf2-sha256$1$$") + QString::fromLatin1(WebPassword::pbkdf2Sha256("abc def ghi", "", 1).toBase64()),
                                   stored.section(QLatin1Char('$'), 0, 2) + QStringLiteral("$AAAA")})
            QVERIFY2(!WebPassword::verify(QStringLiteral("abc def ghi"), bad), qPrintable(bad));
    }

    void startRefusesWhatIsUnsafe_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("allowPlain");
        QTest::addColumn<bool>("password");
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<QString>("logged");
        const QString plain = QStringLiteral(
            "refused to listen on 0.0.0.0 without TLS: set CERTIFICATE and KEY in web.ini, or ALLOWPLAIN=1 to let "
            "the password cross the network readable");
        QTest::newRow("no password") << "127.0.0.1" << false << false
                                     << "no password is set; run mirelva --set-web-password" << "";
        QTest::newRow("no address") << "shack" << false << true << "ADDRESS \"shack\" in web.ini is no IP address" << "";
        QTest::newRow("beyond loopback") << "0.0.0.0" << false << true << plain << "";
        QTest::newRow("beyond loopback, allowed") << "0.0.0.0" << true << true << ""
            << "web console: WARNING: listening on 0.0.0.0 without TLS, as ALLOWPLAIN=1 says: the password and "
               "the session cross the network readable";
        QTest::newRow("loopback") << "127.0.0.1" << false << true << "" << "";
    }

    void startRefusesWhatIsUnsafe()
    {
        QFETCH(QString, address);
        QFETCH(bool, allowPlain);
        QFETCH(bool, password);
        QFETCH(QString, refusal);
        QFETCH(QString, logged);
        test::TempSettings settings;
        WebSettings s;
        s.address = address;
        s.port = 0;
        s.allowPlain = allowPlain;
        if (password)
            s.passwordHash = WebPassword::hash(QStringLiteral("0123456789"), 10);
        test::FakeStation station;
        WebConsole console(station, s);
        QStringList lines;
        connect(&OnAirLog::instance(), &OnAirLog::line, this, [&lines](const QString &l) { lines << l.mid(24); });
        QString why;
        QCOMPARE(console.start(&why), refusal.isEmpty());
        QCOMPARE(why, refusal);
        QCOMPARE(lines, logged.isEmpty() ? QStringList() : QStringList{logged});
        OnAirLog::instance().disconnect(this);
    }

    // Every setting of every window's table is on the page once, with its
    // label, its meaning, its limits and the group the window shows it in.
    void everySettingIsOnThePageAsTheWindowGroupsIt()
    {
        MainFixture f;
        WindowStation page(f.station);
        const QJsonObject d = page.describeSettings();
        const std::pair<QString, const SettingTable *> tables[] = {
            {"main", &MainWindow::settingTable()},         {"dtmf", &DtmfWindow::settingTable()},
            {"greeting", &GreetingWindow::settingTable()}, {"messagebox", &MessageBoxWindow::settingTable()},
            {"voice", &SpeechSettingsWindow::settingTable()},
        };
        int shown = 0;
        for (const QJsonValue &w : d["windows"].toArray())
            for (const QJsonValue &g : w["groups"].toArray())
                if (w["id"] != "node")
                shown += g["settings"].toArray().size();
        int declared = 0;
        for (const auto &[window, table] : tables)
            for (const Setting &s : *table) {
                if (!s.onPage())
                    continue;
                ++declared;
                const QJsonObject o = settingOnPage(d, window, s.key);
                QVERIFY2(!o["label"].toString().isEmpty() && !o["meaning"].toString().isEmpty(), qPrintable(s.key));
            }
        QCOMPARE(shown, declared);
        QCOMPARE(declared, 81 + 95 + 23 + 10 + 2);

        QString group;
        QCOMPARE(settingOnPage(d, "main", "BEACONPERIOD6", &group),
                 (QJsonObject{{"key", "BEACONPERIOD6"}, {"label", "Voice ident period, minutes"},
                              {"meaning", "Minutes between two voice idents."}, {"kind", "text"}, {"value", "10"},
                              {"limit", 255}, {"digits", true}, {"upper", false}, {"empty", "1"},
                              {"least", 1}}));
        QCOMPARE(group, QStringLiteral("Mirelva / Idents and Beacons"));
        QCOMPARE(settingOnPage(d, "dtmf", "HOUR3", &group)["label"], QJsonValue("Net 3 start hour"));
        QCOMPARE(group, QStringLiteral("Net Scheduler / Net Scheduler 3 -- 15 seconds after allotted time to allow for beacons"));
        QCOMPARE(settingOnPage(d, "main", "USERTS", &group)["group"], QJsonValue("FanLine"));
        QCOMPARE(group, QStringLiteral("Connects and Settings / DTR / RTS Control ( Fan )"));
        QCOMPARE(settingOnPage(d, "voice", "VOICESPEED")["least"], QJsonValue(-5));
        // The main window's tabs in the window's order (the history tab holds no setting).
        QStringList tabs;
        for (const QJsonValue &w : d["windows"].toArray())
            if (w["id"] == "main")
                for (const QJsonValue &g : w["groups"].toArray())
                    if (!tabs.contains(g["name"].toString().section(" / ", 0, 0)))
                        tabs << g["name"].toString().section(" / ", 0, 0);
        QCOMPARE(tabs, (QStringList{"Mirelva", "Connects and Settings", "Silence Announcements"}));
    }

    void aValueTheControlWouldNotTakeIsRefusedAndNothingSaved_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("letters in a digits box") << "main" << "BEACONPERIOD6" << "1O"
                                                 << "Voice ident period, minutes: digits 0 to 9 only.";
        QTest::newRow("past the typing limit") << "main" << "BEACONPERIOD7" << "1000"
                                               << "CW ident period, minutes: at most 3 characters.";
        QTest::newRow("a period of none") << "main" << "BEACONPERIOD6" << "0"
            << "Voice ident period, minutes: a number from 1 up; the window counts 0 as 1.";
        QTest::newRow("no such hour") << "main" << "HOUROFF2" << "25"
                                      << "Announce OFF hour (schedule 2): a number from 0 to 24.";
        QTest::newRow("a time the timer refuses") << "main" << "HANGTIME" << "65536"
            << "Hang Time ms: a number from 0 to 65535; above 65535 the window keeps the time it had.";
        QTest::newRow("one character") << "greeting" << "BEACONPERIODDELAY" << "10"
                                       << "Set Delay Seconds: at most 1 character.";
        QTest::newRow("single quotes the file drops") << "main" << "CALLSIGN" << "'VK2ABC'"
            << "Voice Ident Callsign: no blanks at the start or end, and no quotes around the whole text (the "
               "settings file drops them).";
        QTest::newRow("a line break") << "dtmf" << "CALL1" << "VK2\nABC"
            << "Single 1 callsign: a setting holds no control characters or line breaks.";
        QTest::newRow("a blank the file drops") << "main" << "CALLSIGN" << "VK2ABC "
            << "Voice Ident Callsign: no blanks at the start or end, and no quotes around the whole text (the "
               "settings file drops them).";
        QTest::newRow("longer than the file keeps") << "messagebox" << "FILTERTEXT1" << QString(265, 'x')
            << "Filter word 1: at most 264 characters (the settings file keeps no more).";
        QTest::newRow("a letter the file cannot hold") << "greeting" << "TEXTTXMESSAGE3" << "Welcome \u263A"
            << "Greeting text 3: \"\u263A\" cannot be kept in a settings file (Windows-1252 letters only).";
        QTest::newRow("a greyed box") << "greeting" << "USEGREETING" << "2" << "Use Greeting: 1 to tick the box, 0 to clear it.";
        QTest::newRow("an option turned off") << "main" << "OPTION1" << "False"
            << "12 Hr: an option is chosen by turning it on; choose another to turn it off.";
        QTest::newRow("beyond the bar") << "voice" << "VOICESPEED" << "6" << "Voice Speed: a whole number from -5 to 5.";
    }

    void aValueTheControlWouldNotTakeIsRefusedAndNothingSaved()
    {
        QFETCH(QString, window);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, refusal);
        MainFixture f;
        WindowStation page(f.station);
        const QJsonObject before = page.describeSettings();
        const QString was = settingOnPage(before, window, key)["value"].toString();
        // A good change beside it is not made either.
        const QString good = window == "voice" ? "VOLLEV" : "CHECK1";
        const QString goodWas = settingOnPage(before, window, good)["value"].toString();
        const auto out = save(page, change(window, {{key, value, was}, {good, goodWas == "1" ? "0" : "1", goodWas}}),
                                   "192.0.2.1");
        QCOMPARE(out.status, 400);
        QCOMPARE(out.body["error"].toString(), "Nothing was saved. " + refusal);
        QCOMPARE(out.body["fields"].toObject(), (QJsonObject{{key, refusal}}));
        QCOMPARE(page.describeSettings(), before);
        QVERIFY(QDir(f.settings.folder()).entryList(QDir::Files).isEmpty());
    }

    // The voice ident's period and a net's start changed on the page: the
    // file gets exactly those keys, and each acts at its new time.
    void changesActAndAreSavedAsTheWindowSavesThem()
    {
        AnnouncerFixture f(QDateTime(QDate(2024, 3, 6), QTime(10, 29, 0)));   // a Wednesday
        MainWindow &w = f.w();
        w.SaveData();
        f.station.dtmf->SaveData();
        const QByteArray mainBefore = f.settings.readFile("mirelva.ini"), dtmfBefore = f.settings.readFile("dtmfctrl.ini");
        WindowStation page(f.station);
        QStringList told;
        connect(&page, &StationPort::settingsSaved, this, [&told](const QString &window) { told << window; });

        QCOMPARE(save(page, change("main", {{"CALLSIGN", "Victor Kilo Two", ""}, {"STOPCLOCK6", "1", "0"},
                                           {"BEACONPERIOD6", "2", "10"}}), "192.0.2.1").status, 200);
        QCOMPARE(changedLines(mainBefore, f.settings.readFile("mirelva.ini")),
                 (QStringList{"STOPCLOCK6=1", "BEACONPERIOD6=2", "CALLSIGN=Victor Kilo Two"}));
        QCOMPARE(w.BeaconSeconds6->text(), QStringLiteral("120"));
        for (int t = 0; t < 119; ++t)
            w.Beacon6_Timer();
        QCOMPARE(w.flag2, 0);
        w.Beacon6_Timer();
        QCOMPARE(w.flag2, 1);
        w.Timer1_Timer();
        QCOMPARE(f.voice.texts(), QStringList{"Victor Kilo Two"});

        const auto out = save(page, change("dtmf", {{"NETCALL1", "vk3net", ""}, {"WED", "1", "0"},
                                                   {"HOUR", "10", "24"}, {"MINS", "31", "00"}}), "192.0.2.1");
        QCOMPARE(out.status, 200);
        QCOMPARE(out.body["values"]["NETCALL1"], QJsonValue("VK3NET"));   // a capitals box
        QCOMPARE(changedLines(dtmfBefore, f.settings.readFile("dtmfctrl.ini")),
                 (QStringList{"NETCALL1=VK3NET", "WED=1", "HOUR=10", "MINS=31"}));
        QCOMPARE(told, (QStringList{"main", "dtmf"}));
        f.node.clearRecords();
        Clock::setForTests(QDateTime(QDate(2024, 3, 6), QTime(10, 31, 14)));
        f.station.dtmf->Timer2_Timer();
        QCOMPARE(f.requests(), QStringList());
        Clock::setForTests(QDateTime(QDate(2024, 3, 6), QTime(10, 31, 15)));
        f.station.dtmf->Timer2_Timer();
        QCOMPARE(f.requests(), QStringList{"Connect VK3NET"});
    }

    // Two pages loaded the period at 10: the second to save is refused and
    // given the first one's value, which the file keeps.
    void aValueChangedElsewhereSinceLoadingIsNotOverwritten()
    {
        MainFixture f;
        WindowStation page(f.station);
        QCOMPARE(save(page, change("main", {{"BEACONPERIOD6", "20", "10"}}), "192.0.2.1").status, 200);
        const auto out = save(page, change("main", {{"BEACONPERIOD6", "30", "10"}, {"CHECK2", "1", "0"}}), "192.0.2.2");
        QCOMPARE(out.status, 409);
        const QString why = "Voice ident period, minutes was changed elsewhere to \"20\" since this page loaded it; "
                            "the page now shows it. Make your change again if it still should be.";
        QCOMPARE(out.body["error"].toString(), "Nothing was saved. " + why);
        QCOMPARE(out.body["fields"].toObject(), (QJsonObject{{"BEACONPERIOD6", why}}));
        QCOMPARE(out.body["values"]["BEACONPERIOD6"], QJsonValue("20"));
        QCOMPARE(f.w().Check2->value(), 0);
        QVERIFY(f.settings.readLines("mirelva.ini").contains("BEACONPERIOD6=20"));
    }

    // What the window takes, the page takes, and stores what the window
    // stores: an emptied box as its refill, numbers beyond the page's old
    // ranges, a one-digit hour, a letter whose capital the file cannot hold.
    void aValueTheWindowTakesIsTakenAsTheWindowTakesIt_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("stored");
        QTest::newRow("an emptied period") << "main" << "BEACONPERIOD6" << "" << "1";
        QTest::newRow("an emptied hang time") << "main" << "HANGTIME" << "" << "0";
        QTest::newRow("a long period") << "main" << "BEACONPERIOD6" << "2000" << "2000";
        QTest::newRow("a delay spoken as 9") << "main" << "TTSPERIOD" << "15" << "15";
        QTest::newRow("the longest hang time") << "main" << "HANGTIME" << "65535" << "65535";
        QTest::newRow("a one-digit hour") << "dtmf" << "HOUR" << "8" << "8";
        QTest::newRow("re-enable after 0") << "dtmf" << "BEACONPERIOD" << "0" << "0";
        QTest::newRow("a long net") << "dtmf" << "DISCMINS1" << "2000" << "2000";
        QTest::newRow("a micro sign") << "main" << "CONNECTSTATION1" << "vk2\u00b5" << "VK2\u00b5";
        QTest::newRow("a capital the file holds") << "dtmf" << "CALL1" << "\u00ffx" << "\u0178X";
    }
    void aValueTheWindowTakesIsTakenAsTheWindowTakesIt()
    {
        QFETCH(QString, window);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, stored);
        MainFixture f;
        WindowStation page(f.station);
        const QString was = settingOnPage(page.describeSettings(), window, key)["value"].toString();
        const auto out = save(page, change(window, {{key, value, was}}), "192.0.2.1");
        QCOMPARE(out.status, 200);
        QCOMPARE(out.body["values"][key].toString(), stored);
        // Read back as the window's next start reads it.
        const IniFile ini(window == "main" ? MainWindow::iniName() : DtmfWindow::iniName(), 256);
        QCOMPARE(ini.text(key, QStringLiteral("(none)")), stored);
    }

    // Emptied, a period box is refilled with 1 and its duty goes on: a
    // ticked ident still comes, a minute later.
    void anEmptiedPeriodKeepsItsDutyRunning()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        struct Duty {
            TextBox *period;
            VbTimer *timer;
            QLabel *countdown;
        };
        for (const Duty &d : {Duty{w.BeaconPeriod6, w.Beacon6, w.BeaconSeconds6}, Duty{w.BeaconPeriod7, w.Beacon7, w.BeaconSeconds7},
                              Duty{w.BeaconPeriod3, w.Beacon3, w.BeaconSeconds3}}) {
            d.period->setText(QStringLiteral("5"));
            d.period->setText(QString());
            QCOMPARE(d.period->text(), QStringLiteral("1"));
            QVERIFY2(d.timer->isEnabled(), qPrintable(d.period->objectName()));
            QCOMPARE(d.countdown->text(), QStringLiteral("60"));
        }
        w.VoicePeriod->setText(QString());
        QVERIFY(w.IDCheck->isEnabled());
        w.Callsign->setText(QStringLiteral("Victor Kilo Two"));
        w.StopClock6->setValue(1);
        for (int t = 0; t < 60; ++t)
            if (w.Beacon6->isEnabled())
                w.Beacon6_Timer();
        QCOMPARE(w.flag2, 1);
        QCOMPARE(w.SayTheText, QStringLiteral("Victor Kilo Two"));
    }

    // The window holds the fan's line while fan control is on; the page
    // shows it held and refuses to change it, saying why, until it is off.
    void aControlTheWindowHoldsIsRefused()
    {
        MainFixture f;
        MainWindow &w = f.w();
        WindowStation page(f.station);
        w.FanCTRL->setValue(1);
        w.Timer6_Timer();
        const QString why = "Use RTS: cannot be changed now: \"Use Fan Control\" is on; the fan's line is chosen while "
                            "it is off.";
        QCOMPARE(settingOnPage(page.describeSettings(), "main", "USERTS")["locked"].toString(),
                 QStringLiteral("\"Use Fan Control\" is on; the fan's line is chosen while it is off"));
        auto out = save(page, change("main", {{"USERTS", "True", "False"}}), "192.0.2.1");
        QCOMPARE(out.status, 400);
        QCOMPARE(out.body["fields"].toObject(), (QJsonObject{{"USERTS", why}}));
        QCOMPARE(w.UseDTR->value(), true);
        w.FanCTRL->setValue(0);
        w.Timer6_Timer();
        QVERIFY(!settingOnPage(page.describeSettings(), "main", "USERTS").contains("locked"));
        out = save(page, change("main", {{"USERTS", "True", "False"}}), "192.0.2.1");
        QCOMPARE(out.status, 200);
        QCOMPARE(w.UseRTS->value(), true);
    }

    // A save that comes while an announcement is on the air acts after it,
    // as a typed change would: never inside the keyed speech.
    void aSaveDuringAnAnnouncementActsAfterIt()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        WindowStation page(f.station);
        std::optional<StationPort::Outcome> out;
        QStringList seenWhileSpeaking;
        f.voice.speaking = [&] {
            page.changeSettings("main", {{"CALLSIGN", "VK2ABC", ""}}, "192.0.2.1",
                                [&out](const StationPort::Outcome &o) { out = o; });
            QCoreApplication::processEvents();
            seenWhileSpeaking << w.Callsign->text() << (out ? "answered" : "waiting");
        };
        w.SayTheText = QStringLiteral("Net tonight");
        w.SpeakTheText();
        QCOMPARE(seenWhileSpeaking, (QStringList{"", "waiting"}));
        for (int i = 0; i < 10 && !out; ++i)
            QCoreApplication::processEvents();
        QVERIFY(out);
        QCOMPARE(out->status, 200);
        QCOMPARE(w.Callsign->text(), QStringLiteral("VK2ABC"));
    }

    // While a net holds the "Stay Con" boxes cleared, the page shows and
    // changes what the operator set, which the save writes and the end of
    // the nets gives back.
    void duringANetThePageHoldsTheOperatorsStayCon()
    {
        MainFixture f;
        MainWindow &w = f.w();
        DtmfWindow &d = *f.station.dtmf;
        WindowStation page(f.station);
        w.StayCon1->setValue(1);
        d.NetCall1->setText(QStringLiteral("VK3NET"));
        d.Hour->setText(QStringLiteral("08"));
        d.Wed->setValue(1);
        Clock::setForTests(QDateTime(QDate(2024, 3, 6), QTime(8, 0, 15)));   // a Wednesday
        d.Timer2_Timer();
        QCOMPARE(w.StayCon1->value(), 0);
        QCOMPARE(settingOnPage(page.describeSettings(), "main", "STAYCON1")["value"].toString(), QStringLiteral("1"));
        const auto out = save(page, change("main", {{"STAYCON1", "0", "1"}, {"STAYCON2", "1", "0"}}), "192.0.2.1");
        QCOMPARE(out.status, 200);
        QCOMPARE(out.body["values"]["STAYCON1"], QJsonValue("0"));
        QCOMPARE(out.body["values"]["STAYCON2"], QJsonValue("1"));
        const QStringList lines = f.settings.readLines("mirelva.ini");
        QVERIFY(lines.contains("STAYCON1=0") && lines.contains("STAYCON2=1"));
        QCOMPARE(w.StayCon1->value(), 0);
        QCOMPARE(d.operatorStayCon(1), 0);
        QCOMPARE(d.operatorStayCon(2), 1);
    }

    // nodelink.ini on the page: checked as the program checks it at start,
    // saved beside what the page does not show (the token file), and
    // counting from the next start.
    void theNodeSettingsAreCheckedAsTheProgramReadsThem_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("a real node") << "ADDRESS" << "unix:/run/mirelva/echolink.sock" << "";
        QTest::newRow("over the network") << "ADDRESS" << "tcp:192.0.2.5:7373" << "";
        QTest::newRow("the built-in node") << "ADDRESS" << "" << "";
        QTest::newRow("no kind of address") << "ADDRESS" << "192.0.2.5:7373"
            << "Node address: \"192.0.2.5:7373\" is neither unix:PATH nor tcp:HOST:PORT; the program would use the "
               "built-in simulated node.";
        QTest::newRow("the shortest time-out") << "TXTIMEOUT" << "5" << "";
        QTest::newRow("the longest time-out") << "TXTIMEOUT" << "900" << "";
        QTest::newRow("too short a time-out") << "TXTIMEOUT" << "4"
            << "Transmit time-out, seconds: a number from 5 to 900; the program would use 5.";
        QTest::newRow("too long a time-out") << "TXTIMEOUT" << "901"
            << "Transmit time-out, seconds: a number from 5 to 900; the program would use 900.";
        QTest::newRow("no number") << "TXTIMEOUT" << "3m"
            << "Transmit time-out, seconds: digits 0 to 9 only; the program would use 180.";
        QTest::newRow("the node plays it") << "AUDIODEVICE" << "node" << "";
        QTest::newRow("a line break") << "RECORDDIR" << "/tmp/a\nb"
            << "Record folder: a setting holds no control characters or line breaks.";
        QTest::newRow("quotes the file drops") << "AUDIODEVICE" << "'hw:1'"
            << "Sound device: no blanks at the start or end, and no quotes around the whole text (the settings file "
               "drops them).";
    }
    void theNodeSettingsAreCheckedAsTheProgramReadsThem()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, refusal);
        MainFixture f;
        f.settings.writeFile("nodelink.ini", "[SETTINGS]\r\nADDRESS=unix:/tmp/old.sock\r\nTOKENFILE=/etc/token\r\n");
        const QByteArray before = f.settings.readFile("nodelink.ini");
        WindowStation page(f.station);
        const QString was = settingOnPage(page.describeSettings(), "node", key)["value"].toString();
        const auto out = save(page, change("node", {{key, value, was}}), "192.0.2.1");
        if (!refusal.isEmpty()) {
            QCOMPARE(out.status, 400);
            QCOMPARE(out.body["fields"].toObject(), (QJsonObject{{key, refusal}}));
            QCOMPARE(f.settings.readFile("nodelink.ini"), before);
            return;
        }
        QCOMPARE(out.status, 200);
        QCOMPARE(out.body["note"].toString(), QStringLiteral("It takes effect when Mirelva is started again."));
        const IniFile ini(QStringLiteral("nodelink.ini"), NodeLinkConfig::kCapacity);
        QCOMPARE(ini.text(key, "(none)"), value);
        QCOMPARE(ini.text("TOKENFILE", "(none)"), QStringLiteral("/etc/token"));
        if (key != "ADDRESS")
            QCOMPARE(ini.text("ADDRESS", "(none)"), QStringLiteral("unix:/tmp/old.sock"));
        if (key == "TXTIMEOUT")
            QCOMPARE(NodeLinkConfig::load().transmitTimeoutSeconds, value.toInt());
    }

    // Every countdown the page shows carries the caption a screen reader
    // gives it, one of its own.
    void everyCountdownCarriesItsCaption()
    {
        MainFixture f;
        WindowStation page(f.station);
        QStringList captions;
        for (const QJsonValue &c : page.liveValues()["countdowns"].toArray()) {
            const QString caption = c["label"].toString();
            QVERIFY2(!caption.isEmpty() && !captions.contains(caption), qPrintable(c["id"].toString()));
            captions << caption;
        }
        QCOMPARE(captions.size(), 13);
        QCOMPARE(captions.first(), QStringLiteral("Seconds to the voice ident"));
    }

    // A net's start typed with one digit starts at the clock's two.
    void aOneDigitStartStartsTheNet_data()
    {
        QTest::addColumn<QString>("hour");
        QTest::addColumn<QString>("mins");
        QTest::addColumn<QTime>("at");
        QTest::addColumn<bool>("starts");
        QTest::newRow("8:05") << "8" << "05" << QTime(8, 5, 15) << true;
        QTest::newRow("08:5") << "08" << "5" << QTime(8, 5, 15) << true;
        QTest::newRow("8:5") << "8" << "5" << QTime(8, 5, 15) << true;
        QTest::newRow("8:05 at 18:05") << "8" << "05" << QTime(18, 5, 15) << false;
        QTest::newRow("8:05 a second early") << "8" << "05" << QTime(8, 5, 14) << false;
    }
    void aOneDigitStartStartsTheNet()
    {
        QFETCH(QString, hour);
        QFETCH(QString, mins);
        QFETCH(QTime, at);
        QFETCH(bool, starts);
        MainFixture f;
        DtmfWindow &d = *f.station.dtmf;
        d.NetCall1->setText(QStringLiteral("VK3NET"));
        d.Hour->setText(hour);
        d.Mins->setText(mins);
        d.Wed->setValue(1);
        f.node.clearRecords();
        Clock::setForTests(QDateTime(QDate(2024, 3, 6), at));   // a Wednesday
        d.Timer2_Timer();
        QCOMPARE(f.requests(), starts ? QStringList{"Connect VK3NET"} : QStringList());
    }
};

QTEST_MAIN(TestWebSettings)
#include "test_web_settings.moc"
