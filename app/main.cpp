#include <functional>

#include <QApplication>
#include <QTimer>

#include "announcer/mainwindow.h"
#include "core/espeakvoice.h"
#include "core/nodebackend.h"
#include "core/nodelinkconfig.h"
#include "core/onairlog.h"
#include "core/program.h"
#include "core/station.h"
#include "core/version.h"
#include "node/nodeconsole.h"
#include "node/nodefactory.h"
#include "node/simulatednode.h"

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

// How long start-up waits for the node's first state so that the captions
// carry the own callsign.
constexpr int kFirstStateWaitMs = 3000;

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mirelva"));

    // One copy per user: a second one ends at once, silently and successfully,
    // before it touches a settings file or the node.
    if (!Program::claimSingleCopy())
        return 0;

    const NodeLinkConfig config = NodeLinkConfig::load();
    std::unique_ptr<NodeBackend> node = makeNodeBackend(config);
    EspeakVoice voice(config.audioDevice, config.recordDir);

    tellNodeOfSpeech(voice, *node, config.audioDevice == kNodeAudioDevice);

    waitForFirstState(node.get(), kFirstStateWaitMs);

    Station station;
    station.node = node.get();
    station.voice = &voice;

    MainWindow window(station);
    window.transmitTimeoutMs = config.transmitTimeoutSeconds * 1000LL;
    window.Form_Load();
    // Ended while loading: the event loop must not start (an end asked for
    // before it runs would be forgotten by it).
    if (Program::ended())
        return 0;

    // Once the main window has been painted the station is up: the log says
    // so (start-up is timed by that line), and the built-in node's console
    // opens beside it. The console comes second because the operator's window
    // matters first.
    std::unique_ptr<NodeConsole> console;
    afterFirstPaint(&window, [&] {
        OnAirLog::note(QStringLiteral("Mirelva %1 started").arg(versionText()));
        if (auto *sim = qobject_cast<SimulatedNode *>(node.get())) {
            console = std::make_unique<NodeConsole>(sim);
            console->placeBeside(&window);
            console->show();
        }
    });

    return app.exec();
}
