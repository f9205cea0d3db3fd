// libFuzzer target for EchoLink's chat and info texts on the audio port.
// Nothing may be read past the datagram or the text's NUL; an info text
// builds back into one that reads the same; whatever the audio port reads
// is audio or a text, never both; a text's bytes, read one character a byte,
// write back as the same bytes.
//
//   build-fuzz/fuzz_el_text -max_total_time=60 tests/fuzz/echolink-corpus/text

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
    const std::optional<TextPacket> t = parseText(copy.get(), qsizetype(size));
    if (t) {
        if (t->text.contains(QChar(0)) || t->text.contains(QLatin1Char('\r')))
            std::abort();
        if (t->octets.size() > qsizetype(size))
            std::abort();
        if (t->kind == TextPacket::Info) {
            // The node's own texts go out in Windows-1252: built from the
            // bytes as read, an info reads back as those bytes.
            const QByteArray again = buildInfo(t->octets);
            const std::optional<TextPacket> u = parseText(again.constData(), again.size());
            if (!u || u->kind != TextPacket::Info || u->octets != t->octets || u->text != t->text)
                std::abort();
        }
        QByteArray bytes = toEightBit(t->octets);
        if (fromEightBit(bytes.constData(), bytes.size()) != t->octets)
            std::abort();
    }
    const AudioPortPacket p = parseAudioPort(copy.get(), qsizetype(size));
    if (p.audio && p.text)
        std::abort();
    return 0;
}
