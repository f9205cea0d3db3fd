// libFuzzer target for the directory client's side of a command: a login's
// answer or a station list, as the server sends it, cut into pieces the
// input chooses, then the server's close. Whatever comes, the reply is held
// within its bound, a login ends in a status or a refusal, a list kept has
// only entries with an address, and the client takes its next command.
//
//   build-fuzz/fuzz_el_dirclient -max_total_time=60 tests/fuzz/echolink-corpus/dirclient

#include <cstdint>
#include <cstdlib>

#include <QCoreApplication>

#include "node/echolink/protocol/directory.h"

using namespace mirelva::echolink;

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

// The server's end: what the client opens and sends is counted, what the
// server says is handed over as given.
class FakeLink : public TcpLink {
public:
    void open(const QHostAddress &, quint16) override { ++opens; }
    void send(const QByteArray &) override { ++sends; }
    void close() override {}
    void say(const QByteArray &bytes) { emit received(bytes); }
    void hangUp() { emit closed(QString()); }
    int opens = 0;
    int sends = 0;
};

QCoreApplication &app()
{
    static int argc = 1;
    static char name[] = "fuzz_el_dirclient";
    static char *argv[] = {name, nullptr};
    static QCoreApplication a(argc, argv);
    return a;
}

void settle()
{
    for (int i = 0; i < 4; ++i)
        QCoreApplication::processEvents();
}

} // namespace

// The first byte picks the command (even: a login, odd: a list) and the
// size of the pieces; the rest is the server's reply.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    app();
    if (size == 0)
        return 0;
    FakeLink link;
    Directory dir({{QStringLiteral("127.0.0.1")}, QStringLiteral("N0CALL-L"), QStringLiteral("pw"), QStringLiteral("Here")},
                  &link);
    int listsFailed = 0;
    QObject::connect(&dir, &Directory::listFailed, [&listsFailed](const QString &) { ++listsFailed; });
    const bool list = data[0] & 1;
    if (list)
        dir.refreshList();
    else
        dir.makeOnline();
    settle();
    check(link.opens == 1 && link.sends == 1);
    const size_t piece = 1 + (data[0] >> 1);
    for (size_t at = 1; at < size; at += piece)
        link.say(QByteArray(reinterpret_cast<const char *>(data) + at, qsizetype(std::min(piece, size - at))));
    link.hangUp();
    settle();
    if (list) {
        check(dir.listsEnded() == 1);
        check(dir.listsReceived() + listsFailed >= 1);
        check(dir.stations().stations.size() <= kMaxListEntries);
        for (const StationEntry &e : dir.stations().stations)
            check(e.address.protocol() == QHostAddress::IPv4Protocol && !e.callsign.isEmpty());
    } else {
        const DirectoryStatus s = dir.status();
        check(s == DirectoryStatus::Online || s == DirectoryStatus::Unknown);
    }
    // Answered or refused, the client goes on: the next command is sent.
    const int opens = link.opens;
    dir.refreshList();
    settle();
    check(link.opens == opens + 1);
    return 0;
}
