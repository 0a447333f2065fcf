#include "app/preview.h"

#include <QGuiApplication>
#include <QScreen>

#include "app/commonDefine.h"
#include "platform/Encoding.h"

TPreviewForm::TPreviewForm(QWidget* parent) : QWidget(parent) {
    setObjectName("PreviewForm");
    setWindowTitle(AnsiToQString(sPreviewCaption));
    // Always on top, not modal.
    setWindowFlags(Qt::Window | Qt::WindowStaysOnTopHint);
    setFixedSize(ClientWidth, ClientHeight);
    QFont f;
    f.setFamilies({"Tahoma", "DejaVu Sans", "WenQuanYi Micro Hei"});
    f.setPixelSize(11);
    setFont(f);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}
