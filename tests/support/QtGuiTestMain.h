// SPDX-License-Identifier: Apache-2.0
#pragma once
// main() for QtTest window tests: the process set-up of the real program (browser and media
// switches, offscreen platform without a display), then the test object.
#include <QApplication>
#include <QTest>

#include "app/window/environment.h"
#include "app/common/commonDefine.h"
#include "app/settings/commonDefineServers.h"

// Window tests talk to no server unless they start one: every host points at a closed
// port, so a window's start-up fetches fail at once instead of reaching whatever listens
// on this machine.
inline void PointServersNowhere() {
    TServerSettings nowhere;
    nowhere.AlbumHost = nowhere.ViewerHost = nowhere.ReportHost = nowhere.LinkHost = nowhere.InfoHost = "127.0.0.1:9";
    SetServers(nowhere);
}

#define FOTAVIQ_QTEST_MAIN(TestObject)             \
    int main(int argc, char** argv) {              \
        PrepareEnvironment();                      \
        QApplication app(argc, argv);              \
        QApplication::setApplicationName("Fotaviq"); \
        PointServersNowhere();                     \
        TestObject tc;                             \
        return QTest::qExec(&tc, argc, argv);      \
    }
