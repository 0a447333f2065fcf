#include "app/Environment.h"

#include <unistd.h>

#include <QApplication>
#include <QMessageBox>

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
}

void InstallErrorDialog() {
    SetExceptionHandler([](const std::string& text) {
        QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(), TextToQString(text),
                        QMessageBox::Ok);
        box.exec();
    });
}
