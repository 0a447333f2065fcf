// SPDX-License-Identifier: Apache-2.0
// The thumbnails' click and context-menu commands of the main window.
#include "app/common/commonDefine.h"
#include "app/window/mainUnit.h"
#include "app/window/preview.h"
#include "app/window/shellOpen.h"
#include "widgets/Image.h"

TImage* TMainForm::ActionableThumbnail(QObject* sender) const {
    auto* img = dynamic_cast<TImage*>(sender);
    if (!img || !img->HasPicture() || img->Tag() > PhotoCount()) return nullptr;
    return img;
}

void TMainForm::Image1Click(QObject* sender) {
    TImage* img = ActionableThumbnail(sender);
    if (!img || !PreviewForm) return;
    PreviewForm->PhotoIndex = img->Tag() - 1;
    PreviewForm->ShowOrRaise();
}

void TMainForm::N1Click() { Image1Click(TImage::PopupComponent()); }

void TMainForm::N3Click() {
    if (ActionableThumbnail(TImage::PopupComponent())) ShellOpen(AlbumDir);
}
