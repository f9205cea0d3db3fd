// libFuzzer target for the web console past the head parser: a request as
// any client may send it reaches the console over loopback, through two
// proxies web.ini names. The front decides on its length and transfer
// coding, reads its body within the bound, the console reads the client's
// address from X-Forwarded-For and the session from Cookie. Whatever comes,
// the answer is one HTTP/1.1 response or none, and the connections held stay
// within the front's limit.
//
//   build-fuzz/fuzz_webconsole -max_total_time=60 tests/fuzz/web-corpus

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QTcpSocket>

#include "core/onairlog.h"
#include "core/settingsstore.h"
#include "ui/station.h"
#include "station/windowstation.h"
#include "web/webconsole.h"
#include "web/webfront.h"
#include "web/webpassword.h"

using namespace mirelva;

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

struct Console {
    Console()
    {
        QByteArray tmpl = (QDir::tempPath() + QStringLiteral("/mirelva-fuzz-XXXXXX")).toLocal8Bit();
        check(::mkdtemp(tmpl.data()) != nullptr);
        qputenv("XDG_CONFIG_HOME", tmpl);
        QDir().mkpath(SettingsStore::folder());
        OnAirLog::setEchoToStderr(false);
        WebSettings s;
        s.port = 0;
        s.passwordHash = WebPassword::hash(QStringLiteral("fuzz password"), 1);
        s.proxies = {QStringLiteral("127.0.0.1"), QStringLiteral("192.0.2.9")};
        console = std::make_unique<WebConsole>(port, s);
        QString why;
        check(console->start(&why));
    }
    Station station;   // no windows: a station still loading
    WindowStation port{station};
    std::unique_ptr<WebConsole> console;
};

Console &console()
{
    static int argc = 1;
    static char name[] = "fuzz_webconsole";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static Console c;
    return c;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Console &c = console();
    WebFront *front = c.console->front();
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, front->port());
    for (int i = 0; i < 200 && client.state() != QAbstractSocket::ConnectedState; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    check(client.state() == QAbstractSocket::ConnectedState);
    client.write(reinterpret_cast<const char *>(data), qint64(size));
    client.flush();
    QByteArray answer;
    for (int i = 0; i < 50; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        answer += client.readAll();
        if (client.state() != QAbstractSocket::ConnectedState)
            break;
    }
    check(answer.isEmpty() || answer.startsWith("HTTP/1.1 "));
    check(front->connectionCount() <= WebFront::kMaxConnections);
    client.abort();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    return 0;
}
