// SPDX-License-Identifier: Apache-2.0
#pragma once
// A picture box. It shows a picture either stretched to the box or at its natural size
// (AutoSize resizes the box to the picture). It carries an integer Tag, raises OnClick on
// a left click and, once a context menu is attached, shows it on a right click; the menu
// can ask which box it was opened on (PopupComponent).
#include <QImage>
#include <QMenu>
#include <QWidget>

#include <functional>

class TImage : public QWidget {
public:
    explicit TImage(QWidget* parent = nullptr);

    const QImage& Picture() const { return picture_; }
    bool HasPicture() const { return !picture_.isNull(); }
    void SetPicture(const QImage& picture);
    void ClearPicture();

    bool Stretch() const { return stretch_; }
    void SetStretch(bool on);
    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool on);

    int Tag() const { return tag_; }
    void SetTag(int tag) { tag_ = tag; }

    QMenu* PopupMenu() const { return popup_; }
    void SetPopupMenu(QMenu* menu) { popup_ = menu; }
    // The picture box whose context menu was opened last (null before any).
    static TImage* PopupComponent() { return popupComponent_; }

    // Raised on a left click; the handler must not let an exception escape.
    std::function<void(TImage* sender)> OnClick;

protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;  // taken here: a click on a picture is not a click on its window
    void mouseReleaseEvent(QMouseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;

private:
    QImage picture_;
    bool stretch_ = false;
    bool autoSize_ = false;
    int tag_ = 0;
    QMenu* popup_ = nullptr;
    inline static TImage* popupComponent_ = nullptr;
};
