// SPDX-License-Identifier: Apache-2.0
#pragma once
// Text encodings the request header needs.
#include <string>

// Base64 of RFC 2045: alphabet A-Z a-z 0-9 + /, padded with "=" to a multiple of four
// characters, no line breaks.
std::string EncodeBase64(const std::string& bytes);

// A date-time (days since 1899-12-30, fraction = time of day) as "Wed, 09 Jun 1999 08:12:31".
// The value is taken as it is: no conversion to universal time, no zone suffix.
std::string FormatHttpDate(double dateTime);
