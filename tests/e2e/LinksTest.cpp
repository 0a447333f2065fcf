// SPDX-License-Identifier: Apache-2.0
// The main window's start-up against the bundled service: the sponsored links and the
// information page.
#include <unistd.h>

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWebEngineView>
#include <QtTest>

#include "AlbumServiceProcess.h"
#include "app/common/commonDefine.h"
#include "app/settings/commonDefineServers.h"
#include "app/window/mainUnit.h"
#include "app/window/webBrowser.h"
#include "platform/Encoding.h"
#include "platform/ErrorGuard.h"
#include "tls/TlsClient.h"
#include "support/TestPki.h"
#include "support/QtGuiTestMain.h"
#include "widgets/StatusBar.h"

namespace {

void PointServersAt(const QString& host) {
    TServerSettings s;
    s.AlbumHost = s.ViewerHost = s.ReportHost = s.LinkHost = s.InfoHost = host.toStdString();
    SetServers(s);
}

}  // namespace

class LinksTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (::geteuid() != 0) QSKIP("the album service listens on port 80 (run as root)");
        SetExceptionHandler([this](const std::string& text) { errors << TextToQString(text); });
    }
    void cleanupTestCase() { SetExceptionHandler(nullptr); }
    void init() { errors.clear(); }

    void linksAndInformationPageLoadAtStartUp() {
        AlbumServiceProcess service("127.0.9.2");
        QVERIFY(service.Started());
        PointServersAt(service.Address());
        TMainForm form;
        MainForm = &form;
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join('|')));
        QCOMPARE(LinkList->Count(), 10);
        for (int k = 0; k < 5; ++k)
            QCOMPARE(QString::fromStdString((*LinkList)[2 * k + 1]), QString("http://127.0.9.2/links/%1.html").arg(k + 1));
        form.tmr1Timer();
        QCOMPARE(form.statusLink->Text(), AnsiToQString((*LinkList)[2]));
        QVERIFY(!form.statusLink->Text().isEmpty());

        // The browser starts once the window has been drawn.
        QList<bool> loads;
        form.wb1->OnLoadFinished = [&](bool ok) { loads << ok; };
        QVERIFY(!form.wb1->View());
        form.show();
        QTRY_VERIFY_WITH_TIMEOUT(!loads.isEmpty(), 30000);
        QCOMPARE(loads.first(), true);
        QCOMPARE(form.wb1->View()->geometry(), form.wb1->rect());
        QTRY_VERIFY_WITH_TIMEOUT(form.wb1->title().contains("Fotaviq"), 10000);
        MainForm = nullptr;
    }

    void anHttpsInformationPageIsTrustedAsTheProgramTrustsIt() {
        // Served under an authority the browser engine does not know: refused until the
        // program's settings trust that authority, then shown.
        const TTestPki pki;
        QVERIFY2(pki.Why().empty(), pki.Why().c_str());
        AlbumServiceProcess tls("127.0.0.1", TlsServiceArgs(8445, pki.Server().Cert, pki.Server().Key));
        QVERIFY2(tls.Started(), "the HTTPS album service did not start");
        const auto load = [] {
            TWebBrowser browser;
            browser.resize(300, 200);
            QList<bool> loads;
            browser.OnLoadFinished = [&](bool ok) { loads << ok; };
            browser.setUrl(QUrl("https://127.0.0.1:8445/corvane/mirelot/app_info.php?app=pixharv"));
            browser.show();
            if (!QTest::qWaitFor([&] { return !loads.isEmpty(); }, 30000)) return QString("no answer");
            if (!loads.first()) return QString("not shown");
            return browser.title();
        };
        QCOMPARE(load(), QString("not shown"));
        TTlsSettings trust;
        trust.CaFile = pki.CaFile();
        TlsApplySettings(trust);
        const QString title = load();
        TlsApplySettings({});
        QVERIFY2(title.contains("Fotaviq"), qPrintable(title));
    }

    void linkDocumentInGbkDecodesToNothing() {
        QTemporaryDir dir;
        QFile gbk(dir.path() + "/links.txt");
        QVERIFY(gbk.open(QIODevice::WriteOnly));
        gbk.write("\xD6\xD0\xCE\xC4|http://a/|B|http://b/");  // 中文 in GBK: not UTF-8
        gbk.close();
        AlbumServiceProcess service("127.0.9.3", {"--links", gbk.fileName()});
        QVERIFY(service.Started());
        PointServersAt(service.Address());
        TMainForm form;
        QVERIFY(errors.isEmpty());
        QCOMPARE(LinkList->Count(), 0);
        form.tmr1Timer();  // a tick with no links shows nothing and raises nothing
        QVERIFY(form.statusLink->Text().isEmpty());
        QVERIFY(errors.isEmpty());
    }

private:
    QStringList errors;
};

FOTAVIQ_QTEST_MAIN(LinksTest)
#include "LinksTest.moc"
