// SPDX-License-Identifier: Apache-2.0
#pragma once
// The ANSI code page of the program's texts is GBK. Conversions happen at three boundaries
// only: display (Qt strings), file-system paths (UTF-8) and the link list (Unicode to ANSI).
#include <QString>

#include <string>
#include <string_view>

// GBK bytes to UTF-8; a byte sequence that is not GBK becomes U+FFFD.
std::string AnsiToUtf8(std::string_view ansi);
// UTF-8 to GBK; a character without a GBK form (or a broken UTF-8 sequence) becomes '?'.
std::string Utf8ToAnsi(std::string_view utf8);
// Unicode code points to GBK, '?' for each character without a GBK form.
std::string UnicodeToAnsi(std::u32string_view text);

QString AnsiToQString(std::string_view ansi);
// Text whose origin is mixed (error messages carry file-system paths in UTF-8 and the
// program's own GBK texts): shown as UTF-8 when it is valid UTF-8, else as GBK.
QString TextToQString(std::string_view text);
bool IsValidUtf8(std::string_view text);
std::string QStringToAnsi(const QString& s);
