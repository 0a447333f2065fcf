// SPDX-License-Identifier: Apache-2.0
// Main of the GoogleTest binaries that need an event loop: the Qt core application must
// exist before any window message is posted or waited for.
#include <gtest/gtest.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
