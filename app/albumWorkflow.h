#pragma once
// The album workflow: from a viewer query to a folder of numbered photos, a usage report
// and, when asked for, the background music. The main window and the command line run
// this one workflow, each showing it through its own TAlbumView.
//
// Runs on the GUI thread; every transfer dispatches messages while it waits, so the view's
// other events (the stop button, the preview, the link ticker) run in the middle of it.
// StopRequested (commonDefine.h) is cleared at the start and looked at before each photo.
#include <string>

#include "app/downloadSettings.h"

class TAlbumView {
public:
    virtual ~TAlbumView() = default;

    // The data document was read; error is empty when it arrived whole, else says why
    // not (the parser then works on whatever arrived). An exception ends the album before
    // its folder is made.
    virtual void DocumentRead(const std::string& error) { (void)error; }
    // A line of the status memo.
    virtual void AddStatusLine(const std::string& ansiText) = 0;
    // PhotoList, the photo addresses listed so far.
    virtual void ClearPhotos() = 0;
    virtual void AddPhoto(const std::string& url) = 0;
    // Photo n's turn is over (photos before it are done): when fetched, its file is in
    // place (fetched now or found there); otherwise failure says why its transfer failed
    // for good. An exception ends the album there and leaves the workflow.
    virtual void PhotoDone(int n, int count, const std::string& file, bool fetched, const std::string& failure) = 0;
    // Whether the music is fetched along with the photos.
    virtual bool AutoDownloadMusic() const = 0;
    // The music's address, or the text saying the album has none.
    virtual void ShowMusic(const std::string& ansiText) = 0;
    // Reported as source_url in the usage report.
    virtual std::string SourceUrl() const { return {}; }
};

struct TAlbumOutcome {
    std::string Folder;         // AlbumDir
    int Photos = 0;             // listed in the document
    int Missing = 0;            // photos whose transfer failed for good (the album went on)
    bool Stopped = false;       // a stop ended the photos early
    bool MusicMissing = false;  // the music was to be fetched and did not arrive whole
};

// The viewer's query when address is an album viewer's address (everything after
// "vphoto.swf?", the '.' standing for any character, case-sensitive); false otherwise.
bool ViewerQuery(const std::string& address, std::string& query);

// Runs one album into baseDir (with a trailing '/'): AlbumDir becomes baseDir, the folder
// name made from the title (titleArg when not empty, else the document's) and '/'.
TAlbumOutcome RunAlbumWorkflow(TAlbumView& view, const std::string& baseDir, const std::string& titleArg,
                               const std::string& viewerQuery, const TDownloadSettings& settings);
