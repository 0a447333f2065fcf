// SPDX-License-Identifier: Apache-2.0
#include "app/window/shellOpen.h"

#include <QDesktopServices>
#include <QUrl>

#include "platform/Encoding.h"
#include "platform/Paths.h"

namespace {

bool DesktopOpen(const std::string& target) {
    const bool isAddress = target.find("://") != std::string::npos;
    const QUrl url = isAddress ? QUrl(AnsiToQString(target))
                               : QUrl::fromLocalFile(QString::fromStdString(FsPath(target)));
    return QDesktopServices::openUrl(url);
}

TShellOpener& Opener() {
    static TShellOpener opener = DesktopOpen;
    return opener;
}

}  // namespace

bool ShellOpen(const std::string& target) { return Opener()(target); }

TShellOpener SetShellOpener(TShellOpener opener) {
    TShellOpener previous = Opener();
    Opener() = opener ? std::move(opener) : TShellOpener(DesktopOpen);
    return previous;
}
