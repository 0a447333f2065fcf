#include "BodyWriters.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Pieces of 1/20 s worth of data, so pacing stays smooth at any rate.
std::size_t PieceSize(std::size_t bytesPerSecond)
{
    return std::max<std::size_t>(256, bytesPerSecond / 20);
}

}  // namespace

void SetPacedContent(httplib::Response& res, SharedBytes body, const std::string& contentType,
                     std::size_t bytesPerSecond, const std::atomic<bool>& stopping)
{
    const std::size_t rate = std::max<std::size_t>(1, bytesPerSecond);
    // The provider may be called several times; the schedule starts with the first call.
    auto start = std::make_shared<Clock::time_point>();
    res.set_content_provider(
        body->size(), contentType,
        [body, rate, start, &stopping](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            if (offset == 0)
                *start = Clock::now();
            const std::size_t n = std::min(length, PieceSize(rate));
            if (!sink.write(body->data() + offset, n))
                return false;
            // Sleep until the bytes sent so far are due, in short steps so a stop is seen.
            const auto due = *start + std::chrono::microseconds((offset + n) * 1000000ull / rate);
            while (Clock::now() < due) {
                if (stopping.load())
                    return false;
                std::this_thread::sleep_for(std::min<Clock::duration>(due - Clock::now(), std::chrono::milliseconds(50)));
            }
            return true;
        });
}

void SetCutOffContent(httplib::Response& res, SharedBytes body, const std::string& contentType,
                      std::size_t sent)
{
    sent = std::min(sent, body->size());
    res.set_content_provider(
        body->size(), contentType,
        [body, sent](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            if (offset < sent)
                sink.write(body->data() + offset, sent - offset);
            // Failing the provider makes the server drop the connection right here.
            return false;
        });
}
