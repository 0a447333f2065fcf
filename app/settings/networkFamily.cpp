// SPDX-License-Identifier: Apache-2.0
#include "app/settings/networkFamily.h"

#include "app/settings/settingsFile.h"

TWSocketFamily ReadNetworkFamily(const TSettingsFile& ini, std::optional<TWSocketFamily> commandLine,
                                 std::string* note) {
    if (commandLine) return *commandLine;
    const std::string value = ini.Value("network", "ip");
    TWSocketFamily family = TWSocketFamily::Any;
    if (!value.empty() && !ParseWSocketFamily(value, family)) {
        if (note) *note = "[network] ip=" + value + " is not 4, 6 or any: any is used";
        family = TWSocketFamily::Any;
    }
    return family;
}
