#include <QAccessible>
#include <QScrollBar>
#include <QTest>

#include "messagebox/messageboxwindow.h"
#include "support/announcer_fixture.h"

using namespace mirelva;
using namespace mirelva::test;

class TestAccessibility : public QObject {
    Q_OBJECT
private slots:
    // The transmitter keyed and released, a signal coming and going, a
    // station connecting and a chat text are spoken as they happen; a tick
    // that changes nothing says nothing.
    void changesAreSpokenAndNothingElse()
    {
        AnnouncerFixture f;
        MainWindow &w = f.w();
        w.Timer1_Timer();
        QStringList told;
        QObject listening;
        connect(&ScreenReaderNotices::instance(), &ScreenReaderNotices::told, &listening,
                [&](QWidget *window, const QString &text) { told << window->objectName() + ": " + text; });
        // What a screen reader finds when it reads the indicators.
        const auto indicators = [&] {
            return QStringList({w.PTT->text(), w.PTT2->accessibleName(), w.ShowTime->text()});
        };

        w.TextInput3->setText("Net tonight");
        w.Speak3_Click();
        QCOMPARE(told, QStringList({"Mirelva: PTT ON", "Mirelva: PTT OFF"}));

        told.clear();
        const QStringList before = indicators();
        w.Timer1_Timer();
        w.Timer1_Timer();
        QCOMPARE(told, QStringList());
        QCOMPARE(indicators(), before);

        f.node.setReceivingSignal(true);
        w.Timer1_Timer();
        w.Timer1_Timer();
        f.node.setReceivingSignal(false);
        w.Timer1_Timer();
        QCOMPARE(told, QStringList({"Mirelva: Receiver: receiving signal", "Mirelva: Receiver: no signal"}));

        told.clear();
        w.ConDisc->setValue(0);
        f.node.stationConnects("W1AW", "John", "192.0.2.5");
        f.node.chat("W1AW>Hello all");
        // The chat from the main window while the message box is hidden.
        QCOMPARE(told, QStringList({"Mirelva: W1AW connected, John", "Mirelva: Chat: W1AW>Hello all"}));
    }
};

QTEST_MAIN(TestAccessibility)
#include "test_accessibility.moc"
