// SPDX-License-Identifier: Apache-2.0
// The sponsored-link pane: rotation order and clicks.
#include <QtTest>

#include "app/common/commonDefine.h"
#include "app/window/mainUnit.h"
#include "app/window/shellOpen.h"
#include "support/QtGuiTestMain.h"
#include "widgets/StatusBar.h"

class TickerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        form = new TMainForm;
        MainForm = form;
        form->tmr1->stop();  // ticks are driven by hand
        previous = SetShellOpener([this](const std::string& t) {
            opened.push_back(t);
            return true;
        });
    }
    void cleanupTestCase() {
        SetShellOpener(previous);
        MainForm = nullptr;
        delete form;
    }
    void init() {
        LinkIndex = 0;
        opened.clear();
        LinkList->Clear();
        form->statusLink->SetText("");
    }

    void ticksRotateFromTheSecondCaption() {
        for (const char* e : {"A", "http://a/", "B", "http://b/", "C", "http://c/", "D", "http://d/", "E", "http://e/"})
            LinkList->Add(e);
        QStringList shown;
        for (int i = 0; i < 6; ++i) {
            form->tmr1Timer();
            shown << form->statusLink->Text();
            if (shown.back() == "D") form->statusLinkClick();
        }
        QCOMPARE(shown, QStringList({"B", "C", "D", "E", "A", "B"}));
        QCOMPARE(opened, std::vector<std::string>{"http://d/"});
    }

    void aClickOpensTheAddressOfTheCaptionShown() {
        for (const char* e : {"A", "http://a/", "B", "http://b/", "C", "http://c/", "D", "http://d/", "E", "http://e/"})
            LinkList->Add(e);
        for (int i = 0; i < 5; ++i) {
            form->tmr1Timer();
            form->statusLinkClick();
        }
        QCOMPARE(opened, (std::vector<std::string>{"http://b/", "http://c/", "http://d/", "http://e/", "http://a/"}));
    }

    void clickBeforeTheFirstTickOpensTheFirstAddress() {
        for (const char* e : {"A", "http://a/", "B", "http://b/", "C", "http://c/", "D", "http://d/", "E", "http://e/"})
            LinkList->Add(e);
        QTest::mouseClick(form->status, Qt::LeftButton, {}, QPoint(400, 9));  // inside the link pane
        QCOMPARE(opened, std::vector<std::string>{"http://a/"});
    }

    void shortListShowsAndOpensNothing() {
        for (const char* e : {"A", "http://a/", "B"}) LinkList->Add(e);
        for (int i = 0; i < 5; ++i) {
            form->tmr1Timer();
            QVERIFY(form->statusLink->Text().isEmpty());
            form->statusLinkClick();
        }
        QVERIFY(opened.empty());
    }

    void onlyWebAddressesAreOpened() {
        for (const char* e : {"A", "file:///etc/passwd", "B", "/bin/sh", "C", "https://c/", "D", "x", "E", "y"})
            LinkList->Add(e);
        for (int i = 0; i < 5; ++i) {
            form->statusLinkClick();
            form->tmr1Timer();
        }
        QCOMPARE(opened, std::vector<std::string>{"https://c/"});
    }

private:
    TMainForm* form = nullptr;
    std::vector<std::string> opened;
    TShellOpener previous;
};

FOTAVIQ_QTEST_MAIN(TickerTest)
#include "TickerTest.moc"
