// SPDX-License-Identifier: Apache-2.0
#pragma once
// The album title comes from the network and names a folder under the album base folder
// (AlbumBaseDir): it must never lead outside it, and every album gets its own folder inside it.
#include <cstddef>
#include <string>

// The title as a single folder name. A GBK double-byte character stays whole (its second
// byte may equal '\', so Chinese titles remain readable) when it is a lead byte 0x81-0xFE
// with a trail byte 0x40-0x7E or 0x80-0xFE and its file-system form is one printable
// character. Everything else that could change the path becomes '_': separators, control
// characters, 0x80, 0xFF, a lead byte without a valid trail (its next byte is then read
// on its own), a pair the code page does not map, and leading dots (no "." or "..", no
// hidden folder). A non-empty title never gives an empty name; the empty title stays
// empty (the album then goes into the album base folder itself). The name is cut to the
// longest prefix of whole characters whose file-system form (UTF-8) fits
// kMaxFolderNameBytes, the most a file name may have.
constexpr std::size_t kMaxFolderNameBytes = 255;
std::string AlbumFolderName(const std::string& title);
