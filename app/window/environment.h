// SPDX-License-Identifier: Apache-2.0
#pragma once
// Process set-up that must happen before the application object exists: the browser
// control's sandbox and GPU switches (it runs as root and without a GPU here), its page
// drawn by the software scene graph and no OpenGL in the process, the media back end that
// works without a sound card, and the offscreen platform when there is no display. Unless
// VERBOSE, start-up diagnostics that are no problem stay off stderr.
void PrepareEnvironment(bool verbose = false);

// Installs the default error dialog: a message box titled with the application title (the
// application name), with an error icon and an OK button.
void InstallErrorDialog();
