#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include "dtmf/dtmfwindow.h"
#include "greeting/greetingwindow.h"
#include "messagebox/messageboxwindow.h"
#include "side/aboutwindow.h"
#include "side/webtoolswindow.h"
#include "speech_settings/speechsettingswindow.h"
#include "support/mainfixture.h"

using namespace mirelva;
using namespace mirelva::test;

namespace {

// Three screens of the sizes stations have, far apart so that no window
// spills from one onto another; the window frames are drawn 2 px wide.
const QList<QRect> kScreens{{0, 0, 1024, 768}, {0, 2000, 1280, 1024}, {0, 4000, 1920, 1080}};

QByteArray platformConfig()
{
    QByteArray screens;
    for (const QRect &s : kScreens)
        screens += QStringLiteral(R"({"name": "S%1x%2", "x": %3, "y": %4, "width": %1, "height": %2,
                                     "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1},)")
                       .arg(s.width())
                       .arg(s.height())
                       .arg(s.x())
                       .arg(s.y())
                       .toUtf8();
    screens.chop(1);
    return R"({"windowFrameMargins": true, "screens": [)" + screens + "]}";
}

} // namespace

// At a first start every window opens beside the main window, wholly on its
// screen, frame and all, however small the screen.
class TestWindowPlacement : public QObject {
    Q_OBJECT
private slots:
    void everyWindowOpensWhollyOnItsScreen()
    {
        QCOMPARE(QGuiApplication::screens().size(), kScreens.size());
        for (const QRect &screen : kScreens) {
            MainFixture f(MainFixture::Built);
            // The main window where a first start puts it (300 twips in),
            // on this screen.
            f.settings.writeFile(QStringLiteral("mirelva.ini"),
                                 QStringLiteral("[SETTINGS]\nLEFT=%1\nTOP=%2\n")
                                     .arg((screen.x() + 20) * 15)
                                     .arg((screen.y() + 20) * 15)
                                     .toUtf8());
            f.load();
            MainWindow &w = f.w();
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            const Station &st = f.station;
            const QList<std::pair<QPushButton *, QWidget *>> opened{
                {w.Command9, st.dtmf},         {w.Command8, st.speechSettings}, {w.Command13, st.greeting},
                {w.Command1, st.messageBox},   {w.Command12, st.webTools},      {w.Command3, st.about},
            };
            QList<QWidget *> shown{&w};
            for (const auto &[button, window] : opened) {
                button->click();
                QVERIFY(QTest::qWaitForWindowExposed(window));
                QCoreApplication::processEvents();
                shown << window;
            }
            for (QWidget *window : shown) {
                const QRect frame = window->frameGeometry();
                QVERIFY2(screen.contains(frame),
                         qPrintable(QStringLiteral("%1x%2: %3 at %4,%5 %6x%7")
                                        .arg(screen.width())
                                        .arg(screen.height())
                                        .arg(window->objectName())
                                        .arg(frame.x() - screen.x())
                                        .arg(frame.y() - screen.y())
                                        .arg(frame.width())
                                        .arg(frame.height())));
                window->hide();
            }
        }
    }
};

int main(int argc, char **argv)
{
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("screens.json"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly) || file.write(platformConfig()) < 0)
        return 1;
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toLocal8Bit());
    QApplication app(argc, argv);
    TestWindowPlacement test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_window_placement.moc"
