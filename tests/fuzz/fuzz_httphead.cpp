// libFuzzer target for the web console's request heads: whatever the bytes,
// a head is read only when it ends with the empty line and every line in it
// is a request line or a header of plain text, and what is read comes from
// within the bytes given.
//
//   CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DMIRELVA_FUZZ=ON
//   cmake --build build-fuzz --target fuzz_httphead
//   build-fuzz/fuzz_httphead -max_total_time=60 tests/fuzz/http-corpus

#include <cstdint>
#include <cstdlib>

#include "web/webfront.h"

using namespace mirelva;

namespace {
void check(bool ok)
{
    if (!ok)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<HttpHead> head = parseHttpHead(bytes);
    if (!head)
        return 0;
    check(bytes.endsWith("\r\n\r\n"));
    check(bytes.startsWith(head->method + ' ' + head->target + ' '));
    check(head->target.startsWith('/'));
    qsizetype total = head->method.size() + head->target.size();
    for (const auto &h : head->headers) {
        check(!h.first.isEmpty());
        check(!h.first.contains(':') && !h.first.contains('\r') && !h.first.contains('\n'));
        check(!h.second.contains('\r') && !h.second.contains('\n'));
        check(bytes.contains(h.first + ':'));
        total += h.first.size() + h.second.size();
        // The header is found again by its name, whatever its case.
        check(head->has(h.first.toUpper()));
    }
    check(total <= bytes.size());
    (void)head->path();
    return 0;
}
