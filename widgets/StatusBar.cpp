// SPDX-License-Identifier: Apache-2.0
#include "widgets/StatusBar.h"

#include <QMouseEvent>
#include <QPainter>

void TStatusPanel::SetText(const QString& text) {
    text_ = text;
    bar_->update();
    if (OnTextChange) OnTextChange(this);
}

void TStatusPanel::SetWidth(int width) {
    width_ = width;
    bar_->update();
}

void TStatusPanel::SetFont(const QFont& font) {
    font_ = font;
    bar_->update();
}

void TStatusPanel::SetColor(const QColor& color) {
    color_ = color;
    bar_->update();
}

void TStatusPanel::SetBlinking(bool on, int intervalMs) {
    blinkHidden_ = false;
    if (!on) {
        blinkTimer_.reset();
    } else {
        blinkTimer_ = std::make_unique<QTimer>();
        QObject::connect(blinkTimer_.get(), &QTimer::timeout, bar_, [this] {
            blinkHidden_ = !blinkHidden_;
            bar_->update();
        });
        blinkTimer_->start(intervalMs);
    }
    bar_->update();
}

TStatusBar::TStatusBar(QWidget* parent) : QWidget(parent) { setMouseTracking(true); }

TStatusBar::~TStatusBar() = default;

TStatusPanel* TStatusBar::AddPanel(int width) {
    panels_.push_back(std::unique_ptr<TStatusPanel>(new TStatusPanel(this)));
    TStatusPanel* p = panels_.back().get();
    p->width_ = width;
    p->font_ = font();
    update();
    return p;
}

QRect TStatusBar::PanelRect(int index) const {
    int left = 0;
    for (int i = 0; i < index; ++i) left += panels_[static_cast<size_t>(i)]->width_;
    return QRect(left, 0, panels_.at(static_cast<size_t>(index))->width_, height());
}

TStatusPanel* TStatusBar::PanelAt(const QPoint& pos) const {
    for (int i = 0; i < PanelCount(); ++i)
        if (PanelRect(i).contains(pos)) return panels_[static_cast<size_t>(i)].get();
    return nullptr;
}

void TStatusBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    for (int i = 0; i < PanelCount(); ++i) {
        const TStatusPanel& panel = *panels_[static_cast<size_t>(i)];
        if (panel.blinkHidden_) continue;
        p.setFont(panel.font_);
        p.setPen(&panel == hot_ ? panel.hotColor_ : panel.color_);
        p.drawText(PanelRect(i).adjusted(2, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter, panel.text_);
    }
}

void TStatusBar::SetHot(TStatusPanel* panel) {
    if (panel && !panel->OnClick) panel = nullptr;
    if (panel == hot_) return;
    hot_ = panel;
    if (hot_)
        setCursor(Qt::PointingHandCursor);
    else
        unsetCursor();
    update();
}

void TStatusBar::mouseMoveEvent(QMouseEvent* e) { SetHot(PanelAt(e->position().toPoint())); }

void TStatusBar::leaveEvent(QEvent*) { SetHot(nullptr); }

void TStatusBar::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    TStatusPanel* panel = PanelAt(e->position().toPoint());
    if (panel && panel->OnClick) panel->OnClick(panel);
}
