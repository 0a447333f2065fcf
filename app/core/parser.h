// SPDX-License-Identifier: Apache-2.0
#pragma once
// The album parser: turns the address of an album's data document into its title, its
// music address and the ordered list of photo addresses. Its base holds the two transfer
// routines the rest of the application uses.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/common/vo.h"
#include "base/Component.h"

class TAlbumStop;

class TBaseAlbumParser : public TObject {
public:
    // Fetches url into the file (a private page file when fileName is empty: NewTempPageFile,
    // deleted again before returning) with a fresh HTTP client and reads the file back into
    // page: its bytes up to the first NUL (*nulAt, when given, says where it stood; npos
    // when none), every line break (CR LF, CR or LF) turned into CR LF. A failed transfer is
    // not raised: page is whatever body reached the file. Failing to create the file raises.
    // Returns whether the whole document arrived (no transfer error, and as many body
    // bytes as announced when a length was announced); when it did not and error is given,
    // *error says why in one line. A stop (when given) cuts the transfer at once. maxBytes
    // above 0 bounds the body: an answer announcing or bringing more is cut at once, page
    // stays empty and *error is "the answer is larger than the limit of N MB". *mayPass
    // (when given) says whether a failure may pass on another try: a timeout or a transfer
    // too slow, a refused or reset connection, a body cut short, a 5xx answer.
    static bool GetPage(const std::string& url, const std::string& fileName, std::string& page,
                        std::string* error = nullptr, TAlbumStop* stop = nullptr, std::int64_t maxBytes = 0,
                        std::size_t* nulAt = nullptr, bool* mayPass = nullptr);

    // Fetches url into the file with the threaded fetcher (postBody not empty: a form
    // POST), dispatching messages until it is over. The body goes to a temporary file
    // beside the target and takes the target's name only once the transfer succeeded, so
    // a failed or cut-off transfer never leaves a file under that name.
    // Returns false only when an error escaped the start of the transfer; the transfer's
    // own outcome is not reported. A stop (when given) cuts the transfer at once.
    static bool DownloadFile(const std::string& url, const std::string& fileName, const std::string& postBody,
                             TAlbumStop* stop = nullptr);
};

class T6cnAlbumParser : public TBaseAlbumParser {
public:
    std::string MusicUrl;  // empty when the document names none
    std::string Title;     // empty when the document names none
    // The most bytes a data document may have.
    static constexpr std::int64_t MaxDocumentBytes = 64 * 1024 * 1024;
    // Why the last document did not arrive whole or is not whole (one line); empty when it
    // is.
    std::string DocumentError;
    // The last document arrived but cannot be a whole album: larger than MaxDocumentBytes,
    // cut by a NUL byte, or announcing ("total":N) more photos than it lists. Unlike a
    // transfer cut short, this ends every album, whatever it makes of what arrived.
    bool DocumentBroken = false;
    // Whether the last document held any of the document's keys (a title, a music or a
    // photo address): an answer that holds none is not an album data document.
    bool HasAlbumKeys = false;
    // Where the progress lines go (the status pane); none when unset.
    std::function<void(const std::string& ansiText)> OnStatus;
    // Cuts the document's transfer when requested; none when null.
    TAlbumStop* Stop = nullptr;

    void FetchDocument(const std::string& url, const std::string& fileName, std::string& page);

    // Shows its progress through OnStatus; afterwards Title and MusicUrl hold what was
    // found. A document that cannot be fetched gives an empty list.
    std::unique_ptr<TPhotoList> Parse(const std::string& url);
};
