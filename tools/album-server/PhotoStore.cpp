// SPDX-License-Identifier: Apache-2.0
#include "PhotoStore.h"

#include "JpegEncoder.h"
#include "PhotoPainter.h"

std::string MakePhotoJpeg(const AlbumSpec& album, int index)
{
    return EncodeJpeg(PaintPhoto(album.SizeOf(index), album.Seed(), index));
}

std::shared_ptr<const std::string> PhotoStore::Get(const AlbumSpec& album, int index)
{
    const std::string key = album.key + "/" + std::to_string(index);
    {
        std::lock_guard lock(mutex_);
        if (auto it = cache_.find(key); it != cache_.end())
            return it->second;
    }
    // Encoding takes milliseconds; other requests must not wait behind it.
    auto made = std::make_shared<const std::string>(MakePhotoJpeg(album, index));
    std::lock_guard lock(mutex_);
    return cache_.emplace(key, std::move(made)).first->second;
}

void PhotoStore::Pregenerate(const Catalogue& catalogue)
{
    for (const AlbumSpec& album : catalogue.Albums())
        for (int i = 0; i < album.photoCount; ++i)
            Get(album, i);
}

std::size_t PhotoStore::CachedCount() const
{
    std::lock_guard lock(mutex_);
    return cache_.size();
}
