#include <QApplication>

#include "announcer/mainwindow.h"
#include "core/espeakvoice.h"
#include "core/nodelinkconfig.h"
#include "core/station.h"
#include "node/simulatednode.h"

using namespace mirelva;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mirelva"));

    const NodeLinkConfig config = NodeLinkConfig::load();
    SimulatedNode node;
    EspeakVoice voice(config.audioDevice, config.recordDir);

    Station station;
    station.node = &node;
    station.voice = &voice;

    MainWindow window(station);
    window.Form_Load();
    return app.exec();
}
