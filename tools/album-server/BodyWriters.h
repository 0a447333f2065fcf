#pragma once
// Response bodies that misbehave on purpose: paced (slow) and cut off. Both announce the
// full Content-Length, as a real server would, so a client can tell a short read.
#include <httplib.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

using SharedBytes = std::shared_ptr<const std::string>;

// Sends the body at about bytesPerSecond (never faster), in small pieces so the client
// sees a steady trickle. Ends the transfer early, closing the connection, once
// `stopping` turns true, so the server can shut down promptly.
void SetPacedContent(httplib::Response& res, SharedBytes body, const std::string& contentType,
                     std::size_t bytesPerSecond, const std::atomic<bool>& stopping);

// Announces the body's full length, sends only its first `sent` bytes, then closes the
// connection.
void SetCutOffContent(httplib::Response& res, SharedBytes body, const std::string& contentType,
                      std::size_t sent);
