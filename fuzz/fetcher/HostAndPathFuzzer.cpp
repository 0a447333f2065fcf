// SPDX-License-Identifier: Apache-2.0
// Addresses come from album documents and from Location headers: splitting must accept any
// text; the fetcher's split keeps its defining property: Host and Path put back
// together are the address without the dropped scheme; the fetcher's target of an https://
// address is well formed.
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

    // The fetcher's target: anything but an https:// address is the split above, its host
    // with the port taken off (80 when none; the host emptied by a bad port); an https:// one gives a host without separators, a port when there is a host, and a
    // path that starts with "/" and never carries a fragment.
    const TFetchTarget t = SplitFetchTarget(url);
    if (LowerCase(url.substr(0, 8)) != "https://") {
        if (t.Scheme != 3 || t.Path != path) std::abort();
        if (t.Host == host ? t.Port != 80 : !t.Host.empty() && (t.Port == 0 || host.rfind(t.Host + ":", 0) != 0)) std::abort();
        return 0;
    }
    if (t.Scheme != 4 || t.Path.empty() || t.Path.front() != '/' || t.Path.find('#') != std::string::npos) std::abort();
    if (t.Host.find_first_of("/?#@") != std::string::npos || (!t.Host.empty() && t.Port == 0)) std::abort();
    return 0;
}
