// SPDX-License-Identifier: Apache-2.0
// Decodes arbitrary bytes as a chunked body, in one piece and in two split at an arbitrary
// point. Besides memory safety it checks what holds for every input: the data, the count
// taken, the end reached and a failure do not depend on the split; the data is never longer
// than the input; and the data sent again as one chunk decodes to itself.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>

#include "http/HttpProt.h"
#include "http/HttpProtChunked.h"

namespace {

struct TOutcome {
    std::string data;
    std::size_t taken = 0;
    bool done = false;
    bool complete = false;
    std::string failure;
    bool operator==(const TOutcome&) const = default;
};

TOutcome Decode(const std::string& body, std::size_t split) {
    TOutcome o;
    THttpChunkDecoder d;
    const auto out = [&o](const char* p, std::size_t n) { o.data.append(p, n); };
    try {
        o.taken = d.Feed(body.data(), split, out);
        if (!d.Done()) o.taken += d.Feed(body.data() + split, body.size() - split, out);
    } catch (const EHttpException& e) {
        o.failure = e.Message();
        o.taken = 0;  // where it stopped is of no use after a failure
    }
    o.done = d.Done();
    o.complete = d.BodyComplete();
    return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::size_t cut = in.ConsumeIntegral<std::uint16_t>();
    const std::string body = in.ConsumeRemainingBytesAsString();
    const TOutcome whole = Decode(body, body.size());
    if (whole.data.size() > body.size() || whole.taken > body.size()) std::abort();
    if (whole.done && !whole.complete) std::abort();
    // Bytes passed on before a failure may differ by where the input was cut; the verdict may not.
    TOutcome split = Decode(body, cut % (body.size() + 1));
    if (!whole.failure.empty()) {
        if (split.failure != whole.failure) std::abort();
    } else if (!(split == whole)) {
        std::abort();
    }
    if (whole.failure.empty() && !whole.data.empty()) {
        char size[32];
        std::snprintf(size, sizeof size, "%zx\r\n", whole.data.size());
        const TOutcome again = Decode(size + whole.data + "\r\n0\r\n\r\n", 0);
        if (again.data != whole.data || !again.done) std::abort();
    }
    return 0;
}
