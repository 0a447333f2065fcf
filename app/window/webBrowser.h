// SPDX-License-Identifier: Apache-2.0
#pragma once
// The main window's embedded browser control. It holds its place in the window from the
// start, but the browser engine behind it, whose start takes a few hundred milliseconds,
// is attached only after the control has been painted for the first time: the window comes
// on screen at once and the page follows. An address given before then is navigated to when
// the engine is attached; a control that is never shown never starts the engine.
//
// The engine's view is a child filling the control and lives as long as it does. A
// certificate the engine does not trust is accepted when the program's TLS settings
// (tls/TlsClient.h) trust it for the page's host.
#include <QUrl>
#include <QWidget>

#include <functional>

class QWebEngineView;

class TWebBrowser : public QWidget {
public:
    explicit TWebBrowser(QWidget* parent = nullptr);

    // Navigates to url: at once when the engine is attached, else when it is.
    void setUrl(const QUrl& url);
    // The page's address once attached; before that, the address waiting to be navigated to.
    QUrl url() const;
    // The page's title; empty before the engine is attached.
    QString title() const;

    // Attaches the engine now, if it is not yet (this happens by itself after the first paint).
    void Attach();
    // The engine's view, or null before Attach.
    QWebEngineView* View() const { return view_; }

    // Raised when a page load ends, with true when the page loaded.
    std::function<void(bool ok)> OnLoadFinished;

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    QWebEngineView* view_ = nullptr;
    QUrl url_;
    bool attachQueued_ = false;
};
