// SPDX-License-Identifier: Apache-2.0
#pragma once
// The album workflow: from a viewer query to a folder of numbered photos, a usage report
// and, when asked for, the background music. The main window and the command line run
// this one workflow, each showing it through its own TAlbumView and choosing its rules
// with TAlbumPolicy; the result says how the album ended.
//
// Runs on the GUI thread; every transfer dispatches messages while it waits, so the view's
// other events (the stop button, the preview, the link ticker) run in the middle of it.
// A stop (view.Stop) cuts whatever runs and ends the album at once: no transfer and no
// retry starts after it, the photos committed stay, nothing uncommitted does.
#include <climits>
#include <string>
#include <vector>

#include "app/core/albumView.h"
#include "app/settings/downloadSettings.h"

struct TAlbumPolicy {
    // A photo below this number that fails for good ends the album there (the window: the
    // photos with a thumbnail); a later one is counted missing and the album goes on.
    int FailureEndsAlbumBelow = INT_MAX;
    // A data document that did not arrive whole, or that holds none of the document's
    // keys, ends the album before its folder is made. Off: the album goes on with what
    // arrived (an empty album when nothing did).
    bool RequireDocument = true;
};

struct TAlbumOutcome {
    enum class TEnd {
        Complete,        // every photo had its turn (some may be Missing past the policy's limit)
        Stopped,         // a stop ended it
        PhotoFailed,     // FailedPhoto failed for good below the policy's limit
        DocumentFailed,  // the data document (DocumentError says why); no folder made
        FolderBusy,      // the album folder is locked by another run, or cannot be locked
                         // (FolderError says which); nothing in it was touched
    };
    TEnd End = TEnd::Complete;
    std::string Folder;        // AlbumDir; empty when no folder was made
    int Photos = 0;            // listed in the document
    std::vector<int> Missing;  // photos (0-based) not in the folder at the end
    // PhotoFailed: which photo, its file and why (one line); NotAJpeg when it arrived but
    // was not a whole JPEG.
    int FailedPhoto = -1;
    std::string FailedFile, FailedReason;
    bool NotAJpeg = false;
    std::string DocumentError;  // DocumentFailed: why
    std::string FolderError;    // FolderBusy: why, naming the folder (ANSI)
    bool MusicMissing = false;  // the music was to be fetched and did not arrive whole
    std::string MusicError;     // MusicMissing: why (one line, from the transfer)
};

// The viewer's query when address is an album viewer's address (everything after
// "vphoto.swf?", the '.' standing for any character, case-sensitive); false otherwise.
bool ViewerQuery(const std::string& address, std::string& query);

// The memo line for photos missing at the end ("有 2 张照片未能下载：第 31、57 张"; runs of
// three or more numbers as "3-12"); numbers are shown 1-based.
std::string MissingPhotosLine(const std::vector<int>& missing);

// Runs one album into baseDir (with a trailing '/'): AlbumDir becomes baseDir plus the
// folder name made from the title (titleArg when not empty, else the document's) and '/',
// or baseDir itself when that name is empty. The run holds an advisory lock on AlbumDir
// from its creation to the end; when another run holds it, the album ends at once
// (FolderBusy). A data document that is broken (T6cnAlbumParser::DocumentBroken) ends the
// album whatever the policy says.
TAlbumOutcome RunAlbumWorkflow(TAlbumView& view, const std::string& baseDir, const std::string& titleArg,
                               const std::string& viewerQuery, const TDownloadSettings& settings,
                               const TAlbumPolicy& policy);
