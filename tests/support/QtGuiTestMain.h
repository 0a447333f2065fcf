#pragma once
// main() for QtTest window tests: the process set-up of the real program (browser and media
// switches, offscreen platform without a display), then the test object.
#include <QApplication>
#include <QTest>

#include "app/Environment.h"

#define FOTAVIQ_QTEST_MAIN(TestObject)             \
    int main(int argc, char** argv) {              \
        PrepareEnvironment();                      \
        QApplication app(argc, argv);              \
        QApplication::setApplicationDisplayName("Fotaviq"); \
        TestObject tc;                             \
        return QTest::qExec(&tc, argc, argv);      \
    }
