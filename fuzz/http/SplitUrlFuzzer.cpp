// SPDX-License-Identifier: Apache-2.0
// Splits arbitrary addresses (against an arbitrary base path), makes request targets of
// their paths and names their documents. Besides memory safety it checks what holds for
// every address: the host is a piece of the address, the path is its tail unless the
// address is relative to the base, and the request target holds only visible ASCII outside
// " # < > [ \ ] ^ ` { | } and stays the same when made again.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

#include "http/HttpProtUrl.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string base = in.ConsumeRandomLengthString(256);
    const std::string url = in.ConsumeRemainingBytesAsString();
    std::string protocol, user, password, host, port, path = base;
    SplitUrl(url, protocol, user, password, host, port, path);
    if (url.find(host) == std::string::npos) std::abort();
    const bool relative = url.rfind("./", 0) == 0 || url.rfind("../", 0) == 0;
    if (!relative && (path.size() > url.size() || url.compare(url.size() - path.size(), path.size(), path) != 0))
        std::abort();
    const std::string target = RequestTargetOf(path);
    for (const char c : target)
        if (c <= 0x20 || c >= 0x7F || std::string("\"#<>[\\]^`{|}").find(c) != std::string::npos) std::abort();
    if (RequestTargetOf(target) != target) std::abort();
    const std::string name = DocFileNameOf(path);
    if (name.size() > 255) std::abort();  // ("//" names nothing: empty is possible)
    HtmlNameForExe(name, "text/html");
    return 0;
}
