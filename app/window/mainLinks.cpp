// SPDX-License-Identifier: Apache-2.0
// The sponsored-link pane of the main window.
#include "app/common/commonDefine.h"
#include "app/core/applyProxy.h"
#include "app/settings/commonDefineServers.h"
#include "app/window/linkList.h"
#include "app/window/mainUnit.h"
#include "app/window/shellOpen.h"
#include "base/Stream.h"
#include "http/HttpProt.h"
#include "platform/Encoding.h"
#include "widgets/StatusBar.h"

namespace {
constexpr int kLinkPairs = 5;

// Entry i of LinkList, or nothing when the list is shorter.
const std::string* LinkEntry(int i) {
    if (!LinkList || i < 0 || i >= LinkList->Count()) return nullptr;
    return &(*LinkList)[i];
}
}  // namespace

void TMainForm::LoadLinks() {
    LinkList->Clear();
    TStringStream stream;
    httpcli1->SetURL(LinkListUrl());
    httpcli1->SetDocStream(&stream);
    std::exception_ptr failure;
    try {
        ApplyProxy(*httpcli1, LinkListUrl());
        httpcli1->Get();
    } catch (...) {
        failure = std::current_exception();
    }
    httpcli1->SetDocStream(nullptr);
    SplitLinkText(UnicodeToAnsi(DecodeLinkText(stream.DataString())), *LinkList);
    if (failure) std::rethrow_exception(failure);
}

void TMainForm::tmr1Timer() {
    if (++LinkIndex > kLinkPairs - 1) LinkIndex = 0;
    const std::string* caption = LinkList && LinkList->Count() >= 2 * kLinkPairs ? LinkEntry(2 * LinkIndex) : nullptr;
    statusLink->SetText(caption ? AnsiToQString(*caption) : QString());
}

void TMainForm::statusLinkClick() {
    if (!LinkList || LinkList->Count() < 2 * kLinkPairs) return;
    const std::string* address = LinkEntry(2 * LinkIndex + 1);
    if (address && IsOpenableLinkAddress(*address)) ShellOpen(*address);
}
