// SPDX-License-Identifier: Apache-2.0
#pragma once
// Socket addresses of either family and their text. IPv6 text is the usual form ("::1",
// "2001:db8::5"); a host in brackets ("[::1]", as URLs write it) means the same address.
// The first call loads the Winsock module when it is not loaded (ESocketException then).
#include <cstdint>
#include <string>
#include <vector>

#include "winsock/Winsock.h"

// S without one pair of enclosing brackets ("[::1]" gives "::1"); other text unchanged.
std::string UnbracketHost(const std::string& S);
// Whether S (spaces around allowed, brackets too) is an IPv6 address.
bool IsIPv6Address(const std::string& S);
// A numeric address of either family (dotted IPv4 as IsDottedIPv4 takes it, or IPv6) with
// the port (network order) as a record; false for anything else. Len = the record's size.
bool MakeSockAddr(const std::string& Text, std::uint16_t PortNet, TSockAddrStorage& Out, int& Len);
// The address of a record as text ("" for an unknown family).
std::string SockAddrText(const TSockAddrStorage& Addr);
// The port of a record (network order).
std::uint16_t SockAddrPort(const TSockAddrStorage& Addr);
// Address i of a host entry as text; an IPv4 address mapped into IPv6 as dotted IPv4.
std::string HostEntAddrText(const THostEnt& Host, int i);
