// The command line against the bundled album service: what a script sees (exit status,
// one line per photo, one line per failure) and what it leaves on disk.
#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "AlbumServiceProcess.h"

namespace {

constexpr char kHost[] = "127.0.9.6";

QString Viewer(const QString& query) { return QString("http://%1/album/client/photo/swf/vphoto.swf?%2").arg(kHost, query); }

struct Run {
    int status = -1;
    QStringList out;
    QString err;
};

}  // namespace

class CommandLineTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (::geteuid() != 0) QSKIP("the photo fetcher needs the service on port 80 (run as root)");
        service = std::make_unique<AlbumServiceProcess>(kHost, QStringList{"--slow-rate", "20000"});
        QVERIFY2(service->Started(), "the album service did not start");
        // A portable copy of the program whose settings file points at the service.
        QVERIFY(QFile::setPermissions(progDir.path(), QFile::permissions(progDir.path()) | QFile::ReadOther | QFile::ExeOther));
        program = progDir.filePath("fotaviq");
        QVERIFY(QFile::copy(FOTAVIQ_PATH, program));
        QFile ini(progDir.filePath("fotaviq.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(QString("[servers]\nalbum=%1\nreport=%1\n").arg(kHost).toLatin1());
    }

    void cleanupTestCase() { service.reset(); }

    void aCompleteAlbum() {
        QTemporaryDir dir;
        const Run r = Fotaviq({"--download", Viewer("uin=20000&fid=3"), "--dir", dir.path(), "--music"});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
        const QString album = dir.path() + QString::fromUtf8("/三张照片 Trip/");
        QCOMPARE(r.out, QStringList({"[1/3] " + album + "0.jpg", "[2/3] " + album + "1.jpg", "[3/3] " + album + "2.jpg", album}));
        for (int k = 0; k < 3; ++k) {
            QFile f(album + QString("%1.jpg").arg(k));
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), service->Get(QString("/photos/three/%1.jpg").arg(k)));
        }
        QVERIFY(QFile::exists(album + "background.mp3"));
    }

    void failuresAreOneLineAndStatusOne() {
        QTemporaryDir dir;
        Run r = Fotaviq({"--download", Viewer("uin=99&fid=99"), "--dir", dir.path()});  // no such album
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.startsWith("fotaviq: ") && r.err.count('\n') == 1, qPrintable(r.err));
        QVERIFY(QDir(dir.path()).isEmpty());
        r = Fotaviq({"--download", Viewer("uin=20000&fid=7"), "--dir", dir.path()});  // photo 1 is missing
        QCOMPARE(r.status, 1);
        QCOMPARE(r.out.size(), 1);
        QVERIFY2(r.err.contains("photo 1") && r.err.count('\n') == 1, qPrintable(r.err));
    }

    void aBadCommandLineIsStatusTwo() {
        for (const QStringList& args : {QStringList{"--bogus"}, QStringList{"--download"},
                                        QStringList{"--download", Viewer("uin=1&fid=1"), "--connections", "17"}}) {
            const Run r = Fotaviq(args);
            QCOMPARE(r.status, 2);
            QVERIFY(r.out.isEmpty());
        }
        QCOMPARE(Fotaviq({"--help"}).status, 0);
        QCOMPARE(Fotaviq({"--version"}).status, 0);
        QCOMPARE(Fotaviq({"--verbose", "--version"}).status, 0);  // accepted beside any other option
    }

    void sigintStopsCleanly() {
        // Photo 1 of this album takes about two seconds: the interrupt lands while it and
        // photo 2 are on their way.
        QTemporaryDir dir;
        QProcess p;
        p.start(program, {"--download", Viewer("uin=20000&fid=9"), "--dir", dir.path()});
        QVERIFY(p.waitForReadyRead(10000));
        QVERIFY(p.readLine().startsWith("[1/3]"));
        ::kill(static_cast<pid_t>(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 1);
        const QDir album(dir.path() + QString::fromUtf8("/慢速相册"));
        QCOMPARE(album.entryList(QDir::Files), QStringList({"0.jpg", "1.jpg"}));
    }

    void aFolderThatCannotBeWrittenIsSaidSo() {
        // Root may write anywhere: the program runs as nobody, into a folder of root's.
        QTemporaryDir dir;
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
        QProcess p;
        p.start("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups", program, "--download",
                            Viewer("uin=20000&fid=3"), "--dir", dir.path()});
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 1);
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QVERIFY2(err.startsWith("fotaviq: cannot write") && err.contains(dir.path()), qPrintable(err));
    }

private:
    Run Fotaviq(const QStringList& args) {
        QProcess p;
        p.start(program, args);
        Run r;
        if (!p.waitForFinished(60000)) return r;
        r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

    std::unique_ptr<AlbumServiceProcess> service;
    QTemporaryDir progDir;
    QString program;
};

QTEST_GUILESS_MAIN(CommandLineTest)
#include "CommandLineTest.moc"
