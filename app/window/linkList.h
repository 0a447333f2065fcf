// SPDX-License-Identifier: Apache-2.0
#pragma once
// The sponsored-link list: how its document is decoded and split into LinkList.
#include <string>
#include <string_view>

class TStringList;

// Decodes UTF-8 the way the link server's documents are read: one-byte characters, and
// sequences started by a byte of 0x80 or more, three bytes long when its 0x20 bit is set
// and two bytes otherwise, each following byte in 0x80..0xBF. A wrong following byte, or a
// sequence cut off by the end, makes the whole text decode to nothing.
std::u32string DecodeLinkText(std::string_view utf8);

// Splits the (ANSI) link text into pieces and appends the non-empty ones to list: pieces
// end at '|', CR, LF or the end; a run quoted with ' or " (quotes kept) may hold them.
void SplitLinkText(std::string_view text, TStringList& list);

// Whether an address from the link server may be handed to the desktop: only http and
// https addresses (the desktop would open a local file or run a program otherwise).
bool IsOpenableLinkAddress(const std::string& address);
