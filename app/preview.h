#pragma once
// The preview window: one photo of the current album at its natural size, paged with
// "<<" and ">>". Exactly one exists during the run; it is created hidden at start-up and
// hidden (never destroyed) when closed, so it reopens where it was.
#include <QWidget>

#include <cstdint>
#include <string>

class TPreviewForm : public QWidget {
public:
    explicit TPreviewForm(QWidget* parent = nullptr);

    static constexpr int ClientWidth = 910;
    static constexpr int ClientHeight = 620;

    // Zero-based number of the photo shown.
    std::int32_t PhotoIndex = 0;
    // The path last composed by ShowCurrent.
    std::string CurrentFile;

    // Unfinished: the picture box, the paging buttons, the close button and ShowCurrent
    // arrive with the photo preview work.
};
