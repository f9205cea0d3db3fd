#include "side/browserview.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QVBoxLayout>

namespace mirelva {

namespace {
BrowserView::EngineFactory g_factoryForTests;
std::optional<bool> g_rootForTests;

const QString kModuleName = QStringLiteral("mirelva_webview.so");

// Loaded once per program.
CreateBrowserEngine moduleFactory(QString &error)
{
    static CreateBrowserEngine create = nullptr;
    static QString lastError;
    static bool tried = false;
    if (!tried) {
        tried = true;
        QStringList failures;
        // Kept loaded for the program's life: the engine cannot be unloaded.
        static QLibrary library;
        for (const QString &path : BrowserView::moduleCandidates()) {
            if (!QFileInfo::exists(path))
                continue;
            library.setFileName(path);
            create = reinterpret_cast<CreateBrowserEngine>(library.resolve(kCreateBrowserEngineSymbol));
            if (create)
                break;
            failures << library.errorString();
        }
        if (!create)
            lastError = failures.isEmpty() ? QStringLiteral("the browser module %1 is not installed (package mirelva-webview)").arg(kModuleName)
                                           : failures.join(QStringLiteral("; "));
    }
    error = lastError;
    return create;
}
} // namespace

BrowserView::BrowserView(const QString &name, QWidget *parent) : QWidget(parent)
{
    setObjectName(name);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
}

BrowserView::~BrowserView() = default;

QStringList BrowserView::moduleCandidates()
{
    QStringList dirs;
    if (QCoreApplication::instance()) {
        const QString here = QCoreApplication::applicationDirPath();
        dirs << here << here + QStringLiteral("/../lib/mirelva");
    }
#ifdef MIRELVA_BUILD_DIR
    // Test programs run from a folder below the build, and find the module
    // there; an installed program never looks into the folder it was built in.
    const QString build = QDir::cleanPath(QStringLiteral(MIRELVA_BUILD_DIR));
    if (QCoreApplication::instance()
        && (QDir::cleanPath(QCoreApplication::applicationDirPath()) + QLatin1Char('/')).startsWith(build + QLatin1Char('/')))
        dirs << build;
#endif
    QStringList paths;
    for (const QString &d : dirs)
        paths << QDir::cleanPath(d + QLatin1Char('/') + kModuleName);
    paths.removeDuplicates();
    return paths;
}

void BrowserView::setEngineFactoryForTests(EngineFactory factory) { g_factoryForTests = std::move(factory); }

bool BrowserView::runsAsRoot() { return g_rootForTests.value_or(::geteuid() == 0); }

void BrowserView::setRunsAsRootForTests(std::optional<bool> root) { g_rootForTests = root; }

QString BrowserView::rootNotice()
{
    return QStringLiteral("Mirelva runs as root, and the browser engine cannot keep a web page in its sandbox for "
                          "root: pages open in the desktop's browser instead.");
}

bool BrowserView::ensureEngine()
{
    if (m_engine)
        return true;
    if (!m_unavailable.isEmpty())
        return false;
    const LoadFinished finished = [this](bool ok) { emit loadFinished(ok); };
    BrowserEngine *engine = nullptr;
    if (g_factoryForTests) {
        engine = g_factoryForTests(this, finished);
    } else {
        QString error;
        if (CreateBrowserEngine create = moduleFactory(error))
            engine = create(this, finished);
        else
            m_unavailable = error;
    }
    if (!engine) {
        if (m_unavailable.isEmpty())
            m_unavailable = QStringLiteral("the browser engine could not be started");
        m_notice = new QLabel(QStringLiteral("Web pages cannot be shown here: ") + m_unavailable + QLatin1Char('.'), this);
        m_notice->setObjectName(QStringLiteral("BrowserUnavailable"));
        m_notice->setTextFormat(Qt::PlainText);
        m_notice->setWordWrap(true);
        m_notice->setAlignment(Qt::AlignCenter);
        layout()->addWidget(m_notice);
        return false;
    }
    m_engine.reset(engine);
    layout()->addWidget(m_engine->widget());
    return true;
}

void BrowserView::Navigate(const QString &address)
{
    m_requested = address;
    m_pending = true;
    if (isVisible())
        openRequested();
}

void BrowserView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_pending)
        openRequested();
}

void BrowserView::openRequested()
{
    m_pending = false;
    if (runsAsRoot()) {
        if (!m_notice) {
            m_notice = new QLabel(rootNotice(), this);
            m_notice->setObjectName(QStringLiteral("BrowserUnavailable"));
            m_notice->setTextFormat(Qt::PlainText);
            m_notice->setWordWrap(true);
            m_notice->setAlignment(Qt::AlignCenter);
            layout()->addWidget(m_notice);
        }
        QDesktopServices::openUrl(QUrl(m_requested));
        return;
    }
    if (ensureEngine())
        m_engine->navigate(QUrl(m_requested));
}

QString BrowserView::pageTitle() const { return m_engine ? m_engine->title() : QString(); }

} // namespace mirelva
