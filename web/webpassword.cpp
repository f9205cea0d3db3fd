#include "web/webpassword.h"

#include <cstdio>
#include <iostream>
#include <string>

#include <termios.h>
#include <unistd.h>

#include <QFile>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

#include "core/settingsstore.h"
#include "web/websettings.h"

namespace mirelva::WebPassword {

namespace {

const QString kScheme = QStringLiteral("pbkdf2-sha256");
constexpr int kMaxIterations = 10000000;

bool sameBytes(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

void say(const char *text)
{
    std::fputs(text, stderr);
    std::fflush(stderr);
}

// One line from standard input; without echo when it is a terminal.
bool readLine(bool terminal, std::string *line)
{
    termios saved{};
    if (terminal) {
        tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    const bool ok = bool(std::getline(std::cin, *line));
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        say("\n");
    }
    if (!line->empty() && line->back() == '\r')
        line->pop_back();
    return ok;
}

} // namespace

QByteArray pbkdf2Sha256(const QByteArray &password, const QByteArray &salt, int iterations)
{
    // One block of output (32 bytes) is all a password check needs.
    QMessageAuthenticationCode mac(QCryptographicHash::Sha256, password);
    mac.addData(salt + QByteArray("\0\0\0\1", 4));
    QByteArray u = mac.result();
    QByteArray t = u;
    for (int i = 1; i < iterations; ++i) {
        mac.reset();
        mac.addData(u);
        u = mac.result();
        for (qsizetype j = 0; j < t.size(); ++j)
            t[j] = char(t[j] ^ u[j]);
    }
    return t;
}

QString hash(const QString &password, int iterations)
{
    QByteArray salt(16, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(salt.data()), salt.size() / 4);
    const QByteArray derived = pbkdf2Sha256(password.toUtf8(), salt, iterations);
    return QStringLiteral("%1$%2$%3$%4")
        .arg(kScheme)
        .arg(iterations)
        .arg(QString::fromLatin1(salt.toBase64()), QString::fromLatin1(derived.toBase64()));
}

bool verify(const QString &password, const QString &stored)
{
    const QStringList parts = stored.split(QLatin1Char('$'));
    if (parts.size() != 4 || parts[0] != kScheme)
        return false;
    bool ok = false;
    const int iterations = parts[1].toInt(&ok);
    if (!ok || iterations < 1 || iterations > kMaxIterations)
        return false;
    const QByteArray salt = QByteArray::fromBase64(parts[2].toLatin1());
    const QByteArray expected = QByteArray::fromBase64(parts[3].toLatin1());
    if (salt.isEmpty() || expected.size() != 32)
        return false;
    return sameBytes(pbkdf2Sha256(password.toUtf8(), salt, iterations), expected);
}

int setFromStandardInput()
{
    const bool terminal = isatty(STDIN_FILENO);
    std::string first, second;
    if (terminal)
        say("Web console password: ");
    if (!readLine(terminal, &first)) {
        say("mirelva: no password given; nothing changed\n");
        return 1;
    }
    if (terminal) {
        say("The same again: ");
        if (!readLine(terminal, &second) || second != first) {
            say("mirelva: the two passwords differ; nothing changed\n");
            return 1;
        }
    }
    const QString password = QString::fromStdString(first);
    if (password.size() < 8) {
        say("mirelva: a web console password needs at least 8 characters; nothing changed\n");
        return 1;
    }
    const SaveResult saved = SettingsStore::write(WebSettings::fileName(), QStringLiteral("PASSWORD"), hash(password));
    if (!saved) {
        const QByteArray line = QStringLiteral("mirelva: the password was not saved: %1\n").arg(saved.reason).toUtf8();
        say(line.constData());
        return 1;
    }
    // Only a hash, but nobody else need read it.
    QFile::setPermissions(SettingsStore::pathOf(WebSettings::fileName()), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray line = QStringLiteral("web console password saved (as a salted hash) in %1\n")
                                .arg(SettingsStore::pathOf(WebSettings::fileName()))
                                .toUtf8();
    say(line.constData());
    return 0;
}

} // namespace mirelva::WebPassword
