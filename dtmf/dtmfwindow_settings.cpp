// dtmfctrl.ini: every setting of the DTMF window, in the order its load
// reads them and its save writes them. Net 1's keys and controls carry no
// number ("SUN", "HOUR"; net 2's are "SUN2", "HOUR2").

#include "dtmf/dtmfwindow.h"

namespace mirelva {

namespace {

using K = Setting::Kind;

QString numbered(const char *stem, int n) { return QLatin1String(stem) + QString::number(n); }
QString ofNet(const char *stem, int net) { return QLatin1String(stem) + (net == 1 ? QString() : QString::number(net)); }

Setting text(const QString &key, const QString &control, const char *def, const QString &meaning, int least = 0,
             int most = -1)
{
    return {key, control, K::Text, QLatin1String(def), meaning, least, most};
}
Setting check(const QString &key, const QString &control, const char *def, const QString &meaning)
{
    return {key, control, K::Check, QLatin1String(def), meaning};
}

// A net's weekdays and its start.
void netDaysAndStart(SettingTable &t, int n)
{
    static const char *const days[7] = {"SUN", "MON", "TUE", "WED", "THUR", "FRI", "SAT"};
    static const char *const controls[7] = {"Sun", "Mon", "Tue", "Wed", "Thur", "Fri", "Sat"};
    static const char *const weekdays[7] = {"Sundays", "Mondays", "Tuesdays", "Wednesdays", "Thursdays", "Fridays",
                                            "Saturdays"};
    const QString net = QStringLiteral("Net %1").arg(n);
    for (int d = 0; d < 7; ++d)
        t << check(ofNet(days[d], n), ofNet(controls[d], n), "0",
                   net + QStringLiteral(" runs on ") + QLatin1String(weekdays[d]) + '.');
    t << text(ofNet("HOUR", n), ofNet("Hour", n), "24",
              net + QStringLiteral(" starts at this hour, 15 seconds into its minute (24: never)."), 0, 24)
      << text(ofNet("MINS", n), ofNet("Mins", n), "00", net + QStringLiteral(" starts at this minute."), 0, 59);
}

SettingTable build()
{
    SettingTable t;
    // Each net's "Use" box of its timed disconnect has a name of its own.
    static const char *const useBoxes[5] = {nullptr, "Check3", "Check2", "Check11", "Check20"};
    for (int n = 1; n <= 4; ++n)
        t << text(numbered("DISCMINS", n), numbered("DiscMins", n), "0",
                  QStringLiteral("Minutes after which net %1's station is disconnected.").arg(n));
    for (int n : {2, 1, 3, 4})
        t << check(QString::fromLatin1(useBoxes[n]).toUpper(), QLatin1String(useBoxes[n]), "0",
                   QStringLiteral("Net %1's station is disconnected after the minutes set.").arg(n));
    t << text(QStringLiteral("DTMFDELAYSECONDS"), QStringLiteral("DTMFDelaySeconds"), "5",
              QStringLiteral("Seconds of a received signal before connect and disconnect codes are obeyed."))
      << check(QStringLiteral("USEDTMFDELAY"), QStringLiteral("UseDTMFDelay"), "0",
               QStringLiteral("Codes at the start of a received signal are ignored for the seconds set."))
      << text(QStringLiteral("TEXT555"), QStringLiteral("Text555"), "",
              QStringLiteral("DTMF code that disconnects the station that connected last."))
      << text(QStringLiteral("BEACONPERIOD"), QStringLiteral("BeaconPeriod"), "1",
              QStringLiteral("Minutes after which the last-call and disconnect-all codes are obeyed again (0 counts as 1)."))
      << text(QStringLiteral("TEXT111"), QStringLiteral("Text111"), "73",
              QStringLiteral("DTMF code that disconnects every connected station."))
      << text(QStringLiteral("TEXT222"), QStringLiteral("Text222"), "",
              QStringLiteral("DTMF code that lets the last-call and disconnect-all codes be obeyed."))
      << text(QStringLiteral("TEXT333"), QStringLiteral("Text333"), "",
              QStringLiteral("DTMF code that stops the last-call and disconnect-all codes being obeyed."))
      << check(QStringLiteral("CHECK1"), QStringLiteral("Check1"), "1",
               QStringLiteral("The last-call and disconnect-all codes are obeyed (the other codes always are)."))
      << text(QStringLiteral("TEXT1111"), QStringLiteral("Text1111"), "",
              QStringLiteral("DTMF code that turns the delay before codes on."))
      << text(QStringLiteral("TEXT2222"), QStringLiteral("Text2222"), "",
              QStringLiteral("DTMF code that turns the delay before codes off."));
    for (int n = 1; n <= 8; ++n)
        t << text(numbered("DTMF", n), numbered("DTMF", n), "",
                  QStringLiteral("DTMF code that connects or disconnects single station %1.").arg(n));
    for (int n = 1; n <= 8; ++n)
        t << text(numbered("CALL", n), numbered("Call", n), "", QStringLiteral("Callsign of single station %1.").arg(n));
    for (int g = 1; g <= 2; ++g)
        t << text(QStringLiteral("DTMFGROUP%1CONNECT").arg(g), QStringLiteral("DTMFGroup%1Connect").arg(g), "",
                  QStringLiteral("DTMF code that connects every station of group %1.").arg(g))
          << text(QStringLiteral("DTMFGROUP%1DISC").arg(g), QStringLiteral("DTMFGroup%1Disc").arg(g), "",
                  QStringLiteral("DTMF code that disconnects every station of group %1.").arg(g));
    for (int n = 1; n <= 6; ++n)
        t << text(numbered("GROUPCALL", n), numbered("GroupCall", n), "",
                  QStringLiteral("Callsign %1 of group %2.").arg((n - 1) % 3 + 1).arg((n - 1) / 3 + 1));
    netDaysAndStart(t, 2);
    for (int n = 1; n <= 4; ++n)
        t << text(numbered("NETCALL", n), numbered("NetCall", n), "",
                  QStringLiteral("Station net %1 connects (LOCAL: none).").arg(n));
    netDaysAndStart(t, 1);
    netDaysAndStart(t, 3);
    netDaysAndStart(t, 4);
    for (int n = 1; n <= 4; ++n)
        t << check(numbered("DISCONNECTALL", n), numbered("DisconnectAll", n), "0",
                   QStringLiteral("Every connected station is disconnected when net %1 starts.").arg(n));
    t << Setting{QStringLiteral("LEFT"), {}, K::WindowLeft, QStringLiteral("300")}
      << Setting{QStringLiteral("TOP"), {}, K::WindowTop, QStringLiteral("300")}
      << text(QStringLiteral("DTMF"), QStringLiteral("DTMF"), "123", QStringLiteral("DTMF code that says the local time."))
      << check(QStringLiteral("USEDTMF"), QStringLiteral("UseDTMF"), "1",
               QStringLiteral("The local time code is obeyed."));
    for (int n = 1; n <= 4; ++n)
        t << check(numbered("SHOWBUSY", n), numbered("ShowBusy", n), "0",
                   QStringLiteral("The node shows busy while net %1 runs.").arg(n));
    t << check(QStringLiteral("RFBUSY"), QStringLiteral("RFBusy"), "0",
               QStringLiteral("A net does not start while a signal is received."));
    // An emptied number box is refilled by its change handler with 0.
    for (Setting &s : t) {
        if (s.key.startsWith(QLatin1String("DISCMINS")) || s.key == QLatin1String("DTMFDELAYSECONDS")
            || s.key == QLatin1String("BEACONPERIOD"))
            s.emptyMeans = QStringLiteral("0");
        if (s.key.startsWith(QLatin1String("TEXT")) || s.key.startsWith(QLatin1String("DTMF")))
            s.dtmfCode = s.key != QLatin1String("DTMFDELAYSECONDS");
    }
    return t;
}

} // namespace

const SettingTable &DtmfWindow::settingTable()
{
    static const SettingTable table = build();
    return table;
}

} // namespace mirelva
