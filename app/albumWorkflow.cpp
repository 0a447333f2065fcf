#include "app/albumWorkflow.h"

#include <memory>
#include <vector>

#include "app/albumFolder.h"
#include "app/commonDefine.h"
#include "app/commonFunc.h"
#include "app/parser.h"
#include "app/photoQueue.h"
#include "base/SysUtils.h"
#include "platform/Files.h"
#include "regex/RegExpr.h"

namespace {

constexpr char kViewerPattern[] = R"(vphoto.swf\?(.*?)$)";

std::string UsageReport(const std::string& sourceUrl, const std::string& musicUrl, const std::string& title) {
    return "source_url=" + UrlEncode(sourceUrl, true) + "&music=" + UrlEncode(musicUrl, true) +
           "&title=" + UrlEncode(title, true) + "&version=" + AppVersion;
}

}  // namespace

bool ViewerQuery(const std::string& address, std::string& query) {
    TRegExpr re;
    re.SetExpression(kViewerPattern);
    if (!re.Exec(address)) return false;
    query = re.SubMatch(1);
    return true;
}

TAlbumOutcome RunAlbumWorkflow(TAlbumView& view, const std::string& baseDir, const std::string& titleArg,
                               const std::string& viewerQuery, const TDownloadSettings& settings) {
    StopRequested = 0;  // a stop pressed for an earlier album does not stop this one
    TAlbumOutcome outcome;
    T6cnAlbumParser parser;
    std::unique_ptr<TPhotoList> photos = parser.Parse(AlbumDataUrl(viewerQuery));
    view.DocumentRead(parser.DocumentError);
    view.ClearPhotos();
    const std::string title = titleArg.empty() ? parser.Title : titleArg;
    AlbumDir = baseDir + AlbumFolderName(title) + "/";
    outcome.Folder = AlbumDir;
    if (!DirectoryExists(AlbumDir)) ForceDirectories(AlbumDir);

    const int count = static_cast<int>(photos->size());
    outcome.Photos = count;
    std::vector<TPhotoQueue::TPhoto> files;
    files.reserve(photos->size());
    for (int n = 0; n < count; ++n)
        files.push_back({(*photos)[static_cast<size_t>(n)]->Url, AlbumDir + std::to_string(n) + ".jpg"});
    TPhotoQueue queue(std::move(files), settings.Connections, settings.Retries);
    try {
        for (int n = 0; n < count; ++n) {
            const std::string& url = (*photos)[static_cast<size_t>(n)]->Url;
            view.AddPhoto(url);
            const std::string file = AlbumDir + std::to_string(n) + ".jpg";
            ShowStatus(Format(sDownloadingFmt, n + 1, count, std::to_string(n).c_str()));
            if (StopRequested) {
                outcome.Stopped = true;
                break;
            }
            const bool fetched = FileExists(file) || queue.Fetch(n);
            if (!fetched) ++outcome.Missing;
            view.PhotoDone(n, count, file, fetched, fetched ? std::string() : queue.FailureText(n));
        }
    } catch (...) {
        // The album ends here: nothing fetched past the photo that ended it stays.
        queue.Abandon();
        throw;
    }
    queue.Abandon();
    view.AddStatusLine(sPhotosDone);
    ShowStatus(sPhotosDone);

    TBaseAlbumParser::DownloadFile(ReportUrl(), TempPageFile(), UsageReport(view.SourceUrl(), parser.MusicUrl, title));

    if (!parser.MusicUrl.empty()) {
        view.ShowMusic(parser.MusicUrl);
        const std::string musicFile = AlbumDir + "background.mp3";
        if (view.AutoDownloadMusic() && !FileExists(musicFile)) {
            ShowStatus(sMusicDownloading);
            // Fetched under a temporary name: a cut-off file must not pass for the music.
            const std::string partial = musicFile + ".part";
            std::string discarded;
            if (TBaseAlbumParser::GetPage(parser.MusicUrl, partial, discarded)) {
                RenameFile(partial, musicFile);
            } else {
                DeleteFile(partial);
                outcome.MusicMissing = true;
            }
            ShowStatus(sMusicDone);
        }
    } else {
        view.ShowMusic(sNoMusic);
    }
    view.AddStatusLine(sAllDone);
    ShowStatus(sAllDone);
    return outcome;
}
