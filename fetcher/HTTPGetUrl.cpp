#include "fetcher/HTTPGetUrl.h"

#include "base/SysUtils.h"

void SplitHostAndPath(const std::string& url, std::string& host, std::string& path) {
    std::string rest = url;
    // The scheme is not located, only detected: what is dropped is always the start.
    if (LowerCase(rest).find("http://") != std::string::npos) rest.erase(0, 7);
    const std::size_t slash = rest.find('/');
    if (slash == std::string::npos) {
        host.clear();
        path = rest;
        return;
    }
    host = rest.substr(0, slash);  // the "/" that ends it is left out
    path = rest.substr(slash);
}
