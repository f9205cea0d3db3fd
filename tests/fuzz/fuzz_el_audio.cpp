// libFuzzer target for EchoLink's audio reader: any datagram on the port
// base that is taken for audio. Nothing may be read past the datagram; audio
// that is read holds four GSM frames and builds back into the same frames
// and sequence number.
//
//   build-fuzz/fuzz_el_audio -max_total_time=60 tests/fuzz/echolink-corpus/audio

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "node/echolink/protocol/packets.h"

using namespace mirelva::echolink;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::unique_ptr<char[]> copy(new char[size ? size : 1]);
    std::memcpy(copy.get(), data, size);
    const std::optional<AudioPacket> a = parseAudio(copy.get(), qsizetype(size));
    if (!a)
        return 0;
    if (a->gsm.size() != kGsmPayloadBytes)
        std::abort();
    const QByteArray again = buildAudio(a->sequence, a->gsm);
    const std::optional<AudioPacket> b = parseAudio(again.constData(), again.size());
    if (again.size() != kGsmPacketBytes || !b || b->sequence != a->sequence || b->gsm != a->gsm)
        std::abort();
    return 0;
}
