// libFuzzer target for EchoLink's control port reader: any datagram a
// station (or anyone) may send to port base + 1. Nothing may be read past
// the datagram; what is read as an SDES must build back into an SDES that
// reads the same.
//
//   CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DMIRELVA_FUZZ=ON
//   cmake --build build-fuzz --target fuzz_el_control
//   build-fuzz/fuzz_el_control -max_total_time=60 tests/fuzz/echolink-corpus/control

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "node/echolink/protocol/packets.h"

using namespace mirelva::echolink;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A copy of exactly the datagram's size, so ASan sees a read past it.
    std::unique_ptr<char[]> copy(new char[size ? size : 1]);
    std::memcpy(copy.get(), data, size);
    const char *why = nullptr;
    const std::optional<ControlPacket> p = parseControl(copy.get(), qsizetype(size), &why);
    if (!p) {
        if (!why)
            std::abort();
        return 0;
    }
    // A name is one line with no control character, whatever was sent.
    for (const QChar c : p->name)
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() < 0xA0) || c.unicode() == 0x2028 || c.unicode() == 0x2029)
            std::abort();
    if (p->kind == ControlPacket::Sdes && !p->callsign.isEmpty() && p->callsign.size() < 15 &&
        canonicalCallsign(p->callsign) == p->callsign) {
        const QByteArray again = buildSdes(p->callsign, p->name);
        const std::optional<ControlPacket> q = parseControl(again.constData(), again.size());
        if (!q || q->kind != ControlPacket::Sdes || q->callsign != p->callsign || again.size() % 4 != 0)
            std::abort();
    }
    return 0;
}
