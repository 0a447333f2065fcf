// SPDX-License-Identifier: Apache-2.0
// The captions of the real program's windows as a window manager shows them: the program
// runs on a virtual display of its own with a small window manager, against the bundled
// album service, and is driven by synthetic input; the titles are read from the display.
// FOTAVIQ_XVFB_DISPLAY=N uses display :N instead of the first free one.
#include <signal.h>
#include <unistd.h>

#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <functional>

#include "AlbumServiceProcess.h"

namespace {

constexpr char kHost[] = "127.0.9.20";

QString Run(const QString& program, const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", "C.UTF-8");  // xprop prints the titles as UTF-8
    p.setProcessEnvironment(env);
    p.start(program, args);
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// Polls until the result is not empty, at most 20 s.
QString WaitFor(const std::function<QString()>& probe) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 20000) {
        const QString r = probe();
        if (!r.isEmpty()) return r;
        QThread::msleep(50);
    }
    return {};
}

// A viewable window of the process that is not in `known`, or "".
QString NewWindow(qint64 pid, const QStringList& known) {
    const QStringList ids = Run("xdotool", {"search", "--onlyvisible", "--pid", QString::number(pid)})
                                .split('\n', Qt::SkipEmptyParts);
    for (const QString& id : ids)
        if (!known.contains(id)) return id;
    return {};
}

// The quoted strings of a window's properties, as xprop prints them: NAME = "a", "b".
QMap<QString, QStringList> Properties(const QString& window) {
    QMap<QString, QStringList> props;
    const QString out = Run("xprop", {"-id", window, "-notype", "_NET_WM_NAME", "WM_NAME", "WM_CLASS"});
    for (const QString& line : out.split('\n')) {
        const qsizetype eq = line.indexOf(" = ");
        if (eq < 0) continue;
        QStringList values;
        QString value;
        bool quoted = false;
        for (qsizetype i = eq + 3; i < line.size(); ++i) {
            if (quoted && line[i] == '\\' && i + 1 < line.size()) {
                value += line[++i];
            } else if (line[i] == '"') {
                if (quoted) values << value;
                value.clear();
                quoted = !quoted;
            } else if (quoted) {
                value += line[i];
            }
        }
        props[line.left(eq)] = values;
    }
    return props;
}

void Click(const QString& window, int x, int y) {
    Run("xdotool", {"mousemove", "--window", window, QString::number(x), QString::number(y), "click", "1"});
}

}  // namespace

class CaptionsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (QStandardPaths::findExecutable("Xvfb").isEmpty()) QSKIP("Xvfb is not installed");
        if (::geteuid() != 0) QSKIP("the album service listens on port 80 (run as root)");
        for (const char* tool : {"evilwm", "xdotool", "xprop"})
            QVERIFY2(!QStandardPaths::findExecutable(tool).isEmpty(), tool);

        const QByteArray fixed = qgetenv("FOTAVIQ_XVFB_DISPLAY");
        QStringList args{"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1280x1024x24"};
        if (!fixed.isEmpty()) args.prepend(":" + QString::fromLatin1(fixed));
        xvfb.start("Xvfb", args);
        QVERIFY(xvfb.waitForStarted(5000));
        QElapsedTimer t;  // the display number is written once the server is ready
        t.start();
        while (!xvfb.canReadLine() && t.elapsed() < 10000) xvfb.waitForReadyRead(100);
        const QByteArray display = xvfb.readLine().trimmed();
        QVERIFY2(!display.isEmpty(), xvfb.readAllStandardError().constData());
        qputenv("DISPLAY", ":" + display);

        wm.start("evilwm", {});
        QVERIFY(wm.waitForStarted(5000));
        QVERIFY(!WaitFor([] { return Run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id") ? "up" : ""; })
                     .isEmpty());
    }
    void cleanupTestCase() {
        for (QProcess* p : {&wm, &xvfb}) {
            p->terminate();
            p->waitForFinished(5000);
        }
    }

    // The error dialog carries the application title; the main window and the preview carry
    // their own captions alone; the task bar groups the windows under the application title.
    void windowsCarryTheirOwnCaptions() {
        AlbumServiceProcess service(kHost);
        QVERIFY(service.Started());
        QTemporaryDir dir;
        QVERIFY(QFile::copy(FOTAVIQ_PATH, dir.filePath("fotaviq")));
        QFile ini(dir.filePath("fotaviq.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        // The link server refuses: the start-up error dialog comes first.
        ini.write(QString("[servers]\nalbum=%1\nviewer=%1\nreport=%1\ninfo=%1\nlinks=%1:9\n").arg(kHost).toLatin1());
        ini.close();

        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("QT_QPA_PLATFORM");  // on the display, not offscreen as the test itself
        app.setProcessEnvironment(env);
        app.setChildProcessModifier([] { ::setsid(); });  // the browser's helpers go with it
        app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        app.start(dir.filePath("fotaviq"), {});
        QVERIFY(app.waitForStarted(5000));
        const qint64 pid = app.processId();
        auto stop = qScopeGuard([&] {
            ::kill(-static_cast<pid_t>(pid), SIGTERM);
            app.waitForFinished(5000);
        });
        QStringList known;

        const QString dialog = WaitFor([&] { return NewWindow(pid, known); });
        QVERIFY(!dialog.isEmpty());
        known << dialog;
        QCOMPARE(Properties(dialog).value("_NET_WM_NAME"), QStringList{"Fotaviq"});
        Run("xdotool", {"windowactivate", "--sync", dialog, "key", "Return"});

        const QString main = WaitFor([&] { return NewWindow(pid, known); });
        QVERIFY(!main.isEmpty());
        known << main;
        const auto props = Properties(main);
        const QString caption = QString::fromUtf8("Fotaviq V1.0 - Quellan软件 - (免费+绿色)");
        QCOMPARE(props.value("_NET_WM_NAME"), QStringList{caption});
        QCOMPARE(props.value("WM_NAME"), QStringList{caption});
        QCOMPARE(props.value("WM_CLASS"), QStringList({"fotaviq", "Fotaviq"}));

        // Download the example album, then open the first thumbnail once it holds its photo.
        Click(main, 624 + 8 + 48, 6 + 8 + 12);
        const QString preview = WaitFor([&] {
            Click(main, 192 + 16 + 37, 48 + 16 + 37);
            QThread::msleep(150);
            return NewWindow(pid, known);
        });
        QVERIFY(!preview.isEmpty());
        QCOMPARE(Properties(preview).value("_NET_WM_NAME"), QStringList{QString::fromUtf8("预览图片")});
    }

private:
    QProcess xvfb;
    QProcess wm;
};

QTEST_GUILESS_MAIN(CaptionsTest)
#include "CaptionsTest.moc"
