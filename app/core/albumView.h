// SPDX-License-Identifier: Apache-2.0
#pragma once
// TAlbumView: what the album workflow shows, and the stop request it obeys. The main
// window and the command line each have one; the workflow decides everything else.
//
// Every call comes on the GUI thread, from inside the workflow. Views show; they do not
// decide: an exception from a view is not a way to end the album (the workflow still
// cleans up after one, and it reaches the caller).
#include <string>

#include "app/core/albumStop.h"

class TAlbumView {
public:
    virtual ~TAlbumView() = default;

    // The stop request of this run: the view's stop button, Ctrl+C or the closing window
    // call Stop.Request().
    TAlbumStop Stop;

    // The status pane's one line (replaced by the next).
    virtual void ShowStatus(const std::string& ansiText) = 0;
    // A line of the status memo.
    virtual void AddStatusLine(const std::string& ansiText) = 0;
    // PhotoList, the photo addresses listed so far.
    virtual void ClearPhotos() = 0;
    virtual void AddPhoto(const std::string& url) = 0;
    // Photo n is in place under file, checked as a whole JPEG (fetched now, or found there
    // from an earlier run); photos before it are over.
    virtual void PhotoCommitted(int n, int count, const std::string& file) = 0;
    // Photo n was found under file from an earlier run but is not whole (why: one line):
    // it was deleted and is being fetched again. Says so in the status memo.
    virtual void PhotoRefetched(int n, const std::string& file, const std::string& why);
    // Whether the music is fetched along with the photos.
    virtual bool AutoDownloadMusic() const = 0;
    // The music's address, or the text saying the album has none.
    virtual void ShowMusic(const std::string& ansiText) = 0;
    // Reported as source_url in the usage report.
    virtual std::string SourceUrl() const { return {}; }
};
