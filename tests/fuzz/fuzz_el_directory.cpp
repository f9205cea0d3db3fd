// libFuzzer target for what comes back over TCP: the directory's station
// list, and an EchoLink proxy's message stream cut into pieces. Nothing may
// be read past the bytes; every station read has an IPv4 address and a node
// number; the proxy's reader never holds a message beyond its bound.
//
//   build-fuzz/fuzz_el_directory -max_total_time=60 tests/fuzz/echolink-corpus/directory

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "node/echolink/protocol/directory.h"
#include "node/echolink/protocol/proxy.h"

using namespace mirelva::echolink;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::unique_ptr<char[]> copy(new char[size ? size : 1]);
    std::memcpy(copy.get(), data, size);
    const std::optional<StationList> list = parseStationList(copy.get(), qsizetype(size));
    if (list) {
        for (const StationEntry &e : list->stations)
            if (e.address.protocol() != QHostAddress::IPv4Protocol || e.node < 0 || e.node > 9999999 || e.callsign.isEmpty())
                std::abort();
        if (list->stations.size() > kMaxListEntries)
            std::abort();
    }
    ProxyReader reader;
    const size_t piece = 1 + (size ? data[0] % 31 : 0);
    for (size_t at = 0; at < size; at += piece) {
        if (!reader.feed(copy.get() + at, qsizetype(std::min(piece, size - at))))
            break;
        while (std::optional<ProxyFrame> f = reader.next())
            if (f->payload.size() > qsizetype(kMaxProxyPayload))
                std::abort();
    }
    return 0;
}
