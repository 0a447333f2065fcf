// SPDX-License-Identifier: Apache-2.0
#pragma once
// The handful of integer types the message interfaces are written in.
#include <cstdint>

using HWND = std::uintptr_t;    // a message window; 0 = none
using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;

constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_USER = 0x0400;

inline WORD LoWord(LPARAM v) { return static_cast<WORD>(static_cast<std::uintptr_t>(v) & 0xFFFF); }
inline WORD HiWord(LPARAM v) { return static_cast<WORD>((static_cast<std::uintptr_t>(v) >> 16) & 0xFFFF); }
inline LPARAM MakeLParam(WORD lo, WORD hi) { return static_cast<LPARAM>((DWORD{hi} << 16) | lo); }
