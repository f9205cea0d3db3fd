// mirelva.ini: every setting of the main window, in the order its load
// reads them. The save writes them in the same order, but for TOGGLETEXT,
// which goes right after MINSOFF2, and every key in capitals ("HOURON1b"
// is read, "HOURON1B" written: the same line to the store).

#include "announcer/mainwindow.h"

namespace mirelva {

namespace {

using K = Setting::Kind;

Setting text(const char *key, const char *control, const char *def, const char *meaning, int least = 0, int most = -1)
{
    return {QLatin1String(key), QLatin1String(control), K::Text, QLatin1String(def), QLatin1String(meaning), least, most};
}
Setting check(const char *key, const char *control, const char *def, const char *meaning)
{
    return {QLatin1String(key), QLatin1String(control), K::Check, QLatin1String(def), QLatin1String(meaning)};
}
Setting option(const char *key, const char *control, const char *def, const char *meaning)
{
    return {QLatin1String(key), QLatin1String(control), K::Option, QLatin1String(def), QLatin1String(meaning)};
}

SettingTable build()
{
    SettingTable t;
    // The three silence schedules: weekdays, then the times silence starts
    // and ends; 24 in an hour box never comes.
    static const char *const days[7] = {"SUN", "MON", "TUE", "WED", "THUR", "FRI", "SAT"};
    static const char *const dayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thur", "Fri", "Sat"};
    static const char *const weekdays[7] = {"Sundays", "Mondays", "Tuesdays", "Wednesdays", "Thursdays", "Fridays",
                                            "Saturdays"};
    for (int n = 1; n <= 3; ++n) {
        const QString num = n == 1 ? QString() : QString::number(n);
        const QString sched = QStringLiteral("Silence schedule %1").arg(n);
        for (int d = 0; d < 7; ++d)
            t << Setting{QLatin1String(days[d]) + num, QLatin1String(dayNames[d]) + num, K::Check, QStringLiteral("0"),
                         sched + QStringLiteral(" acts on ") + QLatin1String(weekdays[d]) + '.'};
        const QString m = QString::number(n);
        t << Setting{QStringLiteral("HOUROFF") + m, QStringLiteral("HourOFF") + m, K::Text, QStringLiteral("24"),
                     sched + QStringLiteral(": hour at which the announcements are turned off (24: never)."), 0, 24};
        t << Setting{QStringLiteral("MINSOFF") + m, QStringLiteral("MinsOFF") + m, K::Text, QStringLiteral("00"),
                     sched + QStringLiteral(": minute at which the announcements are turned off."), 0, 59};
        t << Setting{QStringLiteral("HOURON") + m + 'b', QStringLiteral("HourON") + m + 'b', K::Text,
                     QStringLiteral("24"), sched + QStringLiteral(": hour at which the announcements are turned on again (24: never)."), 0, 24};
        t << Setting{QStringLiteral("MINSON") + m + 'b', QStringLiteral("MinsON") + m + 'b', K::Text,
                     QStringLiteral("00"), sched + QStringLiteral(": minute at which the announcements are turned on again."), 0, 59};
    }
    t << text("ANNOUNCEOFF", "AnnounceOff", "", "DTMF code that silences the announcements.")
      << text("ANNOUNCEON", "AnnounceOn", "", "DTMF code that lets the announcements speak again.")
      << check("CHECK1", "Check1", "0", "No announcement, ident or beacon is sent while ticked.")
      << check("CHECK2", "Check2", "0", "Says so on the air and in a chat text when a schedule or a DTMF code turns the announcements off or on.")
      << option("OPTION1", "Option1", "1", "The time is said on a 12-hour clock.")
      << option("OPTION2", "Option2", "0", "The time is said on a 24-hour clock.")
      << check("SAYTEXT", "SayText", "0", "Chat texts received are read out on the air.")
      << check("STAYCON1", "StayCon1", "0", "Auto-connect station 1 is connected again whenever it drops.")
      << check("STAYCON2", "StayCon2", "0", "Auto-connect station 2 is connected again whenever it drops.")
      << text("ENABLEAUTOCONNECT", "EnableAutoConnect", "*1*", "DTMF code that turns the auto-connects on.")
      << text("DISABLEAUTOCONNECT", "DisableAutoConnect", "*0*", "DTMF code that turns the auto-connects off.")
      << check("IDCHECK", "IDCheck", "0", "The idents stop when the link has been idle for the minutes beside.")
      << text("VOICEPERIOD", "VoicePeriod", "10", "Idle minutes after which the idents stop.", 1, Setting::kNoMost)
      << text("TEXTINPUT3", "TextInput3", "TTS Text Here", "The text the TTS beacon speaks.")
      << text("INFOTEXT", "InfoText", "TTS Text Here", "The info text spoken at the times ticked for it.")
      << check("TXTIMEHOUR", "OnHour", "0", "The time is said on the hour.")
      << check("TXQUARTERHOUR", "QuarterHour", "0", "The time is said at a quarter past and to the hour.")
      << check("TXHALFHOUR", "HalfHour", "0", "The time is said at half past the hour.")
      << check("INFOHOURLY", "InfoHourly", "0", "The info text is spoken on the hour.")
      << check("INFOQUATER", "InfoQuarter", "0", "The info text is spoken at a quarter past and to the hour.")
      << check("INFOHALF", "InfoHalf", "0", "The info text is spoken at half past the hour.")
      << text("BEACONPERIOD3", "BeaconPeriod3", "10", "Minutes between two TTS beacons.", 1, Setting::kNoMost)
      << check("STOPCLOCK3", "StopClock3", "0", "The TTS beacon is sent every so many minutes.");
    Setting station1 = text("CONNECTSTATION1", "ConnectStation1", "", "Callsign connected by auto-connect 1.");
    Setting station2 = text("CONNECTSTATION2", "ConnectStation2", "", "Callsign connected by auto-connect 2.");
    station1.savedUpperCase = station2.savedUpperCase = true;
    t << station1 << station2
      << check("STOPCLOCK6", "StopClock6", "0", "The voice ident is sent every so many minutes.")
      << text("BEACONPERIOD6", "BeaconPeriod6", "10", "Minutes between two voice idents.", 1, Setting::kNoMost)
      << text("CALLSIGN", "Callsign", "", "The text the voice ident speaks, e.g. the callsign spelt out.")
      << check("STOPCLOCK7", "StopClock7", "0", "The CW ident is sent every so many minutes.")
      << text("BEACONPERIOD7", "BeaconPeriod7", "15", "Minutes between two CW idents.", 1, Setting::kNoMost)
      << text("CWCALLSIGN", "CWCallsign", " ", "The callsign the CW ident sends in Morse.")
      << check("CONDISC", "ConDisc", "1", "Each station's connect and disconnect is announced.")
      << check("ADDTIME", "AddTime", "1", "The time is added to the connect and disconnect announcements.")
      << Setting{QStringLiteral("LEFT"), {}, K::WindowLeft, QStringLiteral("300")}
      << Setting{QStringLiteral("TOP"), {}, K::WindowTop, QStringLiteral("300")}
      << text("COURTESYID", "CourtesyID", "K", "Letter sent in Morse at the end of an over from the radio.")
      << text("IPCOURTESY", "IPCourtesy", "S", "Letter sent in Morse at the end of an over from the Internet.")
      << text("HANGTIME", "HangTime", "500", "Milliseconds after an over before the courtesy letter.", 0, 65535)
      << text("KERCHUNKWAIT", "KerchunkWait", "3000",
              "Milliseconds a signal must last to count as an over (shorter ones are kerchunks).", 0, 65535)
      << check("USECT", "UseCT", "1", "A courtesy letter is sent at the end of each over.")
      << text("FANPERIOD", "FanPeriod", "1", "Minutes the fan runs on after the transmitter.", 1, Setting::kNoMost)
      << check("FANCTRL", "FanCTRL", "1", "A serial line runs the transmitter's fan.")
      << text("TTSPERIOD", "TTSPeriod", "0", "Steps of delay before each spoken text, 0 to 9; more counts as 9.");
    Setting toggle = text("TOGGLETEXT", "ToggleText", "", "DTMF code that turns reading out chat texts on or off.");
    toggle.savedAfter = QStringLiteral("MINSOFF2");
    t << toggle
      << check("TTSCTRL", "TTSCTRL", "0", "A delay comes before each spoken text.")
      << option("USEDTR", "UseDTR", "1", "The fan runs on the serial DTR line.")
      << option("USERTS", "UseRTS", "0", "The fan runs on the serial RTS line.")
      << text("DELAYPERIOD", "DelayPeriod", "10", "Seconds the fan waits after keying before it starts.", 1, Setting::kNoMost)
      << check("DELAYCTRL", "DelayCTRL", "0", "The fan waits the seconds beside before it starts.")
      << check("CHECK3", "Check3", "1",
               "The time opens with \"Good Morning\", \"Good Afternoon\" or \"Good Evening\" before \"The Time Is\".");
    // An emptied box is refilled by its change handler; a period the timers
    // read as no minutes is put back to 1; an interval the timer refuses
    // leaves the old one.
    for (Setting &s : t) {
        if (s.most == Setting::kNoMost) {
            s.emptyMeans = QStringLiteral("1");
            s.outOfRange = QStringLiteral("the window counts 0 as 1");
        }
        if (s.key == QLatin1String("HANGTIME") || s.key == QLatin1String("KERCHUNKWAIT")) {
            s.emptyMeans = QStringLiteral("0");
            s.outOfRange = QStringLiteral("above 65535 the window keeps the time it had");
        }
        if (s.key == QLatin1String("TTSPERIOD"))
            s.emptyMeans = QStringLiteral("0");
        if (s.key.startsWith(QLatin1String("ANNOUNCE")) || s.key.endsWith(QLatin1String("AUTOCONNECT"))
            || s.key == QLatin1String("TOGGLETEXT"))
            s.dtmfCode = true;
    }
    return t;
}

} // namespace

const SettingTable &MainWindow::settingTable()
{
    static const SettingTable table = build();
    return table;
}

} // namespace mirelva
