// SPDX-License-Identifier: Apache-2.0
#pragma once
// Small text routines over byte strings. Letter case is ASCII only: the texts are in a
// multi-byte code page whose trail bytes must never be changed by a case conversion.
#include <cstdint>
#include <string>
#include <string_view>

// Drops leading and trailing bytes up to and including the space (control characters too).
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

std::string LowerCase(std::string_view s);
std::string UpperCase(std::string_view s);

// A decimal 32-bit integer with an optional sign, blanks allowed around it. Anything else,
// or a value out of range, raises EConvertError "'<s>' is not a valid integer value".
std::int32_t StrToInt(std::string_view s);
std::string IntToStr(std::int64_t value);

// The system's words for an error number, as a line continues them: "no space left on device".
std::string SysErrorMessage(int error);

// printf-style formatting into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
