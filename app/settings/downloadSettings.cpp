// SPDX-License-Identifier: Apache-2.0
#include "app/settings/downloadSettings.h"

#include <charconv>
#include <optional>

#include "app/settings/settingsFile.h"
#include "base/SysUtils.h"

namespace {

// One value: the default when empty, clamped when out of range, the default when not a
// number; a note in the last two cases.
int Take(const char* key, const std::string& raw, int fallback, int low, int high, std::vector<std::string>& notes) {
    const std::string text = Trim(raw);
    if (text.empty()) return fallback;
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data() + (text[0] == '+' ? 1 : 0), end, value);
    int taken;
    if (stop != end || error == std::errc::invalid_argument)
        taken = fallback;
    else if (error == std::errc::result_out_of_range)
        taken = text[0] == '-' ? low : high;
    else
        taken = static_cast<int>(value < low ? low : value > high ? high : value);
    if (stop == end && error == std::errc() && taken == value) return taken;
    // 设置 [download] %s=%s 无效，已改用 %d  (a value that was not taken)
    notes.push_back(Format("\xC9\xE8\xD6\xC3 [download] %s=%s \xCE\xDE\xD0\xA7\xA3\xAC\xD2\xD1\xB8\xC4\xD3\xC3 %d", key,
                           text.c_str(), taken));
    return taken;
}

std::optional<TDownloadSettings>& Stored() {
    static std::optional<TDownloadSettings> s;
    return s;
}

}  // namespace

bool ParseByteSize(const std::string& raw, std::int64_t& bytes) {
    std::string text = Trim(raw);
    std::int64_t unit = 1;
    if (!text.empty()) {
        switch (text.back()) {
            case 'k': case 'K': unit = 1024; break;
            case 'm': case 'M': unit = 1024 * 1024; break;
            case 'g': case 'G': unit = 1024 * 1024 * 1024; break;
            default: break;
        }
        if (unit != 1) text.pop_back();
    }
    if (text.empty()) return false;
    long long value = 0;
    const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (stop != text.data() + text.size() || error != std::errc() || value < 0 || value > (1LL << 40)) return false;
    bytes = value * unit;
    return true;
}

TDownloadSettings ParseDownloadSettings(const std::string& connections, const std::string& retries,
                                        const std::string& pipelining, const std::string& maxPhotoSize,
                                        const std::string& lowSpeed, const std::string& lowSpeedTime) {
    TDownloadSettings s;
    const std::string off = LowerCase(Trim(pipelining));
    s.Pipelining = !(off == "no" || off == "false" || off == "off" || off == "0");
    s.Connections = Take("connections", connections, TDownloadSettings::DefaultConnections, 1,
                         TDownloadSettings::MaxConnections, s.Notes);
    s.Retries = Take("retries", retries, TDownloadSettings::DefaultRetries, 0, TDownloadSettings::MaxRetries, s.Notes);
    if (!Trim(maxPhotoSize).empty()) {
        std::int64_t bytes = 0;
        if (!ParseByteSize(maxPhotoSize, bytes))
            bytes = TDownloadSettings::DefaultMaxPhotoSize;
        else if (bytes < TDownloadSettings::MinMaxPhotoSize)
            bytes = TDownloadSettings::MinMaxPhotoSize;
        else if (bytes > TDownloadSettings::MaxMaxPhotoSize)
            bytes = TDownloadSettings::MaxMaxPhotoSize;
        std::int64_t asWritten = -1;
        ParseByteSize(maxPhotoSize, asWritten);
        s.MaxPhotoSize = bytes;
        if (asWritten != bytes)
            // 设置 [download] %s=%s 无效，已改用 %d  (a value that was not taken)
            s.Notes.push_back(Format("\xC9\xE8\xD6\xC3 [download] %s=%s \xCE\xDE\xD0\xA7\xA3\xAC\xD2\xD1\xB8\xC4\xD3\xC3 %lld",
                                     "max-photo-size", Trim(maxPhotoSize).c_str(), static_cast<long long>(bytes)));
    }
    s.LowSpeedLimit = Take("low-speed", lowSpeed, TDownloadSettings::DefaultLowSpeedLimit, 0,
                           TDownloadSettings::MaxLowSpeedLimit, s.Notes);
    s.LowSpeedTime = Take("low-speed-time", lowSpeedTime, TDownloadSettings::DefaultLowSpeedTime, 1,
                          TDownloadSettings::MaxLowSpeedTime, s.Notes);
    return s;
}

const TDownloadSettings& DownloadSettings() {
    if (!Stored()) {
        const TSettingsFile ini = TSettingsFile::Read();
        Stored() = ParseDownloadSettings(ini.Value("download", "connections"), ini.Value("download", "retries"),
                                         ini.Value("download", "pipelining"), ini.Value("download", "max-photo-size"),
                                         ini.Value("download", "low-speed"), ini.Value("download", "low-speed-time"));
    }
    return *Stored();
}

void SetDownloadSettings(const TDownloadSettings& settings) { Stored() = settings; }
