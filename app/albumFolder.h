#pragma once
// The album title comes from the network and names a folder under the album base folder
// (AlbumBaseDir): it must never lead outside it.
#include <string>

// The title as a single folder name: path separators, control characters and leading dots
// become '_', so "..", "a/b" or "\x01" cannot climb out of the album base folder and the
// folder is never hidden. GBK double-byte characters stay whole
// (their second byte may equal '\'), so Chinese titles remain readable. The empty title
// stays empty (the album then goes into the album base folder itself).
std::string AlbumFolderName(const std::string& title);
