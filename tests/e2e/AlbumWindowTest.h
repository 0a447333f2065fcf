// SPDX-License-Identifier: Apache-2.0
#pragma once
// Base of the tests that run albums through the main window against the bundled album
// service: the service, the windows, a fresh application folder per test, and what the
// window showed (status lines, error dialogs).
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

#include "AlbumServiceProcess.h"
#include "app/window/mainUnit.h"
#include "app/window/preview.h"

class AlbumWindowTest : public QObject {
protected:
    // Starts the service on host:80 with extra options, points every server there and
    // creates the windows. False when the service did not start.
    bool StartWindow(const QString& host, const QStringList& serviceArgs);
    void StopWindow();
    // A new empty AppDir; statuses and errors cleared, the service's logs reset.
    void FreshTest();
    // Pastes the viewer address of the query and presses the download button (the album
    // runs to its end inside the click).
    void Run(const QString& query);
    QString AlbumPath(const QString& title) const { return appDir->path() + "/" + title; }

    QString host;
    std::unique_ptr<AlbumServiceProcess> service;
    std::unique_ptr<TMainForm> form;
    std::unique_ptr<TPreviewForm> preview;
    std::unique_ptr<QTemporaryDir> appDir;
    QStringList statuses;  // every text of the left status pane, in order
    QStringList errors;    // every error dialog's text
    std::function<void(const QString&)> onStatus;  // called with each status text
};
