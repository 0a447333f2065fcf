// SPDX-License-Identifier: Apache-2.0
#include "app/window/commonFuncStatus.h"

#include "app/common/commonDefine.h"
#include "app/window/mainUnit.h"
#include "platform/Encoding.h"
#include "widgets/StatusBar.h"

void ShowStatus(const std::string& text) {
    if (MainForm) MainForm->status1->SetText(AnsiToQString(text));
}
