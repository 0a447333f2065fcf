#pragma once
// The album title comes from the network and names a folder under AppDir: it must never
// lead outside it.
#include <string>

// The title as a single folder name: path separators and control characters become '_'
// and a name made only of dots has its dots replaced, so "..", "a/b" or "\x01" cannot
// climb out of or escape the application folder. GBK double-byte characters stay whole
// (their second byte may equal '\'), so Chinese titles remain readable. The empty title
// stays empty (the album then goes into AppDir itself).
std::string AlbumFolderName(const std::string& title);
