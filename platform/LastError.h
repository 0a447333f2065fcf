// SPDX-License-Identifier: Apache-2.0
#pragma once
// The calling thread's last error code, as the Windows-style interfaces report it: a call
// that fails sets it and returns a failure value; a call that succeeds may leave it alone.
#include "platform/WinTypes.h"

DWORD GetLastError();
void SetLastError(DWORD code);

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
