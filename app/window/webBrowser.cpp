// SPDX-License-Identifier: Apache-2.0
#include "app/window/webBrowser.h"

#include <QPainter>
#include <QSslCertificate>
#include <QTimer>
#include <QWebEngineCertificateError>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <string>
#include <vector>

#include "tls/TlsClient.h"

namespace {

// The engine keeps a trust store of its own: a certificate it refuses is accepted when the
// program's TLS settings trust it (an authority of [tls] ca-file or --ca-file, or
// verification off), so the page is trusted as the album's transfers are.
void TrustAsTheProgramDoes(QWebEngineCertificateError error) {
    std::vector<std::string> chain;
    for (const QSslCertificate& c : error.certificateChain()) {
        const QByteArray der = c.toDer();
        chain.emplace_back(der.constData(), static_cast<size_t>(der.size()));
    }
    bool trusted = false;
    try {
        trusted = error.isOverridable() &&
                  TlsVerifyChain(chain, error.url().host().toStdString()).Kind == TTlsFailure::None;
    } catch (const ETlsError&) {  // no context to check with: the engine's refusal stands
    }
    if (trusted)
        error.acceptCertificate();
    else
        error.rejectCertificate();
}

}  // namespace

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
    QObject::connect(view_->page(), &QWebEnginePage::certificateError, view_, &TrustAsTheProgramDoes);
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
