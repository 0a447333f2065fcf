// SPDX-License-Identifier: Apache-2.0
#include "app/window/preview.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include "app/common/commonDefine.h"
#include "app/common/commonDefineTexts.h"
#include "app/window/jpegLoader.h"
#include "app/window/mainUnit.h"
#include "platform/Encoding.h"
#include "platform/ErrorGuard.h"
#include "platform/Files.h"
#include "widgets/Image.h"

namespace {

int PhotoListCount() { return MainForm ? MainForm->PhotoCount() : 0; }

}  // namespace

TPreviewForm::TPreviewForm(QWidget* parent) : QWidget(parent) {
    setObjectName("PreviewForm");
    setWindowTitle(AnsiToQString(sPreviewCaption));
    setWindowFlags(Qt::Window | Qt::WindowStaysOnTopHint);  // always on top, not modal
    setFixedSize(ClientWidth, ClientHeight);
    QFont f;
    f.setFamilies({"Tahoma", "DejaVu Sans", "WenQuanYi Micro Hei"});
    f.setPixelSize(11);
    setFont(f);

    img1 = new TImage(this);
    img1->setObjectName("img1");
    img1->setGeometry(168, 16, 537, 561);
    img1->SetAutoSize(true);

    btn1 = new QPushButton("<<", this);
    btn1->setObjectName("btn1");
    btn1->setGeometry(56, 240, 65, 57);
    Button1 = new QPushButton(">>", this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(792, 240, 65, 57);
    btn3 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCloseButton), "Close", this);
    btn3->setObjectName("btn3");
    btn3->setGeometry(784, 472, 75, 25);

    QObject::connect(btn1, &QPushButton::clicked, this, Guarded([this](bool) { btn1Click(); }));
    QObject::connect(Button1, &QPushButton::clicked, this, Guarded([this](bool) { Button1Click(); }));
    QObject::connect(btn3, &QPushButton::clicked, this, Guarded([this](bool) { btn3Click(); }));

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TPreviewForm::ShowCurrent() {
    CurrentFile = AlbumDir + std::to_string(PhotoIndex) + ".jpg";
    if (FileExists(CurrentFile)) img1->SetPicture(LoadPictureFile(CurrentFile));
}

void TPreviewForm::btn1Click() {
    if (--PhotoIndex < 0) PhotoIndex = PhotoListCount() - 1;
    ShowCurrent();
}

void TPreviewForm::Button1Click() {
    if (++PhotoIndex > PhotoListCount() - 1) PhotoIndex = 0;
    ShowCurrent();
}

void TPreviewForm::btn3Click() { hide(); }

void TPreviewForm::ShowOrRaise() {
    if (isVisible()) {
        raise();
        activateWindow();
    } else {
        show();
    }
}

void TPreviewForm::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (!e->spontaneous()) GuardedCall([this] { ShowCurrent(); });
}

void TPreviewForm::closeEvent(QCloseEvent* e) {
    e->ignore();
    hide();
}

void TPreviewForm::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) hide();
}
