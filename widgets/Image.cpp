// SPDX-License-Identifier: Apache-2.0
#include "widgets/Image.h"

#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QPainter>

TImage::TImage(QWidget* parent) : QWidget(parent) {}

void TImage::SetPicture(const QImage& picture) {
    picture_ = picture;
    if (autoSize_ && !picture_.isNull()) resize(picture_.size());
    update();
}

void TImage::ClearPicture() {
    picture_ = QImage();
    update();
}

void TImage::SetStretch(bool on) {
    stretch_ = on;
    update();
}

void TImage::SetAutoSize(bool on) {
    autoSize_ = on;
    if (autoSize_ && !picture_.isNull()) resize(picture_.size());
}

void TImage::paintEvent(QPaintEvent*) {
    if (picture_.isNull()) return;
    QPainter p(this);
    if (stretch_) {
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(rect(), picture_);
    } else {
        p.drawImage(QPoint(0, 0), picture_);
    }
}

void TImage::mousePressEvent(QMouseEvent* e) { e->accept(); }

void TImage::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()) && OnClick) OnClick(this);
}

void TImage::contextMenuEvent(QContextMenuEvent* e) {
    if (!popup_) return;
    popupComponent_ = this;
    popup_->popup(e->globalPos());
}
