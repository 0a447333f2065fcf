// SPDX-License-Identifier: Apache-2.0
#include "app/window/mainUnit.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "app/common/commonDefine.h"
#include "app/settings/commonDefineServers.h"
#include "app/common/commonDefineTexts.h"
#include "app/window/mediaPlayer.h"
#include "app/window/webBrowser.h"
#include "http/HttpProt.h"
#include "base/Exception.h"
#include "platform/Encoding.h"
#include "platform/ErrorGuard.h"
#include "platform/Paths.h"
#include "widgets/Image.h"
#include "widgets/Panel.h"
#include "widgets/StatusBar.h"

namespace {

// Tahoma 8 pt is 11 pixels high; the CJK family behind it draws the Chinese texts.
QFont FormFont() {
    QFont f;
    f.setFamilies({"Tahoma", "DejaVu Sans", "WenQuanYi Micro Hei"});
    f.setPixelSize(11);
    return f;
}

template <class W>
W* Place(W* w, const char* name, int left, int top, int width, int height) {
    w->setObjectName(name);
    w->setGeometry(left, top, width, height);
    return w;
}

QString Q(const char* ansi) { return AnsiToQString(ansi); }

}  // namespace

TMainForm::TMainForm(QWidget* parent) : QWidget(parent) {
    CreateControls();
    ConnectHandlers();
    FormCreate();
}

TMainForm::~TMainForm() { FormDestroy(); }

void TMainForm::CreateControls() {
    setObjectName("MainForm");
    setWindowTitle("Fotaviq");  // the design caption; FormCreate replaces it
    // System menu and minimise box only: no maximise box, and the size is fixed.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(ClientWidth, ClientHeight);
    setFont(FormFont());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(236, 233, 216));
    setPalette(pal);
    setAutoFillBackground(true);

    pnl1 = Place(new TPanel(this), "pnl1", 8, 8, 737, 37);
    lbl1 = Place(new QLabel(Q(sUrlLabel), pnl1), "lbl1", 8, 12, 150, 13);
    edtUrl = Place(new QLineEdit(QString::fromStdString(ExampleViewerUrl()), pnl1), "edtUrl", 160, 7, 449, 19);
    btnDownload = Place(new QPushButton(Q(sDownloadButton), pnl1), "btnDownload", 624, 6, 97, 25);

    mmStatus = Place(new QPlainTextEdit(this), "mmStatus", 8, 56, 177, 185);
    QPalette memoPal = mmStatus->palette();
    memoPal.setColor(QPalette::Base, memoPal.color(QPalette::Button));
    mmStatus->setPalette(memoPal);
    for (const char* line : {sWelcome, sProductLine, "", sWebsiteLabel, MakerWebAddress})
        mmStatus->appendPlainText(Q(line));

    cbbPhotos = Place(new QComboBox(this), "cbbPhotos", 48, 224, 145, 21);
    cbbPhotos->setVisible(false);
    chkAutoDownMusic = Place(new QCheckBox(Q(sAutoDownMusic), this), "chkAutoDownMusic", 8, 256, 169, 17);
    wb1 = Place(new TWebBrowser(this), "wb1", 8, 280, 177, 185);
    btn2 = Place(new QPushButton(Q(sStopButton), this), "btn2", 16, 480, 161, 25);

    Panel1 = Place(new TPanel(this), "Panel1", 192, 48, 553, 457);
    static constexpr int kLeft[] = {16, 104, 192, 280, 368, 456};
    static constexpr int kTop[] = {16, 104, 192, 280, 368};
    for (int row = 0; row < 5; ++row)
        for (int col = 0; col < 6; ++col) {
            const int n = 6 * row + col + 1;
            const std::string name = "Image" + std::to_string(n);
            TImage* img = Place(new TImage(Panel1), name.c_str(), kLeft[col], kTop[row], 75, 75);
            img->SetStretch(true);
            img->SetTag(n);
            Image[static_cast<size_t>(n - 1)] = img;
        }
    mp1 = Place(new TMediaPlayer(Panel1), "mp1", 112, 128, 253, 30);

    lbl2 = Place(new QLabel(Q(sMusicLabel), this), "lbl2", 192, 518, 114, 13);
    edtBgmusic = Place(new QLineEdit(this), "edtBgmusic", 312, 512, 353, 19);
    edtBgmusic->setReadOnly(true);
    btn1 = Place(new QPushButton(Q(sPlayMusicButton), this), "btn1", 672, 512, 73, 19);

    status = Place(new TStatusBar(this), "status", 0, 542, 762, 19);
    status1 = status->AddPanel(346);
    statusLink = status->AddPanel(392);
    QFont linkFont = FormFont();
    linkFont.setUnderline(true);
    statusLink->SetFont(linkFont);
    statusLink->SetColor(palette().color(QPalette::Highlight));

    popup1 = new QMenu(this);
    popup1->setObjectName("popup1");
    N1 = popup1->addAction(Q(sPreviewItem));
    N1->setObjectName("N1");
    N2 = popup1->addSeparator();
    N2->setObjectName("N2");
    N3 = popup1->addAction(Q(sOpenFolderItem));
    N3->setObjectName("N3");

    tmr1 = new QTimer(this);
    tmr1->setObjectName("tmr1");
    tmr1->setInterval(5000);
    tmr1->start();

    httpcli1 = std::make_unique<THttpCli>();
    httpcli1->SetLocalAddr("0.0.0.0");
    httpcli1->SetProxyPort("80");
    httpcli1->SetAgent("Mozilla/3.0 (compatible)");
    httpcli1->SetAccept("image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*");
    httpcli1->SetNoCache(false);
    httpcli1->SetContentTypePost("application/x-www-form-urlencoded");
    httpcli1->SetMultiThreaded(false);

    // Centred on the screen.
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TMainForm::ConnectHandlers() {
    QObject::connect(btnDownload, &QPushButton::clicked, this, Guarded([this](bool) { btnDownloadClick(); }));
    QObject::connect(btn2, &QPushButton::clicked, this, Guarded([this](bool) { btn2Click(); }));
    QObject::connect(btn1, &QPushButton::clicked, this, Guarded([this](bool) { btn1Click(); }));
    mp1->OnError = [](const std::string& message) { ShowException(EMCIDeviceError(message)); };
    for (TImage* img : Image) img->OnClick = Guarded([this](TImage* sender) { Image1Click(sender); });
    QObject::connect(N1, &QAction::triggered, this, Guarded([this](bool) { N1Click(); }));
    QObject::connect(N3, &QAction::triggered, this, Guarded([this](bool) { N3Click(); }));
    QObject::connect(tmr1, &QTimer::timeout, this, Guarded([this](auto&&...) { tmr1Timer(); }));
    statusLink->OnClick = Guarded([this](TStatusPanel*) { statusLinkClick(); });
}

void TMainForm::FormCreate() {
    // A failing step is shown in the error dialog; the steps before it have taken effect and
    // the window is still created and shown.
    GuardedCall([this] {
        setWindowTitle(Q(sMainCaption));
        AppDir = ExecutableDir();
        wb1->setUrl(QUrl(QString::fromStdString(InfoPageUrl())));
        LinkList = std::make_unique<TStringList>();
        LoadLinks();
    });
}

void TMainForm::FormDestroy() { LinkList.reset(); }

TImage* TMainForm::FindImage(const std::string& name) const {
    const QString wanted = QString::fromStdString(name);
    for (TImage* img : Image)
        if (img->objectName().compare(wanted, Qt::CaseInsensitive) == 0) return img;
    return nullptr;
}

int TMainForm::PhotoCount() const { return cbbPhotos->count(); }

std::string TMainForm::Photo(int index) const {
    if (index < 0 || index >= PhotoCount())
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    return cbbPhotos->itemData(index).toByteArray().toStdString();
}

void TMainForm::AddPhoto(const std::string& url) {
    cbbPhotos->addItem(AnsiToQString(url), QByteArray::fromStdString(url));
}

void TMainForm::ClearPhotos() { cbbPhotos->clear(); }

void TMainForm::AddStatusLine(const std::string& ansiText) { mmStatus->appendPlainText(AnsiToQString(ansiText)); }
