// SPDX-License-Identifier: Apache-2.0
#pragma once
// ShowStatus: the main window's left status pane.
#include <string>

// Replaces the caption of the main window's left status pane (GUI thread only; also from
// inside a transfer's nested message loop). An empty text clears the pane. Does nothing
// while there is no main window.
void ShowStatus(const std::string& text);
