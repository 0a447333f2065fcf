// SPDX-License-Identifier: Apache-2.0
// The album workflow from a pasted address to a folder of photos, run against the bundled
// album service: files, thumbnails, photo list, status lines, the usage report and the
// background music, and the failures a user can meet.
#include <unistd.h>

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "AlbumWindowTest.h"
#include "app/common/commonDefine.h"
#include "app/settings/commonDefineServers.h"
#include "app/settings/tlsSettings.h"
#include "app/window/mainUnit.h"
#include "app/window/preview.h"
#include "platform/Encoding.h"
#include "platform/ErrorGuard.h"
#include "platform/Files.h"
#include "support/QtGuiTestMain.h"
#include "support/TestPki.h"
#include "widgets/Image.h"
#include "widgets/StatusBar.h"

namespace {

constexpr char kHost[] = "127.0.9.1";  // the service's own loopback address in these tests

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

QString Dl(int k, int n) { return U("正在下载: [%1/%2] - %3.jpg").arg(k + 1).arg(n).arg(k); }

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class WorkflowTest : public AlbumWindowTest {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (::geteuid() != 0) QSKIP("the photo fetcher needs the service on port 80 (run as root)");
        QVERIFY2(StartWindow(kHost, {"--slow-rate", "40000"}), "the album service did not start");
    }

    void cleanupTestCase() { StopWindow(); }

    void init() {
        FreshTest();
        form->chkAutoDownMusic->setChecked(false);
    }

    void threePhotoAlbumWithMusic() {
        form->chkAutoDownMusic->setChecked(true);
        Run("uin=20000&fid=3");
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join('|')));
        QCOMPARE(statuses, QStringList({U("正在获取相册信息..."), U("成功获取到标题信息..."), U("成功获取到背景音乐信息..."),
                                        U("成功获取到相册图片信息..."), U("成功获取到相册图片信息..."),
                                        U("成功获取到相册图片信息..."), Dl(0, 3), Dl(1, 3), Dl(2, 3),
                                        U("相册图片下载完毕"), U("正在下载相册音乐,请稍候..."), U("相册音乐下载完毕!"),
                                        U("处理完毕")}));
        QCOMPARE(form->mmStatus->toPlainText(), U("相册图片下载完毕\n处理完毕"));
        const QString album = AlbumPath(U("三张照片 Trip"));
        QCOMPARE(form->PhotoCount(), 3);
        for (int k = 0; k < 3; ++k) {
            const QString url = QString::fromStdString(form->Photo(k));
            QCOMPARE(url, QString("http://%1/photos/three/%2.jpg").arg(kHost).arg(k));
            QCOMPARE(ReadFile(album + QString("/%1.jpg").arg(k)), service->Get(url));  // byte for byte
            QVERIFY(form->Image[k]->HasPicture());
            QCOMPARE(form->Image[k]->PopupMenu(), form->popup1);
        }
        QVERIFY(!form->Image[3]->HasPicture());
        const QString music = QString("http://%1/music/three.mp3").arg(kHost);
        QCOMPARE(form->edtBgmusic->text(), music);
        QCOMPARE(ReadFile(album + "/background.mp3"), service->Get(music));
        QCOMPARE(service->Reports(),
                 QList<QByteArray>{"source_url=&music=http%3A%2F%2F" + QByteArray(kHost) +
                                   "%2Fmusic%2Fthree.mp3&title=%C8%FD%D5%C5%D5%D5%C6%AC+Trip&version=ZK1.0"});
        QVERIFY(QDir(album).entryList(QDir::Files).filter(".part").isEmpty());
        QVERIFY(form->btnDownload->isEnabled());

        // A second run finds every file in place: only the document and the report go out.
        service->Reset();
        Run("uin=20000&fid=3");
        // (The information page in the window may be asked for at any time; it is not counted.)
        QCOMPARE(service->Requests().filter(QRegularExpression("^(GET /(cgi-bin|photos|music)/|POST )")), QStringList({"GET /cgi-bin/common/cgi_load_flash?uin=20000&fid=3",
                                                   "POST /corvane/mirelot/log.php"}));
        QVERIFY(form->Image[2]->HasPicture());
        QCOMPARE(service->Reports().size(), 1);
    }

    void musicIsOnlyFetchedWhenTheBoxIsTicked() {
        Run("uin=10001&fid=2");
        QVERIFY(errors.isEmpty());
        QCOMPARE(form->edtBgmusic->text(), QString("http://%1/music/huangshan.mp3").arg(kHost));
        QVERIFY(!QFile::exists(AlbumPath(U("黄山日出")) + "/background.mp3"));
        QVERIFY(!statuses.contains(U("正在下载相册音乐,请稍候...")));
        QCOMPARE(QDir(AlbumPath(U("黄山日出"))).entryList(QDir::Files).size(), 12);
    }

    void anHttpsAlbumWithMusic() {
        // The same album from a service that speaks only HTTPS, trusted through the extra
        // authority: document, photos, thumbnails, music and report over TLS.
        const TTestPki pki;
        QVERIFY2(pki.Why().empty(), pki.Why().c_str());
        AlbumServiceProcess tls("127.0.0.1", TlsServiceArgs(8444, pki.Server().Cert, pki.Server().Key));
        QVERIFY2(tls.Started(), "the HTTPS album service did not start");
        TTlsChoice trust;
        trust.CaFile = pki.CaFile();
        ApplyTlsChoice(trust);
        const TServerSettings plain = Servers();
        TServerSettings secure = plain;
        secure.AlbumHost = secure.ReportHost = "https://127.0.0.1:8444";
        SetServers(secure);
        form->chkAutoDownMusic->setChecked(true);
        form->edtUrl->setText("https://127.0.0.1:8444/album/client/photo/swf/vphoto.swf?uin=20000&fid=3");
        QTest::mouseClick(form->btnDownload, Qt::LeftButton);
        SetServers(plain);
        ApplyTlsChoice(TTlsChoice{});
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join('|')));
        QVERIFY(statuses.contains(U("处理完毕")));
        const QString album = AlbumPath(U("三张照片 Trip"));
        for (int k = 0; k < 3; ++k) {
            QCOMPARE(QString::fromStdString(form->Photo(k)), QString("https://127.0.0.1:8444/photos/three/%1.jpg").arg(k));
            QCOMPARE(ReadFile(album + QString("/%1.jpg").arg(k)), service->Get(QString("/photos/three/%1.jpg").arg(k)));
            QVERIFY(form->Image[k]->HasPicture());
        }
        QVERIFY(QFile::exists(album + "/background.mp3"));
    }

    void anAlbumFromAServiceOnIpv6Loopback() {
        // The service on [::1] only, every server setting and the pasted address naming it:
        // document, photos, thumbnails, music and report over IPv6.
        AlbumServiceProcess six("::1");
        QVERIFY2(six.Started(), "the album service did not start on [::1]");
        const TServerSettings plain = Servers();
        TServerSettings servers = plain;
        servers.AlbumHost = servers.ViewerHost = servers.ReportHost = servers.LinkHost = servers.InfoHost = "[::1]";
        SetServers(servers);
        form->chkAutoDownMusic->setChecked(true);
        form->edtUrl->setText("http://[::1]/album/client/photo/swf/vphoto.swf?uin=20000&fid=3");
        QTest::mouseClick(form->btnDownload, Qt::LeftButton);
        SetServers(plain);
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join('|')));
        QVERIFY(statuses.contains(U("处理完毕")));
        const QString album = AlbumPath(U("三张照片 Trip"));
        for (int k = 0; k < 3; ++k) {
            const QString url = QString::fromStdString(form->Photo(k));
            QCOMPARE(url, QString("http://[::1]/photos/three/%1.jpg").arg(k));
            QCOMPARE(ReadFile(album + QString("/%1.jpg").arg(k)), six.Get(url));
            QVERIFY(form->Image[k]->HasPicture());
        }
        QCOMPARE(ReadFile(album + "/background.mp3"), six.Get("/music/three.mp3"));
        QCOMPARE(six.Reports().size(), 1);
        QVERIFY(service->Requests().isEmpty());  // nothing went to the IPv4 service
    }

    void albumWithoutMusicSaysSo() {
        Run("uin=20000&fid=4");
        QCOMPARE(form->edtBgmusic->text(), U("该相册视频没有背景音乐"));
        QVERIFY(!statuses.contains(U("成功获取到背景音乐信息...")));
        // The music button on that text: the player cannot open it and says so.
        QTest::mouseClick(form->btn1, Qt::LeftButton);
        QCOMPARE(errors.size(), 1);
    }

    void emptyAlbumListsNothingAndStillReports() {
        Run("uin=20000&fid=3");  // thumbnails from an earlier album stay
        statuses.clear();
        Run("uin=20000&fid=0");
        QCOMPARE(form->PhotoCount(), 0);
        QVERIFY(form->Image[0]->HasPicture());
        QVERIFY(statuses.contains(U("相册图片下载完毕")));
        QCOMPARE(service->Reports().size(), 2);
        QVERIFY(QDir(AlbumPath(U("空相册"))).exists());
    }

    void thirtyOnePhotosFillThirtyThumbnails() {
        Run("uin=20000&fid=31");
        QVERIFY(errors.isEmpty());
        QCOMPARE(form->PhotoCount(), 31);
        const QDir album(AlbumPath(U("三十一张")));
        for (int k = 0; k <= 30; ++k) QVERIFY(album.exists(QString("%1.jpg").arg(k)));
        QVERIFY(form->Image[29]->HasPicture());
        QCOMPARE(statuses.filter(U("正在下载")).size(), 31);
    }

    void unrecognisedAddressStartsNothing() {
        form->edtUrl->setText(QString("http://%1/album/vphoto.swf").arg(kHost));  // no query
        QTest::mouseClick(form->btnDownload, Qt::LeftButton);
        QVERIFY(statuses.isEmpty());
        QVERIFY(form->mmStatus->toPlainText().isEmpty());
        QVERIFY(form->btnDownload->isEnabled());
        form->edtUrl->setText(QString("http://%1/VPHOTO.SWF?uin=20000&fid=3").arg(kHost));
        QTest::mouseClick(form->btnDownload, Qt::LeftButton);
        QVERIFY(statuses.isEmpty());
        QVERIFY(service->Requests().isEmpty());
    }

    void failedPhotosLeaveNothingBehind_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("title");
        QTest::newRow("404") << "uin=20000&fid=7" << U("缺图相册");
        QTest::newRow("cut off") << "uin=20000&fid=8" << U("断图相册");
    }
    void failedPhotosLeaveNothingBehind() {
        QFETCH(QString, query);
        QFETCH(QString, title);
        Run(query);
        QCOMPARE(errors.size(), 1);  // the thumbnail of the missing photo cannot be loaded
        QVERIFY(!statuses.contains(U("相册图片下载完毕")));
        QVERIFY(form->btnDownload->isEnabled());
        const QDir album(AlbumPath(title));
        QCOMPARE(album.entryList(QDir::Files), QStringList{"0.jpg"});
        // Running it again fetches the failed photo again (and fails the same way).
        service->Reset();
        Run(query);
        QVERIFY(service->Requests().contains(QString("GET /photos/%1/1.jpg").arg(query.endsWith('7') ? "missing" : "cutoff")));
    }

    void stopCutsThePhotoInFlight() {
        // Stop while photo 2 (the slow one) is on its way: it is cut and nothing of it
        // stays, photo 3 is never listed, no report is sent, and the memo says what is
        // missing.
        onStatus = [this](const QString& text) {
            if (text == Dl(1, 3))  // the click lands in the wait for that photo
                QTimer::singleShot(0, form.get(), [this] { QTest::mouseClick(form->btn2, Qt::LeftButton); });
        };
        Run("uin=20000&fid=9");
        onStatus = nullptr;
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join('|')));
        const int stop = statuses.indexOf(U("正在停止..."));
        QVERIFY(stop > 0);
        QCOMPARE(statuses.mid(stop + 1), QStringList({U("相册图片下载完毕"), U("处理完毕")}));
        QCOMPARE(form->PhotoCount(), 2);
        const QDir album(AlbumPath(U("慢速相册")));
        QCOMPARE(album.entryList(QDir::Files), QStringList({"0.jpg"}));
        QVERIFY(form->mmStatus->toPlainText().contains(U("有 2 张照片未能下载：第 2、3 张")));
        QCOMPARE(service->Reports().size(), 0);
        // The next album is not stopped by the old request.
        Run("uin=20000&fid=9");
        QCOMPARE(album.entryList(QDir::Files), QStringList({"0.jpg", "1.jpg", "2.jpg"}));
    }

    void aStopSeenAtAPhotosTurnLeavesItUnfetched() {
        // The stop comes while photo 2 is announced: photo 2 is listed but never fetched.
        onStatus = [this](const QString& text) {
            if (text == Dl(2, 3)) form->btn2Click();
        };
        Run("uin=20000&fid=3");
        onStatus = nullptr;
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join('|')));
        QCOMPARE(QDir(AlbumPath(U("三张照片 Trip"))).entryList(QDir::Files), QStringList({"0.jpg", "1.jpg"}));
        QCOMPARE(form->PhotoCount(), 3);
        QVERIFY(form->Image[1]->HasPicture());
        QVERIFY(form->btnDownload->isEnabled());
    }

    void aDamagedPhotoEndsTheAlbumAndIsNotKept() {
        // Photo 1 arrives whole but is not a JPEG: it never gets its name, and the album
        // ends there with the error shown, before photo 2 is listed.
        Run("uin=20000&fid=15");
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].startsWith("JPEG error: ") && errors[0].contains("/1.jpg"), qPrintable(errors[0]));
        QVERIFY(!statuses.contains(U("相册图片下载完毕")));
        QCOMPARE(statuses.last(), Dl(1, 3));
        QCOMPARE(QDir(AlbumPath(U("坏图相册"))).entryList(QDir::Files), QStringList({"0.jpg"}));
        QVERIFY(form->mmStatus->toPlainText().contains(U("有 2 张照片未能下载：第 2、3 张")));
        QCOMPARE(form->PhotoCount(), 2);
        QVERIFY(form->btnDownload->isEnabled());
    }

    void hostileTitlesStayInsideTheApplicationFolder() {
        Run("uin=20000&fid=6");
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join('|')));
        Run("uin=20000&fid=14");
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join('|')));
        const QDir app(appDir->path());
        const QStringList folders = app.entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
        QVERIFY2(folders.size() == 2, qPrintable(folders.join(" | ")));
        for (const QString& f : folders) {
            QVERIFY(!f.contains('/') && !f.contains('\\') && f != "..");
            QCOMPARE(QDir(app.filePath(f)).entryList(QDir::Files).filter(".jpg").isEmpty(), false);
        }
        QVERIFY(folders.join(' ').contains(U("坏名字")));
        QVERIFY(!QDir(appDir->path() + "/..").exists("evil"));
    }

    void emptyTitleSavesIntoTheApplicationFolder() {
        Run("uin=20000&fid=5");
        QVERIFY(errors.isEmpty());
        QVERIFY(QFile::exists(appDir->path() + "/0.jpg"));
        QVERIFY(QFile::exists(appDir->path() + "/1.jpg"));
    }

    // A folder another run is writing into: the window says so in an error dialog naming
    // it, and touches nothing in it.
    void aFolderAnotherRunWritesIsLeftAlone() {
        const std::string folder = AppDir + Utf8ToAnsi("三张照片 Trip") + "/";
        QVERIFY(ForceDirectories(folder));
        TFolderLock other;
        QCOMPARE(other.Lock(folder), TFolderLock::TResult::Locked);
        Run("uin=20000&fid=3");
        QVERIFY2(errors.size() == 1 && errors[0].contains(AnsiToQString(folder)) && errors[0].contains(U("正由另一次下载写入")),
                 qPrintable(errors.join('|')));
        QVERIFY(QDir(AnsiToQString(folder)).isEmpty());
        QVERIFY(form->btnDownload->isEnabled());
    }

    void valuesAreTakenExactlyAsWritten() {
        Run("uin=20000&fid=10");
        QCOMPARE(QString::fromStdString(form->Photo(0)), QString("http:\\/\\/%1\\/photos\\/escaped\\/0.jpg").arg(kHost));
        QCOMPARE(errors.size(), 1);  // such an address cannot be fetched
        Run("uin=20000&fid=11");
        QCOMPARE(form->PhotoCount(), 0);  // "URL" in capitals is not "url"
        // ... so the document lists none of the 3 photos it announces: not a complete album.
        QVERIFY2(errors.size() == 2 && errors[1].contains("announces 3 photos but lists 0"), qPrintable(errors.join('|')));
    }

};

FOTAVIQ_QTEST_MAIN(WorkflowTest)
#include "WorkflowTest.moc"
