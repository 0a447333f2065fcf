// SPDX-License-Identifier: Apache-2.0
#pragma once
// The JPEG bytes of every photo, generated on first request and kept for the life of
// the process (a 200-photo album is about 12 MB). Safe to use from the server's worker
// threads; two threads asking for the same new photo may both encode it, and the first
// result stored wins (the bytes are identical anyway).
#include "Catalogue.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

class PhotoStore {
public:
    // The photo's JPEG file; index must lie in 0 .. photoCount-1.
    std::shared_ptr<const std::string> Get(const AlbumSpec& album, int index);
    // Encodes every photo of every album now, so later requests never wait for encoding.
    void Pregenerate(const Catalogue& catalogue);
    std::size_t CachedCount() const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<const std::string>> cache_;
};

// Encodes the photo without caching: the single source of a photo's bytes.
std::string MakePhotoJpeg(const AlbumSpec& album, int index);
