// SPDX-License-Identifier: Apache-2.0
#include "fetcher/HTTPGetThread.h"

#include <array>
#include <limits>
#include <memory>
#include <vector>

#include "base/Exception.h"
#include "base/Stream.h"
#include "base/SysUtils.h"
#include "base/UrlText.h"
#include "fetcher/HTTPGetErrorText.h"
#include "fetcher/HTTPGetUrl.h"
#include "platform/Files.h"
#include "wininet/WinInet.h"

namespace {

constexpr char kFormContentType[] = "Content-Type: application/x-www-form-urlencoded";
constexpr DWORD kFormContentTypeLength = sizeof kFormContentType - 1;  // 47
constexpr std::size_t kPieceSize = 1025;
constexpr DWORD kLengthBufferSize = 1024;

// The three handles of a transfer, closed request first whatever they hold, on every way
// out of the body (an error included).
struct InternetHandles {
    HINTERNET root = nullptr;
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;
    ~InternetHandles() {
        InternetCloseHandle(request);
        InternetCloseHandle(connection);
        InternetCloseHandle(root);
    }
};

}  // namespace

THTTPGetThread::THTTPGetThread(std::string acceptTypes, std::string agent, std::string url, std::string fileName,
                               std::string userName, std::string password, std::string postQuery,
                               std::string referer, bool binaryData, bool useCache, TOnProgressEvent progress,
                               bool toFile)
    : TThread(true),
      AcceptTypes_(std::move(acceptTypes)),
      Agent_(std::move(agent)),
      URL_(std::move(url)),
      FileName_(std::move(fileName)),
      UserName_(std::move(userName)),
      Password_(std::move(password)),
      PostQuery_(std::move(postQuery)),
      Referer_(std::move(referer)),
      BinaryData_(binaryData),
      UseCache_(useCache),
      toFile_(toFile),
      progress_(std::move(progress)) {}

void THTTPGetThread::Cancel() {
    Terminate();
    success_ = false;
}

void THTTPGetThread::Abort() {
    Cancel();
    if (const HINTERNET request = request_.exchange(nullptr)) InternetCloseHandle(request);
}

void THTTPGetThread::Detach() {
    OnTerminate = nullptr;
    detached_ = true;
}

void THTTPGetThread::ReportProgress() {
    if (progress_ && !detached_) progress_(static_cast<TObject*>(this), TotalSize_, Readed_);
}

void THTTPGetThread::Execute() {
    try {
        Transfer();
    } catch (const Exception& e) {
        // A file that cannot be created or written, an exception from the progress handler:
        // the handles, the file and the buffers are already released by the unwinding; the
        // transfer has failed.
        success_ = false;
        if (inProgressHandler_)
            Fail(0, "stopped by the progress handler: " + e.Message());
        else if (const auto* stream = dynamic_cast<const EStreamError*>(&e); stream && stream->SystemError() != 0)
            // The system's reason first, as it names what happened ("no space left on
            // device: <file>"); the path as the caller gave it.
            Fail(0, (fileCreated_ ? "" : "cannot create " + FileName_ + ": ") + SysErrorMessage(stream->SystemError()) +
                        (fileCreated_ ? ": " + FileName_ : std::string()));
        else if (dynamic_cast<const EStreamError*>(&e))
            Fail(0, "cannot write " + FileName_ + ": " + e.Message());
        else
            Fail(0, e.Message());
    } catch (...) {
        success_ = false;
        Fail(0, "unexpected failure");
    }
    // A stop requested after the last stop test still counts: Cancel stores false after
    // setting the request, so whichever of the two stores comes last, it is false.
    if (Terminated()) {
        success_ = false;
        errorCode_ = ERROR_INTERNET_OPERATION_CANCELLED;
        errorText_ = InternetErrorText(errorCode_, {}, false, 0, -1, {});
    }
}

void THTTPGetThread::Fail(DWORD code, const std::string& text) {
    if (!errorText_.empty()) return;
    errorCode_ = code;
    errorText_ = text;
}

namespace {

// A header of the answer as text, empty when it has none.
std::string QueryText(HINTERNET request, DWORD level) {
    std::string value(kLengthBufferSize, '\0');
    DWORD size = kLengthBufferSize;
    if (!HttpQueryInfoA(request, level, value.data(), &size, nullptr)) return {};
    value.resize(size);
    return value;
}

// Why the last call failed, in words: the Internet layer's own text of a TLS or proxy
// failure (it names the server or the step), else the fetcher's.
std::string FailureText(DWORD code, const std::string& host, bool inBody, std::int64_t got, std::int64_t total,
                        const std::string& location) {
    // The Internet layer's own words when it has them for this failure (a TLS failure, a
    // proxy that failed a step).
    {
        std::string text(kLengthBufferSize, '\0');
        DWORD error = 0;
        DWORD size = kLengthBufferSize;
        if (InternetGetLastResponseInfoA(&error, text.data(), &size) && error == code && size > 0) {
            text.resize(size);
            return text;
        }
    }
    return InternetErrorText(code, host, inBody, got, total, location);
}

// The path and query of a target as the request line carries them (base/UrlText.h).
std::string RequestTarget(const TFetchTarget& target) {
    std::string path = EncodeRequestTarget(target.Path);
    if (!path.empty() && path[0] == '?') path.insert(0, 1, '/');
    return path;
}

}  // namespace

void THTTPGetThread::Transfer() {
    // A line break in an address would end the request line early and pass the rest for
    // header lines or a second request: such an address is never sent.
    for (const std::string* address : {&URL_, &Referer_})
        if (HasLineBreakOrNul(*address)) {
            Fail(0, "refused the address " + PrintableAddress(*address) +
                        ": it holds a line break (CR or LF) or a NUL byte");
            return;
        }
    // http:// addresses (and anything else but https://) go to the port they name, else 80.
    const TFetchTarget target = SplitFetchTarget(URL_);
    const std::string& host = target.Host;
    const std::string path = RequestTarget(target);
    const bool secure = target.Scheme == INTERNET_SCHEME_HTTPS;
    if (Terminated()) return;

    // The results of the calls are looked at only once the request has been sent; the first
    // failure is the one that tells why.
    DWORD failure = 0;
    const auto note = [&failure](bool ok) {
        if (!ok && failure == 0) failure = GetLastError();
    };
    InternetHandles h;
    h.root = InternetOpenA(Agent_.empty() ? nullptr : Agent_.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                           nullptr, 0);
    note(h.root != nullptr);
    if (h.root && LowSpeedLimit_ > 0 && LowSpeedTimeMs_ > 0) {
        InternetSetOptionA(h.root, INTERNET_OPTION_LOW_SPEED_LIMIT, &LowSpeedLimit_, sizeof LowSpeedLimit_);
        InternetSetOptionA(h.root, INTERNET_OPTION_LOW_SPEED_TIME, &LowSpeedTimeMs_, sizeof LowSpeedTimeMs_);
    }
    h.connection = InternetConnectA(h.root, host.c_str(), target.Port, UserName_.c_str(),
                                    Password_.c_str(), INTERNET_SERVICE_HTTP, 0, 0);
    note(h.connection != nullptr);
    const char* verb = PostQuery_.empty() ? "GET" : "POST";
    // The accept list holds the whole header text, field name included.
    const std::string accept = "Accept: " + AcceptTypes_;
    const char* acceptTypes[] = {accept.c_str(), nullptr};
    h.request = HttpOpenRequestA(h.connection, verb, path.c_str(), "HTTP/1.0", Referer_.c_str(), acceptTypes,
                                 (UseCache_ ? 0 : INTERNET_FLAG_RELOAD) | (secure ? INTERNET_FLAG_SECURE : 0), 0);
    request_ = h.request;
    if (Terminated()) return;  // an Abort that came before the handle was there
    note(h.request != nullptr);
    // Only to the same place: the announcements are for this connection's server, and the
    // one after next only behind the next.
    for (const std::string* url : {&NextURL_, &AfterNextURL_}) {
        if (!PostQuery_.empty() || url->empty() || HasLineBreakOrNul(*url)) break;
        const TFetchTarget next = SplitFetchTarget(*url);
        if (next.Scheme != target.Scheme || next.Port != target.Port || LowerCase(next.Host) != LowerCase(host)) break;
        HttpAnnounceNextRequestA(h.request, RequestTarget(next).c_str());
    }
    const bool answered =
        PostQuery_.empty()
            ? HttpSendRequestA(h.request, nullptr, 0, nullptr, 0)
            : HttpSendRequestA(h.request, kFormContentType, kFormContentTypeLength, PostQuery_.data(),
                               static_cast<DWORD>(PostQuery_.size()));
    note(answered);
    if (Terminated()) return;

    std::vector<char> lengthText(kLengthBufferSize);
    DWORD lengthSize = kLengthBufferSize;
    const bool lengthKnown =
        HttpQueryInfoA(h.request, HTTP_QUERY_CONTENT_LENGTH, lengthText.data(), &lengthSize, nullptr);
    const DWORD lengthError = lengthKnown ? 0 : GetLastError();
    if (Terminated()) return;
    // Also an answer whose redirection could not be followed has its status.
    DWORD status = 0;
    DWORD statusSize = sizeof status;
    if (HttpQueryInfoA(h.request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &statusSize, nullptr))
        status_ = static_cast<std::int32_t>(status);
    // Without a response there is nothing to write: no file is created.
    if (!answered) {
        Fail(failure, FailureText(failure, host, false, 0, -1, QueryText(h.request, HTTP_QUERY_LOCATION)));
        return;
    }
    if (!lengthKnown && BinaryData_) {
        Fail(lengthError, InternetErrorText(lengthError, host, false, 0, -1, {}));
        return;
    }
    if (lengthKnown) {
        try {
            TotalSize_ = StrToInt(lengthText.data());
        } catch (const EConvertError&) {
            Fail(ERROR_HTTP_INVALID_HEADER, InternetErrorText(ERROR_HTTP_INVALID_HEADER, host, false, 0, -1, {}));
            return;
        }
    }
    // An answer announcing more than the bound is refused before any byte is written.
    const auto tooLargeText = [this] {
        return "the body is larger than the limit of " + IntToStr(MaxBodySize_) + " bytes";
    };
    if (MaxBodySize_ > 0 && status_ < 300 && lengthKnown && TotalSize_ > MaxBodySize_) {
        Fail(0, tooLargeText() + " (" + IntToStr(TotalSize_) + " announced)");
        return;
    }

    Readed_ = 0;
    // Pieces of 1025 bytes are gathered into blocks: a write per piece would cost more
    // than the rest of a loopback transfer. The file is brought up to date before every
    // progress call, so a progress handler sees every byte received on disk, and once more
    // at the end, where a failing write fails the transfer.
    std::unique_ptr<TBufferedFileStream> file;
    if (toFile_) {
        file = CreateBufferedFileStream(FileName_);
        fileCreated_ = true;
    } else {
        Result_.clear();
    }

    std::array<char, kPieceSize> piece;
    DWORD readError = 0;
    bool tooLarge = false;
    bool overLimit = false;
    for (;;) {
        if (Terminated()) return;  // the part already written stays on disk
        if (!InternetReadFile(h.request, piece.data(), kPieceSize, &lastRead_)) {
            readError = GetLastError();
            break;
        }
        if (lastRead_ == 0) break;
        if (MaxBodySize_ > 0 && Readed_ + static_cast<std::int64_t>(lastRead_) > MaxBodySize_) {
            overLimit = true;  // nothing beyond the bound reaches the file
            break;
        }
        if (file)
            file->WriteBuffer(piece.data(), lastRead_);
        else
            Result_.append(piece.data(), lastRead_);
        if (lastRead_ > static_cast<DWORD>(std::numeric_limits<std::int32_t>::max() - Readed_)) {
            tooLarge = true;  // beyond what the 32-bit counters can report
            break;
        }
        Readed_ += static_cast<std::int32_t>(lastRead_);
        if (progress_) {
            if (file) file->FlushBuffer();
            inProgressHandler_ = true;
            Synchronize([this] { ReportProgress(); });
            inProgressHandler_ = false;
        }
    }
    // A failing last write fails the transfer; a whole body is made durable before the
    // caller may rename it.
    if (file) {
        if (status_ < 300 && readError == 0 && !overLimit && !tooLarge)
            file->Sync();
        else
            file->FlushBuffer();
    }
    // An answer found out of its place is not this address's, whatever its status.
    if (readError == ERROR_INTERNET_ANSWER_DISCARDED) Fail(readError, InternetErrorText(readError, host, true, 0, -1, {}));
    // An error status says more than how its page arrived.
    if (status_ >= 300) Fail(0, HttpStatusText(status_, QueryText(h.request, HTTP_QUERY_STATUS_TEXT)));
    if (overLimit) Fail(0, tooLargeText());
    if (readError != 0) Fail(readError, FailureText(readError, host, true, Readed_, lengthKnown ? TotalSize_ : -1, {}));
    if (tooLarge) Fail(0, "body larger than " + IntToStr(std::numeric_limits<std::int32_t>::max()) + " bytes");
    if (lengthKnown && Readed_ != TotalSize_)
        Fail(0, "received " + IntToStr(Readed_) + " of " + IntToStr(TotalSize_) + " bytes");
    success_ = errorText_.empty();
}
