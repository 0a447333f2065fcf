// SPDX-License-Identifier: Apache-2.0
#pragma once
// The bundled album service run as a child process for whole-program tests, with the
// small blocking requests the tests use to look at what it served and recorded.
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <string>

class AlbumServiceProcess {
public:
    // Starts the service on addr:80 and waits until it listens; Started() tells.
    explicit AlbumServiceProcess(const QString& addr, const QStringList& extraArgs = {});
    ~AlbumServiceProcess();

    bool Started() const { return started_; }
    const QString& Address() const { return addr_; }
    QString Log() const;

    // A GET of a path (or a full http address) on the service; the body, exactly.
    QByteArray Get(const QString& pathOrUrl) const;
    // The usage-report bodies recorded so far, in order.
    QList<QByteArray> Reports() const;
    // The request lines ("GET /path") served since the last Reset.
    QStringList Requests() const;
    void Reset() const;

private:
    QString addr_;
    mutable QProcess process_;
    bool started_ = false;
};

// The service's arguments for HTTPS only on port, with this certificate and key (PEM files).
inline QStringList TlsServiceArgs(int port, const std::string& cert, const std::string& key) {
    return {"--port", QString::number(port), "--tls-cert", QString::fromStdString(cert), "--tls-key",
            QString::fromStdString(key)};
}
