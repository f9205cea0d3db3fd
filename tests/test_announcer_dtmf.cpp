#include <QTest>
#include <QTimer>

#include "ui/program.h"
#include "support/announcer_fixture.h"

using namespace mirelva;
using namespace mirelva::test;

// The main window's own codes: each queues its confirmation for the next
// clock tick; the DTMF window's time code and switch decide the time code.
class TestAnnouncerDtmf : public QObject {
    Q_OBJECT

    static QStringList keyed(const QString &text)
    {
        return {"SetPTT on", "Speech keyed: " + text, "SetPTT off", "SetDTR off"};
    }

    // The string arrives; the next tick speaks what it queued.
    static QStringList sendAndTick(AnnouncerFixture &f, const QString &digits)
    {
        f.node.clearRecords();
        f.node.dtmf(digits);
        f.w().Timer1_Timer();
        return f.requests();
    }

private slots:
    void init() { Program::resetForTests(); }

    void autoConnectCodes()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        QCOMPARE(sendAndTick(f, QStringLiteral("*1*")), keyed("Auto Connects Enabled."));
        QCOMPARE(w.StayCon1->value(), 1);
        QCOMPARE(w.StayCon2->value(), 1);
        QCOMPARE(sendAndTick(f, QStringLiteral("*0*")), keyed("Auto Connects Disabled."));
        QCOMPARE(w.StayCon1->value() + w.StayCon2->value(), 0);
        // Saved only by a save.
        QVERIFY(!f.settings.readFile(MainWindow::iniName()).contains("STAYCON1"));
    }

    void timeCode_data()
    {
        QTest::addColumn<QTime>("time");
        QTest::addColumn<bool>("twelveHour");
        QTest::addColumn<int>("preamble");
        QTest::addColumn<QString>("spoken");
        QTest::newRow("15:05 12 hr") << QTime(15, 5) << true << 0 << "The Time Is3 05 PM";
        QTest::newRow("15:05 greeting") << QTime(15, 5) << true << 1 << "Good Afternoon, The Time Is3 05 PM";
        QTest::newRow("00:30 12 hr") << QTime(0, 30) << true << 1 << "Good Morning, The Time Is12 30 AM";
        QTest::newRow("00:30 24 hr") << QTime(0, 30) << false << 0 << "The Time Is00 30";
        QTest::newRow("19:45 24 hr") << QTime(19, 45) << false << 2 << "Good Evening, The Time Is19 45";
    }

    void timeCode()
    {
        QFETCH(QTime, time);
        QFETCH(bool, twelveHour);
        QFETCH(int, preamble);
        QFETCH(QString, spoken);
        AnnouncerFixture f(QDateTime(QDate(2024, 3, 5), time));
        MainWindow &w = f.w();
        (twelveHour ? w.Option1 : w.Option2)->setValue(true);
        w.Check3->setValue(preamble);
        DtmfWindow &d = *f.station.dtmf;
        QCOMPARE(d.DTMF->text(), QStringLiteral("123"));
        d.UseDTMF->setValue(0);
        QCOMPARE(sendAndTick(f, QStringLiteral("123")), QStringList());
        d.UseDTMF->setValue(1);
        QCOMPARE(sendAndTick(f, QStringLiteral("123")), keyed(spoken));
    }

    void toggleTextAndTheLastQueuedWins()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.ToggleText->setText(QStringLiteral("44"));
        QCOMPARE(sendAndTick(f, QStringLiteral("44")), keyed("Text Message Enabled"));
        QCOMPARE(w.SayText->value(), 1);
        QCOMPARE(sendAndTick(f, QStringLiteral("44")), keyed("Text Message Disabled"));
        QCOMPARE(w.SayText->value(), 0);
        // One string in two boxes: both act, in order; the later text is spoken.
        w.EnableAutoConnect->setText(QStringLiteral("44"));
        QCOMPARE(sendAndTick(f, QStringLiteral("44")), keyed("Auto Connects Enabled."));
        QCOMPARE(w.SayText->value(), 1);
        QCOMPARE(w.StayCon1->value(), 1);
        // Empty boxes never match.
        w.ToggleText->clear();
        w.EnableAutoConnect->clear();
        QCOMPARE(sendAndTick(f, QString()), QStringList());
        QCOMPARE(w.SayText->value(), 1);
    }

    // A code handled while an announcement lets waiting events run, just
    // before it unkeys, is spoken at the next tick, not lost with the slot.
    void codeArrivingDuringAnAnnouncementIsSpokenNext()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.ToggleText->setText(QStringLiteral("44"));
        QTimer::singleShot(0, &f.node, [&] { f.node.dtmf(QStringLiteral("44")); });
        w.TextInput3->setText(QStringLiteral("Beacon"));
        w.Speak3_Click();
        QCOMPARE(f.voice.texts(), QStringList{"Beacon"});
        f.node.clearRecords();
        w.Timer1_Timer();
        QCOMPARE(f.requests(), keyed("Text Message Enabled"));
    }

    void silenceCodes()
    {
        AnnouncerFixture f(QDateTime(QDate(2024, 3, 5), QTime(21, 4, 9)));
        MainWindow &w = f.w();
        w.AnnounceOff->setText(QStringLiteral("#0"));
        w.AnnounceOn->setText(QStringLiteral("#1"));

        // Without the warn box: silence, nothing said or sent.
        QCOMPARE(sendAndTick(f, QStringLiteral("#0")), QStringList());
        QCOMPARE(w.Check1->value(), 1);
        QCOMPARE(w.flag2, 0);
        QCOMPARE(sendAndTick(f, QStringLiteral("#1")), QStringList());
        QCOMPARE(w.Check1->value(), 0);

        // With it: the chat notice and the spoken warning go at once, before
        // the silence begins, as the scheduler's do; the tick says nothing.
        w.Check2->setValue(1);
        f.node.clearRecords();
        f.node.dtmf(QStringLiteral("#0"));
        QCOMPARE(f.requests(),
                 QStringList{"SendChatText 21:04:09  <Silence Mode Enabled>"} + keyed("Silence Mode Enabled"));
        QCOMPARE(w.Check1->value(), 1);
        QCOMPARE(w.flag2, 0);
        f.node.clearRecords();
        w.Timer1_Timer();
        QVERIFY(!f.requests().join('\n').contains(QLatin1String("Speech")));
        QCOMPARE(sendAndTick(f, QStringLiteral("#1")),
                 QStringList{"SendChatText 21:04:09  <Silence Mode Disabled>"} + keyed("Silence Mode Disabled"));
        QCOMPARE(w.Check1->value(), 0);
    }
};

QTEST_MAIN(TestAnnouncerDtmf)
#include "test_announcer_dtmf.moc"
