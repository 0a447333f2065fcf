// Addresses come from album documents and from Location headers: splitting must accept any
// text; the fetcher's split keeps its defining property: Host and Path put back
// together are the address without the dropped scheme.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/SysUtils.h"
#include "fetcher/HTTPGetUrl.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string url(reinterpret_cast<const char*>(data), size);
    std::string host, path;
    SplitHostAndPath(url, host, path);
    const std::string rest = LowerCase(url).find("http://") != std::string::npos ? url.substr(std::min<std::size_t>(7, url.size())) : url;
    if (host + path != rest) std::abort();
    if (!host.empty() && host.find('/') != std::string::npos) std::abort();
    return 0;
}
