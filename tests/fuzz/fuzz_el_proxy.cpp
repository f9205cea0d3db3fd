// libFuzzer target for the proxy client's receive side: a proxy on loopback
// greets the client, then sends what the input holds, in pieces the input
// chooses: the rest of the nonce, datagrams, the directory's tunnelled TCP
// stream (read by a directory client asking for a list), system messages.
// Whatever comes, nothing is read past what arrived, the client is ready
// or has given up and waits to start over, and a datagram handed on is
// within the bound.
//
//   build-fuzz/fuzz_el_proxy -max_total_time=60 tests/fuzz/echolink-corpus/proxy

#include <cstdint>
#include <cstdlib>
#include <memory>

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>

#include "node/echolink/protocol/directory.h"
#include "node/echolink/protocol/proxy.h"

using namespace mirelva::echolink;

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

QCoreApplication &app()
{
    static int argc = 1;
    static char name[] = "fuzz_el_proxy";
    static char *argv[] = {name, nullptr};
    static QCoreApplication a(argc, argv);
    return a;
}

QTcpServer &server()
{
    static QTcpServer s;
    if (!s.isListening())
        check(s.listen(QHostAddress::LocalHost));
    return s;
}

} // namespace

// The first byte: the size of the pieces. Then the stream from the proxy,
// nonce first.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    app();
    if (size == 0)
        return 0;
    QTcpServer &s = server();
    Proxy proxy(QStringLiteral("127.0.0.1"), s.serverPort(), QStringLiteral("N0CALL-L"), QStringLiteral("secret"));
    int readies = 0, failures = 0;
    QObject::connect(&proxy, &Proxy::readyChanged, [&](bool on, const QString &) { ++(on ? readies : failures); });
    QObject::connect(&proxy, &Proxy::udpReceived, [](bool, const QHostAddress &, const QByteArray &datagram) {
        check(datagram.size() <= qsizetype(kMaxProxyPayload));
    });
    Directory dir({{QStringLiteral("10.1.2.3")}, QStringLiteral("N0CALL-L"), QStringLiteral("pw"), QStringLiteral("Here")},
                  proxy.tcpLink());
    QObject::connect(&proxy, &Proxy::readyChanged, &dir, [&dir](bool on) {
        if (on)
            dir.linkUsable();
    });
    proxy.start();
    std::unique_ptr<QTcpSocket> peer;
    for (int i = 0; i < 1000 && !peer; ++i) {
        s.waitForNewConnection(10);
        QCoreApplication::processEvents();
        peer.reset(s.nextPendingConnection());
    }
    check(peer != nullptr);
    // The client is connected when its socket says so; then it waits for
    // the nonce.
    for (int i = 0; i < 100; ++i)
        QCoreApplication::processEvents();
    dir.refreshList();
    const size_t piece = 1 + data[0] % 64;
    for (size_t at = 1; at < size; at += piece)
        proxy.receive(QByteArray(reinterpret_cast<const char *>(data) + at, qsizetype(std::min(piece, size - at))));
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
    check(readies <= 1);
    check(proxy.ready() ? failures == 0 : (readies == 0 || failures >= 1));
    peer->abort();
    while (QTcpSocket *more = s.nextPendingConnection())
        delete more;
    return 0;
}
