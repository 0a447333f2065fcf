// SPDX-License-Identifier: Apache-2.0
#pragma once
// The command line: downloads one album without a window, through the same workflow and
// photo queue as the main window.
//
//   fotaviq --download URL [--dir DIR] [--music] [--connections N] [--ca-file FILE] [--insecure]
//           [--proxy URL] [--no-proxy LIST] [-4|-6]
//   fotaviq --help | --version
//   fotaviq [--verbose]   (the window; --verbose is accepted with the others too)
//
// Prints "[n/total] file" per photo on standard output as it is committed, the album folder
// at the end, and one line "fotaviq: ..." on standard error when the album fails. Exit
// status: 0 when the album is complete (every photo, and the music when --music asked for
// it), 1 when it failed or was stopped (SIGINT stops it as the stop button does), 2 for a
// bad command line (an unusable --proxy URL among them). --proxy and --no-proxy win over the
// settings file and the environment (proxySettings.h).

// True when the arguments ask for the command line rather than the window.
bool WantsCommandLine(int argc, char** argv);

// True when --verbose is among the arguments: the start-up diagnostics stay on stderr.
bool WantsVerbose(int argc, char** argv);

// Runs the command line (creates its own application object) and gives the exit status.
int RunCommandLine(int argc, char** argv);
