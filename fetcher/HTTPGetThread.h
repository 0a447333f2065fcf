// SPDX-License-Identifier: Apache-2.0
#pragma once
// The worker of one THTTPGet transfer. Created suspended with copies of the component's
// settings, it runs the transfer on its own thread, hands progress calls to the main
// thread (waiting for each), and after its body the completion handler (OnTerminate)
// runs on the main thread; then it frees itself. Used for one transfer only.
//
// Threads: the constructor, Cancel, Detach, ReportProgress and the completion handler run
// on the main thread; Execute on the worker. The inputs are fixed before the start; the
// outcome (Success, TotalSize, Readed, Result) may be read by the completion handler,
// when the body has returned.
#include <atomic>
#include <cstdint>
#include <string>

#include "base/Component.h"
#include "fetcher/HTTPGetEvents.h"
#include "platform/Thread.h"
#include "wininet/WinInet.h"
#include "platform/WinTypes.h"

class THTTPGetThread : public TThread, public TObject {
public:
    // toFile: write the body to fileName (file mode) or collect it in Result (text mode).
    THTTPGetThread(std::string acceptTypes, std::string agent, std::string url, std::string fileName,
                   std::string userName, std::string password, std::string postQuery, std::string referer,
                   bool binaryData, bool useCache, TOnProgressEvent progress, bool toFile);

    // Success: a response arrived with a status below 300 (a redirection is followed, or
    // the transfer fails), every read succeeded, no stop was requested, and the body is
    // complete: as long as the announced length, or, with none announced, everything up to
    // the server's close.
    bool Success() const { return success_; }
    // Why it failed (read after the body): the final answer's HTTP status, 0 when none
    // arrived; the Internet error code that ended it, 0 when none did (an HTTP error
    // status, a file that cannot be written); one English line, empty after a success.
    std::int32_t Status() const { return status_; }
    DWORD ErrorCode() const { return errorCode_; }
    const std::string& ErrorText() const { return errorText_; }
    const std::string& FileName() const { return FileName_; }
    const std::string& Result() const { return Result_; }
    std::int32_t TotalSize() const { return TotalSize_; }  // the announced length, 0 when none
    std::int32_t Readed() const { return Readed_; }
    bool WritesToFile() const { return toFile_; }
    // Before the start: the address the caller will fetch next with the same settings
    // (THTTPGet::NextURL).
    void SetNextURL(std::string url, std::string afterNext = {}) {
        NextURL_ = std::move(url);
        AfterNextURL_ = std::move(afterNext);
    }
    // Before the start: the most bytes the body may have, 0 for no bound (THTTPGet::MaxBodySize).
    void SetMaxBodySize(std::int64_t bytes) { MaxBodySize_ = bytes; }
    // Before the start: the low-speed limit (THTTPGet::LowSpeedLimit).
    void SetLowSpeed(DWORD bytesPerSecond, DWORD timeMs) {
        LowSpeedLimit_ = bytesPerSecond;
        LowSpeedTimeMs_ = timeMs;
    }

    // The stop request: the body ends at its next stop test and the transfer fails, even
    // when the request comes after the last test.
    void Cancel();
    // Cancel, and the request's connection is closed now (from the main thread), so that a
    // blocking call of the body returns at once.
    void Abort();
    // The component is going away: the completion handler and the progress handler are not
    // called any more.
    void Detach();

    // Main thread: raises the progress handler with the worker as Sender.
    void ReportProgress();

protected:
    void Execute() override;

private:
    void Transfer();
    // Records why the transfer failed; the first reason stays.
    void Fail(DWORD code, const std::string& text);

    // In the order of the original record; fixed before the start unless noted.
    std::string AcceptTypes_, Agent_, URL_, FileName_;
    std::string Result_;  // text mode: the body received
    std::string UserName_, Password_, PostQuery_, Referer_;
    std::string NextURL_, AfterNextURL_;
    std::int64_t MaxBodySize_ = 0;
    DWORD LowSpeedLimit_ = 0, LowSpeedTimeMs_ = 0;
    bool BinaryData_, UseCache_;
    std::atomic<bool> success_{false};  // written by both threads
    std::int32_t TotalSize_ = 0;
    bool toFile_;
    DWORD lastRead_ = 0;
    std::int32_t Readed_ = 0;
    TOnProgressEvent progress_;
    bool detached_ = false;  // main thread only
    // The outcome; written by the worker, read by the completion handler.
    std::int32_t status_ = 0;
    DWORD errorCode_ = 0;
    std::string errorText_;
    bool inProgressHandler_ = false;  // an exception now comes from the progress handler
    bool fileCreated_ = false;        // an exception now comes from a write, not the create
    // The open request while the body runs, for Abort; the body closes it again at its end,
    // which a handle closed already survives (handles are never reused).
    std::atomic<HINTERNET> request_{nullptr};
};
