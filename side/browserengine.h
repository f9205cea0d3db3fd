#pragma once

#include <functional>

#include <QString>
#include <QUrl>

class QWidget;

namespace mirelva {

// The embedded browser behind the web tools window's view. The real one (Qt
// WebEngine) lives in a module of its own, mirelva_webview.so, loaded the
// first time a page is opened, so a station that never opens one neither
// loads the engine's libraries at start-up nor carries their memory.
class BrowserEngine {
public:
    virtual ~BrowserEngine() = default;
    virtual QWidget *widget() = 0;
    virtual void navigate(const QUrl &url) = 0;
    virtual QUrl url() const = 0;
    virtual QString title() const = 0;
};

// What the module exports, under this C name.
using LoadFinished = std::function<void(bool ok)>;
using CreateBrowserEngine = BrowserEngine *(*)(QWidget *parent, LoadFinished loadFinished);
inline constexpr const char *kCreateBrowserEngineSymbol = "mirelva_create_browser_engine";

} // namespace mirelva
