// SPDX-License-Identifier: Apache-2.0
#include "app/core/photoCheck.h"

#include "app/core/jpegDecoder.h"

TPhotoCheck::TPhotoCheck(std::string ansiPath, std::int64_t maxBytes, TOnChecked onChecked)
    : TThread(true), path_(std::move(ansiPath)), maxBytes_(maxBytes), onChecked_(std::move(onChecked)) {}

TPhotoCheck* TPhotoCheck::Run(std::string ansiPath, std::int64_t maxBytes, TOnChecked onChecked) {
    auto* check = new TPhotoCheck(std::move(ansiPath), maxBytes, std::move(onChecked));
    check->SetFreeOnTerminate(true);
    // The completion runs on this thread after the body, before the object frees itself.
    check->OnTerminate = [check](TThread*) {
        if (TOnChecked call = check->onChecked_) call(check->failure_);
    };
    try {
        check->Start();
    } catch (...) {
        delete check;
        throw;
    }
    return check;
}

void TPhotoCheck::Execute() { failure_ = CheckJpegFile(path_, maxBytes_); }
