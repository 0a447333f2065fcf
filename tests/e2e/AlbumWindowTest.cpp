// SPDX-License-Identifier: Apache-2.0
#include "AlbumWindowTest.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "app/common/commonDefine.h"
#include "app/settings/commonDefineServers.h"
#include "platform/Encoding.h"
#include "platform/ErrorGuard.h"
#include "widgets/StatusBar.h"

bool AlbumWindowTest::StartWindow(const QString& address, const QStringList& serviceArgs) {
    host = address;
    service = std::make_unique<AlbumServiceProcess>(host, serviceArgs);
    if (!service->Started()) return false;
    TServerSettings servers;
    servers.AlbumHost = servers.ViewerHost = servers.ReportHost = servers.LinkHost = servers.InfoHost =
        host.toStdString();
    SetServers(servers);
    SetExceptionHandler([this](const std::string& text) { errors << TextToQString(text); });
    form = std::make_unique<TMainForm>();
    MainForm = form.get();
    preview = std::make_unique<TPreviewForm>();
    PreviewForm = preview.get();
    form->status1->OnTextChange = [this](TStatusPanel* p) {
        statuses << p->Text();
        if (onStatus) onStatus(p->Text());
    };
    return true;
}

void AlbumWindowTest::StopWindow() {
    SetExceptionHandler(nullptr);
    PreviewForm = nullptr;
    preview.reset();
    MainForm = nullptr;
    form.reset();
    service.reset();
}

void AlbumWindowTest::FreshTest() {
    appDir = std::make_unique<QTemporaryDir>();
    AppDir = QStringToAnsi(appDir->path()) + "/";
    statuses.clear();
    errors.clear();
    onStatus = nullptr;
    service->Reset();
}

void AlbumWindowTest::Run(const QString& query) {
    form->edtUrl->setText(QString("http://%1/album/client/photo/swf/vphoto.swf?%2").arg(host, query));
    QTest::mouseClick(form->btnDownload, Qt::LeftButton);
}
