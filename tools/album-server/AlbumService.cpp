// SPDX-License-Identifier: Apache-2.0
#include "AlbumService.h"

#include "Connections.h"
#include "DataDocument.h"
#include "EmbeddedTune.h"
#include "SidePages.h"

#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <stdexcept>

namespace {

const char* const kText = "text/plain; charset=utf-8";
const char* const kHtml = "text/html; charset=utf-8";

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void NotFound(httplib::Response& res, const std::string& what)
{
    res.status = 404;
    res.set_content(what + "\n", kText);
}

bool IsPhoto(const httplib::Request& req)
{
    return req.path.starts_with("/photos/");
}

bool IsTestEndpoint(const httplib::Request& req)
{
    return req.path.starts_with("/_test/");
}

}  // namespace

AlbumService::AlbumService(const Options& options, int boundPort)
    : options_(options),
      baseUrl_(::BaseUrl(options, boundPort)),
      music_(std::make_shared<const std::string>(options.musicFile.empty() ? std::string(EmbeddedTune())
                                                                           : ReadFile(options.musicFile))),
      links_(options.linksFile.empty() ? DefaultLinkList(baseUrl_) : ReadFile(options.linksFile)),
      recorder_(options.reportLog),
      faults_(options.faults, options.delays)
{
}

void AlbumService::Install(httplib::Server& server)
{
    // Runs once the request head is read. The request is recorded first, so a client
    // that has its answer always finds its request in the log already. The latency wait
    // holds only this connection's worker, so waits of parallel requests overlap.
    server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
        if (IsTestEndpoint(req))
            return httplib::Server::HandlerResponse::Unhandled;
        recorder_.AddRequest(req.method + " " + req.target);
        if (IsPhoto(req))
            photosInFlight_.Begin(&req);
        stop_.SleepFor(options_.latency);
        return httplib::Server::HandlerResponse::Unhandled;
    });
    // The library calls its logger once per request, after the response was written or
    // its writing failed: the end of a photo's time in flight, unless its answer ended it
    // earlier (ServePhoto).
    server.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        photosInFlight_.End(&req);
        if (options_.verbose) {
            static std::mutex m;
            std::lock_guard lock(m);
            std::cerr << req.method << " " << req.target << " " << res.status << std::endl;
        }
    });
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty() && !res.content_length_)
            res.set_content(std::to_string(res.status) + "\n", kText);
    });

    server.Get("/cgi-bin/common/cgi_load_flash",
               [this](const httplib::Request& req, httplib::Response& res) { ServeDocument(req, res); });
    server.Get(R"(/photos/([^/]+)/(\d{1,6})\.jpg)",
               [this](const httplib::Request& req, httplib::Response& res) { ServePhoto(req, res); });
    server.Get(R"(/music/([^/]+)\.mp3)",
               [this](const httplib::Request& req, httplib::Response& res) { ServeMusic(req, res); });
    server.Post("/corvane/mirelot/log.php",
                [this](const httplib::Request& req, httplib::Response& res) { ServeReport(req, res); });

    server.Get("/app/zevorizediruru/i.php", [this](const httplib::Request& req, httplib::Response& res) {
        if (req.get_param_value("a") != "getlinks")
            return NotFound(res, "unknown request");
        res.set_content(links_, kText);
    });
    server.Get("/corvane/mirelot/app_info.php", [](const httplib::Request& req, httplib::Response& res) {
        if (req.get_param_value("app") != "pixharv")
            return NotFound(res, "unknown application");
        res.set_content(InfoPage(), kHtml);
    });
    server.Get(R"(/links/(\d{1,3})\.html)", [](const httplib::Request& req, httplib::Response& res) {
        const std::string page = LinkPage(std::stoi(req.matches[1]));
        if (page.empty())
            return NotFound(res, "no such page");
        res.set_content(page, kHtml);
    });
    server.Get("/", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(IndexPage(catalogue_, baseUrl_), kHtml);
    });

    server.Get(R"(/_test/reports(/.*)?)",
               [this](const httplib::Request& req, httplib::Response& res) { ServeTestReports(req, res); });
    server.Get("/_test/requests", [this](const httplib::Request&, httplib::Response& res) {
        std::string text;
        for (const std::string& line : recorder_.Requests())
            text += line + "\n";
        res.set_content(text, kText);
    });
    server.Get("/_test/inflight", [this](const httplib::Request&, httplib::Response& res) {
        const InFlightCount c = photosInFlight_.Read();
        res.set_content("max " + std::to_string(c.max) + "\nnow " + std::to_string(c.now) + "\n", kText);
    });
    const auto reset = [this](const httplib::Request&, httplib::Response& res) {
        recorder_.Clear();
        photosInFlight_.Reset();
        faults_.Reset();
        res.set_content("cleared\n", kText);
    };
    server.Get("/_test/reset", reset);
    server.Delete("/_test/reset", reset);
    server.Delete("/_test/reports", reset);
}

void AlbumService::ServeDocument(const httplib::Request& req, httplib::Response& res)
{
    const AlbumSpec* album = catalogue_.Find(req.get_param_value("uin"), req.get_param_value("fid"));
    if (!album)
        return NotFound(res, "no such album");
    if (album->loginPage)
        return res.set_content("<html><head><title>Login</title></head><body>please log in</body></html>\n",
                               "text/html");
    res.set_content(BuildDataDocument(*album, baseUrl_), "text/plain; charset=GBK");
}

void AlbumService::ServePhoto(const httplib::Request& req, httplib::Response& res)
{
    // Every answer stops counting as in flight right before its last bytes are written: a
    // client that has them and starts its next request is never counted twice, however
    // late this thread runs again after writing.
    const LastWrite ended = [this, &req] { photosInFlight_.End(&req); };
    const auto text = [&](int status, const std::string& body, const char* type) {
        res.status = status;
        SetWholeContent(res, std::make_shared<const std::string>(body), type, ended);
    };
    const AlbumSpec* album = catalogue_.FindByKey(req.matches[1].str());
    const int index = std::stoi(req.matches[2]);
    if (!album || index >= album->photoCount)
        return text(404, "no such photo\n", kText);
    stop_.SleepFor(faults_.DelayOf(album->key, index));
    if (const auto fault = faults_.Take(album->key, index))
        return ServeFault(*fault, req, res, *album, index, ended);

    const PhotoMode mode = album->ModeOf(index);
    if (mode == PhotoMode::Missing)
        return text(404, "photo removed\n", kText);
    if (mode == PhotoMode::Damaged)
        return text(200, "this photo was damaged on the server\n", "image/jpeg");
    SharedBytes jpeg = photos_.Get(*album, index);
    switch (mode) {
    case PhotoMode::CutOff:
        SetCutOffContent(res, jpeg, "image/jpeg", jpeg->size() / 2, ended);
        break;
    case PhotoMode::Slow:
        SetPacedContent(res, jpeg, "image/jpeg", options_.slowRate, stop_, ended);
        break;
    default:
        if (options_.throttle > 0)
            SetPacedContent(res, jpeg, "image/jpeg", options_.throttle, stop_, ended);
        else
            SetWholeContent(res, jpeg, "image/jpeg", ended);
        break;
    }
}

void AlbumService::ServeFault(FaultKind kind, const httplib::Request& req, httplib::Response& res,
                              const AlbumSpec& album, int index, const LastWrite& ended)
{
    switch (kind) {
    case FaultKind::Status500:
    case FaultKind::Status503:
        res.status = kind == FaultKind::Status500 ? 500 : 503;
        SetWholeContent(res, std::make_shared<const std::string>("failing on purpose\n"), kText, ended);
        return;
    case FaultKind::Reset:
        // The library still writes its answer, into the dead end left in the
        // connection's place; the status only shows in the --verbose line.
        res.status = 500;
        ended();
        if (!ResetConnection(ConnectionOf(req)))
            std::cerr << "album-server: cannot reset the connection of " << req.target << "\n";
        return;
    case FaultKind::Cut: {
        SharedBytes jpeg = photos_.Get(album, index);
        SetCutOffContent(res, jpeg, "image/jpeg", jpeg->size() / 2, ended);
        return;
    }
    case FaultKind::Html:
        SetWholeContent(res,
                        std::make_shared<const std::string>(
                            "<html><head><title>Login</title></head><body>please log in</body></html>\n"),
                        "text/html", ended);
        return;
    case FaultKind::Unframed:
        ended();
        SetUnframedContent(res, photos_.Get(album, index), "image/jpeg", photos_.Get(album, index)->size() / 2);
        return;
    case FaultKind::Stall: {
        const int fd = ConnectionOf(req);
        if (fd < 0)
            std::cerr << "album-server: stalling " << req.target << " until the stop, its connection is unknown\n";
        SetStalledContent(res, photos_.Get(album, index)->size(), "image/jpeg", fd, stop_);
        return;
    }
    }
}

void AlbumService::ServeMusic(const httplib::Request& req, httplib::Response& res)
{
    const AlbumSpec* album = catalogue_.FindByKey(req.matches[1].str());
    if (!album || album->music != MusicKey::Present)
        return NotFound(res, "no music");
    SetBody(res, music_, "audio/mpeg");
}

void AlbumService::ServeReport(const httplib::Request& req, httplib::Response& res)
{
    recorder_.AddReport({req.body, req.get_header_value("Content-Type")});
    res.set_content("ok\n", kText);
}

void AlbumService::ServeTestReports(const httplib::Request& req, httplib::Response& res)
{
    const std::vector<UsageReport> reports = recorder_.Reports();
    const std::string which = req.matches[1].str();
    if (which.empty()) {
        // Length-prefixed, because a body may hold any byte, line feeds included.
        std::string text;
        for (const UsageReport& r : reports)
            text += std::to_string(r.body.size()) + ":" + r.body + "\n";
        res.set_content(text, "application/octet-stream");
        return;
    }
    std::size_t i = reports.size();
    if (which == "/last") {
        i = reports.empty() ? reports.size() : reports.size() - 1;
    } else if (which.size() > 1 && which.size() <= 7 && which.find_first_not_of("0123456789", 1) == std::string::npos) {
        i = std::stoul(which.substr(1));
    }
    if (i >= reports.size())
        return NotFound(res, "no such report");
    res.set_header("X-Report-Content-Type", reports[i].contentType);
    res.set_content(reports[i].body, "application/octet-stream");
}

void AlbumService::SetBody(httplib::Response& res, SharedBytes body, const std::string& contentType)
{
    if (options_.throttle > 0)
        SetPacedContent(res, std::move(body), contentType, options_.throttle, stop_);
    else
        res.set_content(*body, contentType);
}
