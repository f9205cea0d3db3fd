#include <QJsonObject>
#include <QTest>

#include "station/windowstation.h"
#include "support/announcer_fixture.h"
#include "web/webconsole.h"

using namespace mirelva;
using namespace mirelva::test;

// The web console presses the windows' buttons as the operator would; a
// press that comes while the station speaks waits, as a click does.
class TestWebPresses : public QObject {
    Q_OBJECT
private slots:
    // Presses that came together (two operators, or a page clicked twice)
    // give one announcement after the other, each with its own text, never
    // one inside another.
    void pressesDuringAKeyedSpeechFollowIt()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        WindowStation port(f.station);
        WebConsole console(port, WebSettings{});
        const auto act = [&](const QString &action, const QString &text = {}) {
            QCOMPARE(console.act({{"action", action}, {"text", text}}, QStringLiteral("192.0.2.7")), QString());
        };
        act("speak", "Net tonight");
        act("speak", "Net at eight");
        act("time");
        act("time");
        QStringList pressedWhileSpeaking;
        f.voice.speaking = [&] { pressedWhileSpeaking << w.TextInput3->text(); };
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        // "Say the time" is a queue of one: both presses are spoken at the
        // next tick, once.
        w.Timer1_Timer();
        QCOMPARE(f.requests(), QStringList({"SetPTT on", "Speech keyed: Net tonight", "SetPTT off", "SetDTR off",
                                            "SetPTT on", "Speech keyed: Net at eight", "SetPTT off", "SetDTR off",
                                            "SetPTT on", "Speech keyed: Good Morning, The Time Is10 07 AM", "SetPTT off",
                                            "SetDTR off"}));
        QCOMPARE(pressedWhileSpeaking, QStringList({"Net tonight", "Net at eight", "Net at eight"}));
    }
};

QTEST_MAIN(TestWebPresses)
#include "test_web_presses.moc"
