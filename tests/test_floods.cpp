#include <QRegularExpression>
#include <QTest>

#include "core/onairlog.h"
#include "core/program.h"
#include "support/chat_fixture.h"

using namespace mirelva;
using namespace mirelva::test;

namespace {

// The station under a flood from one source, with its clock a second before
// a quarter hour and the time announcement on: the flood comes in two
// halves around the tick at the mark, so the mark is due while it runs.
class FloodStation : public ChatFixture {
public:
    FloodStation() : ChatFixture(QDateTime(QDate(2024, 3, 5), QTime(10, 14, 59)))
    {
        w().QuarterHour->setValue(1);
        (w().Option1)->setValue(true);
        QObject::connect(&OnAirLog::instance(), &OnAirLog::line, &m_listening, [this] { ++onAirLines; });
        QObject::connect(&ScreenReaderNotices::instance(), &ScreenReaderNotices::told, &m_listening,
                         [this](QWidget *, const QString &text) { told << text; });
    }

    // The tick at the mark, between the halves: the time is said on it.
    void markDue()
    {
        AnnouncerFixture::setTime(10, 15, 0);
        const int before = onAirLines;
        w().Timer1_Timer();
        markLines = onAirLines - before;
        markSpoken = voice.texts() == QStringList({QStringLiteral("Good Morning, The Time Is10 15 AM")});
    }

    // The most any one window keeps of screen-reader notices.
    int mostNotices() const
    {
        int most = 0;
        for (QWidget *win : {static_cast<QWidget *>(window.get()), static_cast<QWidget *>(station.messageBox)})
            most = std::max(most, int(win->findChildren<ScreenReaderNotice *>().size()));
        return most;
    }

    int onAirLines = 0;   // the flood's own and the mark's
    int markLines = 0;
    QStringList told;
    bool markSpoken = false;

private:
    QObject m_listening;
};

} // namespace

// Floods from outside, one table: each row sends many of one thing and
// checks what the program kept of it (its bound on memory), the on-air log
// lines it wrote, and that the time mark due meanwhile was spoken.
class TestFloods : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        Program::resetForTests();
        OnAirLog::setEchoToStderr(false);
    }

    void floodIsBounded_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("mostKept");     // notices, lines, bytes: what the row's source holds
        QTest::addColumn<int>("mostLogLines");
        QTest::newRow("chat from the node, message box shown") << "chat shown" << 3000 << kMostNotices << 0;
        QTest::newRow("chat from the node, message box hidden") << "chat hidden" << 12000 << kMostNotices << 0;
    }

    void floodIsBounded()
    {
        QFETCH(QString, source);
        QFETCH(int, count);
        QFETCH(int, mostKept);
        QFETCH(int, mostLogLines);
        FloodStation f;
        int kept = 0;
        if (source.startsWith(QLatin1String("chat"))) {
            if (source == QLatin1String("chat shown"))
                f.mb().show();
            // Told at once, both kinds of notice, so the window keeps its
            // share of notices besides the chat.
            for (int i = 0; i < kMostNotices + 4; ++i)
                tellScreenReader(f.station.messageBox, QStringLiteral("earlier %1").arg(i));
            f.told.clear();
            const auto send = [&](int from, int to) {
                for (int i = from; i < to; ++i)
                    f.node.chat(QStringLiteral("W1AW>line %1").arg(i));
            };
            send(0, count / 2);
            f.markDue();
            send(count / 2, count);
            f.mb().ChatNotice_Timer();
            kept = f.mostNotices();
            // The first line at once, the rest of the burst as one, with
            // its number: never a notice per line.
            QCOMPARE(f.told.filter(QRegularExpression("^Chat: ")), QStringList({"Chat: W1AW>line 0",
                                          QStringLiteral("Chat: %1 more texts, the last: W1AW>line %2")
                                              .arg(count - 1)
                                              .arg(count - 1)}));
            // Every line is in the message box, which keeps its own bound.
            const QStringList box = f.logLines();
            QVERIFY(box.size() <= std::min(count, LogBox::kMostLines + LogBox::kTrimStep));
            QCOMPARE(box.last(), QStringLiteral("W1AW> (10:15)>line %1").arg(count - 1));
        }
        QVERIFY2(kept <= mostKept, qPrintable(QStringLiteral("kept %1").arg(kept)));
        const int floodLines = f.onAirLines - f.markLines;
        QVERIFY2(floodLines <= mostLogLines, qPrintable(QStringLiteral("%1 log lines").arg(floodLines)));
        QVERIFY(f.markSpoken);
    }
};

QTEST_MAIN(TestFloods)
#include "test_floods.moc"
