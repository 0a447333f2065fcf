// Runs one album through the main window's download button, as a user would, and prints
// the wall time, the process's CPU time and the main thread's CPU time.
//   album_bench HOST QUERY APPDIR
// HOST is the album service (on port 80), QUERY the viewer query ("uin=..&fid=.."),
// APPDIR the folder the album goes into. A sixth number follows: the time the thumbnails'
// decoding alone takes, measured again afterwards on the saved photos, so that a run can
// be split into that part and the rest.
#include <sys/resource.h>

#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

#include "app/Environment.h"
#include "app/commonDefine.h"
#include "app/jpegLoader.h"
#include "app/mainUnit.h"
#include "app/preview.h"
#include "app/webBrowser.h"
#include "platform/Encoding.h"
#include "platform/ErrorGuard.h"
#include "widgets/Image.h"

namespace {

double Seconds(const timeval& tv) { return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6; }

double ProcessCpu() {
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return Seconds(ru.ru_utime) + Seconds(ru.ru_stime);
}

double ThreadCpu() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: album_bench HOST QUERY APPDIR\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    PrepareEnvironment();
    QApplication app(argc, argv);
    int failures = 0;
    SetExceptionHandler([&](const std::string& text) {
        ++failures;
        std::fprintf(stderr, "error: %s\n", text.c_str());
    });
    TServerSettings servers;
    servers.AlbumHost = servers.ViewerHost = servers.ReportHost = servers.LinkHost = servers.InfoHost = argv[1];
    SetServers(servers);
    TMainForm form;
    MainForm = &form;
    TPreviewForm preview;
    PreviewForm = &preview;
    AppDir = Utf8ToAnsi(argv[3]) + "/";
    form.edtUrl->setText(QString("http://%1/album/client/photo/swf/vphoto.swf?%2").arg(argv[1], argv[2]));

    // A user presses the button once the window is up: let the information page finish
    // loading first, so that the browser's start-up is not counted as the album's.
    QEventLoop settle;
    form.wb1->OnLoadFinished = [&](bool) { settle.quit(); };
    form.show();
    QTimer::singleShot(10000, &settle, &QEventLoop::quit);
    settle.exec();
    QTimer::singleShot(300, &settle, &QEventLoop::quit);
    settle.exec();

    const auto start = std::chrono::steady_clock::now();
    const double cpu0 = ProcessCpu(), main0 = ThreadCpu();
    GuardedCall([&] { form.btnDownloadClick(); });
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = ProcessCpu() - cpu0, mainCpu = ThreadCpu() - main0;

    const auto decodeStart = std::chrono::steady_clock::now();
    for (int n = 0; n < std::min(form.PhotoCount(), TMainForm::ThumbnailCount); ++n)
        LoadPictureFile(AlbumDir + std::to_string(n) + ".jpg", form.Image[static_cast<size_t>(n)]->size());
    const double decode = std::chrono::duration<double>(std::chrono::steady_clock::now() - decodeStart).count();
    std::printf("%.3f %.3f %.3f %d %d %.3f\n", wall, cpu, mainCpu, form.PhotoCount(), failures, decode);
    MainForm = nullptr;
    PreviewForm = nullptr;
    return failures == 0 ? 0 : 1;
}
