// SPDX-License-Identifier: Apache-2.0
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

// "KEY/N", the photo part of --fail and --delay.
void ParsePhoto(std::string_view option, std::string_view text, std::string& key, int& photo)
{
    const auto slash = text.find('/');
    if (slash == 0 || slash == std::string_view::npos)
        throw std::invalid_argument(std::string(option) + ": expected ALBUM/PHOTO, got '" + std::string(text) + "'");
    key = text.substr(0, slash);
    photo = static_cast<int>(Number(option, text.substr(slash + 1), 0, 999999));
}

// KEY/N:COUNT[:KIND], COUNT a number or "always".
PhotoFault ParseFault(std::string_view text)
{
    const std::string_view option = "--fail";
    const auto colon = text.find(':');
    if (colon == std::string_view::npos)
        throw std::invalid_argument("--fail: expected ALBUM/PHOTO:COUNT[:KIND], got '" + std::string(text) + "'");
    PhotoFault f;
    ParsePhoto(option, text.substr(0, colon), f.key, f.photo);
    std::string_view count = text.substr(colon + 1), kind = "500";
    if (const auto second = count.find(':'); second != std::string_view::npos) {
        kind = count.substr(second + 1);
        count = count.substr(0, second);
    }
    f.count = count == "always" ? PhotoFault::kAlways : static_cast<int>(Number(option, count, 1, 1000000000));
    if (kind == "500")
        f.kind = FaultKind::Status500;
    else if (kind == "503")
        f.kind = FaultKind::Status503;
    else if (kind == "reset")
        f.kind = FaultKind::Reset;
    else if (kind == "cut")
        f.kind = FaultKind::Cut;
    else if (kind == "html")
        f.kind = FaultKind::Html;
    else if (kind == "unframed")
        f.kind = FaultKind::Unframed;
    else if (kind == "stall")
        f.kind = FaultKind::Stall;
    else
        throw std::invalid_argument("--fail: KIND is one of 500, 503, reset, cut, stall, html, unframed; got '" + std::string(kind) + "'");
    return f;
}

// KEY/N:MS
PhotoDelay ParseDelay(std::string_view text)
{
    const auto colon = text.find(':');
    if (colon == std::string_view::npos)
        throw std::invalid_argument("--delay: expected ALBUM/PHOTO:MS, got '" + std::string(text) + "'");
    PhotoDelay d;
    ParsePhoto("--delay", text.substr(0, colon), d.key, d.photo);
    d.delay = std::chrono::milliseconds(Number("--delay", text.substr(colon + 1), 0, 600000));
    return d;
}

// Each named photo must exist and be named once per option: a typo would otherwise
// leave a test waiting for a failure that never comes.
template <class Spec>
void CheckPhotos(std::string_view option, const std::vector<Spec>& specs, const Catalogue& catalogue)
{
    for (std::size_t i = 0; i < specs.size(); ++i) {
        const std::string id = specs[i].key + "/" + std::to_string(specs[i].photo);
        const AlbumSpec* album = catalogue.FindByKey(specs[i].key);
        if (!album || specs[i].photo >= album->photoCount)
            throw std::invalid_argument(std::string(option) + ": no photo " + id);
        for (std::size_t j = 0; j < i; ++j)
            if (specs[j].key == specs[i].key && specs[j].photo == specs[i].photo)
                throw std::invalid_argument(std::string(option) + ": photo " + id + " given twice");
    }
}

}  // namespace

Options ParseOptions(int argc, const char* const* argv)
{
    Options o;
    bool portGiven = false;
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
        else if (name == "--port") {
            o.port = static_cast<int>(Number(name, value(), 0, 65535));
            portGiven = true;
        } else if (name == "--tls-cert")
            o.tlsCert = value();
        else if (name == "--tls-key")
            o.tlsKey = value();
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
        else if (name == "--keep-alive-requests")
            o.keepAliveRequests = static_cast<int>(Number(name, value(), 1, 1000000));
        else if (name == "--latency")
            o.latency = std::chrono::milliseconds(Number(name, value(), 0, 600000));
        else if (name == "--fail")
            o.faults.push_back(ParseFault(value()));
        else if (name == "--delay")
            o.delays.push_back(ParseDelay(value()));
        else if (name == "--pregenerate")
            flag(o.pregenerate);
        else if (name == "--verbose" || name == "-v")
            flag(o.verbose);
        else if (name == "--help" || name == "-h")
            flag(o.help);
        else if (name == "--version")
            flag(o.version);
        else
            throw std::invalid_argument("unknown option '" + std::string(arg) + "'");
    }
    if (o.bind.empty())
        throw std::invalid_argument("--bind: empty address");
    if (o.tlsCert.empty() != o.tlsKey.empty())
        throw std::invalid_argument("--tls-cert and --tls-key go together");
    if (!o.tlsCert.empty() && !portGiven)
        o.port = 443;
    const Catalogue catalogue;
    CheckPhotos("--fail", o.faults, catalogue);
    CheckPhotos("--delay", o.delays, catalogue);
    return o;
}

std::string BaseUrl(const Options& options, int boundPort)
{
    const bool tls = !options.tlsCert.empty();
    const std::string scheme = tls ? "https://" : "http://";
    const std::string& given = options.publicHost;
    // A colon after any IPv6 brackets means the name carries its port.
    const std::size_t close = given.rfind(']');
    if (given.find(':', close == std::string::npos ? 0 : close) != std::string::npos)
        return scheme + given;
    std::string host = given;
    if (host.empty())
        host = options.bind == "0.0.0.0" ? "127.0.0.1" : options.bind == "::" ? "::1" : options.bind;
    return scheme + UrlHost(host) + (boundPort == (tls ? 443 : 80) ? "" : ":" + std::to_string(boundPort));
}

std::string UrlHost(const std::string& host)
{
    if (host.find(':') != std::string::npos && host.front() != '[')
        return "[" + host + "]";
    return host;
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
        "  --bind ADDR         address to listen on (default 127.0.0.1); IPv6 too: ::1, or\n"
        "                      :: for every address of both families\n"
        "  --port N            port (default 80, 443 with TLS; 0 picks a free port)\n"
        "  --tls-cert FILE     serve HTTPS with this PEM certificate (chain); addresses the\n"
        "                      service writes then begin with https://\n"
        "  --tls-key FILE      the certificate's PEM private key (with --tls-cert)\n"
        "  --public-host NAME  host written into photo and music addresses (default: the\n"
        "                      bind address; ':PORT' is added off port 80 unless NAME has one)\n"
        "  --ready-file PATH   write the port number there once listening\n"
        "  --report-log FILE   append every usage report body (plus a line feed) to FILE\n"
        "  --links FILE        serve FILE's bytes as the link list\n"
        "  --music FILE        serve FILE as every album's music (default: built-in tune)\n"
        "  --slow-rate BPS     bytes per second of the slow photo (default 20480)\n"
        "  --throttle BPS      pace every photo and tune at BPS (default 0 = full speed)\n"
        "  --threads N         worker threads, one per open connection (default 64)\n"
        "  --keep-alive-requests N\n"
        "                      requests one kept-alive connection carries (default 100)\n"
        "  --latency MS        answer every request but /_test/ ones MS ms late\n"
        "  --fail ALBUM/PHOTO:COUNT[:KIND]\n"
        "                      the photo's first COUNT requests (a number or 'always') fail;\n"
        "                      KIND: 500 (default), 503, reset, cut, stall, html,\n"
        "                      unframed; repeatable\n"
        "  --delay ALBUM/PHOTO:MS\n"
        "                      the photo answers MS ms later than the others; repeatable\n"
        "  --pregenerate       encode every photo before announcing readiness\n"
        "  -v, --verbose       log each request (method, target, status) to stderr\n"
        "  -h, --help          this text\n"
        "  --version           the version\n"
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
        "  GET  /_test/inflight                              \"max M\\nnow C\\n\": photo answers at once\n"
        "  GET|DELETE /_test/reset                           forget reports, requests, counts\n"
        "\n"
        "Albums (uin/fid: album key, title, purpose):\n";
    for (const AlbumSpec& a : catalogue.Albums()) {
        std::string id = "  uin=" + a.uin + "&fid=" + a.fid;
        id.resize(std::max<std::size_t>(id.size() + 1, 23), ' ');
        text += id + a.key + ": " + a.purpose + "\n";
    }
    return text;
}
