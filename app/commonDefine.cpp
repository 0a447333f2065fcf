#include "app/commonDefine.h"

#include <QSettings>
#include <QString>

#include <optional>

#include "app/Locations.h"
#include "platform/Paths.h"

std::string AppDir;
std::string AlbumDir;
std::uint8_t StopRequested = 0;
std::unique_ptr<TStringList> LinkList;
std::int32_t LinkIndex = 0;
TMainForm* MainForm = nullptr;
TPreviewForm* PreviewForm = nullptr;

std::string TempPageFile() { return TempDir() + "1.txt"; }

namespace {

std::optional<TServerSettings>& Stored() {
    static std::optional<TServerSettings> s;
    return s;
}

TServerSettings LoadSettings() {
    TServerSettings s;
    QSettings ini(QString::fromStdString(FsPath(SettingsFilePath())), QSettings::IniFormat);
    auto read = [&](const char* key, std::string& into) {
        const QString v = ini.value(QString("servers/") + key).toString().trimmed();
        if (!v.isEmpty()) into = v.toStdString();
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
