#include "AlbumService.h"

#include "DataDocument.h"
#include "EmbeddedTune.h"
#include "SidePages.h"

#include <fstream>
#include <iterator>
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

}  // namespace

AlbumService::AlbumService(const Options& options, int boundPort)
    : options_(options),
      baseUrl_(::BaseUrl(options, boundPort)),
      music_(std::make_shared<const std::string>(options.musicFile.empty() ? std::string(EmbeddedTune())
                                                                           : ReadFile(options.musicFile))),
      links_(options.linksFile.empty() ? DefaultLinkList(baseUrl_) : ReadFile(options.linksFile)),
      recorder_(options.reportLog)
{
}

void AlbumService::Install(httplib::Server& server)
{
    // Recorded before routing, so a client that has its answer always finds its request
    // in the log already.
    server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
        if (!req.target.starts_with("/_test/"))
            recorder_.AddRequest(req.method + " " + req.target);
        return httplib::Server::HandlerResponse::Unhandled;
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
    const auto reset = [this](const httplib::Request&, httplib::Response& res) {
        recorder_.Clear();
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
    res.set_content(BuildDataDocument(*album, baseUrl_), "text/plain; charset=GBK");
}

void AlbumService::ServePhoto(const httplib::Request& req, httplib::Response& res)
{
    const AlbumSpec* album = catalogue_.FindByKey(req.matches[1].str());
    const int index = std::stoi(req.matches[2]);
    if (!album || index >= album->photoCount)
        return NotFound(res, "no such photo");

    const PhotoMode mode = album->ModeOf(index);
    if (mode == PhotoMode::Missing)
        return NotFound(res, "photo removed");
    if (mode == PhotoMode::Damaged) {
        res.set_content("this photo was damaged on the server\n", "image/jpeg");
        return;
    }
    SharedBytes jpeg = photos_.Get(*album, index);
    switch (mode) {
    case PhotoMode::CutOff:
        SetCutOffContent(res, jpeg, "image/jpeg", jpeg->size() / 2);
        break;
    case PhotoMode::Slow:
        SetPacedContent(res, jpeg, "image/jpeg", options_.slowRate, stopping_);
        break;
    default:
        SetBody(res, jpeg, "image/jpeg");
        break;
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
        SetPacedContent(res, std::move(body), contentType, options_.throttle, stopping_);
    else
        res.set_content(*body, contentType);
}
