// libFuzzer target for the web console's settings page: the JSON of a save
// as a page (or anyone with a session) may send it, made in the windows'
// own controls of the whole program on the built-in node. An input starting
// with "{" is the request's text as it came; any other is read as changes
// to one window's real settings, each "was" what the control holds, so the
// values reach the checks a control makes: the window (first byte), then
// per change a setting (a byte) and its value up to the next 0xFF. Whatever
// comes, the answer is one of the page's statuses with the fields it names,
// and a refused save leaves every setting of the window as it was.
//
//   build-fuzz/fuzz_websettings -max_total_time=60 tests/fuzz/websettings-corpus

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>

#include "announcer/mainwindow.h"
#include "core/onairlog.h"
#include "ui/program.h"
#include "ui/questions.h"
#include "core/settingsstore.h"
#include "core/speechvoice.h"
#include "ui/station.h"
#include "node/simulated/simulatednode.h"
#include "station/windowstation.h"
#include "web/webconsole.h"

using namespace mirelva;

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

class SilentVoice : public SpeechVoice {
protected:
    void play(const QString &, int) override {}
};

struct Whole {
    Whole()
    {
        QByteArray tmpl = (QDir::tempPath() + QStringLiteral("/mirelva-fuzz-XXXXXX")).toLocal8Bit();
        check(::mkdtemp(tmpl.data()) != nullptr);
        qputenv("XDG_CONFIG_HOME", tmpl);
        QDir().mkpath(SettingsStore::folder());
        OnAirLog::setEchoToStderr(false);
        Questions::setAnswererForTests([](const QString &, const QString &) { return Questions::Answer::No; });
        Questions::setInformerForTests([](Questions::Icon, const QString &, const QString &) {});
        station.node = &node;
        station.voice = &voice;
        window = std::make_unique<MainWindow>(station);
        window->Form_Load();
        page = std::make_unique<WindowStation>(station);
        console = std::make_unique<WebConsole>(*page, WebSettings{});
        for (const QJsonValue &w : page->describeSettings().value(QStringLiteral("windows")).toArray()) {
            QStringList keys;
            for (const QJsonValue &g : w[QStringLiteral("groups")].toArray())
                for (const QJsonValue &s : g[QStringLiteral("settings")].toArray())
                    keys << s[QStringLiteral("key")].toString();
            windows.append({w[QStringLiteral("id")].toString(), keys});
        }
        check(!windows.isEmpty());
    }
    // What the page shows of one window now: key -> value.
    std::map<QString, QString> shown(const QString &id) const
    {
        std::map<QString, QString> values;
        for (const QJsonValue &w : page->describeSettings().value(QStringLiteral("windows")).toArray())
            if (w[QStringLiteral("id")].toString() == id)
                for (const QJsonValue &g : w[QStringLiteral("groups")].toArray())
                    for (const QJsonValue &s : g[QStringLiteral("settings")].toArray())
                        values[s[QStringLiteral("key")].toString()] = s[QStringLiteral("value")].toString();
        return values;
    }
    SimulatedNode node;
    SilentVoice voice;
    Station station;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<WindowStation> page;
    std::unique_ptr<WebConsole> console;
    QList<std::pair<QString, QStringList>> windows;
};

Whole &program()
{
    static int argc = 1;
    static char name[] = "fuzz_websettings";
    static char *argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    static Whole p;
    return p;
}

// A save as the page posts it: read by the console, then made in its turn.
StationPort::Outcome save(Whole &p, const QJsonObject &request)
{
    std::optional<StationPort::Outcome> out;
    p.console->saveSettings(request, QStringLiteral("fuzz"), [&out](const StationPort::Outcome &o) { out = o; });
    for (int i = 0; i < 100 && !out; ++i)
        QCoreApplication::processEvents();
    check(out.has_value());
    return *out;
}

} // namespace

// The whole program is loaded, and its fonts and caches made, before the
// first input, so that only what an input itself leaves counts as a leak.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Whole &p = program();
    for (const auto &[id, keys] : p.windows)
        save(p, {{QStringLiteral("window"), id}, {QStringLiteral("changes"), QJsonArray()}});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Whole &p = program();
    if (size == 0)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QJsonObject request;
    QString id;
    if (bytes.startsWith('{')) {
        request = QJsonDocument::fromJson(bytes).object();
        id = request.value(QStringLiteral("window")).toString();
    } else {
        const auto &[windowId, keys] = p.windows.at(data[0] % p.windows.size());
        id = windowId;
        const std::map<QString, QString> now = p.shown(id);
        QJsonArray changes;
        for (const QByteArray &part : bytes.mid(1).split('\xff')) {
            if (part.isEmpty() || keys.isEmpty())
                continue;
            const QString key = keys.at(quint8(part[0]) % keys.size());
            const auto was = now.find(key);
            changes.append(QJsonObject{{QStringLiteral("key"), key},
                                       {QStringLiteral("value"), QString::fromUtf8(part.mid(1))},
                                       {QStringLiteral("was"), was == now.end() ? QString() : was->second}});
        }
        request = {{QStringLiteral("window"), id}, {QStringLiteral("changes"), changes}};
    }
    const std::map<QString, QString> before = p.shown(id);
    const StationPort::Outcome out = save(p, request);
    check(out.status == 200 || out.status == 400 || out.status == 409 || out.status == 500);
    if (out.status != 200) {
        check(!out.body.value(QStringLiteral("error")).toString().isEmpty());
        if (out.status == 400 || out.status == 409)
            check(p.shown(id) == before);
    }
    return 0;
}
