// libFuzzer target for the node link's line handling: the bytes are a stream
// from a peer, cut into pieces, split into lines and read both as events and
// as requests. Whatever is accepted must write back to a line that reads the
// same; nothing may crash or hold more than one line. The same stream is also
// a whole connection to a node: its first line must admit it, with the token
// when one is wanted, or nothing after it counts.
//
//   CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DMIRELVA_FUZZ=ON
//   cmake --build build-fuzz --target fuzz_nodeprotocol
//   build-fuzz/fuzz_nodeprotocol -max_total_time=60 tests/fuzz/corpus

#include <cstdint>
#include <cstdlib>
#include <utility>

#include "node/link/nodeprotocol.h"

using namespace mirelva;
using namespace mirelva::nodelink;

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

void readLine(const QByteArray &line)
{
    const ParsedEvent e = parseEvent(line);
    if (e.status == ParseStatus::Ok) {
        const QByteArray out = e.event.toLine();
        check(out.endsWith('\n') && out.count('\n') == 1);
        const ParsedEvent again = parseEvent(out.chopped(1));
        check(again.status == ParseStatus::Ok && again.event.toLine() == out);
    } else {
        check(!e.error.isEmpty() && !e.error.contains(QLatin1Char('\n')));
    }
    const ParsedRequest r = parseRequest(line);
    if (r.status == ParseStatus::Ok && !r.isHello) {
        const QByteArray out = requestLine(r.request);
        const ParsedRequest again = parseRequest(out.chopped(1));
        check(again.status == ParseStatus::Ok && again.request.toJson() == r.request.toJson());
    }
}

const QByteArray kToken = QByteArrayLiteral("0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef");

// The node's view of a connection: the first line decides; a refusal says why.
void admit(const LineReader::Item &first)
{
    for (const QByteArray &wanted : {QByteArray(), kToken}) {
        const Admission a = admitFirstLine(first, wanted);
        if (!a.admitted) {
            check(!a.why.isEmpty() && !a.why.contains(QLatin1Char('\n')));
            continue;
        }
        check(!first.overlong);
        const ParsedRequest p = parseRequest(first.line);
        check(p.status == ParseStatus::Ok && p.isHello);
        check(wanted.isEmpty() || a.hello.token.toUtf8() == wanted);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    // A small limit so that overlong lines are reached often.
    constexpr int kLimit = 512;
    LineReader reader(kLimit);
    const qsizetype piece = 1 + (size ? data[0] % 97 : 0);
    bool first = true;
    for (qsizetype at = 0; at < bytes.size(); at += piece) {
        for (const LineReader::Item &item : reader.feed(bytes.mid(at, piece))) {
            if (std::exchange(first, false))
                admit(item);
            check(item.overlong ? item.line.isEmpty() : item.line.size() <= kLimit && !item.line.contains('\n'));
            if (!item.overlong)
                readLine(item.line);
        }
        check(reader.pending() <= kLimit + 1);
    }
    if (size <= size_t(kMaxLineBytes))
        readLine(bytes);
    NodeAddress::parse(QString::fromUtf8(bytes));
    return 0;
}
