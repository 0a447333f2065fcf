// SPDX-License-Identifier: Apache-2.0
#include "GbkText.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

std::string Utf8ToGbk(std::string_view utf8)
{
    iconv_t cd = iconv_open("GBK", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error("iconv cannot convert UTF-8 to GBK");

    std::string out(utf8.size() * 2 + 4, '\0');  // GBK never needs more than UTF-8 does
    char* in = const_cast<char*>(utf8.data());   // iconv's prototype is not const-correct
    size_t inLeft = utf8.size();
    char* dst = out.data();
    size_t outLeft = out.size();
    const size_t rc = iconv(cd, &in, &inLeft, &dst, &outLeft);
    const int err = errno;
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1) || inLeft != 0)
        throw std::runtime_error("text has no GBK form (errno " + std::to_string(err) + ")");
    out.resize(out.size() - outLeft);
    return out;
}
