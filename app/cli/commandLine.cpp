// SPDX-License-Identifier: Apache-2.0
#include "app/cli/commandLine.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "app/settings/locations.h"
#include "app/core/albumWorkflow.h"
#include "app/core/applyProxy.h"
#include "app/common/commonDefine.h"
#include "app/settings/downloadSettings.h"
#include "app/settings/settingsFile.h"
#include "app/settings/tlsSettings.h"
#include "app/settings/networkFamily.h"
#include "app/settings/proxySettings.h"
#include "base/Exception.h"
#include "platform/Encoding.h"
#include "platform/ErrorGuard.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace {

constexpr char kUsage[] =
    "Usage: fotaviq [--download URL [--dir DIR] [--music] [--connections N] [--ca-file FILE]\n"
    "               [--insecure] [--proxy URL] [--no-proxy LIST] [--max-photo-size SIZE] [-4|-6]]\n"
    "\n"
    "Without options, opens the window.\n"
    "\n"
    "  --download URL     download the album of this viewer address (...vphoto.swf?uin=..&fid=..)\n"
    "                     without opening a window\n"
    "  --dir DIR          put the album folder into DIR (default: beside the program when its\n"
    "                     folder is writable, else ~/Pictures/Fotaviq)\n"
    "  --music            also fetch the album's background music (background.mp3)\n"
    "  --connections N    photos fetched at once, 1 to 16 (default: the settings file, else 4)\n"
    "  --max-photo-size SIZE  the most bytes a photo may have, with K, M or G (default:\n"
    "                     [download] max-photo-size, else 64M); a larger one fails the album\n"
    "  -4, -6             connect over IPv4 only, or IPv6 only (default: [network] ip, else both)\n"
    "  --ca-file FILE     also trust the authorities in FILE (PEM) for HTTPS servers\n"
    "  --insecure         do not verify HTTPS servers' certificates (a warning is printed)\n"
    "  --proxy URL        the proxy for every transfer of the album: http://, socks4://,\n"
    "                     socks4a://, socks5:// or socks5h:// [user:password@]host[:port];\n"
    "                     \"\" for none (default: [network] proxy, else the environment)\n"
    "  --no-proxy LIST    hosts reached directly: names (with their subdomains), addresses,\n"
    "                     or * (default: [network] no-proxy, else no_proxy)\n"
    "  --verbose          with the window: keep the start-up diagnostics of Qt and the\n"
    "                     browser engine on standard error\n"
    "  --help             show this text\n"
    "  --version          show the version\n"
    "\n"
    "Exit status: 0 album complete, 1 failed or stopped (Ctrl-C) or the album folder is\n"
    "being written by another run, 2 bad command line.\n";

class EUsage : public Exception {
public:
    using Exception::Exception;
};

struct TArguments {
    bool help = false, version = false, music = false;
    std::string url, dir;
    std::optional<int> connections;
    std::optional<std::int64_t> maxPhotoSize;
    std::optional<std::string> caFile;
    bool insecure = false;
    std::optional<std::string> proxy, noProxy;
    std::optional<TWSocketFamily> family;
};

TArguments Parse(int argc, char** argv) {
    TArguments a;
    bool download = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i], value;
        const bool takesValue = arg.rfind("--download", 0) == 0 || arg.rfind("--dir", 0) == 0 ||
                                arg.rfind("--connections", 0) == 0 || arg.rfind("--ca-file", 0) == 0 ||
                                arg.rfind("--proxy", 0) == 0 || arg.rfind("--no-proxy", 0) == 0 ||
                                arg.rfind("--max-photo-size", 0) == 0;
        if (const auto eq = arg.find('='); takesValue && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
        } else if (takesValue && (arg == "--download" || arg == "--dir" || arg == "--connections" ||
                                  arg == "--ca-file" || arg == "--proxy" || arg == "--no-proxy" ||
                                  arg == "--max-photo-size")) {
            if (i + 1 >= argc) throw EUsage("option " + arg + " needs a value");
            value = argv[++i];
        }
        if (arg == "--help" || arg == "-h") {
            a.help = true;
        } else if (arg == "--verbose") {  // the command line starts no browser: nothing to keep
        } else if (arg == "--version") {
            a.version = true;
        } else if (arg == "--music") {
            a.music = true;
        } else if (arg == "--download") {
            download = true;
            a.url = value;
        } else if (arg == "--dir") {
            if (value.empty()) throw EUsage("--dir needs a folder");
            a.dir = value;
        } else if (arg == "--ca-file") {
            if (value.empty()) throw EUsage("--ca-file needs a file");
            a.caFile = value;
        } else if (arg == "--insecure") {
            a.insecure = true;
        } else if (arg == "--connections") {
            char* end = nullptr;
            const long n = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || n < 1 || n > TDownloadSettings::MaxConnections)
                throw EUsage("--connections takes a number from 1 to 16, not '" + value + "'");
            a.connections = static_cast<int>(n);
        } else if (arg == "--max-photo-size") {
            std::int64_t bytes = 0;
            if (!ParseByteSize(value, bytes) || bytes < TDownloadSettings::MinMaxPhotoSize ||
                bytes > TDownloadSettings::MaxMaxPhotoSize)
                throw EUsage("--max-photo-size takes a size from 1K to 2047M, not '" + value + "'");
            a.maxPhotoSize = bytes;
        } else if (arg == "--proxy") {
            try {
                ParseProxyUrl(value, "--proxy");
            } catch (const EProxySetting& e) {
                throw EUsage(e.Message());
            }
            a.proxy = value;
        } else if (arg == "--no-proxy") {
            a.noProxy = value;
        } else if (arg == "-4" || arg == "-6") {
            a.family = arg == "-4" ? TWSocketFamily::IPv4 : TWSocketFamily::IPv6;
        } else {
            throw EUsage("unknown option '" + std::string(argv[i]) + "'");
        }
    }
    if (!download && !a.help && !a.version) throw EUsage("nothing to do: give --download URL");
    if (download && a.url.empty()) throw EUsage("--download needs a viewer address");
    return a;
}

// SIGINT asks for a stop, as the stop button does: the handler only writes to a pipe, and
// the event loop (which every transfer's wait runs) turns that into the stop request. A
// second SIGINT ends the program at once.
int gSignalPipe[2] = {-1, -1};

void OnSigint(int) {
    const char byte = 1;
    [[maybe_unused]] const auto ignored = ::write(gSignalPipe[1], &byte, 1);
    std::signal(SIGINT, SIG_DFL);
}

// A line for the terminal (UTF-8) from the program's texts, whose paths and server texts
// are GBK, while file-system errors name paths in UTF-8: valid UTF-8 is kept as it is.
std::string ToUtf8(const std::string& text) { return IsValidUtf8(text) ? text : AnsiToUtf8(text); }

// What the command line shows of the workflow: a line per photo as it is committed.
class TConsoleAlbumView : public TAlbumView {
public:
    explicit TConsoleAlbumView(bool music) : music_(music) {}

    void ShowStatus(const std::string&) override {}
    void AddStatusLine(const std::string&) override {}
    void ClearPhotos() override {}
    void AddPhoto(const std::string&) override {}
    void PhotoRefetched(int n, const std::string& file, const std::string& why) override {
        std::fprintf(stderr, "fotaviq: photo %d (%s) was not whole (%s): fetching it again\n", n + 1,
                     AnsiToUtf8(file).c_str(), ToUtf8(why).c_str());
    }
    void PhotoCommitted(int n, int count, const std::string& file) override {
        std::printf("[%d/%d] %s\n", n + 1, count, AnsiToUtf8(file).c_str());
        std::fflush(stdout);
    }
    bool AutoDownloadMusic() const override { return music_; }
    void ShowMusic(const std::string&) override {}

private:
    bool music_;
};

// The view whose stop SIGINT requests (null while no album runs).
TAlbumView* gRunningAlbum = nullptr;

int Fail(const std::string& message) {
    std::fprintf(stderr, "fotaviq: %s\n", message.c_str());
    return 1;
}

}  // namespace

bool WantsCommandLine(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if ((argv[i][0] == '-' && std::strcmp(argv[i], "--verbose") != 0)) return true;
    return false;
}

bool WantsVerbose(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--verbose") == 0) return true;
    return false;
}

int RunCommandLine(int argc, char** argv) {
    TArguments args;
    try {
        args = Parse(argc, argv);
    } catch (const EUsage& e) {
        std::fprintf(stderr, "fotaviq: %s\nTry 'fotaviq --help'.\n", e.Message().c_str());
        return 2;
    }
    if (args.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args.version) {
        std::printf("fotaviq %s\n", ProgramVersion);
        return 0;
    }

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("Fotaviq");
    SetExceptionHandler([](const std::string& text) { std::fprintf(stderr, "fotaviq: %s\n", ToUtf8(text).c_str()); });
    AppDir = ExecutableDir();

    std::string query;
    if (!ViewerQuery(Utf8ToAnsi(args.url), query)) return Fail("not an album viewer address: " + args.url);

    const std::string base =
        args.dir.empty() ? AlbumBaseDir()
                         : IncludeTrailingPathDelimiter(QStringToAnsi(QDir(QString::fromLocal8Bit(args.dir.c_str())).absolutePath()));
    if (!DirectoryExists(base) && !ForceDirectories(base))
        return Fail("cannot create the folder " + AnsiToUtf8(base) + ": " + std::strerror(errno));
    if (::access(FsPath(base).c_str(), W_OK) != 0)
        return Fail("cannot write into the folder " + AnsiToUtf8(base) + ": " + std::strerror(errno));

    const TSettingsFile ini = TSettingsFile::Read();
    const TTlsChoice tls = ReadTlsChoice(ini, args.caFile, args.insecure);
    try {
        ApplyTlsChoice(tls);
    } catch (const Exception& e) {
        return Fail(ToUtf8(e.Message()));
    }
    if (!tls.Verify)
        std::fprintf(stderr, "fotaviq: warning: HTTPS servers' certificates are not verified (%s)\n", tls.Source.c_str());

    TDownloadSettings settings = DownloadSettings();
    for (const std::string& note : settings.Notes) std::fprintf(stderr, "fotaviq: %s\n", AnsiToUtf8(note).c_str());
    if (args.connections) settings.Connections = *args.connections;
    if (args.maxPhotoSize) settings.MaxPhotoSize = *args.maxPhotoSize;
    std::string familyNote;
    SetWSocketFamily(ReadNetworkFamily(ini, args.family, &familyNote));
    if (!familyNote.empty()) std::fprintf(stderr, "fotaviq: %s\n", familyNote.c_str());
    // Resolved once: an unusable proxy from the file or the environment fails the transfer
    // that would use it, naming it.
    SetCurrentProxySettings(ResolveProcessProxySettings(ini, args.proxy, args.noProxy));
    RouteFetcherThroughProxy();

    if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, [] {
            char drained[16];
            while (::read(gSignalPipe[0], drained, sizeof drained) > 0) {
            }
            if (gRunningAlbum) gRunningAlbum->Stop.Request();
        });
        std::signal(SIGINT, OnSigint);
    }

    TConsoleAlbumView view(args.music);
    gRunningAlbum = &view;
    TAlbumPolicy policy;  // every photo must arrive; so must the data document
    try {
        const TAlbumOutcome outcome = RunAlbumWorkflow(view, base, "", query, settings, policy);
        gRunningAlbum = nullptr;
        switch (outcome.End) {
            case TAlbumOutcome::TEnd::DocumentFailed:
                return Fail("cannot get the album's data: " + ToUtf8(outcome.DocumentError));
            case TAlbumOutcome::TEnd::FolderBusy: return Fail(AnsiToUtf8(outcome.FolderError));
            case TAlbumOutcome::TEnd::PhotoFailed:
                return Fail("photo " + std::to_string(outcome.FailedPhoto + 1) + " of " + std::to_string(outcome.Photos) +
                            " (" + AnsiToUtf8(outcome.FailedFile) + "): " + ToUtf8(outcome.FailedReason));
            case TAlbumOutcome::TEnd::Stopped:
                if (!outcome.Folder.empty()) std::printf("%s\n", AnsiToUtf8(outcome.Folder).c_str());
                return Fail("stopped");
            case TAlbumOutcome::TEnd::Complete: break;
        }
        std::printf("%s\n", AnsiToUtf8(outcome.Folder).c_str());
        if (outcome.MusicMissing)
            return Fail("the background music did not arrive whole" +
                        (outcome.MusicError.empty() ? std::string() : ": " + AnsiToUtf8(outcome.MusicError)));
        return 0;
    } catch (const std::exception& e) {
        gRunningAlbum = nullptr;
        return Fail(TextToQString(e.what()).toStdString());
    }
}
