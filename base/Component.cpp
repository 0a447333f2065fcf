#include "base/Component.h"

TObject::~TObject() = default;
