// SPDX-License-Identifier: Apache-2.0
// The main window as built: every control at its place with its initial contents.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "app/common/commonDefine.h"
#include "app/window/commonFuncStatus.h"
#include "app/settings/commonDefineServers.h"
#include "app/common/commonFunc.h"
#include "app/window/mainUnit.h"
#include "app/window/mediaPlayer.h"
#include "app/window/webBrowser.h"
#include "base/Exception.h"
#include "platform/Encoding.h"
#include "platform/ErrorGuard.h"
#include "platform/Paths.h"
#include "support/QtGuiTestMain.h"
#include "widgets/Image.h"
#include "widgets/StatusBar.h"

namespace {
QString U(const char* utf8) { return QString::fromUtf8(utf8); }
}  // namespace

class MainFormTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        SetExceptionHandler([this](const std::string& text) { errors << QString::fromStdString(text); });
        form = new TMainForm;
        MainForm = form;
        SetExceptionHandler(nullptr);
    }
    void cleanupTestCase() {
        MainForm = nullptr;
        delete form;
        QVERIFY(!LinkList);  // freed by the window's destruction
    }

    void windowFrame() {
        QCOMPARE(form->size(), QSize(762, 561));
        QCOMPARE(form->minimumSize(), form->maximumSize());  // cannot be resized or maximised
        QVERIFY(!(form->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(form->windowFlags() & Qt::WindowMinimizeButtonHint);
        QCOMPARE(form->windowTitle(), U("Fotaviq V1.0 - Quellan软件 - (免费+绿色)"));
        QCOMPARE(form->palette().color(QPalette::Window), QColor(236, 233, 216));
        QCOMPARE(form->font().pixelSize(), 11);
        QCOMPARE(QString::fromStdString(AppDir), QString::fromStdString(ExecutableDir()));
        QVERIFY(LinkList && LinkList->Count() == 0);
        // The link server cannot be reached: its error was shown once, and the window is up.
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors[0], QString("Connection refused (Error #10061)."));
    }

    void controlsAtTheirPlaces_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("parentName");
        const char* win = "MainForm";
        auto row = [](const char* name, int l, int t, int w, int h, const char* parent) {
            QTest::newRow(name) << QString(name) << QRect(l, t, w, h) << QString(parent);
        };
        row("pnl1", 8, 8, 737, 37, win);
        row("lbl1", 8, 12, 150, 13, "pnl1");
        row("edtUrl", 160, 7, 449, 19, "pnl1");
        row("btnDownload", 624, 6, 97, 25, "pnl1");
        row("mmStatus", 8, 56, 177, 185, win);
        row("cbbPhotos", 48, 224, 145, 21, win);
        row("chkAutoDownMusic", 8, 256, 169, 17, win);
        row("wb1", 8, 280, 177, 185, win);
        row("btn2", 16, 480, 161, 25, win);
        row("Panel1", 192, 48, 553, 457, win);
        row("mp1", 112, 128, 253, 30, "Panel1");
        row("lbl2", 192, 518, 114, 13, win);
        row("edtBgmusic", 312, 512, 353, 19, win);
        row("btn1", 672, 512, 73, 19, win);
        row("status", 0, 542, 762, 19, win);
        row("Image1", 16, 16, 75, 75, "Panel1");
        row("Image6", 456, 16, 75, 75, "Panel1");
        row("Image8", 104, 104, 75, 75, "Panel1");
        row("Image25", 16, 368, 75, 75, "Panel1");
        row("Image30", 456, 368, 75, 75, "Panel1");
    }
    void controlsAtTheirPlaces() {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QFETCH(QString, parentName);
        auto* w = form->findChild<QWidget*>(name);
        QVERIFY2(w, qPrintable(name));
        QCOMPARE(w->geometry(), geometry);
        QCOMPARE(w->parentWidget()->objectName(), parentName);
    }

    void initialContents() {
        QCOMPARE(form->lbl1->text(), U("请输入相册视频所在页面：  "));
        QCOMPARE(form->btnDownload->text(), U("下载相册"));
        QVERIFY(form->edtUrl->text().contains(QRegularExpression("^http://[^/]+/album/client/photo/swf/vphoto\\.swf\\?uin=\\d+&fid=\\d+$")));
        QCOMPARE(form->mmStatus->toPlainText().split('\n'),
                 QStringList({U("欢迎使用Quellan软件"), "-- Fotaviq", "", U("官方网站："), QString(MakerWebAddress)}));
        QVERIFY(!form->cbbPhotos->isVisibleTo(form));
        QVERIFY(!form->mp1->isVisibleTo(form));
        QCOMPARE(form->chkAutoDownMusic->text(), U("自动下载相册背景音乐   "));
        QVERIFY(!form->chkAutoDownMusic->isChecked());
        QCOMPARE(form->btn2->text(), U("停 止 下 载"));
        QCOMPARE(form->lbl2->text(), U("背景音乐文件地址：  "));
        QVERIFY(form->edtBgmusic->isReadOnly());
        QVERIFY(form->edtBgmusic->text().isEmpty());
        QCOMPARE(form->btn1->text(), U("预览音乐"));
        QCOMPARE(form->wb1->url().toString(), QString::fromStdString(InfoPageUrl()));
        QCOMPARE(form->tmr1->interval(), 5000);
        QVERIFY(form->tmr1->isActive());
    }

    void statusBarPanes() {
        QCOMPARE(form->status->PanelCount(), 2);
        QCOMPARE(form->status1->Width(), 346);
        QCOMPARE(form->statusLink->Width(), 392);
        QVERIFY(form->statusLink->Font().underline());
        QCOMPARE(form->statusLink->Color(), form->palette().color(QPalette::Highlight));
    }

    void popupMenuItems() {
        const auto actions = form->popup1->actions();
        QCOMPARE(actions.size(), 3);
        QCOMPARE(actions[0]->text(), U("预览"));
        QVERIFY(actions[1]->isSeparator());
        QCOMPARE(actions[2]->text(), U("打开图片所在目录"));
    }

    void thumbnailsAreEmptyStretchedAndTagged() {
        for (int n = 1; n <= 30; ++n) {
            TImage* img = form->Image[n - 1];
            QCOMPARE(img->Tag(), n);
            QVERIFY(img->Stretch());
            QVERIFY(!img->HasPicture());
            QVERIFY(!img->PopupMenu());  // no context menu until a picture is loaded
        }
    }

    void thumbnailLookupIgnoresCase() {
        QCOMPARE(form->FindImage("image1"), form->Image[0]);
        QCOMPARE(form->FindImage("IMAGE30"), form->Image[29]);
        QCOMPARE(form->FindImage("image31"), static_cast<TImage*>(nullptr));
    }

    void showStatusReplacesThePane() {
        ShowStatus("\xD5\xFD\xD4\xDA\xCD\xA3\xD6\xB9...");  // 正在停止...
        QCOMPARE(form->status1->Text(), U("正在停止..."));
        ShowStatus("second");
        QCOMPARE(form->status1->Text(), QString("second"));
        ShowStatus("");
        QVERIFY(form->status1->Text().isEmpty());
    }

    void photoListKeepsTheExactBytes() {
        form->ClearPhotos();
        const std::string odd = "http:\\/\\/h\\/\xD5\xFD.jpg";
        form->AddPhoto(odd);
        form->AddPhoto("");
        QCOMPARE(form->PhotoCount(), 2);
        QCOMPARE(form->Photo(0), odd);
        QCOMPARE(form->Photo(1), std::string());
        QVERIFY_THROWS_EXCEPTION(EListError, form->Photo(2));
        form->ClearPhotos();
    }

private:
    TMainForm* form = nullptr;
    QStringList errors;
};

FOTAVIQ_QTEST_MAIN(MainFormTest)
#include "MainFormTest.moc"
