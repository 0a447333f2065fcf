// SPDX-License-Identifier: Apache-2.0
// Thumbnails, their context menu and the preview window's paging.
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "app/common/commonDefine.h"
#include "app/window/jpegLoader.h"
#include "app/window/mainUnit.h"
#include "app/window/preview.h"
#include "app/window/shellOpen.h"
#include "platform/Encoding.h"
#include "support/QtGuiTestMain.h"
#include "widgets/Image.h"

namespace {

// Photo k of the fixture album is (100 + k) pixels wide, so the width tells which is shown.
void WritePhoto(const QString& dir, int k) {
    QImage img(100 + k, 50, QImage::Format_RGB32);
    img.fill(QColor(10 * k, 80, 160));
    QVERIFY(img.save(dir + QString("/%1.jpg").arg(k), "JPEG"));
}

}  // namespace

class PreviewTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        for (int k = 0; k < 5; ++k) WritePhoto(dir.path(), k);
        AlbumDir = QStringToAnsi(dir.path()) + "/";
        form = new TMainForm;
        MainForm = form;
        preview = new TPreviewForm;
        PreviewForm = preview;
        QImage thumb(75, 75, QImage::Format_RGB32);
        thumb.fill(Qt::gray);
        for (int n = 1; n <= 6; ++n) {  // a sixth picture left over from a larger album
            form->Image[n - 1]->SetPicture(thumb);
            form->Image[n - 1]->SetPopupMenu(form->popup1);
        }
        for (int k = 0; k < 5; ++k) form->AddPhoto("http://h/" + std::to_string(k) + ".jpg");
        previousOpener = SetShellOpener([this](const std::string& t) {
            opened.push_back(t);
            return true;
        });
    }
    void cleanupTestCase() {
        SetShellOpener(previousOpener);
        PreviewForm = nullptr;
        MainForm = nullptr;
        delete preview;
        delete form;
    }
    void init() {
        preview->hide();
        preview->PhotoIndex = 0;
        opened.clear();
    }

    void pagingWrapsAroundBothEnds() {
        QTest::mouseClick(form->Image[0], Qt::LeftButton);
        QVERIFY(preview->isVisible());
        QCOMPARE(preview->PhotoIndex, 0);
        QCOMPARE(preview->img1->Picture().width(), 100);  // 0.jpg at its natural size
        QCOMPARE(preview->img1->size(), QSize(100, 50));
        for (int i = 0; i < 4; ++i) QTest::mouseClick(preview->Button1, Qt::LeftButton);
        QCOMPARE(preview->img1->Picture().width(), 104);
        QTest::mouseClick(preview->Button1, Qt::LeftButton);
        QCOMPARE(preview->PhotoIndex, 0);
        QCOMPARE(preview->img1->Picture().width(), 100);
        QTest::mouseClick(preview->btn1, Qt::LeftButton);
        QCOMPARE(preview->PhotoIndex, 4);
        QCOMPARE(preview->img1->Picture().width(), 104);
        QCOMPARE(QString::fromStdString(preview->CurrentFile), dir.path() + "/4.jpg");
    }

    void thumbnailBeyondTheAlbumOrEmptyDoesNothing() {
        QTest::mouseClick(form->Image[5], Qt::LeftButton);  // Tag 6 > 5 photos
        QVERIFY(!preview->isVisible());
        QTest::mouseClick(form->Image[6], Qt::LeftButton);  // no picture
        QVERIFY(!preview->isVisible());
        QVERIFY(!form->Image[6]->PopupMenu());
    }

    void anotherThumbnailWhileVisibleMovesWithoutReloading() {
        QTest::mouseClick(form->Image[1], Qt::LeftButton);
        QCOMPARE(preview->img1->Picture().width(), 101);
        QTest::mouseClick(form->Image[3], Qt::LeftButton);
        QCOMPARE(preview->PhotoIndex, 3);
        QCOMPARE(preview->img1->Picture().width(), 101);  // still the old picture
        QTest::mouseClick(preview->Button1, Qt::LeftButton);
        QCOMPARE(preview->img1->Picture().width(), 104);  // moved on from the new position
    }

    void contextMenuCommandsActOnTheirThumbnail() {
        QContextMenuEvent ev(QContextMenuEvent::Mouse, QPoint(5, 5), QPoint(5, 5));
        QTimer::singleShot(0, form->popup1, &QMenu::close);
        QCoreApplication::sendEvent(form->Image[2], &ev);
        form->N1->trigger();
        QVERIFY(preview->isVisible());
        QCOMPARE(preview->PhotoIndex, 2);
        form->N3->trigger();
        QCOMPARE(opened, std::vector<std::string>{AlbumDir});

        QTimer::singleShot(0, form->popup1, &QMenu::close);
        QCoreApplication::sendEvent(form->Image[5], &ev);  // beyond the album
        opened.clear();
        form->N3->trigger();
        QVERIFY(opened.empty());
    }

    void missingFileKeepsThePicture() {
        QTest::mouseClick(form->Image[4], Qt::LeftButton);
        QCOMPARE(preview->img1->Picture().width(), 104);
        form->AddPhoto("http://h/5.jpg");  // listed, not downloaded yet
        QTest::mouseClick(preview->Button1, Qt::LeftButton);
        QCOMPARE(preview->PhotoIndex, 5);
        QCOMPARE(preview->img1->Picture().width(), 104);
        QTest::mouseClick(preview->Button1, Qt::LeftButton);
        QCOMPARE(preview->PhotoIndex, 0);
        form->ClearPhotos();
        for (int k = 0; k < 5; ++k) form->AddPhoto("http://h/" + std::to_string(k) + ".jpg");
    }

    void emptyAlbumPagesToMinusOneSilently() {
        preview->show();
        form->ClearPhotos();
        preview->PhotoIndex = 0;
        QTest::mouseClick(preview->btn1, Qt::LeftButton);
        QCOMPARE(preview->PhotoIndex, -1);
        QTest::mouseClick(preview->Button1, Qt::LeftButton);
        QCOMPARE(preview->PhotoIndex, 0);
        for (int k = 0; k < 5; ++k) form->AddPhoto("http://h/" + std::to_string(k) + ".jpg");
    }

    void thumbnailsMayDecodeAtAReducedScale() {
        QImage big(640, 480, QImage::Format_RGB32);
        big.fill(Qt::darkGreen);
        QVERIFY(big.save(dir.path() + "/big.jpg", "JPEG"));
        const std::string path = QStringToAnsi(dir.path()) + "/big.jpg";
        QCOMPARE(LoadPictureFile(path).size(), QSize(640, 480));
        QCOMPARE(LoadPictureFile(path, QSize(75, 75)).size(), QSize(160, 120));  // 1/4: 1/8 would be under 75 high
        QCOMPARE(LoadPictureFile(path, QSize(300, 300)).size(), QSize(640, 480));  // 1/2 would be too small
        QVERIFY_THROWS_EXCEPTION(EJPEGError, LoadPictureFile(path + ".png"));
    }

    void undecodableFileRaises() {
        QFile bad(dir.path() + "/7.jpg");
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("not a jpeg at all");
        bad.close();
        preview->PhotoIndex = 7;
        QVERIFY_THROWS_EXCEPTION(EJPEGError, preview->ShowCurrent());
    }

    void hidesByCloseButtonClickOrTitleBarAndReopensInPlace() {
        preview->show();
        preview->move(40, 30);
        QTest::mouseClick(preview->btn3, Qt::LeftButton);
        QVERIFY(!preview->isVisible());
        preview->show();
        QCOMPARE(preview->pos(), QPoint(40, 30));
        QTest::mouseClick(preview->img1, Qt::LeftButton);  // a click on the photo is not on the window
        QVERIFY(preview->isVisible());
        QTest::mouseClick(preview, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(!preview->isVisible());
        preview->show();
        preview->close();
        QVERIFY(!preview->isVisible());
        QVERIFY(preview->windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(preview->size(), QSize(910, 620));
    }

private:
    QTemporaryDir dir;
    TMainForm* form = nullptr;
    TPreviewForm* preview = nullptr;
    std::vector<std::string> opened;
    TShellOpener previousOpener;
};

FOTAVIQ_QTEST_MAIN(PreviewTest)
#include "PreviewTest.moc"
