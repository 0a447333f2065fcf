// SPDX-License-Identifier: Apache-2.0
#include "platform/AddressFamily.h"

#include <atomic>

namespace {
std::atomic<TAddressFamily> family{TAddressFamily::Any};
}  // namespace

void SetProcessAddressFamily(TAddressFamily f) { family.store(f); }

TAddressFamily ProcessAddressFamily() { return family.load(); }
