// SPDX-License-Identifier: Apache-2.0
#include "BenchWindow.h"

#include <QEventLoop>
#include <QLineEdit>
#include <QTimer>

#include <cstdio>

#include "app/common/commonDefine.h"
#include "app/settings/commonDefineServers.h"
#include "app/window/webBrowser.h"
#include "platform/Encoding.h"
#include "platform/ErrorGuard.h"

namespace {

bool PointServersAt(const char* host) {
    TServerSettings servers;
    servers.AlbumHost = servers.ViewerHost = servers.ReportHost = servers.LinkHost = servers.InfoHost = host;
    SetServers(servers);
    return true;
}

}  // namespace

TBenchWindow::TBenchWindow(const char* host, const char* viewerQuery, const char* appDirUtf8)
    : serversSet_(PointServersAt(host)) {
    SetExceptionHandler([this](const std::string& text) {
        ++failures;
        std::fprintf(stderr, "error: %s\n", text.c_str());
    });
    MainForm = &form;
    PreviewForm = &preview;
    AppDir = Utf8ToAnsi(appDirUtf8) + "/";
    form.edtUrl->setText(QString("http://%1/album/client/photo/swf/vphoto.swf?%2").arg(host, viewerQuery));
}

TBenchWindow::~TBenchWindow() {
    SetExceptionHandler(nullptr);
    MainForm = nullptr;
    PreviewForm = nullptr;
}

void TBenchWindow::ShowAndSettle(bool page, int settleMs) {
    if (!page) form.wb1->hide();  // a browser control never shown never starts its engine
    QEventLoop settle;
    form.wb1->OnLoadFinished = [&](bool) { settle.quit(); };
    form.show();
    if (page) {
        QTimer::singleShot(10000, &settle, &QEventLoop::quit);
        settle.exec();
    }
    form.wb1->OnLoadFinished = nullptr;
    QTimer::singleShot(settleMs, &settle, &QEventLoop::quit);
    settle.exec();
}
