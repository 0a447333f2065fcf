// SPDX-License-Identifier: Apache-2.0
#include "app/window/environment.h"

#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QLoggingCategory>
#include <QtGlobal>
#include <QQuickWindow>
#include <QSGRendererInterface>

#include <cstdlib>
#include <string>

#include "platform/Encoding.h"
#include "platform/ErrorGuard.h"

namespace {

QtMessageHandler gDefaultHandler = nullptr;

// Warnings that follow from the set-up below (no OpenGL in the process, no GPU) or from a
// session without a runtime folder, where Qt falls back to one of its own: not problems.
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    static const char* const kExpected[] = {"QXcbIntegration: Cannot create platform OpenGL context",
                                            "No suitable graphics backend found",
                                            "QStandardPaths: XDG_RUNTIME_DIR not set"};
    if (type == QtWarningMsg)
        for (const char* expected : kExpected)
            if (message.startsWith(QLatin1String(expected))) return;
    gDefaultHandler(type, context, message);
}

// Appends FLAG to the browser's flags unless they contain ANY_OF already.
void AddBrowserFlag(const std::string& flag, const std::string& anyOf) {
    const char* flags = std::getenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (flags && std::string(flags).find(anyOf) != std::string::npos) return;
    setenv("QTWEBENGINE_CHROMIUM_FLAGS", ((flags ? std::string(flags) + " " : std::string()) + flag).c_str(), 1);
}

}  // namespace

void PrepareEnvironment(bool verbose) {
    if (::geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    AddBrowserFlag("--disable-gpu", "--disable-gpu");
    // A normal start prints only real problems: no informational categories (the browser's
    // start-up report among them), no browser log below fatal. Rules in QT_LOGGING_RULES or
    // QT_LOGGING_CONF take precedence over these; a log level the user gave stays; --verbose
    // keeps everything.
    if (!verbose) {
        QLoggingCategory::setFilterRules("*.info=false");
        AddBrowserFlag("--log-level=3", "--log-level");
        if (!gDefaultHandler) gDefaultHandler = qInstallMessageHandler(QuietHandler);  // once: it calls the one before
    }
    setenv("QT_MEDIA_BACKEND", "gstreamer", 0);
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // Without a GPU, OpenGL is emulated on the processor: two threads redrawing the page and
    // composing the whole window through it cost more than a download. The software scene
    // graph paints the page into the window's ordinary backing store, only where it changed.
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    // Nothing then draws through OpenGL; without this the display connection would still load
    // the emulation and its shader compiler at start-up, about 100 ms before the window shows.
    // Composing the window through OpenGL also copied its whole image on every repaint, which
    // fragmented the heap over a long run (bench/app/soak.sh).
    setenv("QT_XCB_GL_INTEGRATION", "none", 0);
}

void InstallErrorDialog() {
    SetExceptionHandler([](const std::string& text) {
        QMessageBox box(QMessageBox::Critical, QApplication::applicationName(), TextToQString(text),
                        QMessageBox::Ok);
        box.exec();
    });
}
