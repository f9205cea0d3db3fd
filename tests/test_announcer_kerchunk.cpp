#include <QTest>

#include "support/announcer_fixture.h"

using namespace mirelva;
using namespace mirelva::test;

// The kerchunk guard: which overs heard on the radio earn the courtesy letter,
// and when it goes out.
class TestAnnouncerKerchunk : public QObject {
    Q_OBJECT

    static void kickBackTicks(MainWindow &w, int n)
    {
        for (int i = 0; i < n; ++i)
            w.KickBackCheck_Timer();
    }

private slots:
    // One carrier from start to end, the guard's two timers ticking as they
    // would: the wait once the carrier has been up KerchunkWait ms, the check
    // while it is still up and after it has dropped.
    void whichOversEarnALetter_data()
    {
        QTest::addColumn<bool>("heldThroughTheWait");
        QTest::addColumn<int>("useCT");
        QTest::addColumn<QString>("letter");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("confirmed");
        QTest::newRow("long over") << true << 1 << "K" << QStringList{"SendCW K"} << "Yes";
        QTest::newRow("whole letter box sent") << true << 1 << "KN" << QStringList{"SendCW KN"} << "Yes";
        QTest::newRow("kerchunk") << false << 1 << "K" << QStringList{} << "No";
        QTest::newRow("UseCT off") << true << 0 << "K" << QStringList{} << "No";
        QTest::newRow("UseCT greyed") << true << 2 << "K" << QStringList{} << "No";
        // A letter box emptied by the operator answers with no bare carrier.
        QTest::newRow("empty letter") << true << 1 << "" << QStringList{} << "Yes";
        QTest::newRow("blank letter") << true << 1 << "  " << QStringList{} << "Yes";
    }

    void whichOversEarnALetter()
    {
        QFETCH(bool, heldThroughTheWait);
        QFETCH(int, useCT);
        QFETCH(QString, letter);
        QFETCH(QStringList, expected);
        QFETCH(QString, confirmed);
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.UseCT->setValue(useCT);
        w.CourtesyID->setText(letter);

        f.node.localCarrier(true);
        QVERIFY(w.Kerchunker->isEnabled());
        if (!heldThroughTheWait)
            f.node.localCarrier(false);
        w.Kerchunker_Timer();
        QVERIFY(!w.Kerchunker->isEnabled());
        QCOMPARE(w.OK2Kerchunk->text(), confirmed);
        // Nothing goes out while the link is still busy with the over.
        kickBackTicks(w, 3);
        QVERIFY(f.requests().isEmpty());

        if (heldThroughTheWait)
            f.node.localCarrier(false);
        // The first check after the link goes quiet, one hang time at most.
        w.KickBackCheck_Timer();
        QCOMPARE(f.requests(), expected);
        QCOMPARE(w.OK2Kerchunk->text(), QString("No"));
        // Once answered, the check stops; unanswered, it keeps looking.
        QCOMPARE(w.KickBackCheck->isEnabled(), confirmed != "Yes");
        kickBackTicks(w, 10);
        QCOMPARE(f.requests(), expected);
    }

    // At most one letter per confirmed over: a kerchunk right after a long
    // over does not earn a second one.
    void oneLetterPerConfirmedOver()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        f.node.localCarrier(true);
        w.Kerchunker_Timer();
        f.node.localCarrier(false);
        w.KickBackCheck_Timer();
        f.node.finishMorse();
        QCOMPARE(f.requests(), QStringList({"SendCW K"}));

        f.node.localCarrier(true);
        f.node.localCarrier(false);
        kickBackTicks(w, 2);
        w.Kerchunker_Timer();
        kickBackTicks(w, 5);
        QCOMPARE(f.requests(), QStringList({"SendCW K"}));

        // The next long over is confirmed afresh and answered once.
        f.node.localCarrier(true);
        w.Kerchunker_Timer();
        f.node.localCarrier(false);
        kickBackTicks(w, 5);
        QCOMPARE(f.requests(), QStringList({"SendCW K", "SendCW K"}));
    }

    void disabledAnnouncementsHoldTheLetterUntilCleared()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        f.node.localCarrier(true);
        // The wait itself is held too: it decides at its first tick with
        // announcements enabled.
        w.Check1->setValue(1);
        w.Kerchunker_Timer();
        QVERIFY(w.Kerchunker->isEnabled());
        QCOMPARE(w.OK2Kerchunk->text(), QString("No"));
        w.Check1->setValue(0);
        w.Kerchunker_Timer();
        QCOMPARE(w.OK2Kerchunk->text(), QString("Yes"));

        w.Check1->setValue(1);
        f.node.localCarrier(false);
        kickBackTicks(w, 20);
        QVERIFY(f.requests().isEmpty());
        QCOMPARE(w.OK2Kerchunk->text(), QString("Yes"));
        QVERIFY(w.KickBackCheck->isEnabled());

        w.Check1->setValue(0);
        w.KickBackCheck_Timer();
        QCOMPARE(f.requests(), QStringList({"SendCW K"}));
        QCOMPARE(w.OK2Kerchunk->text(), QString("No"));
    }
};

QTEST_MAIN(TestAnnouncerKerchunk)
#include "test_announcer_kerchunk.moc"
