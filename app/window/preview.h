// SPDX-License-Identifier: Apache-2.0
#pragma once
// The preview window: one photo of the current album at its natural size, paged with
// "<<" and ">>" (wrapping around at both ends). Exactly one exists during the run; it is
// created hidden at start-up, hidden (never destroyed) by its close button, its title-bar
// close or a click on its free area, and reopens where it was.
//
// Photo k is the file AlbumDir + k + ".jpg" and item k of the main window's PhotoList; the
// window reads both as they stand when it pages, so during a running album it pages
// through the photos listed so far.
#include <QWidget>

#include <cstdint>
#include <string>

class QPushButton;
class TImage;

class TPreviewForm : public QWidget {
public:
    explicit TPreviewForm(QWidget* parent = nullptr);

    static constexpr int ClientWidth = 910;
    static constexpr int ClientHeight = 620;

    TImage* img1;          // sizes itself to the picture
    QPushButton* btn1;     // "<<"
    QPushButton* Button1;  // ">>"
    QPushButton* btn3;     // close: hides the window

    // Zero-based number of the photo shown.
    std::int32_t PhotoIndex = 0;
    // The path last composed by ShowCurrent.
    std::string CurrentFile;

    // Loads photo PhotoIndex into img1 when its file exists; otherwise the picture stays.
    // A file that exists but cannot be decoded raises.
    void ShowCurrent();
    void btn1Click();     // previous photo
    void Button1Click();  // next photo
    void btn3Click();     // hide
    // Shows the window, or brings it to the front when it is already visible (the photo is
    // then not reloaded).
    void ShowOrRaise();

protected:
    void showEvent(QShowEvent* e) override;    // FormShow: ShowCurrent
    void closeEvent(QCloseEvent* e) override;  // hides instead of closing
    void mousePressEvent(QMouseEvent* e) override;  // FormClick: hide
};
