// SPDX-License-Identifier: Apache-2.0
#include "socket/WSocketFamily.h"

#include "base/SysUtils.h"
#include "winsock/Winsock.h"

void SetWSocketFamily(TWSocketFamily Family) { SetProcessAddressFamily(Family); }

TWSocketFamily WSocketFamily() { return ProcessAddressFamily(); }

bool ParseWSocketFamily(const std::string& Text, TWSocketFamily& Family) {
    const std::string t = LowerCase(Trim(Text));
    if (t == "4") Family = TWSocketFamily::IPv4;
    else if (t == "6") Family = TWSocketFamily::IPv6;
    else if (t == "any") Family = TWSocketFamily::Any;
    else return false;
    return true;
}

int WSocketLookupFamily() {
    switch (ProcessAddressFamily()) {
        case TWSocketFamily::IPv4: return WS_AF_INET;
        case TWSocketFamily::IPv6: return WS_AF_INET6;
        default: return WS_AF_UNSPEC;
    }
}
