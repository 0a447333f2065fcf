// SPDX-License-Identifier: Apache-2.0
#pragma once
// The main window as the window benchmarks drive it: every server on one host, albums into
// a given folder, the viewer address typed in, and errors counted and printed instead of
// shown. The application object must exist first (PrepareEnvironment before it).
#include "app/window/mainUnit.h"
#include "app/window/preview.h"

class TBenchWindow {
public:
    TBenchWindow(const char* host, const char* viewerQuery, const char* appDirUtf8);
    ~TBenchWindow();

    // Shows the window as a user meets it: with the page, waits until the information page
    // has loaded (10 s at most); without, the browser control stays hidden and its engine
    // never starts. Then settleMs more for the window to settle.
    void ShowAndSettle(bool page, int settleMs);

private:
    bool serversSet_;  // before the windows: they read the hosts when they are created

public:
    TMainForm form;
    TPreviewForm preview;
    int failures = 0;  // errors that would have been shown
};
