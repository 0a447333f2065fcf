// SPDX-License-Identifier: Apache-2.0
#pragma once
// Turning the text properties of a socket into the numbers Winsock needs. Each routine
// raises ESocketException (or ERangeError for a port above 65535) and never reports
// through a socket; the first call loads the Winsock module when it is not loaded.
#include <cstdint>
#include <string>
#include <vector>

// The IPv4 address of a host, in network order: a dotted address directly, any other
// name through the system's (blocking) host look-up, taking the first address.
std::uint32_t WSocketResolveHost(const std::string& Host);
// Every address of a host as text, in the order to try them: a numeric address (IPv4 or
// IPv6, brackets allowed) alone; a name through the system's (blocking) look-up in the
// families WSocketFamily allows, IPv6 first and the families alternating. Raises like
// WSocketResolveHost.
std::vector<std::string> WSocketResolveHostList(const std::string& Host);
// A port in host order: digits (at most 65535) or a service name for Proto.
std::uint16_t WSocketResolvePort(const std::string& Port, const std::string& Proto);
// A protocol number: digits or a protocol name ("tcp" 6, "udp" 17).
int WSocketResolveProto(const std::string& Proto);

// Four decimal groups of at most 255 separated by single dots; leading and trailing
// spaces allowed, nothing else.
bool IsDottedIPv4(const std::string& S);
// The decimal digits at the start of S after leading spaces ("80abc" gives 80, "" gives
// 0); a value beyond the integer range saturates.
int ParseLeadingDecimal(const std::string& S);
