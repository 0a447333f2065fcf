// SPDX-License-Identifier: Apache-2.0
#include "fetcher/HTTPGetErrorText.h"

#include "base/SysUtils.h"
#include "platform/LastError.h"
#include "wininet/WinInet.h"

namespace {

// "after 1000 of 3000 bytes", or "after 1000 bytes" when no length was announced.
std::string After(std::int64_t got, std::int64_t total) {
    std::string s = "after ";  // appended piece by piece: GCC 12 warns falsely on operator+ chains here
    s.append(IntToStr(got));
    if (total >= 0) s.append(" of ").append(IntToStr(total));
    return s.append(" bytes");
}

// Texts from the server go into a line that may end up on a terminal.
std::string Printable(const std::string& s) {
    std::string r = s;
    for (char& c : r)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return r;
}

}  // namespace

std::string InternetErrorText(DWORD code, const std::string& host, bool inBody, std::int64_t got, std::int64_t total,
                              const std::string& location) {
    switch (code) {
        case ERROR_INTERNET_NAME_NOT_RESOLVED:
            return host.empty() ? "no host name in the address" : "cannot resolve host name " + Printable(host);
        case ERROR_INTERNET_CANNOT_CONNECT: return "connection refused or host unreachable";
        case ERROR_INTERNET_TIMEOUT: return inBody ? "timed out " + After(got, total) : "timed out before the response";
        case ERROR_INTERNET_CONNECTION_RESET:
            return inBody ? "connection reset " + After(got, total) : "connection reset before the response";
        case ERROR_INTERNET_CONNECTION_ABORTED:
            return inBody ? "connection closed " + After(got, total) : "connection closed before the response";
        case ERROR_HTTP_INVALID_SERVER_RESPONSE: return "invalid response";
        case ERROR_INTERNET_ANSWER_DISCARDED:
            return "the server's answers went out of step on a connection carrying requests back to back";
        case ERROR_INTERNET_OPERATION_CANCELLED: return "stopped";
        case ERROR_HTTP_TOO_MANY_REDIRECTS: return "too many redirects";
        case ERROR_HTTP_REDIRECT_FAILED:
            return location.empty() ? "cannot follow a redirect without a location"
                                    : "cannot follow a redirect to " + Printable(location);
        case ERROR_HTTP_HEADER_NOT_FOUND: return "no content length in the response";
        case ERROR_HTTP_INVALID_HEADER: return "invalid content length in the response";
        case ERROR_INTERNET_INVALID_CA:
            return "the certificate of " + Printable(host) +
                   " is not trusted; to trust its authority use --ca-file or [tls] ca-file";
        case ERROR_INTERNET_SEC_CERT_CN_INVALID:
            return "the certificate of " + Printable(host) + " is not valid for that name";
        case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
            return "the certificate of " + Printable(host) + " is expired or not yet valid";
        case ERROR_INTERNET_SECURITY_CHANNEL_ERROR: return "TLS with " + Printable(host) + " failed";
        case ERROR_INVALID_PARAMETER:
            return "the request cannot be sent: its address or a field of it holds a line break, a NUL or "
                   "another byte a request cannot carry";
        case ERROR_INTERNET_INVALID_PROXY_REQUEST: return "the proxy setting cannot be used";
        case ERROR_INTERNET_INTERNAL_ERROR: return "internal failure of the Internet client";
        case ERROR_INTERNET_INVALID_OPTION:
        case ERROR_INTERNET_INCORRECT_HANDLE_TYPE:
        case ERROR_INTERNET_INCORRECT_HANDLE_STATE:
        case ERROR_INSUFFICIENT_BUFFER: return "a header of the response is too long";
        default: return "internal failure of the Internet client (code " + IntToStr(code) + ")";
    }
}

std::string HttpStatusText(std::int32_t status, const std::string& reason) {
    std::string s = "HTTP ";
    s.append(IntToStr(status));
    if (!reason.empty()) s.append(1, ' ').append(Printable(reason));
    return s;
}
