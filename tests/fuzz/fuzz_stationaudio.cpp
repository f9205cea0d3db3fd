// libFuzzer target for what a station sends the node's audio: sequence
// numbers and payloads of any size in any order, at any times, into a
// station's jitter buffer and decoder inside a conference, pulled every
// 20 ms; and the same bytes as a chat text to relay. Nothing may crash, read
// past a payload, or hand out a frame that is not 33 bytes.
//
//   CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DMIRELVA_FUZZ=ON
//   cmake --build build-fuzz --target fuzz_stationaudio
//   build-fuzz/fuzz_stationaudio -max_total_time=60

#include <cstdint>
#include <cstdlib>

#include "node/echolink/audio/conference.h"

using namespace mirelva::echolink;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Conference conf(QStringLiteral("W1AW-L"), QStringLiteral("here"), QStringLiteral("Mirelva"), 2);
    conf.addStation(QStringLiteral("K1AAA"), QStringLiteral("a"));
    conf.addStation(QStringLiteral("K2BBB"), QStringLiteral("b"));
    JitterBuffer alone;
    qint64 now = 0;
    size_t i = 0;
    while (i < size) {
        const uint8_t op = data[i++];
        now += op >> 4;
        if (op & 1) {
            if (i + 3 > size)
                break;
            const quint16 seq = quint16(data[i] << 8 | data[i + 1]);
            const size_t length = std::min<size_t>(data[i + 2], size - i - 3);
            const QByteArray payload(reinterpret_cast<const char *>(data + i + 3), qsizetype(length));
            i += 3 + length;
            conf.audio(op & 2 ? QStringLiteral("K1AAA") : QStringLiteral("K2BBB"))->push(seq, payload, now);
            alone.push(seq, payload, now);
        } else {
            now += 20;
            const qint16 radio[kFrameSamples] = {};
            conf.route(op & 2 ? radio : nullptr, op & 4 ? radio : nullptr, now);
            const JitterBuffer::Frame f = alone.pull(now);
            if (f.kind == JitterBuffer::Kind::Audio && f.gsm.size() != kGsmFrameBytes)
                std::abort();
        }
    }
    conf.takePackets();
    conf.relayChat(QStringLiteral("K1AAA"), QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size)));
    return 0;
}
