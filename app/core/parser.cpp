// SPDX-License-Identifier: Apache-2.0
#include "app/core/parser.h"

#include "app/common/commonDefineTexts.h"
#include "app/core/applyProxy.h"
#include "app/core/albumDocument.h"
#include "app/core/albumStop.h"
#include "app/settings/downloadSettings.h"
#include "app/settings/locations.h"
#include "base/Exception.h"
#include "fetcher/HTTPGet.h"
#include "http/HttpProt.h"
#include "platform/Files.h"
#include "winsock/Winsock.h"

namespace {

// The file's text up to its first NUL, with every line break as CR LF; *nulAt (when given)
// is where that NUL stood, npos when there was none.
std::string ReadLines(const std::string& fileName, std::size_t* nulAt = nullptr) {
    auto file = OpenFileStream(fileName, TFileStream::fmOpenRead);
    std::string bytes(static_cast<size_t>(file->Size()), '\0');
    file->ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    const std::size_t nul = bytes.find('\0');
    if (nulAt) *nulAt = nul;
    bytes.resize(nul == std::string::npos ? bytes.size() : nul);
    std::string page;
    page.reserve(bytes.size() + bytes.size() / 16);
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find_first_of("\r\n", start);
        if (end == std::string::npos) end = bytes.size();
        page.append(bytes, start, end - start).append("\r\n");
        if (end < bytes.size() && bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n') ++end;
        start = end + 1;
    }
    return page;
}

// A page file of the run's own, deleted with this object (success or not).
struct TPrivatePage {
    std::string path;
    ~TPrivatePage() {
        if (!path.empty()) DeleteFile(path);
    }
};

std::string Megabytes(std::int64_t bytes) { return std::to_string(bytes / (1024 * 1024)) + " MB"; }

}  // namespace

bool TBaseAlbumParser::GetPage(const std::string& url, const std::string& fileName, std::string& page,
                               std::string* error, TAlbumStop* stop, std::int64_t maxBytes, std::size_t* nulAt,
                               bool* mayPass) {
    page.clear();
    if (nulAt) *nulAt = std::string::npos;
    if (mayPass) *mayPass = false;
    WORD socketError = 0;   // what the request ended with (OnRequestDone)
    WORD failedStatus = 0;  // the answer's status when it was an error (400 or more)
    bool cutShort = false;
    TPrivatePage privatePage;
    if (fileName.empty()) privatePage.path = NewTempPageFile();
    const std::string& target = fileName.empty() ? privatePage.path : fileName;
    bool complete = false;
    bool tooLarge = false;
    {
        THttpCli client;
        auto file = CreateBufferedFileStream(target);
        client.SetURL(url);
        client.SetDocStream(file.get());
        if (maxBytes > 0) {
            // Cut as soon as the answer announces or brings more than the bound.
            client.OnHeaderEnd = [&](TObject*) {
                if (client.ContentLength() > maxBytes) {
                    tooLarge = true;
                    client.Abort();
                }
            };
            client.OnDocData = [&](TObject*, const void*, int) {
                if (client.RcvdBytes() > maxBytes && !tooLarge) {
                    tooLarge = true;
                    client.Abort();
                }
            };
        }
        try {
            TAlbumStop::TWatch watch;
            if (stop) {
                if (stop->Requested()) throw Exception("stopped");
                watch = stop->Watch([&client] { client.Abort(); });
            }
            ApplyProxy(client, url);
            client.SetLowSpeedLimit(DownloadSettings().LowSpeedLimit);
            client.SetLowSpeedTime(DownloadSettings().LowSpeedTime);
            client.OnRequestDone = [&socketError](TObject*, THttpRequest, WORD e) { socketError = e; };
            client.Get();
            complete = client.ContentLength() < 0 || client.RcvdBytes() == client.ContentLength();
            cutShort = !complete;
            if (!complete && error)
                *error = "cut off after " + std::to_string(client.RcvdBytes()) + " of " +
                         std::to_string(client.ContentLength()) + " bytes";
        } catch (const EHttpException& e) {
            // A failed transfer leaves in the file whatever body arrived.
            if (error) *error = e.Message();
            failedStatus = e.ErrorCode();
        } catch (const Exception& e) {
            if (error) *error = e.Message();
        }
        if (mayPass && !complete && !tooLarge && !(stop && stop->Requested()))
            *mayPass = cutShort || (failedStatus >= 500 && failedStatus <= 599) ||
                       socketError == WSAETIMEDOUT || socketError == WSAECONNRESET ||
                       socketError == WSAECONNREFUSED || socketError == WSAEHOSTUNREACH;
    }
    if (tooLarge) {
        complete = false;
        if (error) *error = "the answer is larger than the limit of " + Megabytes(maxBytes);
        return false;  // nothing of it is read
    }
    page = ReadLines(target, nulAt);
    return complete;
}

bool TBaseAlbumParser::DownloadFile(const std::string& url, const std::string& fileName, const std::string& postBody,
                                    TAlbumStop* stop) {
    const std::string partial = fileName + ".part";
    if (stop && stop->Requested()) return true;  // nothing starts after a stop
    try {
        bool succeeded = false;
        THTTPGet fetcher;
        fetcher.SetURL(url);
        fetcher.SetFileName(partial);
        fetcher.SetPostQuery(postBody);
        fetcher.SetWaitThread(true);
        fetcher.SetLowSpeedLimit(static_cast<std::uint32_t>(DownloadSettings().LowSpeedLimit));
        fetcher.SetLowSpeedTime(static_cast<std::uint32_t>(DownloadSettings().LowSpeedTime) * 1000u);
        fetcher.OnDoneFile = [&](TObject*, const std::string&, std::int32_t) { succeeded = true; };
        TAlbumStop::TWatch watch;
        if (stop) watch = stop->Watch([&fetcher] { fetcher.Abort(); });
        fetcher.FetchToFile();
        if (succeeded)
            RenameFile(partial, fileName);
        else
            DeleteFile(partial);
        return true;
    } catch (const Exception&) {
        DeleteFile(partial);
        return false;
    }
}

void T6cnAlbumParser::FetchDocument(const std::string& url, const std::string& fileName, std::string& page) {
    DocumentError.clear();
    DocumentBroken = false;
    std::size_t nulAt = std::string::npos;
    // A failure that may pass is tried again at once, as often as a photo would be.
    bool whole = false, mayPass = true;
    for (int attempt = 0; !whole && mayPass && attempt <= DownloadSettings().Retries; ++attempt) {
        DocumentError.clear();
        whole = GetPage(url, fileName, page, &DocumentError, Stop, MaxDocumentBytes, &nulAt, &mayPass);
    }
    if (!whole && DocumentError.rfind("the answer is larger", 0) == 0) {
        DocumentError = "the data document is larger than the limit of " + Megabytes(MaxDocumentBytes);
        DocumentBroken = true;
    } else if (whole && nulAt != std::string::npos) {
        // Text never holds a NUL: what follows it would be lost, so the album is not whole.
        DocumentError = "the data document holds a NUL byte at byte " + std::to_string(nulAt);
        DocumentBroken = true;
    }
}

std::unique_ptr<TPhotoList> T6cnAlbumParser::Parse(const std::string& url) {
    const auto status = [this](const char* text) {
        if (OnStatus) OnStatus(text);
    };
    status(sFetchingInfo);
    std::string document;
    FetchDocument(url, "", document);
    auto photos = std::make_unique<TPhotoList>();
    const TAlbumDocument found = ReadAlbumDocument(document);
    HasAlbumKeys = found.Title || found.MusicUrl || !found.PhotoUrls.empty();
    if (found.Title) {
        Title = *found.Title;
        status(sGotTitle);
    }
    if (found.MusicUrl) {
        MusicUrl = *found.MusicUrl;
        status(sGotMusic);
    }
    if (DocumentError.empty() && found.AnnouncedPhotos &&
        *found.AnnouncedPhotos > static_cast<long long>(found.PhotoUrls.size())) {
        DocumentError = "the data document announces " + std::to_string(*found.AnnouncedPhotos) +
                        " photos but lists " + std::to_string(found.PhotoUrls.size());
        DocumentBroken = true;
    }
    for (const std::string& url : found.PhotoUrls) {
        auto photo = std::make_unique<TPhotoObject>();
        photo->Url = url;
        photos->push_back(std::move(photo));
        status(sGotPhoto);
    }
    return photos;
}
