// SPDX-License-Identifier: Apache-2.0
#include "AlbumServiceProcess.h"

#include <QElapsedTimer>
#include <QThread>

AlbumServiceProcess::AlbumServiceProcess(const QString& addr, const QStringList& extraArgs) : addr_(addr) {
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(ALBUM_SERVER_PATH, QStringList{"--bind", addr, "--port", "80"} + extraArgs);
    if (!process_.waitForStarted(5000)) return;
    QElapsedTimer t;
    t.start();
    QByteArray out;
    while (t.elapsed() < 10000 && process_.state() == QProcess::Running) {
        process_.waitForReadyRead(200);
        out += process_.readAll();
        if (out.contains("listening on")) {
            started_ = true;
            return;
        }
    }
}

AlbumServiceProcess::~AlbumServiceProcess() {
    process_.terminate();
    if (!process_.waitForFinished(5000)) process_.kill();
}

QString AlbumServiceProcess::Log() const { return QString::fromLocal8Bit(process_.readAll()); }

QByteArray AlbumServiceProcess::Get(const QString& pathOrUrl) const {
    const QString host = addr_.contains(':') ? "[" + addr_ + "]" : addr_;
    const QString url = pathOrUrl.startsWith("http") ? pathOrUrl : "http://" + host + pathOrUrl;
    QProcess curl;
    curl.start("curl", {"-s", "-g", "--max-time", "20", url});  // -g: brackets of IPv6 are no glob
    curl.waitForFinished(30000);
    return curl.readAllStandardOutput();
}

QList<QByteArray> AlbumServiceProcess::Reports() const {
    // "<byte count>:<body>\n" per report.
    const QByteArray all = Get("/_test/reports");
    QList<QByteArray> reports;
    qsizetype at = 0;
    while (at < all.size()) {
        const qsizetype colon = all.indexOf(':', at);
        if (colon < 0) break;
        const qsizetype n = all.mid(at, colon - at).toLongLong();
        reports << all.mid(colon + 1, n);
        at = colon + 1 + n + 1;
    }
    return reports;
}

QStringList AlbumServiceProcess::Requests() const {
    return QString::fromLatin1(Get("/_test/requests")).split('\n', Qt::SkipEmptyParts);
}

void AlbumServiceProcess::Reset() const { Get("/_test/reset"); }
