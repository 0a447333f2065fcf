// SPDX-License-Identifier: Apache-2.0
// Runs one album through the main window's download button, as a user would, and prints
//   WALL CPU MAIN COUNT FAILURES DECODE
// WALL: seconds from the click to the end of the album; CPU: the CPU seconds of the whole
// program meanwhile (this process and the browser's helper processes); MAIN: the main
// thread's CPU seconds; COUNT: photos listed; FAILURES: errors shown; DECODE: the time the
// first 30 thumbnails take to decode again afterwards, on the saved photos, so that a run
// can be split into that part and the rest.
//   album_bench HOST QUERY APPDIR [CONNECTIONS]
// HOST is the album service (on port 80), QUERY the viewer query ("uin=..&fid=.."),
// APPDIR the folder the album goes into; CONNECTIONS overrides the [download] setting
// (default 4). The window uses the display it is given (DISPLAY), offscreen without one.
#include <dirent.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "app/window/environment.h"
#include "app/common/commonDefine.h"
#include "app/settings/downloadSettings.h"
#include "app/window/jpegLoader.h"
#include "BenchWindow.h"
#include "app/window/mainUnit.h"
#include "app/window/preview.h"
#include "app/window/webBrowser.h"
#include "platform/Encoding.h"
#include "platform/ErrorGuard.h"
#include "widgets/Image.h"

namespace {

// CPU seconds used so far by this process and every process below it (the browser's
// helpers); children already reaped count through their parent's totals.
double TreeCpu() {
    std::map<long, long> parent;
    std::map<long, double> ticks;
    DIR* proc = opendir("/proc");
    while (dirent* e = proc ? readdir(proc) : nullptr) {
        char* end;
        const long pid = std::strtol(e->d_name, &end, 10);
        if (*end) continue;
        std::ifstream f(std::string("/proc/") + e->d_name + "/stat");
        std::string stat((std::istreambuf_iterator<char>(f)), {});
        const auto close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 2));
        std::string state;
        long ppid, skip;
        double utime, stime, cutime, cstime;
        rest >> state >> ppid;
        for (int k = 0; k < 9; ++k) rest >> skip;
        rest >> utime >> stime >> cutime >> cstime;
        parent[pid] = ppid;
        ticks[pid] = utime + stime + cutime + cstime;
    }
    if (proc) closedir(proc);
    double sum = 0;
    for (const auto& [pid, t] : ticks) {
        long p = pid;
        while (p > 1 && p != getpid()) p = parent.count(p) ? parent[p] : 0;
        if (p == getpid()) sum += t;
    }
    return sum / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double ThreadCpu() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: album_bench HOST QUERY APPDIR [CONNECTIONS]\n");
        return 2;
    }
    PrepareEnvironment();
    QApplication app(argc, argv);
    QApplication::setApplicationName("Fotaviq");
    TBenchWindow window(argv[1], argv[2], argv[3]);
    TMainForm& form = window.form;
    if (argc == 5) {
        TDownloadSettings settings;
        settings.Connections = std::atoi(argv[4]);
        SetDownloadSettings(settings);
    }
    // A user presses the button once the window is up and the information page has loaded,
    // so the browser's start-up is not counted as the album's; the page stays live.
    window.ShowAndSettle(true, 300);

    const double cpu0 = TreeCpu(), main0 = ThreadCpu();
    const auto start = std::chrono::steady_clock::now();
    GuardedCall([&] { form.btnDownloadClick(); });
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = TreeCpu() - cpu0, mainCpu = ThreadCpu() - main0;

    const auto decodeStart = std::chrono::steady_clock::now();
    for (int n = 0; n < std::min(form.PhotoCount(), TMainForm::ThumbnailCount); ++n)
        LoadPictureFile(AlbumDir + std::to_string(n) + ".jpg", form.Image[static_cast<size_t>(n)]->size());
    const double decode = std::chrono::duration<double>(std::chrono::steady_clock::now() - decodeStart).count();
    std::printf("%.3f %.3f %.3f %d %d %.3f\n", wall, cpu, mainCpu, form.PhotoCount(), window.failures, decode);
    return window.failures == 0 ? 0 : 1;
}
