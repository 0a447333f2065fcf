// SPDX-License-Identifier: Apache-2.0
#include "base/Exception.h"

// Anchors the vtable in one translation unit.
Exception::~Exception() = default;
