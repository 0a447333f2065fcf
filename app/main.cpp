// SPDX-License-Identifier: Apache-2.0
// The process entry: application object, title, main window, hidden preview window,
// message loop; then the windows are destroyed and the process ends.
#include <QApplication>

#include <memory>

#include "app/window/environment.h"
#include "app/cli/commandLine.h"
#include "app/common/commonDefine.h"
#include "app/common/dao.h"
#include "app/core/applyProxy.h"
#include "app/settings/networkFamily.h"
#include "app/settings/proxySettings.h"
#include "app/settings/settingsFile.h"
#include "app/settings/tlsSettings.h"
#include "app/window/mainUnit.h"
#include "app/window/preview.h"
#include "platform/ErrorGuard.h"

int main(int argc, char** argv) {
    auto dao = std::make_unique<TCommonDao>();
    if (WantsCommandLine(argc, argv)) return RunCommandLine(argc, argv);
    PrepareEnvironment(WantsVerbose(argc, argv));
    QApplication app(argc, argv);
    // The application title: the error dialog's title and the windows' class, under which a
    // task bar groups them. Not the display name: the platform would append that to every
    // window caption, and the captions are the windows' own texts alone.
    QApplication::setApplicationName("Fotaviq");
    // Lets the desktop match the window to its launcher entry and icon.
    QGuiApplication::setDesktopFileName("example.quellan.Fotaviq");
    InstallErrorDialog();

    auto mainForm = std::make_unique<TMainForm>();  // its creation handler runs now
    MainForm = mainForm.get();
    auto previewForm = std::make_unique<TPreviewForm>();  // hidden until a photo is previewed
    PreviewForm = previewForm.get();
    mainForm->show();
    // How HTTPS servers are trusted ([tls] of the settings file): an authority file that
    // cannot be loaded is said, and the system's authorities stay.
    const TSettingsFile ini = TSettingsFile::Read();
    GuardedCall([&ini] { ApplyTlsChoice(ReadTlsChoice(ini, std::nullopt, false)); });
    SetWSocketFamily(ReadNetworkFamily(ini, std::nullopt));
    SetCurrentProxySettings(ResolveProcessProxySettings(ini, std::nullopt, std::nullopt));
    RouteFetcherThroughProxy();  // the proxy settings of the file and the environment

    const int rc = app.exec();
    PreviewForm = nullptr;
    previewForm.reset();
    MainForm = nullptr;
    mainForm.reset();
    return rc;
}
