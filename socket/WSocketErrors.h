// SPDX-License-Identifier: Apache-2.0
#pragma once
// The failure type of the socket layer and the English texts of the Winsock error codes.
#include <string>

#include "base/Exception.h"

// Raised by the socket layer: by ReportError when no OnError handler is assigned, and
// directly by the library loader and the resolution routines.
class ESocketException : public Exception {
public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "ESocketException"; }
};

// The fixed English text of a Winsock error code (0 gives "No Error"); "Not a WinSock
// error" for a code outside the table.
std::string WinsockErrorText(int code);
