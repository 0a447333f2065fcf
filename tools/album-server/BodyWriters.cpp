// SPDX-License-Identifier: Apache-2.0
#include "BodyWriters.h"

#include "Connections.h"

#include <algorithm>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

// Pieces of 1/20 s worth of data, so pacing stays smooth at any rate.
std::size_t PieceSize(std::size_t bytesPerSecond)
{
    return std::max<std::size_t>(256, bytesPerSecond / 20);
}

}  // namespace

void SetWholeContent(httplib::Response& res, SharedBytes body, const std::string& contentType, LastWrite lastWrite)
{
    res.set_content_provider(body->size(), contentType,
                             [body, lastWrite](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                 if (lastWrite && offset + length == body->size())
                                     lastWrite();
                                 return sink.write(body->data() + offset, length);
                             });
}

void SetPacedContent(httplib::Response& res, SharedBytes body, const std::string& contentType,
                     std::size_t bytesPerSecond, const StopSignal& stop, LastWrite lastWrite)
{
    const std::size_t rate = std::max<std::size_t>(1, bytesPerSecond);
    // The provider may be called several times; the schedule starts with the first call.
    auto start = std::make_shared<Clock::time_point>();
    res.set_content_provider(
        body->size(), contentType,
        [body, rate, start, &stop, lastWrite](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            if (offset == 0)
                *start = Clock::now();
            const std::size_t n = std::min(length, PieceSize(rate));
            if (lastWrite && offset + n == body->size())
                lastWrite();
            if (!sink.write(body->data() + offset, n))
                return false;
            // Sleep until the bytes sent so far are due.
            const auto due = *start + std::chrono::microseconds((offset + n) * 1000000ull / rate);
            return stop.SleepFor(due - Clock::now());
        });
}

void SetCutOffContent(httplib::Response& res, SharedBytes body, const std::string& contentType,
                      std::size_t sent, LastWrite lastWrite)
{
    sent = std::min(sent, body->size());
    res.set_content_provider(
        body->size(), contentType,
        [body, sent, lastWrite](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            if (lastWrite)
                lastWrite();
            if (offset < sent)
                sink.write(body->data() + offset, sent - offset);
            // Failing the provider makes the server drop the connection right here.
            return false;
        });
}

void SetUnframedContent(httplib::Response& res, SharedBytes body, const std::string& contentType, std::size_t sent)
{
    sent = std::min(sent, body->size());
    res.set_content_provider(contentType, [body, sent](std::size_t offset, httplib::DataSink& sink) {
        if (offset < sent)
            sink.write(body->data() + offset, sent - offset);
        sink.done();
        return true;
    });
}

void SetStalledContent(httplib::Response& res, std::size_t length, const std::string& contentType, int fd,
                       const StopSignal& stop)
{
    // The library writes the head before it first asks the provider for bytes.
    res.set_content_provider(length, contentType, [fd, &stop](std::size_t, std::size_t, httplib::DataSink&) {
        WaitUntilPeerLeaves(fd, stop);
        return false;
    });
}
