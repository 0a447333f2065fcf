// SPDX-License-Identifier: Apache-2.0
#include "app/core/albumWorkflow.h"

#include <cerrno>
#include <memory>

#include "app/common/commonDefine.h"
#include "app/common/commonDefineTexts.h"
#include "app/common/commonFunc.h"
#include "app/core/albumFolder.h"
#include "app/core/parser.h"
#include "app/core/photoQueue.h"
#include "app/settings/commonDefineServers.h"
#include "app/settings/locations.h"
#include "base/Exception.h"
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

void TAlbumView::PhotoRefetched(int n, const std::string&, const std::string& why) {
    AddStatusLine(Format(sPhotoBrokenFmt, n + 1, why.c_str()));
}

bool ViewerQuery(const std::string& address, std::string& query) {
    TRegExpr re;
    re.SetExpression(kViewerPattern);
    if (!re.Exec(address)) return false;
    query = re.SubMatch(1);
    return true;
}

std::string MissingPhotosLine(const std::vector<int>& missing) {
    std::string numbers;
    for (size_t i = 0; i < missing.size();) {
        size_t run = i;
        while (run + 1 < missing.size() && missing[run + 1] == missing[run] + 1) ++run;
        if (!numbers.empty()) numbers += sNumberSeparator;
        if (run - i >= 2) {
            numbers += std::to_string(missing[i] + 1) + "-" + std::to_string(missing[run] + 1);
            i = run + 1;
        } else {
            numbers += std::to_string(missing[i] + 1);
            ++i;
        }
    }
    return Format(sPhotosMissingFmt, static_cast<int>(missing.size()), numbers.c_str());
}

TAlbumOutcome RunAlbumWorkflow(TAlbumView& view, const std::string& baseDir, const std::string& titleArg,
                               const std::string& viewerQuery, const TDownloadSettings& settings,
                               const TAlbumPolicy& policy) {
    TAlbumOutcome outcome;
    TAlbumStop& stop = view.Stop;
    T6cnAlbumParser parser;
    parser.OnStatus = [&view](const std::string& text) { view.ShowStatus(text); };
    parser.Stop = &stop;
    std::unique_ptr<TPhotoList> photos = parser.Parse(AlbumDataUrl(viewerQuery));
    view.ClearPhotos();  // the last album's list goes, whatever comes of this one
    if (!stop.Requested() &&
        (parser.DocumentBroken ||
         (policy.RequireDocument && (!parser.DocumentError.empty() || !parser.HasAlbumKeys)))) {
        outcome.End = TAlbumOutcome::TEnd::DocumentFailed;
        outcome.DocumentError = parser.DocumentError.empty() ? "not an album data document" : parser.DocumentError;
        return outcome;
    }
    const std::string title = titleArg.empty() ? parser.Title : titleArg;
    const std::string folderName = AlbumFolderName(title);
    AlbumDir = folderName.empty() ? baseDir : baseDir + folderName + "/";
    // One run writes a folder at a time: everything this run checks stays as it was checked
    // until the run ends (the lock goes with this frame).
    TFolderLock lock;
    if (!stop.Requested()) {
        if (!DirectoryExists(AlbumDir)) ForceDirectories(AlbumDir);
        switch (lock.Lock(AlbumDir)) {
            case TFolderLock::TResult::Locked: break;
            case TFolderLock::TResult::Busy:
                outcome.End = TAlbumOutcome::TEnd::FolderBusy;
                outcome.Folder = AlbumDir;
                outcome.FolderError = "another run is writing into the folder " + AlbumDir + "; try again when it has ended";
                return outcome;
            case TFolderLock::TResult::Failed:
                outcome.End = TAlbumOutcome::TEnd::FolderBusy;
                outcome.Folder = AlbumDir;
                outcome.FolderError = "cannot lock the folder " + AlbumDir + ": " + SysErrorMessage(errno);
                return outcome;
        }
        outcome.Folder = AlbumDir;
    }

    const int count = static_cast<int>(photos->size());
    outcome.Photos = count;
    std::vector<TPhotoQueue::TPhoto> files;
    files.reserve(photos->size());
    for (int n = 0; n < count; ++n)
        files.push_back({(*photos)[static_cast<size_t>(n)]->Url, AlbumDir + std::to_string(n) + ".jpg"});
    {
        // Destroyed in reverse: the watch goes before the queue it cancels. An exception
        // from a view leaves through the queue's destructor, which cuts and cleans up.
        TPhotoQueue queue(std::move(files), settings.Connections, settings.Retries, settings.Pipelining);
        queue.SetMaxPhotoSize(settings.MaxPhotoSize);
        queue.SetLowSpeed(static_cast<std::uint32_t>(settings.LowSpeedLimit),
                          static_cast<std::uint32_t>(settings.LowSpeedTime) * 1000u);
        queue.OnRecheckFailed = [&view](int n, const std::string& why) {
            view.PhotoRefetched(n, AlbumDir + std::to_string(n) + ".jpg", why);
        };
        const TAlbumStop::TWatch watch = stop.Watch([&queue] { queue.Cancel(); });
        int n = 0;
        for (; n < count; ++n) {
            view.AddPhoto((*photos)[static_cast<size_t>(n)]->Url);
            view.ShowStatus(Format(sDownloadingFmt, n + 1, count, std::to_string(n).c_str()));
            if (stop.Requested()) break;
            const TPhotoQueue::TResult result = queue.Fetch(n);
            const std::string file = AlbumDir + std::to_string(n) + ".jpg";
            if (result == TPhotoQueue::TResult::Committed) {
                view.PhotoCommitted(n, count, file);
                continue;
            }
            if (result == TPhotoQueue::TResult::Stopped) break;
            outcome.Missing.push_back(n);
            if (n < policy.FailureEndsAlbumBelow) {
                outcome.End = TAlbumOutcome::TEnd::PhotoFailed;
                outcome.FailedPhoto = n;
                outcome.FailedFile = file;
                outcome.FailedReason = queue.FailureText(n);
                outcome.NotAJpeg = result == TPhotoQueue::TResult::NotAJpeg;
                ++n;
                break;
            }
        }
        queue.Abandon();
        for (; n < count; ++n) outcome.Missing.push_back(n);  // the album ended before their turn
    }
    if (!outcome.Missing.empty()) view.AddStatusLine(MissingPhotosLine(outcome.Missing));
    // A failure that ends the album ends it here: no completion, report or music.
    if (outcome.End == TAlbumOutcome::TEnd::PhotoFailed) return outcome;
    view.AddStatusLine(sPhotosDone);
    view.ShowStatus(sPhotosDone);

    if (!stop.Requested()) {
        // The report's answer is not read: it goes to a page file of this run's own. Like the
        // report's own failures, a page file that cannot be made is not the album's concern.
        try {
            const std::string answer = NewTempPageFile();
            TBaseAlbumParser::DownloadFile(ReportUrl(), answer, UsageReport(view.SourceUrl(), parser.MusicUrl, title),
                                           &stop);
            DeleteFile(answer);
        } catch (const EStreamError&) {
        }
    }

    if (!parser.MusicUrl.empty()) {
        view.ShowMusic(parser.MusicUrl);
        const std::string musicFile = AlbumDir + "background.mp3";
        if (view.AutoDownloadMusic() && !FileExists(musicFile) && !stop.Requested()) {
            view.ShowStatus(sMusicDownloading);
            // Fetched under a temporary name: a cut-off file must not pass for the music.
            const std::string partial = musicFile + ".part";
            std::string discarded;
            if (TBaseAlbumParser::GetPage(parser.MusicUrl, partial, discarded, &outcome.MusicError, &stop)) {
                RenameFile(partial, musicFile);
                outcome.MusicError.clear();
            } else {
                DeleteFile(partial);
                outcome.MusicMissing = true;
            }
            view.ShowStatus(sMusicDone);
        }
    } else {
        view.ShowMusic(sNoMusic);
    }
    view.AddStatusLine(sAllDone);
    view.ShowStatus(sAllDone);
    if (stop.Requested()) outcome.End = TAlbumOutcome::TEnd::Stopped;
    return outcome;
}
