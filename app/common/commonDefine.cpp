// SPDX-License-Identifier: Apache-2.0
#include "app/common/commonDefine.h"

std::string AppDir;
std::string AlbumDir;
std::unique_ptr<TStringList> LinkList;
std::int32_t LinkIndex = 0;
TMainForm* MainForm = nullptr;
TPreviewForm* PreviewForm = nullptr;
