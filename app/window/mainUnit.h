// SPDX-License-Identifier: Apache-2.0
#pragma once
// The main window: address field and download button, the hidden photo list, 30 thumbnail
// slots, the status memo, the background-music controls, the information page, the stop
// button and a two-pane status bar. Controls keep their form names; they are children of
// the window and live as long as it does.
//
// Constructing the window runs FormCreate; destroying it runs FormDestroy. Every handler
// connected to a control runs through the error guard: an exception escaping it is shown
// in the default error dialog and the window goes on.
#include <QWidget>

#include <array>
#include <memory>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QAction;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class TImage;
class TMediaPlayer;
class THttpCli;
class TPanel;
class TStatusBar;
class TStatusPanel;
class TWebBrowser;
class TAlbumView;
class QCloseEvent;

class TMainForm : public QWidget {
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    static constexpr int ClientWidth = 762;
    static constexpr int ClientHeight = 561;
    static constexpr int ThumbnailCount = 30;

    // Controls, by their form names.
    TPanel* pnl1;
    QLabel* lbl1;
    QLineEdit* edtUrl;
    QPushButton* btnDownload;
    QPlainTextEdit* mmStatus;
    QComboBox* cbbPhotos;  // invisible; its items are PhotoList
    QCheckBox* chkAutoDownMusic;
    TWebBrowser* wb1;  // the information page; its engine starts once the window is drawn
    QPushButton* btn2;
    TPanel* Panel1;
    std::array<TImage*, ThumbnailCount> Image;  // Image[0] is Image1
    TMediaPlayer* mp1;                           // invisible
    QLabel* lbl2;
    QLineEdit* edtBgmusic;
    QPushButton* btn1;
    TStatusBar* status;
    TStatusPanel* status1;
    TStatusPanel* statusLink;
    QMenu* popup1;
    QAction* N1;
    QAction* N2;
    QAction* N3;
    QTimer* tmr1;
    std::unique_ptr<THttpCli> httpcli1;  // fetches the sponsored links

    // Reported as source_url in the usage report. Nothing assigns it.
    std::string SourceUrl;

    // A thumbnail by component name ("image%d", letter case ignored), or null.
    TImage* FindImage(const std::string& name) const;

    // PhotoList: the photo addresses of the current album (GBK bytes, kept exactly).
    int PhotoCount() const;
    std::string Photo(int index) const;
    void AddPhoto(const std::string& url);
    void ClearPhotos();

    // Adds one line to the status memo.
    void AddStatusLine(const std::string& ansiText);

    // The album workflow: the download button, the stop button and the music button.
    void btnDownloadClick();
    void StartAlbum(const std::string& viewerAddress);
    void DownloadAlbum(const std::string& title, const std::string& viewerQuery);
    void btn2Click();
    void btn1Click();

    // Thumbnails and their context menu (they act only on a picture box that holds a
    // picture and whose Tag is not above the PhotoList count).
    void Image1Click(QObject* sender);  // opens the preview on that photo
    void N1Click();                     // the same for the box the menu was opened on
    void N3Click();                     // opens AlbumDir in the file manager

    // Fetches the link list into LinkList (whatever body arrived, also after a failure),
    // then raises the transfer's error, if any.
    void LoadLinks();

    // The sponsored-link pane: every tick shows the next of the five captions; a click
    // opens the address of the caption shown. With fewer than ten entries in LinkList a
    // tick shows nothing and a click opens nothing.
    void tmr1Timer();
    void statusLinkClick();

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    TAlbumView* album_ = nullptr;  // the album running now, if any
    // The picture box the three thumbnail commands may act on, or null.
    TImage* ActionableThumbnail(QObject* sender) const;
    void ConnectHandlers();
    void CreateControls();
    void FormCreate();
    void FormDestroy();
};
