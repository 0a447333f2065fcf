#include "fetcher/HTTPGetThread.h"

#include <array>
#include <limits>
#include <memory>
#include <vector>

#include "base/SysUtils.h"
#include "fetcher/HTTPGetUrl.h"
#include "platform/Files.h"
#include "platform/WinInet.h"

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
    } catch (...) {
        // A file that cannot be created or written, a length that is not a number, an
        // exception from the progress handler: the handles, the file and the buffers are
        // already released by the unwinding; the transfer has failed.
        success_ = false;
    }
    // A stop requested after the last stop test still counts: Cancel stores false after
    // setting the request, so whichever of the two stores comes last, it is false.
    if (Terminated()) success_ = false;
}

void THTTPGetThread::Transfer() {
    std::string host, path;
    SplitHostAndPath(URL_, host, path);
    if (Terminated()) return;

    InternetHandles h;
    h.root = InternetOpenA(Agent_.empty() ? nullptr : Agent_.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                           nullptr, 0);
    h.connection = InternetConnectA(h.root, host.c_str(), INTERNET_DEFAULT_HTTP_PORT, UserName_.c_str(),
                                    Password_.c_str(), INTERNET_SERVICE_HTTP, 0, 0);
    const char* verb = PostQuery_.empty() ? "GET" : "POST";
    // The accept list holds the whole header text, field name included.
    const std::string accept = "Accept: " + AcceptTypes_;
    const char* acceptTypes[] = {accept.c_str(), nullptr};
    h.request = HttpOpenRequestA(h.connection, verb, path.c_str(), "HTTP/1.0", Referer_.c_str(), acceptTypes,
                                 UseCache_ ? 0 : INTERNET_FLAG_RELOAD, 0);
    request_ = h.request;
    if (Terminated()) return;  // an Abort that came before the handle was there
    const bool answered =
        PostQuery_.empty()
            ? HttpSendRequestA(h.request, nullptr, 0, nullptr, 0)
            : HttpSendRequestA(h.request, kFormContentType, kFormContentTypeLength, PostQuery_.data(),
                               static_cast<DWORD>(PostQuery_.size()));
    if (!answered) errorCode_ = GetLastError();
    if (Terminated()) return;

    std::vector<char> lengthText(kLengthBufferSize);
    DWORD lengthSize = kLengthBufferSize;
    const bool lengthKnown =
        HttpQueryInfoA(h.request, HTTP_QUERY_CONTENT_LENGTH, lengthText.data(), &lengthSize, nullptr);
    if (Terminated()) return;
    // Without a response there is nothing to write: no file is created.
    if (!answered) return;
    if (!lengthKnown && BinaryData_) return;
    if (lengthKnown) TotalSize_ = StrToInt(lengthText.data());
    DWORD status = 0;
    DWORD statusSize = sizeof status;
    HttpQueryInfoA(h.request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &statusSize, nullptr);
    status_ = status;

    Readed_ = 0;
    // Pieces of 1025 bytes are gathered into blocks: a write per piece would cost more
    // than the rest of a loopback transfer. The file is brought up to date before every
    // progress call, so a progress handler sees every byte received on disk, and once more
    // at the end, where a failing write fails the transfer.
    std::unique_ptr<TBufferedFileStream> file;
    if (toFile_)
        file = CreateBufferedFileStream(FileName_);
    else
        Result_.clear();

    std::array<char, kPieceSize> piece;
    bool readFailed = false;
    for (;;) {
        if (Terminated()) return;  // the part already written stays on disk
        if (!InternetReadFile(h.request, piece.data(), kPieceSize, &lastRead_)) {
            errorCode_ = GetLastError();
            readFailed = true;
            break;
        }
        if (lastRead_ == 0) break;
        if (file)
            file->WriteBuffer(piece.data(), lastRead_);
        else
            Result_.append(piece.data(), lastRead_);
        if (lastRead_ > static_cast<DWORD>(std::numeric_limits<std::int32_t>::max() - Readed_)) {
            readFailed = true;  // beyond what the 32-bit counters can report
            break;
        }
        Readed_ += static_cast<std::int32_t>(lastRead_);
        if (progress_) {
            if (file) file->FlushBuffer();
            Synchronize([this] { ReportProgress(); });
        }
    }
    if (file) file->FlushBuffer();  // a failing last write fails the transfer
    const bool complete = !lengthKnown || Readed_ == TotalSize_;
    success_ = status < 400 && !readFailed && complete;
}
