// SPDX-License-Identifier: Apache-2.0
// The status bar's panes and the picture box: clicks, hot-tracking, context menus.
#include <QMenu>
#include <QTimer>
#include <QtTest>

#include "support/QtGuiTestMain.h"
#include "widgets/Image.h"
#include "widgets/StatusBar.h"

class WidgetsTest : public QObject {
    Q_OBJECT

private slots:
    void clickReachesThePaneUnderThePointer() {
        TStatusBar bar;
        bar.resize(300, 19);
        TStatusPanel* left = bar.AddPanel(100);
        TStatusPanel* right = bar.AddPanel(150);
        QList<TStatusPanel*> clicked;
        right->OnClick = [&](TStatusPanel* p) { clicked << p; };
        QCOMPARE(bar.PanelRect(1), QRect(100, 0, 150, 19));
        QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(50, 9));   // left: no handler
        QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(120, 9));  // right
        QTest::mouseClick(&bar, Qt::RightButton, {}, QPoint(120, 9)); // not a click
        QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(280, 9));  // beyond the panes
        QCOMPARE(clicked, QList<TStatusPanel*>{right});
        QCOMPARE(bar.PanelAt(QPoint(99, 5)), left);
        QCOMPARE(bar.PanelAt(QPoint(250, 5)), static_cast<TStatusPanel*>(nullptr));
    }

    void clickablePaneTracksThePointer() {
        TStatusBar bar;
        bar.resize(300, 19);
        bar.AddPanel(100);
        TStatusPanel* link = bar.AddPanel(150);
        link->OnClick = [](TStatusPanel*) {};
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        QTest::mouseMove(&bar, QPoint(150, 9));
        QTRY_COMPARE(bar.cursor().shape(), Qt::PointingHandCursor);
        QTest::mouseMove(&bar, QPoint(20, 9));
        QTRY_COMPARE(bar.cursor().shape(), Qt::ArrowCursor);
    }

    void textChangesAreReported() {
        TStatusBar bar;
        TStatusPanel* p = bar.AddPanel(100);
        QStringList seen;
        p->OnTextChange = [&](TStatusPanel* s) { seen << s->Text(); };
        p->SetText("a");
        p->SetText("a");
        p->SetText("");
        QCOMPARE(seen, QStringList({"a", "a", ""}));
    }

    void blinkingTogglesAndStops() {
        TStatusBar bar;
        TStatusPanel* p = bar.AddPanel(100);
        p->SetBlinking(true, 10);
        QVERIFY(p->Blinking());
        p->SetBlinking(false);
        QVERIFY(!p->Blinking());
    }

    void pictureBoxClickAndContextMenu() {
        QWidget host;
        TImage img(&host);
        img.setGeometry(0, 0, 75, 75);
        int clicks = 0;
        img.OnClick = [&](TImage* s) { clicks += s == &img; };
        QTest::mouseClick(&img, Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(clicks, 1);

        QMenu menu;
        img.SetPopupMenu(&menu);
        QTimer::singleShot(0, &menu, &QMenu::close);
        QContextMenuEvent ev(QContextMenuEvent::Mouse, QPoint(5, 5), QPoint(5, 5));
        QCoreApplication::sendEvent(&img, &ev);
        QCOMPARE(TImage::PopupComponent(), &img);
    }

    void autoSizeFollowsThePicture() {
        TImage img;
        img.resize(10, 10);
        img.SetAutoSize(true);
        QImage pic(120, 80, QImage::Format_RGB32);
        pic.fill(Qt::red);
        img.SetPicture(pic);
        QCOMPARE(img.size(), QSize(120, 80));
        img.SetAutoSize(false);
        img.SetPicture(QImage(30, 30, QImage::Format_RGB32));
        QCOMPARE(img.size(), QSize(120, 80));
        QVERIFY(img.HasPicture());
        img.ClearPicture();
        QVERIFY(!img.HasPicture());
    }
};

FOTAVIQ_QTEST_MAIN(WidgetsTest)
#include "WidgetsTest.moc"
