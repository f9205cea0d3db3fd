#include <functional>
#include <thread>

#include <QApplication>
#include <QDBusConnection>
#include <QFontMetrics>
#include <QTimer>

#include "announcer/mainwindow.h"
#include "ui/espeakvoice.h"
#include "core/nodebackend.h"
#include "core/nodelinkconfig.h"
#include "core/onairlog.h"
#include "core/programoptions.h"
#include "ui/program.h"
#include "ui/station.h"
#include "core/version.h"
#include "node/console/nodeconsole.h"
#include "node/client/nodefactory.h"
#include "node/simulated/simulatednode.h"
#include "station/windowstation.h"
#include "web/webconsole.h"
#include "web/webpassword.h"

using namespace mirelva;

namespace {

// Runs `then` once, right after `window` has been painted for the first time.
void afterFirstPaint(QWidget *window, std::function<void()> then)
{
    class Watcher : public QObject {
    public:
        Watcher(QObject *parent, std::function<void()> f) : QObject(parent), m_then(std::move(f)) {}
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::Paint && m_then) {
                QTimer::singleShot(0, parent(), std::exchange(m_then, {}));
                deleteLater();
            }
            return false;
        }

    private:
        std::function<void()> m_then;
    };
    window->installEventFilter(new Watcher(window, std::move(then)));
}

// The screen reader's bridge connects to the session bus when the first widget
// is given a spoken name, and the window's build waits for it; with no bus to
// be found, libdbus even starts one. Connected on a thread of its own while
// the fonts load, the two waits overlap instead of adding up.
std::jthread connectSessionBusMeanwhile()
{
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("xcb") && !platform.startsWith(QLatin1String("wayland")))
        return {};
    return std::jthread([] { QDBusConnection::sessionBus(); });
}

// How long start-up waits for the node's first state so that the captions
// carry the own callsign.
constexpr int kFirstStateWaitMs = 3000;
// How long the other windows wait for the main window's first paint; one that
// is not painted by then (on no screen anyone looks at) does not hold up the
// station.
constexpr int kFirstPaintWaitMs = 2000;

} // namespace

int main(int argc, char *argv[])
{
    ProgramOptions options(QStringLiteral("mirelva"),
                           QStringLiteral("Mirelva, the station announcer for an EchoLink node. Settings: the INI "
                                          "files in Mirelva's settings folder; Qt's own options (-platform, "
                                          "-display, ...) are understood too."));
    const QCommandLineOption headlessOpt = options.flag(
        QStringLiteral("headless"), QStringLiteral("Run with no display: the same windows, drawn where nobody sees "
                                                   "them; the web console (web.ini) is how the station is watched."));
    const QCommandLineOption passwordOpt = options.flag(
        QStringLiteral("set-web-password"), QStringLiteral("Read the web console's password from the terminal or "
                                                           "standard input, store its hash in web.ini, and end."));
    if (const std::optional<int> end = options.read(argc, argv, ProgramOptions::Unknown::LeaveToQt))
        return *end;

    // Sets the web console's password and ends: no window, no node.
    if (options.isSet(passwordOpt)) {
        QCoreApplication core(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Mirelva"));
        if (const std::optional<int> end = options.refuseLeftovers(QCoreApplication::arguments()))
            return *end;
        return WebPassword::setFromStandardInput();
    }
    // A station with no screen: the same windows, drawn where nobody sees
    // them; the web console is how it is watched.
    if (options.isSet(headlessOpt))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mirelva"));
    // Qt has taken its own options out; anything else is a mistake, told
    // before the station starts rather than ignored.
    if (const std::optional<int> end = options.refuseLeftovers(QCoreApplication::arguments()))
        return *end;

    // One copy per user: a second one ends at once, silently and successfully,
    // before it touches a settings file or the node.
    if (!Program::claimSingleCopy())
        return 0;
    Program::paintWhenIdle(true);
    std::jthread sessionBus = connectSessionBusMeanwhile();
    QFontMetrics(QApplication::font()).height();

    const NodeLinkConfig config = NodeLinkConfig::load();
    std::unique_ptr<NodeBackend> node = makeNodeBackend(config);
    // The speech engine loads its data once the window has been painted.
    EspeakVoice voice(config.audioDevice, config.recordDir, EspeakVoice::EngineStart::Later);

    tellNodeOfSpeech(voice, *node, config.audioDevice == kNodeAudioDevice);
    logNodeNotices(*node);

    waitForFirstState(node.get(), kFirstStateWaitMs);

    if (sessionBus.joinable())
        sessionBus.join();

    Station station;
    station.node = node.get();
    station.voice = &voice;

    // The main window is loaded and painted first, the operator's window
    // mattering first; the other windows load right after its first paint.
    // Until they are loaded nothing runs but the painting: no timer, no
    // socket, no input, and the node's events wait (Form_Load holds them),
    // so no tick or event meets a station with some of its windows missing.
    MainWindow window(station);
    window.transmitTimeoutMs = config.transmitTimeoutSeconds * 1000LL;
    window.Form_Load(MainWindow::OtherWindows::Later);
    // Ended while loading: the event loop must not start (an end asked for
    // before it runs would be forgotten by it).
    if (Program::ended())
        return 0;

    // Start-up is timed by the "started" line: the window has been painted.
    const QString started = QStringLiteral("Mirelva %1 started").arg(versionText());
    if (Program::waitForFirstPaint(&window, kFirstPaintWaitMs))
        OnAirLog::note(started);
    else
        afterFirstPaint(&window, [started] { OnAirLog::note(started); });
    window.loadOtherWindows();
    if (Program::ended())
        return 0;
    OnAirLog::note(QStringLiteral("all windows loaded"));
    voice.startEngine();

    // With the built-in node its console opens beside the window.
    std::unique_ptr<NodeConsole> console;
    if (auto *sim = qobject_cast<SimulatedNode *>(node.get())) {
        console = std::make_unique<NodeConsole>(sim);
        console->placeBeside(&window);
        // The operator starts in the station's window, not in the console.
        console->setAttribute(Qt::WA_ShowWithoutActivating);
        console->show();
    }
    // The web console, when web.ini enables it, begins to listen once the
    // event loop runs: nothing before it waits for it.
    // It sees the station through its port, never the windows themselves.
    WindowStation port(station);
    const std::unique_ptr<WebConsole> web = WebConsole::startLaterIfEnabled(port);

    return app.exec();
}
