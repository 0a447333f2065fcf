// SPDX-License-Identifier: Apache-2.0
#pragma once
// The event types of the fetcher. Sender is the object raising the event.
#include <cstdint>
#include <functional>
#include <string>

#include "base/Component.h"

using TNotifyEvent = std::function<void(TObject* Sender)>;
// TotalSize: the announced content length (0 when none); Readed: bytes received so far.
using TOnProgressEvent = std::function<void(TObject* Sender, std::int32_t TotalSize, std::int32_t Readed)>;
using TOnDoneFileEvent = std::function<void(TObject* Sender, const std::string& FileName, std::int32_t FileSize)>;
using TOnDoneStringEvent = std::function<void(TObject* Sender, const std::string& Result)>;
