// SPDX-License-Identifier: Apache-2.0
#include "http/HttpProtFormat.h"

#include <cmath>
#include <cstdint>

#include "base/SysUtils.h"

std::string EncodeBase64(const std::string& bytes) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const std::uint32_t v = static_cast<std::uint8_t>(bytes[i]) << 16 | static_cast<std::uint8_t>(bytes[i + 1]) << 8 |
                                static_cast<std::uint8_t>(bytes[i + 2]);
        out += kAlphabet[v >> 18 & 63];
        out += kAlphabet[v >> 12 & 63];
        out += kAlphabet[v >> 6 & 63];
        out += kAlphabet[v & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t v = static_cast<std::uint8_t>(bytes[i]) << 16;
        if (rest == 2) v |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
        out += kAlphabet[v >> 18 & 63];
        out += kAlphabet[v >> 12 & 63];
        out += rest == 2 ? kAlphabet[v >> 6 & 63] : '=';
        out += '=';
    }
    return out;
}

namespace {

// Days since 1970-01-01 to year, month (1..12), day (1..31), proleptic Gregorian.
void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
}

}  // namespace

std::string FormatHttpDate(double dateTime) {
    static const char kDays[] = "MonTueWedThuFriSatSun";
    static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    if (!std::isfinite(dateTime) || std::fabs(dateTime) > 1e7) dateTime = 0;  // keeps the arithmetic defined
    std::int64_t days = static_cast<std::int64_t>(dateTime);  // whole days, toward zero
    // The time of day, rounded to the millisecond as the date-time type stores it.
    std::int64_t ms = std::llround(std::fabs(dateTime - static_cast<double>(days)) * 86400000.0);
    if (ms >= 86400000) {
        ms -= 86400000;
        days += dateTime < 0 ? -1 : 1;
    }
    std::int64_t year;
    unsigned month, day;
    CivilFromDays(days - 25569, year, month, day);  // 25569 = 1970-01-01
    const int weekday = static_cast<int>(((days - 2) % 7 + 7) % 7);
    const int secs = static_cast<int>(ms / 1000);
    return std::string(kDays + 3 * weekday, 3) + ", " +
           Format("%2.2d %s %4.4d %2.2d:%2.2d:%2.2d", static_cast<int>(day),
                  std::string(kMonths + 3 * (month - 1), 3).c_str(), static_cast<int>(year), secs / 3600,
                  secs / 60 % 60, secs % 60);
}
