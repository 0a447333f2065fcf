// SPDX-License-Identifier: Apache-2.0
#pragma once
// UTF-8 to GBK for the texts the service writes into data documents (the album service
// speaks the program's code page). Throws std::runtime_error when a character has no
// GBK form, so a bad catalogue entry fails loudly at start-up instead of sending '?'.
#include <string>
#include <string_view>

std::string Utf8ToGbk(std::string_view utf8);
