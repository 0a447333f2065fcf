// SPDX-License-Identifier: Apache-2.0
// Driver for run.sh: one Get of url into file with THttpCli, the way the application
// uses it (a client with the constructor's values, a file stream). Prints
// "<wall s> <user s> <sys s> <max rss KB> <bytes>" on one line. For an https:// url,
// ca-file is the one more authority to trust.
//   http_bench <url> <out-file> [ca-file]
#include <sys/resource.h>

#include <QCoreApplication>

#include <chrono>
#include <cstdio>

#include "base/Stream.h"
#include "http/HttpProt.h"
#include "socket/WSocketTlsConfig.h"

namespace {
double Seconds(const timeval& tv) { return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6; }
}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: http_bench <url> <out-file> [ca-file]\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    const auto start = std::chrono::steady_clock::now();
    long long bytes = 0;
    try {
        if (argc == 4) TlsSetSettings({argv[3], true});
        TBufferedFileStream out(argv[2], TFileStream::fmCreate);  // as the application saves documents
        THttpCli client;
        client.SetURL(argv[1]);
        client.SetDocStream(&out);
        client.Get();
        bytes = client.RcvdBytes();
    } catch (const Exception& e) {
        std::fprintf(stderr, "http_bench: %s\n", e.Message().c_str());
        return 1;
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("%.3f %.3f %.3f %ld %lld\n", wall, Seconds(ru.ru_utime), Seconds(ru.ru_stime), ru.ru_maxrss, bytes);
    return 0;
}
