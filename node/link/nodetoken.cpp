#include "node/link/nodetoken.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "core/settingsstore.h"

namespace mirelva::nodelink {

namespace {

constexpr int kTokenBytes = 32;   // 256 bits, written as 64 hex digits
constexpr int kMaxFileBytes = 256;

QString systemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

// A token is what the node wrote: hex digits, one line.
std::optional<QByteArray> tokenIn(const QByteArray &contents)
{
    const QByteArray t = contents.trimmed();
    if (t.size() < 32 || t.size() > 128)
        return std::nullopt;
    for (char ch : t)
        if (!std::isxdigit(static_cast<unsigned char>(ch)))
            return std::nullopt;
    return t;
}

std::optional<QByteArray> readOpen(int fd, const QString &path, QString *error)
{
    char buf[kMaxFileBytes + 1];
    ssize_t n;
    do
        n = ::read(fd, buf, sizeof buf);
    while (n < 0 && errno == EINTR);
    const QString why = n < 0 ? systemError() : QString();
    ::close(fd);
    if (n < 0) {
        if (error)
            *error = QStringLiteral("token file %1: %2").arg(path, why);
        return std::nullopt;
    }
    const std::optional<QByteArray> t = tokenIn(QByteArray(buf, int(n)));
    if (!t && error)
        *error = QStringLiteral("token file %1 holds no token").arg(path);
    return t;
}

} // namespace

QString defaultTokenFile() { return SettingsStore::pathOf(QStringLiteral("nodelink.token")); }

QString nodeTokenFile()
{
    for (const char *variable : {"STATE_DIRECTORY", "RUNTIME_DIRECTORY"}) {
        const QString folder = qEnvironmentVariable(variable).section(QLatin1Char(':'), 0, 0);
        if (!folder.isEmpty() && QDir::isAbsolutePath(folder))
            return folder + QStringLiteral("/nodelink.token");
    }
    return defaultTokenFile();
}

std::optional<QByteArray> loadOrCreateToken(const QString &path, QString *error)
{
    auto fail = [error, &path](const QString &why) -> std::optional<QByteArray> {
        if (error)
            *error = QStringLiteral("token file %1: %2").arg(path, why);
        return std::nullopt;
    };
    const QByteArray name = QFile::encodeName(path);
    int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        struct stat st;
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 077)) {
            ::close(fd);
            return fail(QStringLiteral("must be a file of this user that nobody else may read (mode 0600)"));
        }
        return readOpen(fd, path, error);
    }
    if (errno == ELOOP)
        return fail(QStringLiteral("is a symbolic link; refused"));
    if (errno != ENOENT)
        return fail(systemError());

    unsigned char raw[kTokenBytes];
    size_t got = 0;
    while (got < sizeof raw) {
        const ssize_t n = ::getrandom(raw + got, sizeof raw - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(QStringLiteral("no random bytes: ") + systemError());
        got += size_t(n);
    }
    const QByteArray token = QByteArray(reinterpret_cast<const char *>(raw), kTokenBytes).toHex();
    // The settings folder may not be there yet on a first start.
    SettingsStore::makeOwnFolder(QFileInfo(path).absolutePath());
    fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return fail(QStringLiteral("cannot create it: ") + systemError());
    const QByteArray line = token + '\n';
    const bool written = ::write(fd, line.constData(), size_t(line.size())) == line.size() && ::fsync(fd) == 0;
    const QString why = written ? QString() : systemError();
    ::close(fd);
    if (!written) {
        ::unlink(name.constData());
        return fail(QStringLiteral("cannot write it: ") + why);
    }
    return token;
}

std::optional<QByteArray> readToken(const QString &path, QString *error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (error)
            *error = QStringLiteral("token file %1: %2").arg(path, systemError());
        return std::nullopt;
    }
    return readOpen(fd, path, error);
}

} // namespace mirelva::nodelink
