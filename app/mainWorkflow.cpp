// The album workflow as the main window runs it: the download button, the stop button and
// the music button.
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/Locations.h"
#include "app/albumWorkflow.h"
#include "app/commonDefine.h"
#include "app/commonFunc.h"
#include "app/jpegLoader.h"
#include "app/mainUnit.h"
#include "app/mediaPlayer.h"
#include "platform/Encoding.h"
#include "widgets/Image.h"

namespace {

// The window's side of the workflow: the memo, the hidden photo list, the thumbnails and
// the music field.
class TWindowAlbumView : public TAlbumView {
public:
    explicit TWindowAlbumView(TMainForm& form) : form_(form) {}

    void AddStatusLine(const std::string& ansiText) override { form_.AddStatusLine(ansiText); }
    void ClearPhotos() override { form_.ClearPhotos(); }
    void AddPhoto(const std::string& url) override { form_.AddPhoto(url); }
    // The first 30 photos fill the thumbnails; a photo that is missing or cannot be decoded
    // raises here, which ends the album with the error shown.
    void PhotoDone(int n, int, const std::string& file, bool, const std::string&) override {
        if (n >= TMainForm::ThumbnailCount) return;
        TImage* thumb = form_.FindImage("image" + std::to_string(n + 1));
        thumb->SetPicture(LoadPictureFile(file, thumb->size()));
        thumb->SetPopupMenu(form_.popup1);
    }
    bool AutoDownloadMusic() const override { return form_.chkAutoDownMusic->isChecked(); }
    void ShowMusic(const std::string& ansiText) override { form_.edtBgmusic->setText(AnsiToQString(ansiText)); }
    std::string SourceUrl() const override { return form_.SourceUrl; }

private:
    TMainForm& form_;
};

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
    std::string query;
    if (ViewerQuery(viewerAddress, query))
        DownloadAlbum("", query);
    else
        btnDownload->setEnabled(true);  // not an album address: nothing started
}

void TMainForm::DownloadAlbum(const std::string& titleArg, const std::string& viewerQuery) {
    // Settings that were not taken as written are told once, with the first album.
    static bool notesShown = false;
    const TDownloadSettings& settings = DownloadSettings();
    if (!notesShown)
        for (const std::string& note : settings.Notes) AddStatusLine(note);
    notesShown = true;
    TWindowAlbumView view(*this);
    RunAlbumWorkflow(view, AlbumBaseDir(), titleArg, viewerQuery, settings);
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
