#include "Options.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>
#include <string_view>

namespace {

long long Number(std::string_view option, std::string_view text, long long min, long long max)
{
    long long v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < min || v > max)
        throw std::invalid_argument(std::string(option) + ": expected a number from " + std::to_string(min) +
                                    " to " + std::to_string(max) + ", got '" + std::string(text) + "'");
    return v;
}

}  // namespace

Options ParseOptions(int argc, const char* const* argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::string_view name = arg, inlineValue;
        bool hasInline = false;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            inlineValue = arg.substr(eq + 1);
            hasInline = true;
        }
        auto value = [&]() -> std::string {
            if (hasInline)
                return std::string(inlineValue);
            if (i + 1 >= argc)
                throw std::invalid_argument(std::string(name) + " needs a value");
            return argv[++i];
        };
        auto flag = [&](bool& target) {
            if (hasInline)
                throw std::invalid_argument(std::string(name) + " takes no value");
            target = true;
        };

        if (name == "--bind")
            o.bind = value();
        else if (name == "--port")
            o.port = static_cast<int>(Number(name, value(), 0, 65535));
        else if (name == "--public-host")
            o.publicHost = value();
        else if (name == "--ready-file")
            o.readyFile = value();
        else if (name == "--report-log")
            o.reportLog = value();
        else if (name == "--links")
            o.linksFile = value();
        else if (name == "--music")
            o.musicFile = value();
        else if (name == "--slow-rate")
            o.slowRate = static_cast<std::size_t>(Number(name, value(), 1, 1LL << 40));
        else if (name == "--throttle")
            o.throttle = static_cast<std::size_t>(Number(name, value(), 0, 1LL << 40));
        else if (name == "--threads")
            o.threads = static_cast<int>(Number(name, value(), 1, 1024));
        else if (name == "--pregenerate")
            flag(o.pregenerate);
        else if (name == "--verbose" || name == "-v")
            flag(o.verbose);
        else if (name == "--help" || name == "-h")
            flag(o.help);
        else
            throw std::invalid_argument("unknown option '" + std::string(arg) + "'");
    }
    if (o.bind.empty())
        throw std::invalid_argument("--bind: empty address");
    return o;
}

std::string BaseUrl(const Options& options, int boundPort)
{
    if (options.publicHost.find(':') != std::string::npos)
        return "http://" + options.publicHost;
    std::string host = options.publicHost;
    if (host.empty())
        host = options.bind == "0.0.0.0" ? "127.0.0.1" : options.bind;
    return "http://" + host + (boundPort == 80 ? "" : ":" + std::to_string(boundPort));
}

std::string UsageText(const Catalogue& catalogue)
{
    std::string text =
        "Usage: album-server [options]\n"
        "\n"
        "Serves album data documents, generated JPEG photos, background music, the usage\n"
        "report endpoint, the link list and the information page over HTTP.\n"
        "Prints \"listening on ADDR:PORT\" on stdout once it accepts connections; stops on\n"
        "SIGTERM or SIGINT.\n"
        "\n"
        "Options:\n"
        "  --bind ADDR         address to listen on (default 127.0.0.1)\n"
        "  --port N            port (default 80; 0 picks a free port)\n"
        "  --public-host NAME  host written into photo and music addresses (default: the\n"
        "                      bind address; ':PORT' is added off port 80 unless NAME has one)\n"
        "  --ready-file PATH   write the port number there once listening\n"
        "  --report-log FILE   append every usage report body (plus a line feed) to FILE\n"
        "  --links FILE        serve FILE's bytes as the link list\n"
        "  --music FILE        serve FILE as every album's music (default: built-in tune)\n"
        "  --slow-rate BPS     bytes per second of the slow photo (default 20480)\n"
        "  --throttle BPS      pace every photo and tune at BPS (default 0 = full speed)\n"
        "  --threads N         worker threads (default 16)\n"
        "  --pregenerate       encode every photo before announcing readiness\n"
        "  -v, --verbose       log each request (method, target, status) to stderr\n"
        "  -h, --help          this text\n"
        "\n"
        "Requests:\n"
        "  GET  /cgi-bin/common/cgi_load_flash?uin=U&fid=F   album data document (GBK);\n"
        "                                                   404 for an unknown album\n"
        "  GET  /photos/<album>/<n>.jpg, /music/<album>.mp3\n"
        "  POST /corvane/mirelot/log.php                     usage report (recorded)\n"
        "  GET  /app/zevorizediruru/i.php?a=getlinks         link list (UTF-8)\n"
        "  GET  /corvane/mirelot/app_info.php?app=pixharv    information page\n"
        "  GET  /_test/reports                               recorded reports: \"<length>:<bytes>\\n\" each\n"
        "  GET  /_test/reports/last, /_test/reports/<i>      one report body, raw\n"
        "  GET  /_test/requests                              \"METHOD target\" per request\n"
        "  GET|DELETE /_test/reset                           forget reports and requests\n"
        "\n"
        "Albums (uin/fid: album key, title, purpose):\n";
    for (const AlbumSpec& a : catalogue.Albums()) {
        std::string id = "  uin=" + a.uin + "&fid=" + a.fid;
        id.resize(std::max<std::size_t>(id.size() + 1, 23), ' ');
        text += id + a.key + ": " + a.purpose + "\n";
    }
    return text;
}
