// SPDX-License-Identifier: Apache-2.0
#pragma once
// A container with a one-pixel raised bevel, the frame the main window groups controls in.
#include <QWidget>

class TPanel : public QWidget {
public:
    explicit TPanel(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* e) override;
};
