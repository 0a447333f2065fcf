// SPDX-License-Identifier: Apache-2.0
#pragma once
// Response bodies that misbehave on purpose: paced (slow), cut off, unframed and stalled.
// All but the unframed one announce the full Content-Length, as a real server would, so a
// client can tell a short read.
#include "StopSignal.h"

#include <httplib.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

using SharedBytes = std::shared_ptr<const std::string>;

// Called right before the last bytes of an answer are written (a client that has them can
// only act after it), once per answer.
using LastWrite = std::function<void()>;

// The whole body at full speed, lastWrite called before it is written.
void SetWholeContent(httplib::Response& res, SharedBytes body, const std::string& contentType, LastWrite lastWrite);

// Sends the body at about bytesPerSecond (never faster), in small pieces so the client
// sees a steady trickle. Ends the transfer early, closing the connection, once `stop` is
// raised, so the server can shut down promptly. `stop` must outlive the response.
void SetPacedContent(httplib::Response& res, SharedBytes body, const std::string& contentType,
                     std::size_t bytesPerSecond, const StopSignal& stop, LastWrite lastWrite = {});

// Announces the body's full length, sends only its first `sent` bytes, then closes the
// connection.
void SetCutOffContent(httplib::Response& res, SharedBytes body, const std::string& contentType,
                      std::size_t sent, LastWrite lastWrite = {});

// Announces no length, sends the first `sent` bytes of the body and ends the answer with
// an ordinary close: only the bytes themselves can tell that it is not whole.
void SetUnframedContent(httplib::Response& res, SharedBytes body, const std::string& contentType, std::size_t sent);

// Announces `length` bytes, sends the head and then nothing: waits until the peer on
// connection `fd` leaves or `stop` is raised, then closes the connection. `stop` must
// outlive the response.
void SetStalledContent(httplib::Response& res, std::size_t length, const std::string& contentType, int fd,
                       const StopSignal& stop);
