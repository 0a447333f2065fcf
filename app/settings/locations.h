// SPDX-License-Identifier: Apache-2.0
#pragma once
// Where the program keeps its files.
//
// A program folder the user can write to is a portable ("green") copy: albums, the settings
// file and the temporary page stay beside the executable, as they always have. Otherwise the
// program is installed: albums go to the user's pictures folder under "Fotaviq/", the
// settings file is read from the user's configuration folder and temporary files go to the
// user's cache folder. A settings file beside the executable always wins.
//
// Every path is an ANSI (GBK) text with '/' as the separator (see platform/Paths.h); folders
// end in '/'. The answers follow ProgramDir() and the environment (HOME, XDG_*) at the time of
// the call; nothing is cached. Called on the GUI thread, like every reader of AppDir.
// QtCore only.
#include <functional>
#include <string>

enum class TRunMode { Portable, Installed };

// The folder the decision is made on: AppDir, or the executable's folder while AppDir is empty.
std::string ProgramDir();
TRunMode RunMode();

// The folder album folders are created in: ProgramDir() when portable, else
// <pictures>/Fotaviq/. Not created here (the workflow creates the album folder with its
// parents).
std::string AlbumBaseDir();

// The settings file, which need not exist: fotaviq.ini in ProgramDir() when the copy is
// portable or that file is there, else <configuration>/fotaviq/fotaviq.ini. Open it with
// QSettings on QString::fromStdString(FsPath(SettingsFilePath())).
std::string SettingsFilePath();

// The folder for temporary files: ProgramDir() when portable, else <cache>/fotaviq/, created
// (with its parents) by this call when missing, so a file can be written there at once. When
// it cannot be created the path is still returned and the write that follows fails.
std::string TempDir();

// A new, empty file of this run's own in TempDir(), where a page fetch without a file name
// of its own, or the usage report's answer, is written: "page-XXXXXX.txt" (six random
// characters), made exclusively, so that runs at the same time never share one. The caller
// deletes it. Raises EStreamError (naming the folder and the system's reason) when it
// cannot be made.
std::string NewTempPageFile();

// The program folder's writability: the effective user may create files in it (root may
// everywhere that is not mounted read-only, so a copy run as root is portable). A folder
// that is not there is not writable.
bool IsWritableFolder(const std::string& ansiDir);
// Replaces that check for the mode decision; an empty function restores it. Lets tests,
// which run as root, play a read-only installation.
void SetWritableFolderCheck(std::function<bool(const std::string&)> check);
