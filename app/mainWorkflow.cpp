// The album workflow of the main window: from a viewer address to a folder of photos,
// thumbnails, a usage report and the background music.
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/albumFolder.h"
#include "app/commonDefine.h"
#include "app/commonFunc.h"
#include "app/jpegLoader.h"
#include "app/mainUnit.h"
#include "app/mediaPlayer.h"
#include "app/parser.h"
#include "base/SysUtils.h"
#include "platform/Encoding.h"
#include "platform/Files.h"
#include "regex/RegExpr.h"
#include "widgets/Image.h"

namespace {
constexpr char kViewerPattern[] = R"(vphoto.swf\?(.*?)$)";
}  // namespace

void TMainForm::btnDownloadClick() {
    btnDownload->setEnabled(false);
    mmStatus->clear();
    try {
        StartAlbum(QStringToAnsi(edtUrl->text()));
    } catch (...) {
        // A failure ended the album early: the error dialog shows it, and another album
        // can be started.
        btnDownload->setEnabled(true);
        throw;
    }
}

void TMainForm::StartAlbum(const std::string& viewerAddress) {
    TRegExpr re;
    re.SetExpression(kViewerPattern);
    if (re.Exec(viewerAddress))
        DownloadAlbum("", re.SubMatch(1));
    else
        btnDownload->setEnabled(true);  // not an album address: nothing started
}

void TMainForm::DownloadAlbum(const std::string& titleArg, const std::string& viewerQuery) {
    StopRequested = 0;  // a stop pressed for an earlier album does not stop this one
    T6cnAlbumParser parser;
    std::unique_ptr<TPhotoList> photos = parser.Parse(AlbumDataUrl(viewerQuery));
    ClearPhotos();
    const std::string title = titleArg.empty() ? parser.Title : titleArg;
    AlbumDir = AppDir + AlbumFolderName(title) + "/";
    if (!DirectoryExists(AlbumDir)) ForceDirectories(AlbumDir);

    const int count = static_cast<int>(photos->size());
    for (int n = 0; n < count; ++n) {
        const TPhotoObject& photo = *(*photos)[static_cast<size_t>(n)];
        AddPhoto(photo.Url);
        const std::string file = AlbumDir + std::to_string(n) + ".jpg";
        ShowStatus(Format(sDownloadingFmt, n + 1, count, std::to_string(n).c_str()));
        if (StopRequested) break;
        if (!FileExists(file)) TBaseAlbumParser::DownloadFile(photo.Url, file, "");
        if (n < ThumbnailCount) {
            TImage* thumb = FindImage("image" + std::to_string(n + 1));
            thumb->SetPicture(LoadPictureFile(file, thumb->size()));
            thumb->SetPopupMenu(popup1);
        }
    }
    AddStatusLine(sPhotosDone);
    ShowStatus(sPhotosDone);

    const std::string report = "source_url=" + UrlEncode(SourceUrl, true) + "&music=" +
                               UrlEncode(parser.MusicUrl, true) + "&title=" + UrlEncode(title, true) +
                               "&version=" + AppVersion;
    TBaseAlbumParser::DownloadFile(ReportUrl(), TempPageFile(), report);

    if (!parser.MusicUrl.empty()) {
        edtBgmusic->setText(AnsiToQString(parser.MusicUrl));
        const std::string musicFile = AlbumDir + "background.mp3";
        if (chkAutoDownMusic->isChecked() && !FileExists(musicFile)) {
            ShowStatus(sMusicDownloading);
            // Fetched under a temporary name: a cut-off file must not pass for the music.
            const std::string partial = musicFile + ".part";
            std::string discarded;
            if (TBaseAlbumParser::GetPage(parser.MusicUrl, partial, discarded))
                RenameFile(partial, musicFile);
            else
                DeleteFile(partial);
            ShowStatus(sMusicDone);
        }
    } else {
        edtBgmusic->setText(AnsiToQString(sNoMusic));
    }
    AddStatusLine(sAllDone);
    ShowStatus(sAllDone);
    btnDownload->setEnabled(true);
}

void TMainForm::btn2Click() {
    ShowStatus(sStopping);
    StopRequested = 1;
}

void TMainForm::btn1Click() {
    mp1->FileName = QStringToAnsi(edtBgmusic->text());
    if (mp1->IsOpen()) mp1->Close();
    mp1->Open();
    mp1->Play();
}
