// The browser engine module: Qt WebEngine behind the BrowserEngine interface.
// Built as mirelva_webview.so and loaded by BrowserView the first time a page
// is opened, so the program itself never links the engine.

#include <unistd.h>

#include <QWebEngineView>

#include "side/browserengine.h"

// The engine's own set-up of the drawing context it shares with the windows.
// Linked programs get it run for them when the application starts; a module
// loaded later runs it itself before its first view, or the view crashes.
namespace QtWebEngineCore {
Q_DECL_IMPORT void initialize();
}

namespace {

class WebEngineBrowser : public QWebEngineView, public mirelva::BrowserEngine {
public:
    WebEngineBrowser(QWidget *parent, mirelva::LoadFinished finished) : QWebEngineView(parent)
    {
        connect(this, &QWebEngineView::loadFinished, this, [f = std::move(finished)](bool ok) {
            if (f)
                f(ok);
        });
    }

    QWidget *widget() override { return this; }
    void navigate(const QUrl &url) override { load(url); }
    QUrl url() const override { return QWebEngineView::url(); }
    QString title() const override { return QWebEngineView::title(); }
};

} // namespace

extern "C" Q_DECL_EXPORT mirelva::BrowserEngine *mirelva_create_browser_engine(QWidget *parent,
                                                                                mirelva::LoadFinished finished)
{
    // The engine's sandbox cannot run for the superuser. The program never
    // loads this module as root (BrowserView opens pages in the desktop's
    // browser then); only a test that runs as root and asks for the real
    // engine gets here, and gets the page rather than an empty view.
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QtWebEngineCore::initialize();
    return new WebEngineBrowser(parent, std::move(finished));
}
