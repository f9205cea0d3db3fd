#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QLabel>
#include <QWidget>

#include "side/browserengine.h"

namespace mirelva {

// The web tools window's browser view (WebBrowser1). It is an empty panel
// until the first page is asked for; only then is the browser engine loaded
// and put inside it. A page asked for while the window is hidden (the
// automatic look-up of a connecting station) is opened when the window is
// next shown, so a station that never looks at the window never starts the
// engine; the latest such page wins.
class BrowserView : public QWidget {
    Q_OBJECT
public:
    explicit BrowserView(const QString &name, QWidget *parent = nullptr);
    ~BrowserView() override;

    // Opens the address in the view. A page that does not load leaves no
    // message; without a browser engine the panel says why none can be shown.
    void Navigate(const QString &address);

    // The address last asked for, empty before the first.
    QString LocationURL() const { return m_requested; }
    // True while a page asked for waits for the window to be shown.
    bool navigationPending() const { return m_pending; }
    bool engineCreated() const { return m_engine != nullptr; }
    // The page shown (its title), empty without an engine.
    QString pageTitle() const;
    // Why no engine could be made; empty while none was needed or when it was.
    QString unavailableReason() const { return m_unavailable; }

    // Run as root, no page is shown inside the program: the engine's
    // renderer cannot be sandboxed for the superuser, and a page from the
    // net must not run unsandboxed in a program that keys a transmitter. The
    // page opens in the desktop's browser instead, and the panel says why.
    static bool runsAsRoot();
    static void setRunsAsRootForTests(std::optional<bool> root);
    static QString rootNotice();

    using EngineFactory = std::function<BrowserEngine *(QWidget *parent, LoadFinished loadFinished)>;
    // Tests put an engine of their own in place of the module's.
    static void setEngineFactoryForTests(EngineFactory factory);
    // Where the module is looked for, in order.
    static QStringList moduleCandidates();

signals:
    void loadFinished(bool ok);

protected:
    void showEvent(QShowEvent *event) override;

private:
    bool ensureEngine();
    void openRequested();

    std::unique_ptr<BrowserEngine> m_engine;
    QLabel *m_notice = nullptr;
    QString m_requested;
    QString m_unavailable;
    bool m_pending = false;
};

} // namespace mirelva
