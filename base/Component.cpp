// SPDX-License-Identifier: Apache-2.0
#include "base/Component.h"

TObject::~TObject() = default;
