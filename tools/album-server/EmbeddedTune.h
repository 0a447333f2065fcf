// SPDX-License-Identifier: Apache-2.0
#pragma once
// The bytes of assets/tune.mp3, compiled into the binary so the service needs no files
// beside it.
#include <string_view>

std::string_view EmbeddedTune();
