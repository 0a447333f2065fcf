// SPDX-License-Identifier: Apache-2.0
#include "app/settings/commonDefineServers.h"

#include <optional>

#include "app/settings/settingsFile.h"
#include "base/SysUtils.h"

namespace {

std::optional<TServerSettings>& Stored() {
    static std::optional<TServerSettings> s;
    return s;
}

TServerSettings LoadSettings() {
    TServerSettings s;
    const TSettingsFile ini = TSettingsFile::Read();
    auto read = [&](const char* key, std::string& into) {
        const std::string v = ini.Value("servers", key);
        if (!v.empty()) into = v;
    };
    read("album", s.AlbumHost);
    read("viewer", s.ViewerHost);
    read("report", s.ReportHost);
    read("links", s.LinkHost);
    read("info", s.InfoHost);
    return s;
}

}  // namespace

const TServerSettings& Servers() {
    if (!Stored()) Stored() = LoadSettings();
    return *Stored();
}

void SetServers(const TServerSettings& settings) { Stored() = settings; }

std::string ServerBase(const std::string& value) {
    const std::string lower = LowerCase(value);
    std::string base = "http://" + value;
    for (const char* scheme : {"http://", "https://"})
        if (lower.rfind(scheme, 0) == 0) base = scheme + value.substr(std::string(scheme).size());
    while (!base.empty() && base.back() == '/') base.pop_back();
    return base;
}

std::string AlbumDataUrl(const std::string& viewerQuery) {
    return ServerBase(Servers().AlbumHost) + "/cgi-bin/common/cgi_load_flash?" + viewerQuery;
}

std::string ReportUrl() { return ServerBase(Servers().ReportHost) + "/corvane/mirelot/log.php"; }

std::string LinkListUrl() { return ServerBase(Servers().LinkHost) + "/app/zevorizediruru/i.php?a=getlinks"; }

std::string InfoPageUrl() { return ServerBase(Servers().InfoHost) + "/corvane/mirelot/app_info.php?app=pixharv"; }

std::string ExampleViewerUrl() {
    return ServerBase(Servers().ViewerHost) + "/album/client/photo/swf/vphoto.swf?uin=10001&fid=1";
}
