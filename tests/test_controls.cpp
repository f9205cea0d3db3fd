#include <QEventLoop>
#include <QGridLayout>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/controls.h"
#include "ui/program.h"

using namespace mirelva;

// The control rules the windows rely on: styles filter typing only, check
// boxes hold three values, option groups may have none on.
class TestControls : public QObject {
    Q_OBJECT
private slots:
    void upperCaseKeepsTheWholeTextInCapitals()
    {
        TextBox box(QStringLiteral("CourtesyID"));
        box.setText(QStringLiteral("k"));
        box.setUpperCase(true);
        QCOMPARE(box.text(), QStringLiteral("K"));
        box.setText(QStringLiteral("k"));
        QCOMPARE(box.text(), QStringLiteral("K"));
        box.end(false);
        QTest::keyClicks(&box, QStringLiteral("ab1"));
        QCOMPARE(box.text(), QStringLiteral("KAB1"));
    }

    void digitsOnlyAndLimitFilterTypingOnly()
    {
        TextBox box(QStringLiteral("TTSPeriod"));
        box.setDigitsOnly(true);
        box.setTypingLimit(2);
        box.setText(QStringLiteral("12345"));
        QCOMPARE(box.text(), QStringLiteral("12345"));
        box.clear();
        QTest::keyClicks(&box, QStringLiteral("7x89"));
        QCOMPARE(box.text(), QStringLiteral("78"));
        QCOMPARE(box.number(), 78);
    }

    void checkBoxHoldsThreeValuesButTheHandTogglesTwo()
    {
        CheckBox c(QStringLiteral("Check1"), QStringLiteral("Disable Announcements"));
        c.setValue(2);
        QCOMPARE(c.value(), 2);
        c.click();
        QCOMPARE(c.value(), 1);
        c.click();
        QCOMPARE(c.value(), 0);
        c.click();
        QCOMPARE(c.value(), 1);
    }

    void optionGroupTurnsOthersOffAndMayHaveNoneOn()
    {
        OptionGroup g;
        OptionButton a(QStringLiteral("Option1"), QStringLiteral("12 Hr"), &g);
        OptionButton b(QStringLiteral("Option2"), QStringLiteral("24 Hr"), &g);
        a.setValue(true);
        b.setValue(true);
        QVERIFY(!a.value());
        QVERIFY(b.value());
        b.setValue(false);
        QVERIFY(!a.value() && !b.value());
        a.click();
        QVERIFY(a.value());
        a.click();
        QVERIFY(a.value());
    }

    // Where a second window (the node console: frame 742x725, at least
    // 544x723) goes beside a first, frames in pixels, on screens' available
    // areas.
    void besideFrameCoversNothingAndKeepsTheTitleBarOnScreen()
    {
        const QRect wide(0, 0, 1600, 1000);
        const QRect small(0, 0, 1024, 768);
        const QRect right(1600, 0, 1280, 1024);
        const QSize size(742, 725);
        const QSize least(544, 723);
        const struct {
            const char *name;
            QRect first;
            QList<QRect> screens;
            QSize size;
            QRect frame;
        } cases[] = {
            {"right", {20, 20, 600, 400}, {wide}, size, {620, 20, 742, 725}},
            {"right, pulled up to stay on the screen", {20, 500, 600, 400}, {wide}, size, {620, 275, 742, 725}},
            {"right, narrowed to the room", {20, 20, 862, 649}, {wide}, size, {882, 20, 718, 725}},
            {"left", {900, 100, 600, 400}, {wide}, size, {158, 100, 742, 725}},
            {"below", {300, 0, 1000, 200}, {wide}, size, {300, 200, 742, 725}},
            {"cascaded, pulled up to stay on the screen", {20, 20, 862, 649}, {small}, size, {44, 43, 742, 725}},
            {"cascaded from a window low on the screen", {100, 700, 862, 649}, {small}, size, {124, 43, 742, 725}},
            {"first partly above and left of the screen", {-400, -300, 862, 649}, {wide}, size, {462, 0, 742, 725}},
            {"first partly right of the screen", {1000, 20, 862, 649}, {wide}, size, {258, 20, 742, 725}},
            {"taller than the screen: title bar at its top", {0, 0, 600, 400}, {{0, 0, 800, 600}}, size,
             {24, 0, 742, 723}},
            {"second screen: beside on it, not across", {1700, 50, 600, 400}, {wide, right}, size,
             {2300, 50, 580, 725}},
            {"second screen: cascaded on it", {1500, 100, 862, 649}, {wide, right}, size, {1600, 124, 742, 725}},
            {"first on no screen: the nearest", {3000, 100, 600, 400}, {wide, right}, size, {2138, 100, 742, 725}},
            {"no screens known", {20, 20, 600, 400}, {}, size, {44, 44, 742, 725}},
            {"asked for less than the least: what is asked", {20, 20, 600, 400}, {wide}, {300, 200},
             {620, 20, 300, 200}},
        };
        for (const auto &c : cases) {
            const QRect got = besideFrame(c.first, c.size, least, c.screens);
            QVERIFY2(got == c.frame, qPrintable(QStringLiteral("%1: got %2,%3 %4x%5")
                                                     .arg(QLatin1String(c.name))
                                                     .arg(got.x())
                                                     .arg(got.y())
                                                     .arg(got.width())
                                                     .arg(got.height())));
        }
    }
    // A window's frame is kept wholly on a screen (the greeting window:
    // frame 662x870, at least 600x700), moved in only as far as it must and
    // made smaller only where the screen is smaller.
    void fitOnScreenMovesAWindowWhollyOntoItsScreen()
    {
        const QRect wide(0, 0, 1600, 1000);
        const QRect right(1600, 0, 1280, 1024);
        const QSize least(600, 700);
        const struct {
            const char *name;
            QRect frame;
            QList<QRect> screens;
            QRect fitted;
        } cases[] = {
            {"fits: stays", {20, 20, 662, 870}, {wide}, {20, 20, 662, 870}},
            {"below the bottom: moved up", {0, 400, 662, 870}, {wide}, {0, 130, 662, 870}},
            {"right of the edge: moved left", {1200, 50, 662, 870}, {wide}, {938, 50, 662, 870}},
            {"above and left: moved down and right", {-100, -30, 662, 870}, {wide}, {0, 0, 662, 870}},
            {"taller than the screen: made smaller", {0, 100, 662, 870}, {{0, 0, 1024, 768}}, {0, 0, 662, 768}},
            {"screen smaller than its least: the least, where it can be grabbed", {0, 100, 662, 870},
             {{0, 0, 800, 600}}, {0, 100, 662, 700}},
            {"screen smaller than its least, title bar off: at the top", {0, 590, 662, 870}, {{0, 0, 800, 600}},
             {0, 0, 662, 700}},
            {"on no screen: the nearest", {3000, 500, 662, 870}, {wide, right}, {2218, 154, 662, 870}},
            {"across two screens: the one showing most", {1500, 0, 662, 870}, {wide, right}, {1600, 0, 662, 870}},
            {"no screens known: stays", {-50, -50, 662, 870}, {}, {-50, -50, 662, 870}},
        };
        for (const auto &c : cases) {
            const QRect got = fitOnScreen(c.frame, least, c.screens);
            QVERIFY2(got == c.fitted, qPrintable(QStringLiteral("%1: got %2,%3 %4x%5")
                                                      .arg(QLatin1String(c.name))
                                                      .arg(got.x())
                                                      .arg(got.y())
                                                      .arg(got.width())
                                                      .arg(got.height())));
        }
    }

    // A value that changes (the clock, every second) repaints its label and
    // nothing around it: no layout above it is asked to work again, which
    // would repaint the whole tab page. A text wider than any before still
    // gets room, once.
    void aValueLabelChangesWithoutLayingOutItsWindow()
    {
        QWidget window;
        auto *outer = new QVBoxLayout(&window);
        auto *tabs = new QTabWidget(&window);
        outer->addWidget(tabs);
        auto *page = new QWidget;
        auto *grid = new QGridLayout(page);
        tabs->addTab(page, QStringLiteral("Page"));
        QLabel *clock = valueLabel(page, QStringLiteral("ShowTime"), QStringLiteral("00:00:00"), QStringLiteral("Time"));
        grid->addWidget(new QLabel(QStringLiteral("Time"), page), 0, 0);
        grid->addWidget(clock, 0, 1);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        struct LayoutRequests : QObject {
            int count = 0;
            bool eventFilter(QObject *, QEvent *e) override
            {
                count += e->type() == QEvent::LayoutRequest;
                return false;
            }
        } requests;
        tabs->installEventFilter(&requests);
        page->installEventFilter(&requests);
        const QSize size = clock->size();
        for (const char *t : {"12:00:01", "12:00:02", "7", "123456"}) {
            clock->setText(QString::fromLatin1(t));
            QCoreApplication::processEvents();
        }
        QCOMPARE(requests.count, 0);
        QCOMPARE(clock->size(), size);

        const QString wide = QStringLiteral("Receiving Signal, a long state");
        clock->setText(wide);
        QTRY_VERIFY(clock->width() >= clock->fontMetrics().horizontalAdvance(wide));
        const int grown = clock->width();
        clock->setText(QStringLiteral("1"));
        QCoreApplication::processEvents();
        QCOMPARE(clock->width(), grown);
    }
    // Painted when idle, the changes of several handlers in one moment cost
    // one paint of the window, after them all; paintNow() paints at once.
    void changesOfOneMomentArePaintedOnceWhenIdle()
    {
        QWidget window;
        auto *v = new QVBoxLayout(&window);
        QLabel *a = valueLabel(&window, QStringLiteral("A"), QStringLiteral("0"), QStringLiteral("A"));
        QLabel *b = valueLabel(&window, QStringLiteral("B"), QStringLiteral("0"), QStringLiteral("B"));
        v->addWidget(a);
        v->addWidget(b);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::qWait(20);
        // A paint of the window is one update request reaching it.
        struct Paints : QObject {
            int count = 0;
            bool eventFilter(QObject *, QEvent *e) override
            {
                count += e->type() == QEvent::UpdateRequest;
                return false;
            }
        } paints;
        window.installEventFilter(&paints);

        Program::paintWhenIdle(true);
        a->setText(QStringLiteral("1"));
        Program::doEvents();
        b->setText(QStringLiteral("2"));
        Program::doEvents();
        QCOMPARE(paints.count, 0);
        // The event loop about to wait for more is the idle moment.
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
        QCOMPARE(paints.count, 1);

        a->setText(QStringLiteral("3"));
        Program::paintNow();
        QCOMPARE(paints.count, 2);
        Program::paintWhenIdle(false);
    }

    // Once painted, a value label paints itself whole: a new value repaints
    // neither the frame around it nor anything else, and looks as a label
    // painted over its frame does.
    void aValueLabelRepaintsNothingBeneathIt()
    {
        auto build = [](QWidget &window, bool value) {
            auto *v = new QVBoxLayout(&window);
            auto *box = new QGroupBox(QStringLiteral("Idents"), &window);
            v->addWidget(box);
            auto *g = new QGridLayout(box);
            QLabel *l = value ? valueLabel(box, QStringLiteral("L"), QStringLiteral("600"), QStringLiteral("L"))
                              : new QLabel(QStringLiteral("600"), box);
            g->addWidget(l, 0, 0);
            window.show();
            return std::make_pair(box, l);
        };
        QWidget plainWindow, valueWindow;
        auto [plainBox, plain] = build(plainWindow, false);
        auto [box, label] = build(valueWindow, true);
        plain->setFixedSize(label->size());
        QVERIFY(QTest::qWaitForWindowExposed(&valueWindow));
        QTest::qWait(30);

        struct Paints : QObject {
            int count = 0;
            bool eventFilter(QObject *, QEvent *e) override
            {
                count += e->type() == QEvent::Paint;
                return false;
            }
        } paints;
        box->installEventFilter(&paints);
        for (const char *t : {"599", "598", "597"}) {
            label->setText(QString::fromLatin1(t));
            QTest::qWait(5);
        }
        QCOMPARE(paints.count, 0);
        plain->setText(QStringLiteral("597"));
        auto onScreen = [](QWidget &window, QWidget *w) {
            return window.grab(QRect(w->mapTo(&window, QPoint(0, 0)), w->size()))
                .toImage()
                .convertToFormat(QImage::Format_RGB32);
        };
        QCOMPARE(onScreen(valueWindow, label), onScreen(plainWindow, plain));
    }
};

QTEST_MAIN(TestControls)
#include "test_controls.moc"
