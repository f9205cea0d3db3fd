// The main window driving a node over the real node link: the simulated node
// served on a Unix socket, Mirelva's client reading it, as in the program.
// What happens on the air is seen from the node's side.

#include <condition_variable>
#include <mutex>

#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include "announcer/mainwindow.h"
#include "announcer/speechpause.h"
#include "core/clock.h"
#include "core/onairlog.h"
#include "ui/program.h"
#include "ui/questions.h"
#include "ui/station.h"
#include "node/client/nodelink.h"
#include "node/link/nodeserver.h"
#include "node/simulated/simulatednode.h"
#include "support/fixture.h"

using namespace mirelva;
using namespace mirelva::test;

namespace {

// The node, its server, the link and the main window. The window's timers
// are taken off their handlers: a test makes the ticks itself.
class LinkedStation {
public:
    LinkedStation()
    {
        Program::resetForTests();
        Questions::setAnswererForTests([](const QString &, const QString &) { return Questions::Answer::No; });
        Clock::setForTests(QDateTime(QDate(2024, 3, 5), QTime(10, 7, 23)));
        SpeechPause::setSkippedForTests(true);
        sim.setAnswerDelayMs(0);
        sim.setLocalStation("VK2ABC");
        server.listen(*nodelink::NodeAddress::parse("unix:" + dir.filePath("node.sock")), false, nullptr);
        client = std::make_unique<NodeLinkClient>(server.address());
        client->start();
        tellNodeOfSpeech(voice, *client);
        logNodeNotices(*client);
        station.node = client.get();
        station.voice = &voice;
        window = std::make_unique<MainWindow>(station);
        window->Form_Load();
        for (VbTimer *t : window->findChildren<VbTimer *>())
            QObject::disconnect(t, &VbTimer::Timer, nullptr, nullptr);
    }
    ~LinkedStation()
    {
        window.reset();
        Questions::setAnswererForTests({});
    }
    // What went over the air, as the node was told of it.
    QStringList onAir() const { return sim.requestTexts().filter(QRegularExpression("^Speech keyed: ")); }

    TempSettings settings;
    QTemporaryDir dir;
    SimulatedNode sim;
    NodeServer server{&sim};
    std::unique_ptr<NodeLinkClient> client;
    RecordingVoice voice;
    Station station;
    std::unique_ptr<MainWindow> window;
};

} // namespace

class TestAnnouncerOverLink : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { OnAirLog::setEchoToStderr(false); }

    // Lines that reach the socket while a connect announcement is keyed, the
    // node's closing last and nothing after it: the program still hears the
    // closing, releases the radio and ends.
    void closingSentDuringAKeyedAnnouncementEndsTheProgram()
    {
        LinkedStation s;
        // The node is keyed for Morse all along, so our keying and releasing
        // change nothing it reports: after its closing it sends nothing more.
        s.sim.submit(NodeRequest::sendCW(QString(100, QChar('E'))));
        QTRY_VERIFY_WITH_TIMEOUT(s.client->online() && s.client->state().transmitterKeyed, 3000);
        s.voice.addListener([&](const QString &, int) {
            s.sim.chat("W1AW>" + QString(60000, QChar('x')));
            for (int i = 0; i < 50; ++i)
                s.sim.dtmf(QString::number(i));
            s.sim.closing();
            s.server.flush(1000);
            QThread::msleep(20);   // the speech takes its time
        });
        s.sim.stationConnects("W1AW", "John", "203.0.113.5");
        QTRY_VERIFY_WITH_TIMEOUT(Program::ended(), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(!s.sim.ptt() && s.sim.requestTexts().endsWith("SetRTS off"), 3000);
        s.sim.finishMorse();
        QCOMPARE(s.onAir(), QStringList{"Speech keyed: W 1 A W  , Connected"});
    }

    // A second station connecting right after the first one's announcement
    // has unkeyed, before the clock tick that speaks the queued time, and the
    // tick comes due while the second is spoken: each connect is announced
    // once, and the time once, after both. (The second overwrites the time
    // queued by the first in the one slot, and queues its own.)
    // What the node sends while a keyed announcement blocks stays in the
    // socket until the speech is over, and is read then with nothing more
    // sent.
    void whatTheNodeSendsDuringTheSpeechIsReadAfterIt()
    {
        LinkedStation s;
        QTRY_VERIFY_WITH_TIMEOUT(s.client->online(), 3000);
        s.window->ConDisc->setValue(0);
        QString historyDuringSpeech = QStringLiteral("not asked");
        s.voice.speaking = [&] {
            onUiThread([&] {
                s.sim.stationConnects("W1AW", "John", "203.0.113.5");
                s.server.flush(1000);
            });
            QThread::msleep(50);   // time enough to be read, if anything read it
            onUiThread([&] { historyDuringSpeech = s.window->CallHistory->toPlainText(); });
        };
        s.window->TextInput3->setText("Net tonight");
        s.window->Speak3_Click();
        QCOMPARE(historyDuringSpeech, QString());
        QTRY_VERIFY_WITH_TIMEOUT(s.window->CallHistory->toPlainText().contains("W1AW -- John"), 3000);
    }

    void aConnectRightAfterAnAnnouncementIsSpokenOnce()
    {
        LinkedStation s;
        QTRY_VERIFY_WITH_TIMEOUT(s.client->online(), 3000);
        s.window->AddTime->setValue(1);
        s.sim.clearRecords();
        bool ticked = false;
        s.voice.addListener([&](const QString &text, int) {
            if (text.startsWith("K 1 A B C") && !std::exchange(ticked, true))
                QTimer::singleShot(0, s.window.get(), [&] { s.window->Timer1_Timer(); });
        });
        bool sent = false;
        connect(&s.sim, &SimulatedNode::recorded, this, [&](const SimulatedNode::Record &r) {
            if (!sent && r.request.toText() == "SetPTT off") {
                sent = true;
                s.sim.stationConnects("K1ABC", "Ann", "");
            }
        });
        s.sim.stationConnects("W1AW", "John", "203.0.113.5");
        QTRY_COMPARE_WITH_TIMEOUT(s.onAir().size(), 2, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(!s.client->state().transmitterKeyed, 3000);
        QCOMPARE(s.window->flag2, 1);
        s.window->Timer1_Timer();
        // Later ticks have nothing more to say.
        for (int i = 0; i < 3; ++i) {
            Clock::advanceForTests(1);
            QTest::qWait(20);
            s.window->Timer1_Timer();
        }
        QTRY_COMPARE_WITH_TIMEOUT(s.onAir().size(), 3, 3000);
        QTest::qWait(50);
        QCOMPARE(s.onAir(), (QStringList{"Speech keyed: W 1 A W  , Connected", "Speech keyed: K 1 A B C  , Connected",
                                         "Speech keyed: at10 07  AM"}));
        QCOMPARE(s.voice.texts(), (QStringList{"W 1 A W  , Connected", "K 1 A B C  , Connected", "at10 07  AM"}));
        QVERIFY(!s.sim.ptt());
    }

    // A node whose PTT line is gone says so in its state; the status line
    // names the problem until the line is back.
    void aRadioThatCannotBeKeyedStandsAsAWarning()
    {
        LinkedStation s;
        QTRY_VERIFY_WITH_TIMEOUT(s.client->online(), 3000);
        QVERIFY(s.window->lastingWarnings().isEmpty());
        const QString problem = "PTT line hidraw:/dev/hidraw0:3: /dev/hidraw0: device gone (unplugged?); trying again every second";
        s.sim.setPttProblem(problem);
        QTRY_COMPARE_WITH_TIMEOUT(s.window->lastingWarnings(), QStringList{"The radio cannot be keyed: " + problem}, 3000);
        s.sim.setPttProblem(QString());
        QTRY_VERIFY_WITH_TIMEOUT(s.window->lastingWarnings().isEmpty(), 3000);
    }

    // The node's own words (a connect that failed) reach the on-air log;
    // a station's chat does not.
    void theNodesOwnChatTextsReachTheOnAirLog()
    {
        LinkedStation s;
        QTRY_VERIFY_WITH_TIMEOUT(s.client->online(), 3000);
        QStringList logged;
        QObject listening;
        connect(&OnAirLog::instance(), &OnAirLog::line, &listening, [&](const QString &l) {
            if (l.contains(" node says: "))
                logged << l.mid(24);
        });
        s.sim.chat("W1AW>vk2abc>Connect me");
        s.sim.chat("VK2ABC>Connect K1XYZ failed: not in the EchoLink directory (not logged in now)");
        // In order on the link: the station's text was handled first.
        QTRY_COMPARE_WITH_TIMEOUT(logged, QStringList{"node says: Connect K1XYZ failed: not in the EchoLink directory (not logged in now)"},
                                  3000);
    }
};

QTEST_MAIN(TestAnnouncerOverLink)
#include "test_announcer_over_link.moc"
