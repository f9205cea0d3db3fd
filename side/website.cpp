#include "side/website.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include "ui/questions.h"

namespace mirelva::WebSite {

namespace {

Launcher g_launcher;

constexpr int kOpened = 42;
constexpr int kFileNotFound = 2;
constexpr int kPathNotFound = 3;
constexpr int kNoAssociation = 31;

// A local file named by a path or a file: address.
bool isLocal(const QUrl &url) { return url.scheme().isEmpty() || url.isLocalFile(); }

} // namespace

int desktopOpen(const QString &address)
{
    const QString trimmed = address.trimmed();
    if (trimmed.isEmpty())
        return kFileNotFound;
    QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid())
        return kFileNotFound;
    if (isLocal(url)) {
        const QString path = url.isLocalFile() ? url.toLocalFile() : trimmed;
        const QFileInfo file(path);
        if (!file.exists())
            return file.absoluteDir().exists() ? kFileNotFound : kPathNotFound;
        url = QUrl::fromLocalFile(file.absoluteFilePath());
    }
    // The desktop says only whether a handler took the address.
    return QDesktopServices::openUrl(url) ? kOpened : kNoAssociation;
}

void OpenAddress(const QString &address)
{
    const int code = g_launcher ? g_launcher(address) : desktopOpen(address);
    if (code > 32)
        return;
    const QString title = QStringLiteral("Mirelva");
    if (code == kNoAssociation) {
        Questions::inform(nullptr, Questions::Icon::Warning, title,
                          QStringLiteral("No Association Found for HTTP Addresses. ")
                              + QStringLiteral("A Web Browser Should be Installed or Reinstalled."));
    } else if (code == kFileNotFound || code == kPathNotFound) {
        Questions::inform(nullptr, Questions::Icon::Warning, title,
                          QStringLiteral("The '") + address + QStringLiteral("' File or Path was Not Found."));
    } else {
        Questions::inform(nullptr, Questions::Icon::Error, title,
                          QStringLiteral("An error occurred attempting to open '") + address
                              + QStringLiteral("' (ShellExecute code ") + QString::number(code)
                              + QStringLiteral(")."));
    }
}

void setLauncherForTests(Launcher launcher) { g_launcher = std::move(launcher); }

} // namespace mirelva::WebSite
