#include "support/mainfixture.h"

#include "ui/program.h"
#include "ui/questions.h"

namespace mirelva::test {

MainFixture::MainFixture(Start start) : MainFixture(std::make_shared<TempSettings>(), start) {}

MainFixture::MainFixture(std::shared_ptr<TempSettings> folder, Start start)
    : settingsOwner(std::move(folder)), settings(*settingsOwner)
{
    Program::resetForTests();
    // No dialog may ever wait for a hand; a test that expects a question
    // installs its own answerer.
    Questions::setAnswererForTests([](const QString &, const QString &) { return Questions::Answer::No; });
    Questions::setInformerForTests([this](Questions::Icon, const QString &title, const QString &text) {
        messages << title + QStringLiteral(" | ") + text;
    });
    station.node = &node;
    station.voice = &voice;
    window = std::make_unique<MainWindow>(station);
    if (start != Built)
        load(start == LoadedKeepRequests);
}

MainFixture::~MainFixture()
{
    window.reset();
    Questions::setAnswererForTests({});
    Questions::setInformerForTests({});
}

void MainFixture::load(bool keepRequests)
{
    window->Form_Load();
    if (!keepRequests)
        node.clearRecords();
}

std::unique_ptr<MainFixture> MainFixture::restart(Start start) const
{
    return std::unique_ptr<MainFixture>(new MainFixture(settingsOwner, start));
}

} // namespace mirelva::test
