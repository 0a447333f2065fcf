#include "app/window/environment.h"

#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QQuickWindow>
#include <QSGRendererInterface>

#include <cstdlib>
#include <string>

#include "platform/Encoding.h"
#include "platform/ErrorGuard.h"

void PrepareEnvironment() {
    if (::geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    const char* flags = std::getenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (!flags || std::string(flags).find("--disable-gpu") == std::string::npos)
        setenv("QTWEBENGINE_CHROMIUM_FLAGS", ((flags ? std::string(flags) + " " : std::string()) + "--disable-gpu").c_str(), 1);
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
