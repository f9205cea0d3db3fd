#pragma once

#include <memory>

#include <QStringList>

#include "announcer/mainwindow.h"
#include "ui/station.h"
#include "node/simulated/simulatednode.h"
#include "support/fixture.h"

namespace mirelva::test {

// One station as the program builds it: a private settings folder, the
// simulated node, a recording voice and the main window, registered in the
// station. Each test case makes its own, so no state leaks between cases.
//
//   MainFixture f;                       // window built and loaded
//   MainFixture f(MainFixture::Built);   // built only: write mirelva.ini first,
//   f.settings.writeFile(...);           // then
//   f.load();                            // runs Form_Load
//
// The fixture starts a fresh program life (Program::resetForTests) and forgets
// the requests Form_Load made unless asked to keep them, so a test sees only
// what its own steps ask of the node.
class MainFixture {
public:
    enum Start { Built, Loaded, LoadedKeepRequests };
    explicit MainFixture(Start start = Loaded);
    ~MainFixture();

    void load(bool keepRequests = false);
    QStringList requests() const { return node.requestTexts(); }
    MainWindow &w() { return *window; }
    // Same settings folder, new node, voice and window: the next start.
    std::unique_ptr<MainFixture> restart(Start start = Loaded) const;

    std::shared_ptr<TempSettings> settingsOwner;
    TempSettings &settings;
    SimulatedNode node;
    RecordingVoice voice;
    Station station;
    std::unique_ptr<MainWindow> window;
    // The messages with an OK button shown meanwhile, as "title | text".
    QStringList messages;

private:
    MainFixture(std::shared_ptr<TempSettings> folder, Start start);
};

} // namespace mirelva::test
