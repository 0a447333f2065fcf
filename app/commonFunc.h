#pragma once
// The two routines every part of the application calls.
#include <string>

// Replaces the caption of the main window's left status pane (GUI thread only; also from
// inside a transfer's nested message loop). An empty text clears the pane.
void ShowStatus(const std::string& text);

// Percent-encodes text byte by byte for a form body: A-Z a-z 0-9 - . _ stay, a space
// becomes "+" (spaceAsPlus) or "%20", every other byte "%XX" with upper-case digits.
// Multi-byte characters are encoded from their GBK bytes.
std::string UrlEncode(const std::string& text, bool spaceAsPlus);
