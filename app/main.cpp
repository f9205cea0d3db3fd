#include <QApplication>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>

#include "announcer/mainwindow.h"
#include "core/espeakvoice.h"
#include "core/nodebackend.h"
#include "core/nodelinkconfig.h"
#include "core/onairlog.h"
#include "core/station.h"
#include "core/version.h"
#include "node/nodeconsole.h"
#include "node/nodefactory.h"
#include "node/simulatednode.h"

using namespace mirelva;

namespace {

// One copy per user: a second one ends at once, silently and successfully,
// before it touches a settings file or the node.
QString lockPath()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir + QStringLiteral("/mirelva.lock");
}

// How long start-up waits for the node's first state so that the captions
// carry the own callsign.
constexpr int kFirstStateWaitMs = 3000;

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mirelva"));

    QLockFile lock(lockPath());
    lock.setStaleLockTime(0);
    if (!lock.tryLock(0))
        return 0;

    const NodeLinkConfig config = NodeLinkConfig::load();
    std::unique_ptr<NodeBackend> node = makeNodeBackend(config);
    EspeakVoice voice(config.audioDevice, config.recordDir);

    tellNodeOfSpeech(voice, *node);

    waitForFirstState(node.get(), kFirstStateWaitMs);

    Station station;
    station.node = node.get();
    station.voice = &voice;

    // The console hears the node's events before any window does, so its log
    // shows each event ahead of what the windows do about it.
    std::unique_ptr<NodeConsole> console;
    if (auto *sim = qobject_cast<SimulatedNode *>(node.get()))
        console = std::make_unique<NodeConsole>(sim);

    MainWindow window(station);
    window.Form_Load();

    if (console) {
        console->show();
        console->placeBeside(&window);
    }

    // Said once the window has had its first turn of the event loop, so the
    // log shows when the station came up (and start-up can be timed).
    QTimer::singleShot(0, &window, [] { OnAirLog::note(QStringLiteral("Mirelva %1 started").arg(versionText())); });

    return app.exec();
}
