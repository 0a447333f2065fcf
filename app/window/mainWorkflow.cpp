// SPDX-License-Identifier: Apache-2.0
// The album workflow as the main window runs it: the download button, the stop button and
// the music button.
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/common/commonDefineTexts.h"
#include "app/core/albumWorkflow.h"
#include "app/settings/locations.h"
#include "app/settings/tlsSettings.h"
#include "app/window/commonFuncStatus.h"
#include "app/window/jpegLoader.h"
#include "app/window/mainUnit.h"
#include "app/window/mediaPlayer.h"
#include "base/Exception.h"
#include "base/SysUtils.h"
#include "platform/Encoding.h"
#include "widgets/Image.h"

namespace {

constexpr char kNotAJpeg[] = "not a JPEG image: ";

// The window's side of the workflow: the status pane and memo, the hidden photo list, the
// thumbnails and the music field.
class TWindowAlbumView : public TAlbumView {
public:
    explicit TWindowAlbumView(TMainForm& form) : form_(form) {}

    void ShowStatus(const std::string& ansiText) override { ::ShowStatus(ansiText); }
    void AddStatusLine(const std::string& ansiText) override { form_.AddStatusLine(ansiText); }
    void ClearPhotos() override { form_.ClearPhotos(); }
    void AddPhoto(const std::string& url) override { form_.AddPhoto(url); }
    // The first 30 photos fill the thumbnails.
    void PhotoCommitted(int n, int, const std::string& file) override {
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
    // Said with every album while it holds.
    if (const std::string warning = TlsWarningLine(CurrentTlsChoice()); !warning.empty()) AddStatusLine(warning);
    TWindowAlbumView view(*this);
    TAlbumPolicy policy;
    policy.FailureEndsAlbumBelow = ThumbnailCount;  // a photo with a thumbnail slot must be there
    policy.RequireDocument = false;                 // what arrived is worked on, as always
    album_ = &view;
    TAlbumOutcome outcome;
    try {
        outcome = RunAlbumWorkflow(view, AlbumBaseDir(), titleArg, viewerQuery, settings, policy);
    } catch (...) {
        album_ = nullptr;
        throw;
    }
    album_ = nullptr;
    btnDownload->setEnabled(true);
    // Said in the error dialog, as a photo that ends the album is.
    if (outcome.End == TAlbumOutcome::TEnd::FolderBusy)
        throw Exception(outcome.FolderError.rfind("another run", 0) == 0 ? Format(sFolderBusyFmt, outcome.Folder.c_str())
                                                                          : outcome.FolderError);
    if (outcome.End == TAlbumOutcome::TEnd::DocumentFailed)
        throw Exception("cannot get the album's data: " + outcome.DocumentError);
    if (outcome.End != TAlbumOutcome::TEnd::PhotoFailed) return;
    // The photo's failure, in the words its thumbnail would have used.
    const std::string& why = outcome.FailedReason;
    if (outcome.NotAJpeg)
        throw EJPEGError("JPEG error: " + (why.rfind(kNotAJpeg, 0) == 0 ? why.substr(sizeof kNotAJpeg - 1) : why) +
                         " (" + outcome.FailedFile + ")");
    throw EStreamError("Cannot open file \"" + outcome.FailedFile + "\". " + why);
}

void TMainForm::btn2Click() {
    ShowStatus(sStopping);
    if (album_) album_->Stop.Request();
}

void TMainForm::closeEvent(QCloseEvent* e) {
    // Closing the window ends a running album at once, as the stop button does.
    if (album_) album_->Stop.Request();
    QWidget::closeEvent(e);
}

void TMainForm::btn1Click() {
    mp1->FileName = QStringToAnsi(edtBgmusic->text());
    if (mp1->IsOpen()) mp1->Close();
    mp1->Open();
    mp1->Play();
}
