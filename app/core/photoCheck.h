// SPDX-License-Identifier: Apache-2.0
#pragma once
// TPhotoCheck: checks on a thread of its own that a fetched photo is a whole JPEG
// (CheckJpegFile), so that the window never waits for a decode.
//
// Created by the photo queue for a file no one writes any more; frees itself. OnChecked
// runs on the creating thread once the check is over, with an empty text for a whole JPEG
// or the reason it is not one. Detach() (creating thread) drops the call: the check still
// ends on its own, reading the file only while it runs.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/Thread.h"

class TPhotoCheck : public TThread {
public:
    using TOnChecked = std::function<void(const std::string& failure)>;

    // Starts the check at once (std::system_error when no thread can be had). A file larger
    // than maxBytes (above 0) fails unread.
    static TPhotoCheck* Run(std::string ansiPath, std::int64_t maxBytes, TOnChecked onChecked);

    void Detach() { onChecked_ = nullptr; }

protected:
    void Execute() override;

private:
    TPhotoCheck(std::string ansiPath, std::int64_t maxBytes, TOnChecked onChecked);

    const std::string path_;
    const std::int64_t maxBytes_;
    TOnChecked onChecked_;  // touched on the creating thread only
    std::string failure_;   // written by the body, read by the completion
};
