// SPDX-License-Identifier: Apache-2.0
#pragma once
// Process-wide values shared by the windows, the album workflow and the command line.
//
// Everything here is read and written on the GUI thread only: every reader and writer is a
// window event handler or runs inside a transfer's nested message loop on that thread, so
// no locks are used. The server settings are in app/settings/commonDefineServers.h, the
// program's texts in commonDefineTexts.h.
#include <cstdint>
#include <memory>
#include <string>

#include "base/StringList.h"
#include "fotaviq/Version.h"

class TMainForm;
class TPreviewForm;

// The executable's folder with a trailing '/' (set once at start-up).
extern std::string AppDir;
// The current album's folder with a trailing '/', set at the start of each album.
extern std::string AlbumDir;
// Sponsored links: entry 2k is the caption of link k, entry 2k+1 its address. Created
// empty by the main window's creation and freed by its destruction.
extern std::unique_ptr<TStringList> LinkList;
// The link pair shown in the status bar, 0..4.
extern std::int32_t LinkIndex;
inline constexpr char AppVersion[] = "ZK1.0";  // as the usage report names it
inline constexpr char ProgramVersion[] = FOTAVIQ_VERSION;  // as --version and the package name it

// The two windows while they exist (null otherwise).
extern TMainForm* MainForm;
extern TPreviewForm* PreviewForm;

// The maker's web address shown as the fifth line of the status memo.
inline constexpr char MakerWebAddress[] = "http://quellan.example/";
