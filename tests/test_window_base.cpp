#include <QPushButton>
#include <QTest>

#include "announcer/mainwindow.h"
#include "dtmf/dtmfwindow.h"
#include "greeting/greetingwindow.h"
#include "messagebox/messageboxwindow.h"
#include "side/aboutwindow.h"
#include "side/webtoolswindow.h"
#include "ui/program.h"
#include "ui/questions.h"
#include "support/mainfixture.h"

using namespace mirelva;
using namespace mirelva::test;

namespace {

// The windows that end the program, as their own instance of the node
// interface and their close box reach them.
StationWindowOf<QMainWindow> *mainOf(Station &s) { return s.main; }
struct Ender {
    std::function<bool(Station &)> ask;   // the quit question; true when cancelled
    std::function<void(Station &)> closing;
};
Ender enderOf(const QString &window)
{
    if (window == "main")
        return {[](Station &s) { return s.main->Form_QueryUnload(); }, [](Station &s) { s.main->EchoLink_Closing(); }};
    if (window == "dtmf")
        return {[](Station &s) { return s.dtmf->Form_QueryUnload(); }, [](Station &s) { s.dtmf->EchoLink_Closing(); }};
    if (window == "greeting")
        return {[](Station &s) { return s.greeting->Form_QueryUnload(); },
                [](Station &s) { s.greeting->EchoLink_Closing(); }};
    if (window == "messagebox")
        return {[](Station &s) { return s.messageBox->Form_QueryUnload(); },
                [](Station &s) { s.messageBox->EchoLink_Closing(); }};
    return {[](Station &s) { return !s.webTools->close(); }, [](Station &s) { s.webTools->EchoLink_Closing(); }};
}

} // namespace

class TestWindowBase : public QObject {
    Q_OBJECT
private slots:
    void init() { Program::resetForTests(); }

    // How each window ends the program: the lines released, in order, and
    // the file saved, on "Yes" to its quit question and on the node's
    // closing; and nothing at all once another window has ended it.
    void endings_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("requests");
        QTest::addColumn<QString>("saved");   // the file written, or none
        const QStringList all{"SetPTT off", "SetRTS off", "SetDTR off"};
        const QStringList allOnClosing{"SetPTT off", "SetDTR off", "SetRTS off"};
        const QStringList ptt{"SetPTT off"};
        QTest::newRow("main quit") << "main" << "quit" << all << QString();
        QTest::newRow("main closing") << "main" << "closing" << allOnClosing << GreetingWindow::iniName();
        QTest::newRow("dtmf quit") << "dtmf" << "quit" << ptt << QString();
        QTest::newRow("dtmf closing") << "dtmf" << "closing" << ptt << QString();
        QTest::newRow("greeting quit") << "greeting" << "quit" << ptt << GreetingWindow::iniName();
        QTest::newRow("greeting closing") << "greeting" << "closing" << ptt << GreetingWindow::iniName();
        QTest::newRow("messagebox quit") << "messagebox" << "quit" << ptt << QString();
        QTest::newRow("messagebox closing") << "messagebox" << "closing" << ptt << QString();
        QTest::newRow("webtools close box") << "webtools" << "quit" << QStringList() << WebToolsWindow::iniName();
        QTest::newRow("webtools closing") << "webtools" << "closing" << QStringList() << WebToolsWindow::iniName();
        for (const char *w : {"main", "dtmf", "greeting", "messagebox", "webtools"})
            QTest::newRow(qPrintable(QStringLiteral("%1 closing after the end").arg(w)))
                << w << "closing after end" << QStringList() << QString();
    }
    void endings()
    {
        QFETCH(QString, window);
        QFETCH(QString, path);
        QFETCH(QStringList, requests);
        QFETCH(QString, saved);
        MainFixture f;
        Questions::setAnswererForTests([](const QString &, const QString &) { return Questions::Answer::Yes; });
        const Ender e = enderOf(window);
        if (path == "quit") {
            QVERIFY(!e.ask(f.station));
        } else {
            if (path == "closing after end")
                Program::end();
            e.closing(f.station);
        }
        QCOMPARE(f.requests(), requests);
        // The web tools window's close box saves and leaves the program running.
        QCOMPARE(Program::ended(), path != "quit" || window != "webtools");
        for (const QString &file : {MainWindow::iniName(), DtmfWindow::iniName(), GreetingWindow::iniName(),
                                    MessageBoxWindow::iniName(), WebToolsWindow::iniName()})
            QCOMPARE(!f.settings.readFile(file).isEmpty(), file == saved);
    }

    // "No" cancels: nothing is released, saved or ended.
    void noCancels_data()
    {
        QTest::addColumn<QString>("window");
        for (const char *w : {"main", "dtmf", "greeting", "messagebox"})
            QTest::newRow(w) << w;
    }
    void noCancels()
    {
        QFETCH(QString, window);
        MainFixture f;
        Questions::setAnswererForTests([](const QString &, const QString &) { return Questions::Answer::No; });
        QVERIFY(enderOf(window).ask(f.station));
        QVERIFY(!Program::ended());
        QVERIFY(f.requests().isEmpty());
        QVERIFY(f.settings.readFile(GreetingWindow::iniName()).isEmpty());
    }

    // A window leaves the station as it goes, but never takes another's
    // place with it.
    void registration()
    {
        MainFixture f;
        Station &s = f.station;
        auto first = std::make_unique<AboutWindow>(s);
        QCOMPARE(s.about, first.get());
        auto second = std::make_unique<AboutWindow>(s);
        QCOMPARE(s.about, second.get());
        first.reset();
        QCOMPARE(s.about, second.get());
        second.reset();
        QCOMPARE(s.about, nullptr);
        QCOMPARE(mainOf(s), static_cast<StationWindowOf<QMainWindow> *>(&f.w()));
    }

    // A button runs its handler while the program lives, and never after.
    void pressesAfterTheEnd()
    {
        MainFixture f;
        GreetingWindow &g = *f.station.greeting;
        g.show();
        QVERIFY(g.isVisible());
        g.Command1->click();   // "Hide"
        QVERIFY(!g.isVisible());
        g.show();
        Program::end();
        g.Command1->click();
        QVERIFY(g.isVisible());
        g.Command2->click();   // "Save Settings"
        QVERIFY(f.settings.readFile(GreetingWindow::iniName()).isEmpty());
    }
};

QTEST_MAIN(TestWindowBase)
#include "test_window_base.moc"
