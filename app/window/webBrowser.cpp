#include "app/window/webBrowser.h"

#include <QPainter>
#include <QTimer>
#include <QWebEngineView>

TWebBrowser::TWebBrowser(QWidget* parent) : QWidget(parent) {}

void TWebBrowser::setUrl(const QUrl& url) {
    url_ = url;
    if (view_) view_->setUrl(url);
}

QUrl TWebBrowser::url() const { return view_ ? view_->url() : url_; }

QString TWebBrowser::title() const { return view_ ? view_->title() : QString(); }

void TWebBrowser::Attach() {
    if (view_) return;
    view_ = new QWebEngineView(this);
    view_->setGeometry(rect());
    QObject::connect(view_, &QWebEngineView::loadFinished, this, [this](bool ok) {
        if (OnLoadFinished) OnLoadFinished(ok);
    });
    if (!url_.isEmpty()) view_->setUrl(url_);
    view_->show();
}

void TWebBrowser::paintEvent(QPaintEvent*) {
    // A blank page until the engine draws its own.
    QPainter(this).fillRect(rect(), Qt::white);
    // The paint that shows the window is flushed to the screen when this event ends, before
    // a posted call runs: the engine starts behind a window that is already drawn.
    if (!view_ && !attachQueued_) {
        attachQueued_ = true;
        QTimer::singleShot(0, this, [this] { Attach(); });
    }
}

void TWebBrowser::resizeEvent(QResizeEvent*) {
    if (view_) view_->setGeometry(rect());
}
