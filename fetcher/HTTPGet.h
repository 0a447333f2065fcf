// SPDX-License-Identifier: Apache-2.0
#pragma once
// THTTPGet: fetches one URL on a worker thread (THTTPGetThread) into a file or a text.
//
// Every operation runs on the main thread, and so does every event. A component runs at
// most one transfer at a time; a start while one runs is ignored. The worker works on
// copies of the properties, so changing them during a transfer affects only the next.
//
// Events (raised only when assigned):
//  - OnProgress after every piece received (at most 1025 bytes), with the worker as Sender;
//    the worker waits until the handler has run.
//  - OnDoneFile / OnDoneString once a transfer has succeeded (see THTTPGetThread::Success),
//    with the component as Sender; OnDoneFile gets the file name and the bytes written.
//  - OnError once a transfer has failed, with the component as Sender; LastErrorText and
//    LastErrorCode say why. A failed file transfer keeps what was written (an error page's
//    body, a cut-off body); a transfer that got no response, or an answer it did not
//    follow (too many redirections, one to an address it cannot fetch), creates no file.
// An exception escaping OnDoneFile, OnDoneString or OnError goes to the application's error
// dialog; one escaping OnProgress ends the transfer as a failure.
//
// The main thread must dispatch messages (its event loop, or the wait of WaitThread) for
// progress and completion to be delivered.
#include <cstdint>
#include <memory>
#include <string>

#include "base/Component.h"
#include "fetcher/HTTPGetEvents.h"

class THTTPGetThread;

class THTTPGet : public TComponent {
public:
    explicit THTTPGet(TComponent* owner = nullptr);
    // Asks a running transfer to stop; its completion then raises no event and never
    // touches this object.
    ~THTTPGet() override;

    // Properties, in their published order.
    const std::string& AcceptTypes() const { return AcceptTypes_; }  // default "*/*"
    void SetAcceptTypes(std::string v) { AcceptTypes_ = std::move(v); }
    const std::string& Agent() const { return Agent_; }  // default "Brevant HTTPGet"; empty: none sent
    void SetAgent(std::string v) { Agent_ = std::move(v); }
    // True: a response without a readable content length is not transferred at all.
    bool BinaryData() const { return BinaryData_; }
    void SetBinaryData(bool v) { BinaryData_ = v; }
    // The address (fetcher/HTTPGetUrl.h): https:// ones over TLS (port 443 unless given,
    // verified as tls/TlsClient.h says), anything else over plain HTTP on port 80. Its
    // path and query go out percent-encoded where they hold bytes outside the URL grammar
    // (base/UrlText.h). An address or Referer holding CR, LF or NUL is never sent: the
    // transfer fails at once (OnError, LastErrorCode 0, "refused the address ...: it holds
    // a line break (CR or LF) or a NUL byte").
    const std::string& URL() const { return URL_; }
    void SetURL(std::string v) { URL_ = std::move(v); }
    // False: the answer must come from the server itself, not from a cache on the way.
    bool UseCache() const { return UseCache_; }
    void SetUseCache(bool v) { UseCache_ = v; }
    const std::string& FileName() const { return FileName_; }  // an ANSI path
    void SetFileName(std::string v) { FileName_ = std::move(v); }
    const std::string& UserName() const { return UserName_; }
    void SetUserName(std::string v) { UserName_ = std::move(v); }
    const std::string& Password() const { return Password_; }
    void SetPassword(std::string v) { Password_ = std::move(v); }
    // Not empty: the request is a POST with this body unchanged, as a form.
    const std::string& PostQuery() const { return PostQuery_; }
    void SetPostQuery(std::string v) { PostQuery_ = std::move(v); }
    const std::string& Referer() const { return Referer_; }
    void SetReferer(std::string v) { Referer_ = std::move(v); }
    // The address the next transfer with these settings will fetch, when the caller knows
    // it (empty: unknown). A hint: a GET to the same server may then send that request
    // right behind this one on a connection that takes it, so that its answer is on the way
    // when the next transfer asks (wininet/WinInet.h, HttpAnnounceNextRequestA).
    const std::string& NextURL() const { return NextURL_; }
    void SetNextURL(std::string v) { NextURL_ = std::move(v); }
    // Bytes a body may have (0: no bound). A body growing past it, or a success announcing
    // more, fails the transfer for good ("the body is larger than the limit of N bytes"; an
    // error status says its status instead), before any byte beyond it is written.
    std::int64_t MaxBodySize() const { return MaxBodySize_; }
    void SetMaxBodySize(std::int64_t v) { MaxBodySize_ = v; }
    // The address the transfer after that one will fetch (empty: unknown): a second request
    // that may go behind the first on the same connection, to a server that handles it.
    const std::string& AfterNextURL() const { return AfterNextURL_; }
    void SetAfterNextURL(std::string v) { AfterNextURL_ = std::move(v); }
    // A transfer that receives fewer than LowSpeedLimit bytes per second over LowSpeedTime
    // milliseconds (the wait for the answer included) fails with ERROR_INTERNET_TIMEOUT, a
    // failure that may pass ("transfer too slow: below 1024 bytes/s for 30 s"). 0 (the default): no limit.
    std::uint32_t LowSpeedLimit() const { return LowSpeedLimit_; }
    void SetLowSpeedLimit(std::uint32_t bytesPerSecond) { LowSpeedLimit_ = bytesPerSecond; }
    std::uint32_t LowSpeedTime() const { return LowSpeedTime_; }
    void SetLowSpeedTime(std::uint32_t ms) { LowSpeedTime_ = ms; }
    // True: the start operations return only when the transfer is over, dispatching the
    // calling thread's messages meanwhile (blocking while none are there).
    bool WaitThread() const { return WaitThread_; }
    void SetWaitThread(bool v) { WaitThread_ = v; }

    TOnProgressEvent OnProgress;
    TOnDoneFileEvent OnDoneFile;
    TOnDoneStringEvent OnDoneString;
    TNotifyEvent OnError;

    // Starts fetching URL into the file FileName (created or truncated once the response
    // has arrived). Ignored while a transfer runs, whatever WaitThread says.
    void FetchToFile();
    // The same transfer, the body collected as a text and given to OnDoneString.
    void FetchToString();
    // Asks a running transfer to stop and marks it failed; returns at once. The transfer
    // ends at its next stop test (a read in progress is not interrupted) with OnError.
    void Cancel();
    // Cancel, and the transfer's connection is cut at once: a name look-up, a connection
    // being made or a read waiting for the server ends now instead of at its timeout; a
    // kept-alive connection in use is closed, never kept. The transfer ends with OnError as
    // after Cancel.
    void Abort();

    bool Busy() const { return worker_ != nullptr; }
    // The outcome of the last completed transfer; false until one has completed.
    bool LastOutcome() const { return result_; }

    // The last completed transfer (valid inside OnDoneFile/OnDoneString/OnError and after
    // them, until the next transfer completes):
    // HTTP status of the final response; 0 when none arrived.
    std::int32_t LastStatus() const { return lastStatus_; }
    // The Internet error (ERROR_INTERNET_* / ERROR_HTTP_* of wininet/WinInet.h) that ended
    // it; 0 when none did: a success, an HTTP error status (LastStatus tells), a file that
    // cannot be written. A body cut off shows as ERROR_INTERNET_CONNECTION_ABORTED (closed
    // early) or _RESET, a silent server as ERROR_INTERNET_TIMEOUT, a refused connection as
    // ERROR_INTERNET_CANNOT_CONNECT, a stop as ERROR_INTERNET_OPERATION_CANCELLED, an answer
    // on a connection carrying requests back to back that was not confirmed (the connection
    // went out of step after it: its bytes may be another photo's) as
    // ERROR_INTERNET_ANSWER_DISCARDED, an
    // answer that was not followed as ERROR_HTTP_REDIRECT_FAILED or
    // ERROR_HTTP_TOO_MANY_REDIRECTS; over https a certificate that is not trusted, for
    // another name or out of date as ERROR_INTERNET_INVALID_CA, _SEC_CERT_CN_INVALID or
    // _SEC_CERT_DATE_INVALID, any other TLS failure (a body without Content-Length that
    // ends without a TLS close included) as ERROR_INTERNET_SECURITY_CHANNEL_ERROR.
    std::uint32_t LastErrorCode() const { return lastErrorCode_; }
    // One English line saying why it failed ("connection reset after 1000 of 3000 bytes",
    // "HTTP 404 Not Found", "too many redirects", "cannot follow a redirect to ftp://...",
    // "stopped", "cannot write <file>: ...", "the certificate of <server> is not trusted; to
    // trust its authority use ...", "no space left on device: <file>"); empty after a success.
    const std::string& LastErrorText() const { return lastErrorText_; }
    // Whether the failure may pass, so that the same transfer tried again may succeed: the
    // server or the way to it had trouble (refused or reset connection, a body cut off, a
    // timeout or a transfer too slow, an answer discarded, status 500-599). A refusal of the
    // address itself (4xx), an answer that was not followed, a TLS failure, a local error or
    // a stop is final. False after a success.
    bool LastFailureMayPass() const;

private:
    void Start(bool toFile);
    void WorkerFinished(THTTPGetThread* worker);

    std::string AcceptTypes_ = "*/*";
    std::string Agent_ = "Brevant HTTPGet";
    bool BinaryData_ = false;
    std::string URL_;
    bool UseCache_ = false;
    std::string FileName_, UserName_, Password_, PostQuery_, Referer_;
    std::string NextURL_, AfterNextURL_;
    std::int64_t MaxBodySize_ = 0;
    std::uint32_t LowSpeedLimit_ = 0, LowSpeedTime_ = 0;
    bool WaitThread_ = false;

    THTTPGetThread* worker_ = nullptr;  // the running worker; it frees itself
    bool result_ = false;
    std::int32_t lastStatus_ = 0;
    std::uint32_t lastErrorCode_ = 0;
    std::string lastErrorText_;
    bool finishing_ = false;  // WorkerFinished is on the stack
    // Expires with the component: lets a wait or an event call notice that a handler
    // destroyed the component.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};
