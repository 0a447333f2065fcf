// SPDX-License-Identifier: Apache-2.0
#pragma once
// The album data document: JSON-like GBK text over several LF-ended lines. Readers pick
// values out with "name":"…", "mp3":"…" and "url":"…", so the document holds exactly one
// "name" (the title, first), at most one "mp3", then one "url" per photo in album order,
// and no other key that ends in one of those words. Values are written raw: no
// escaping, so the title's bytes reach the reader unchanged.
#include "Catalogue.h"

#include <string>
#include <string_view>

// baseUrl: scheme and authority the photo and music addresses start with, no trailing
// slash ("http://127.0.0.1", or "http://127.0.0.1:8080" off port 80).
std::string BuildDataDocument(const AlbumSpec& album, std::string_view baseUrl);

std::string PhotoAddress(std::string_view baseUrl, const AlbumSpec& album, int index);
std::string MusicAddress(std::string_view baseUrl, const AlbumSpec& album);
