// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <set>

#include "SocketTestSupport.h"
#include "winsock/WinsockHooks.h"

TEST(IsDottedIPv4, AcceptsFourGroupsWithSurroundingSpacesOnly) {
    for (const char* s : {"1.2.3.4", " 10.0.0.1 ", "255.255.255.255", "0.0.0.0", "001.2.3.4"}) EXPECT_TRUE(IsDottedIPv4(s)) << s;
    for (const char* s : {"1.2.3", "1..2.3", "1.2.3.256", ".1.2.3", "1.2.3.4x", "1.2.3.4.", "1.2.3.", "", " ",
                          "1.2.3.4 x", "a.b.c.d", "1.2.3.4.5"})
        EXPECT_FALSE(IsDottedIPv4(s)) << s;
}

TEST(ParseLeadingDecimal, StopsAtTheFirstNonDigitAndSaturates) {
    EXPECT_EQ(ParseLeadingDecimal("80abc"), 80);
    EXPECT_EQ(ParseLeadingDecimal(""), 0);
    EXPECT_EQ(ParseLeadingDecimal("  42"), 42);
    EXPECT_EQ(ParseLeadingDecimal("x1"), 0);
    EXPECT_EQ(ParseLeadingDecimal("99999999999999999999"), 2147483647);
}

namespace {
template <class F>
std::string ErrorOf(F f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(no error)";
}
}  // namespace

TEST(WSocketResolveHost, NumericNamedAndInvalidHosts) {
    EXPECT_EQ(WSocketResolveHost("127.0.0.1"), htonl(0x7F000001));
    EXPECT_EQ(WSocketResolveHost(" 10.0.0.1 "), htonl(0x0A000001));
    EXPECT_EQ(WSocketResolveHost("255.255.255.255"), 0xFFFFFFFFu);
    EXPECT_EQ(WSocketResolveHost("localhost"), htonl(0x7F000001));
    EXPECT_EQ(ErrorOf([] { WSocketResolveHost(""); }), "WSocketResolveHost: '' Invalid Hostname.");
    EXPECT_EQ(ErrorOf([] { WSocketResolveHost(std::string(257, 'a')); }),
              "WSocketResolveHost: '" + std::string(257, 'a') + "' Invalid Hostname.");
    WinsockSetLookupHook([](const std::string& q) { return q == "no.such.host" ? WSAHOST_NOT_FOUND : 0; });
    EXPECT_EQ(ErrorOf([] { WSocketResolveHost("no.such.host"); }),
              "WSocketResolveHost: Cannot convert host address 'no.such.host', Error #11001");
    WinsockSetLookupHook(nullptr);
}

TEST(WSocketResolvePort, DigitsServicesAndLimits) {
    EXPECT_EQ(WSocketResolvePort("80abc", "tcp"), 80);
    EXPECT_EQ(WSocketResolvePort("smtp", "tcp"), 25);
    EXPECT_EQ(WSocketResolvePort("http", " tcp "), 80);
    EXPECT_EQ(WSocketResolvePort("65535", "tcp"), 65535);
    EXPECT_EQ(ErrorOf([] { WSocketResolvePort("99999", "tcp"); }), "Range check error");
    EXPECT_EQ(ErrorOf([] { WSocketResolvePort("", "tcp"); }), "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(ErrorOf([] { WSocketResolvePort(std::string(32, '1'), "tcp"); }), "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(ErrorOf([] { WSocketResolvePort("80", ""); }), "WSocketResolvePort: Invalid Proto.");
    EXPECT_EQ(ErrorOf([] { WSocketResolvePort("nosuchservice", "tcp"); }),
              "WSocketResolvePort: Cannot convert port 'nosuchservice', Error #11004");
}

TEST(WSocketResolveProto, NamesAndNumbers) {
    EXPECT_EQ(WSocketResolveProto("tcp"), 6);
    EXPECT_EQ(WSocketResolveProto("udp"), 17);
    EXPECT_EQ(WSocketResolveProto(" 17 "), 17);
    EXPECT_EQ(ErrorOf([] { WSocketResolveProto(""); }), "WSocketResolveProto: Invalid Protocol.");
    EXPECT_EQ(ErrorOf([] { WSocketResolveProto("bogus"); }),
              "WSocketResolveProto: Cannot convert protocol 'bogus', Error #11004");
}

TEST(WinsockErrorText, TableAndUnknownCodes) {
    EXPECT_EQ(WinsockErrorText(0), "No Error");
    EXPECT_EQ(WinsockErrorText(10035), "Operation would block");
    EXPECT_EQ(WinsockErrorText(10061), "Connection refused");
    EXPECT_EQ(WinsockErrorText(10093), "WinSock not initialized");
    EXPECT_EQ(WinsockErrorText(11004), "No Data");
    EXPECT_EQ(WinsockErrorText(10001), "Not a WinSock error");
    EXPECT_EQ(WinsockErrorText(-1), "Not a WinSock error");
    // Every code of the table has its own text.
    const int codes[] = {0,     10004, 10009, 10013, 10014, 10022, 10024, 10035, 10036, 10037, 10038, 10039, 10040,
                         10041, 10042, 10043, 10044, 10045, 10046, 10047, 10048, 10049, 10050, 10051, 10052, 10053,
                         10054, 10055, 10056, 10057, 10058, 10059, 10060, 10061, 10062, 10063, 10064, 10065, 10066,
                         10067, 10068, 10069, 10070, 10071, 10091, 10092, 10093, 11001, 11002, 11003, 11004};
    std::set<std::string> texts;
    for (int c : codes) {
        EXPECT_NE(WinsockErrorText(c), "Not a WinSock error") << c;
        texts.insert(WinsockErrorText(c));
    }
    EXPECT_EQ(texts.size(), std::size(codes));
}
