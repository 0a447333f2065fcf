// SPDX-License-Identifier: Apache-2.0
// Downloads the same album again and again in one process, through the shown main window's
// download button, removing the album's folder after each run, and prints the process's
// resident memory, open descriptors and threads every 10 albums:
//   soak_bench HOST QUERY APPDIR ALBUMS [--no-page]
// HOST is the album service (on port 80), QUERY the viewer query ("uin=..&fid=.."), APPDIR
// the folder the albums go into. --no-page removes the information page's browser view
// before the first album, so that a run can be split into the browser's share and ours.
// Each album starts from the top-level event loop, as a click would, so that everything a
// finished album handed to the loop (deferred deletions, paints) is done before the next.
// Output: "album N rss KB anon KB heap KB fds N threads N pool N cpu S secs S" after album
// 0 (the window up, the page loaded) and every 10th, then "failures N". anon: the anonymous
// part of rss; heap: bytes malloc has handed out and not got back; pool: the browser's
// worker threads, which it starts and ends by itself; cpu: the process's CPU seconds;
// secs: wall seconds since the start.
#include <dirent.h>
#include <malloc.h>
#include <sys/resource.h>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>

#include "app/window/environment.h"
#include "app/common/commonDefine.h"
#include "BenchWindow.h"
#include "app/window/mainUnit.h"
#include "app/window/preview.h"
#include "app/window/webBrowser.h"
#include "platform/Encoding.h"
#include "platform/ErrorGuard.h"

namespace {

const auto kStart = std::chrono::steady_clock::now();

struct Usage {
    long rssKb = 0, anonKb = 0, heapKb = 0, fds = 0, threads = 0, pool = 0;
    double cpu = 0, secs = 0;
};

long FieldKb(const std::string& line, const char* name) {
    const std::size_t n = std::strlen(name);
    return line.compare(0, n, name) == 0 ? std::stol(line.substr(n)) : -1;
}

// Entries of a /proc folder, without "." and "..", calling each(name).
template <typename Each>
void ForEachEntry(const char* path, Each each) {
    DIR* d = opendir(path);
    if (!d) return;
    while (const dirent* e = readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) each(e->d_name);
    closedir(d);
}

Usage Measure() {
    Usage u;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (long v = FieldKb(line, "VmRSS:"); v >= 0) u.rssKb = v;
        if (long v = FieldKb(line, "RssAnon:"); v >= 0) u.anonKb = v;
    }
    ForEachEntry("/proc/self/fd", [&](const char*) { ++u.fds; });
    --u.fds;  // the one the listing itself held
    ForEachEntry("/proc/self/task", [&](const char* tid) {
        ++u.threads;
        std::ifstream comm(std::string("/proc/self/task/") + tid + "/comm");
        std::string name;
        std::getline(comm, name);
        if (name.rfind("ThreadPool", 0) == 0) ++u.pool;
    });
    u.heapKb = static_cast<long>(mallinfo2().uordblks / 1024);
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    u.cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
            static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    u.secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - kStart).count();
    return u;
}

void Print(int album) {
    const Usage u = Measure();
    std::printf("album %d rss %ld anon %ld heap %ld fds %ld threads %ld pool %ld cpu %.1f secs %.1f\n", album, u.rssKb,
                u.anonKb, u.heapKb, u.fds, u.threads, u.pool, u.cpu, u.secs);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5 || argc > 6 || (argc == 6 && std::strcmp(argv[5], "--no-page") != 0)) {
        std::fprintf(stderr, "usage: soak_bench HOST QUERY APPDIR ALBUMS [--no-page]\n");
        return 2;
    }
    const int albums = std::atoi(argv[4]);
    const bool page = argc == 5;
    PrepareEnvironment();
    QApplication app(argc, argv);
    TBenchWindow window(argv[1], argv[2], argv[3]);
    TMainForm& form = window.form;
    int& failures = window.failures;
    window.ShowAndSettle(page, 500);
    Print(0);

    int done = 0;
    std::function<void()> next = [&] {
        form.btnDownload->click();
        const int photos = form.PhotoCount();
        const QDir folder(AnsiToQString(AlbumDir));
        const bool whole = folder.entryList({"*.jpg"}, QDir::Files).size() == photos;
        if (photos == 0 || !whole || !form.btnDownload->isEnabled()) {
            ++failures;
            std::fprintf(stderr, "album %d: %d photos listed, folder %s\n", done + 1, photos,
                         whole ? "complete" : "incomplete");
        }
        QDir(AnsiToQString(AlbumDir)).removeRecursively();
        if (++done % 10 == 0) Print(done);
        if (done == albums || failures > 0)
            app.quit();
        else
            QTimer::singleShot(0, next);
    };
    QTimer::singleShot(0, next);
    app.exec();
    std::printf("failures %d\n", failures);
    return failures == 0 ? 0 : 1;
}
