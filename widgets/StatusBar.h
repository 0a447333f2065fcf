// SPDX-License-Identifier: Apache-2.0
#pragma once
// A status bar made of panes laid out left to right. A pane has a caption, a width, its own
// font and colour, and an optional click handler. A pane with a click handler tracks the
// mouse: while the pointer is over it the cursor is a pointing hand and its caption is
// drawn in the hot colour. A pane can blink (its caption shown and hidden by turns).
// Panes belong to the bar; pointers to them stay valid for the bar's life.
#include <QColor>
#include <QFont>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class TStatusBar;

class TStatusPanel {
public:
    const QString& Text() const { return text_; }
    void SetText(const QString& text);
    int Width() const { return width_; }
    void SetWidth(int width);
    const QFont& Font() const { return font_; }
    void SetFont(const QFont& font);
    const QColor& Color() const { return color_; }
    void SetColor(const QColor& color);
    void SetHotColor(const QColor& color) { hotColor_ = color; }

    // Raised on a left click inside the pane, from Qt's event dispatch: the handler must
    // not let an exception escape (the application guards its handlers).
    std::function<void(TStatusPanel* sender)> OnClick;

    // Raised after every SetText (also when the caption stays the same).
    std::function<void(TStatusPanel* sender)> OnTextChange;

    void SetBlinking(bool on, int intervalMs = 500);
    bool Blinking() const { return blinkTimer_ != nullptr; }

private:
    friend class TStatusBar;
    explicit TStatusPanel(TStatusBar* bar) : bar_(bar) {}

    TStatusBar* bar_;
    QString text_;
    int width_ = 50;
    QFont font_;
    QColor color_{Qt::black};
    QColor hotColor_{Qt::red};
    std::unique_ptr<QTimer> blinkTimer_;
    bool blinkHidden_ = false;
};

class TStatusBar : public QWidget {
public:
    explicit TStatusBar(QWidget* parent = nullptr);
    ~TStatusBar() override;

    // A new pane after the existing ones.
    TStatusPanel* AddPanel(int width);
    int PanelCount() const { return static_cast<int>(panels_.size()); }
    TStatusPanel* Panel(int index) const { return panels_.at(static_cast<size_t>(index)).get(); }
    // The pane under a point of the bar, or null.
    TStatusPanel* PanelAt(const QPoint& pos) const;
    QRect PanelRect(int index) const;

protected:
    void paintEvent(QPaintEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void leaveEvent(QEvent* e) override;

private:
    friend class TStatusPanel;
    void SetHot(TStatusPanel* panel);

    std::vector<std::unique_ptr<TStatusPanel>> panels_;
    TStatusPanel* hot_ = nullptr;
};
