// SPDX-License-Identifier: Apache-2.0
#pragma once
// The application's value objects.
#include <memory>
#include <string>
#include <vector>

#include "base/Component.h"

class TBaseVO : public TObject {};

// One photo of an album: its address exactly as it stood in the data document.
class TPhotoObject : public TBaseVO {
public:
    std::string Url;
};

// An owning list of photos in document order.
using TPhotoList = std::vector<std::unique_ptr<TPhotoObject>>;
