#include "app/settings/commonDefineServers.h"

#include <optional>

#include "app/settings/settingsFile.h"

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

std::string AlbumDataUrl(const std::string& viewerQuery) {
    return "http://" + Servers().AlbumHost + "/cgi-bin/common/cgi_load_flash?" + viewerQuery;
}

std::string ReportUrl() { return "http://" + Servers().ReportHost + "/corvane/mirelot/log.php"; }

std::string LinkListUrl() { return "http://" + Servers().LinkHost + "/app/zevorizediruru/i.php?a=getlinks"; }

std::string InfoPageUrl() { return "http://" + Servers().InfoHost + "/corvane/mirelot/app_info.php?app=pixharv"; }

std::string ExampleViewerUrl() {
    return "http://" + Servers().ViewerHost + "/album/client/photo/swf/vphoto.swf?uin=10001&fid=1";
}
