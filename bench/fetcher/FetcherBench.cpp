// SPDX-License-Identifier: Apache-2.0
// Driver for run.sh. Two measurements with THTTPGet the way the application uses it (a new
// component per file, WaitThread true, freed after the call):
//   fetcher_bench list <url-list> <out-dir> [follow]
//                                             fetches every URL of the list, one after the
//                                             other; prints "<seconds> <failures>"; with
//                                             "follow" each transfer names the next URL as
//                                             its follower (THTTPGet::SetNextURL), as the
//                                             album's transfers do
//   fetcher_bench wait <url> <out-file> [progress]
//                                             one fetch from a slow server; prints the wall
//                                             time and the processor time of the waiting
//                                             main thread (with an OnProgress handler when
//                                             "progress" is given)
#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "fetcher/HTTPGet.h"

namespace {

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

double ThreadCpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Fetches url into file; true when OnDoneFile came.
bool Fetch(const std::string& url, const std::string& file, bool progress, const std::string& next = {}) {
    bool ok = false;
    THTTPGet get;
    get.SetURL(url);
    get.SetNextURL(next);
    get.SetFileName(file);
    get.SetWaitThread(true);
    get.OnDoneFile = [&](TObject*, const std::string&, std::int32_t) { ok = true; };
    long pieces = 0;
    if (progress) get.OnProgress = [&](TObject*, std::int32_t, std::int32_t) { ++pieces; };
    get.FetchToFile();
    return ok;
}

int List(const char* listFile, const std::string& outDir, bool follow) {
    std::ifstream in(listFile);
    std::vector<std::string> urls;
    for (std::string url; std::getline(in, url);)
        if (!url.empty()) urls.push_back(url);
    int failures = 0;
    const double start = Now();
    for (std::size_t n = 0; n < urls.size(); ++n) {
        const std::string next = follow && n + 1 < urls.size() ? urls[n + 1] : std::string();
        if (!Fetch(urls[n], outDir + "/" + std::to_string(n), false, next)) ++failures;
    }
    std::printf("%.4f %d\n", Now() - start, failures);
    return failures == 0 ? 0 : 1;
}

int Wait(const std::string& url, const std::string& file, bool progress) {
    const double start = Now();
    const double cpu0 = ThreadCpuSeconds();
    const bool ok = Fetch(url, file, progress);
    const double cpu = ThreadCpuSeconds() - cpu0;
    const double wall = Now() - start;
    std::printf("wall %.3f s  main-thread cpu %.4f s  cpu/wall %.3f%%%s\n", wall, cpu, 100.0 * cpu / wall,
                ok ? "" : "  (FAILED)");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "list" && (argc == 4 || (argc == 5 && std::string(argv[4]) == "follow")))
        return List(argv[2], argv[3], argc == 5);
    if (mode == "wait" && (argc == 4 || argc == 5)) return Wait(argv[2], argv[3], argc == 5);
    std::fprintf(stderr, "usage: %s list <url-list> <out-dir> [follow] | wait <url> <out-file> [progress]\n", argv[0]);
    return 2;
}
