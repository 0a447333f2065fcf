// SPDX-License-Identifier: Apache-2.0
#pragma once
// Addresses on their way into a request line. An address comes from a document or a server
// and may hold anything: a line break in it would end the request line early and let the
// rest pass for header lines or a second request.
#include <string>

// Whether text holds CR, LF or NUL: such an address is refused, never sent.
bool HasLineBreakOrNul(const std::string& text);

// text for a message: CR, LF, NUL and other control bytes shown as %0D, %0A, %00, ...
std::string PrintableAddress(const std::string& text);

// A path with its query ("/a b/c?x=é") as it may stand in a request line: every byte the
// URL grammar does not allow in a path or query is percent-encoded (bytes from 0x80 up,
// controls, space, and " < > [ \ ] ^ ` { | } DEL); a "%" that does not begin two hex
// digits becomes "%25"; valid escapes and the allowed characters (letters, digits,
// - . _ ~ ! $ & ' ( ) * + , ; = : @ / ?) are kept as they are. A fragment ("#..." to the
// end) is not part of a request and is cut. Encoding the result again changes nothing.
std::string EncodeRequestTarget(const std::string& pathAndQuery);
