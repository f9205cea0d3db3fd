// brisvel.ini: every setting of the greeting window, in the order its load
// reads them and its save writes them.

#include "greeting/greetingwindow.h"

namespace mirelva {

namespace {

// The texts a first start offers, slot 1 to 9.
const char *const kDefaultTexts[GreetingWindow::kSlots - 1] = {
    "Welcome. If I don't answer then I might be away or busy. Please leave a short delay between Transmission's !",
    "Enjoy the system. Please Calls CQ and leave good gaps between over's.",
    "Welcome",
    "Has Joined us",
    "How are you. Thanks for joining us. Please call CQ",
    "Welcome, The system is active. Please leave good gaps between over's.",
    "Great having you aboard",
    "Im not about at the moment. Call back later or call CQ",
    "Has Joined The Conference",
};

SettingTable build()
{
    using K = Setting::Kind;
    SettingTable t;
    // Keys "TEXTTXMESSAGE", then "TEXTTXMESSAGE2" and on.
    for (int n = 1; n < GreetingWindow::kSlots; ++n) {
        const QString num = n == 1 ? QString() : QString::number(n);
        t << Setting{QStringLiteral("TEXTTXMESSAGE") + num, QStringLiteral("TextTXMessage") + num, K::Text,
                     QLatin1String(kDefaultTexts[n - 1]),
                     QStringLiteral("Greeting %1, sent to a station that connects while it is chosen.").arg(n)};
    }
    t << Setting{QStringLiteral("USEGREETING"), QStringLiteral("UseGreeting"), K::Check, QStringLiteral("1"),
                 QStringLiteral("A station that connects is sent the chosen greeting.")}
      << Setting{QStringLiteral("TIMESTAMP"), QStringLiteral("TimeStamp"), K::Check, QStringLiteral("1"),
                 QStringLiteral("The greeting carries the time it was sent.")}
      << Setting{QStringLiteral("BEACONPERIODDELAY"), QStringLiteral("BeaconPeriodDelay"), K::Text, QStringLiteral("3"),
                 QStringLiteral("Seconds after a connect before the greeting is sent."), 0, 9};
    // One group: of several stored on, the last read stays on.
    for (int n = 1; n <= GreetingWindow::kSlots; ++n)
        t << Setting{QStringLiteral("OPTION%1").arg(n), QStringLiteral("Option%1").arg(n), K::Option,
                     n == GreetingWindow::kSlots ? QStringLiteral("1") : QStringLiteral("0"),
                     n == GreetingWindow::kSlots
                         ? QStringLiteral("The connect notice is sent instead of a greeting: \"(12:30) VK2ABC Peter Connected\".")
                         : QStringLiteral("Greeting %1 is the one sent.").arg(n)};
    t << Setting{QStringLiteral("CHECK1"), QStringLiteral("Check1"), K::Check, QStringLiteral("0"),
                 QStringLiteral("A greeting is picked at random instead of the chosen one.")};
    return t;
}

} // namespace

const SettingTable &GreetingWindow::settingTable()
{
    static const SettingTable table = build();
    return table;
}

} // namespace mirelva
