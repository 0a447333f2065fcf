// SPDX-License-Identifier: Apache-2.0
#include "SidePages.h"

#include <array>

namespace {

struct Link {
    const char* caption;
    const char* body;
};

constexpr std::array<Link, 5> kLinks{{
    {"西湖旅游攻略", "春天的西湖：断桥、苏堤和雷峰塔的最佳游览路线。"},
    {"黄山日出摄影", "在光明顶等待日出：器材、时间和机位建议。"},
    {"相册整理技巧", "给照片分类、命名和备份的几个好习惯。"},
    {"背景音乐推荐", "适合旅行相册的轻音乐合集。"},
    {"Fotaviq 使用帮助", "粘贴相册地址，按下载按钮，照片就保存在程序目录下。"},
}};

std::string Escape(std::string_view s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default:
            // Control characters (the hostile title) would make the page unreadable.
            if (static_cast<unsigned char>(c) < 0x20)
                out += "&#xFFFD;";
            else
                out += c;
        }
    }
    return out;
}

std::string Page(std::string_view title, std::string_view body)
{
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + std::string(title) +
           "</title>\n<style>body{margin:6px;font:13px/1.4 sans-serif;color:#223}</style></head>\n<body>" +
           std::string(body) + "</body></html>\n";
}

}  // namespace

std::string DefaultLinkList(std::string_view baseUrl)
{
    std::string text;
    for (std::size_t i = 0; i < kLinks.size(); ++i) {
        if (i > 0)
            text += '|';
        text += kLinks[i].caption;
        text += '|';
        text += std::string(baseUrl) + "/links/" + std::to_string(i + 1) + ".html";
    }
    return text;
}

std::string LinkPage(int n)
{
    if (n < 1 || n > static_cast<int>(kLinks.size()))
        return {};
    const Link& link = kLinks[static_cast<std::size_t>(n - 1)];
    return Page(link.caption, "<h1>" + std::string(link.caption) + "</h1><p>" + link.body + "</p>");
}

std::string InfoPage()
{
    // 177x185 pixels: one heading, two short paragraphs, the version; no scrolling needed
    // at the default zoom, no external resources.
    return "<!DOCTYPE html>\n"
           "<html><head><meta charset=\"utf-8\"><title>Fotaviq</title>\n"
           "<style>\n"
           "html,body{margin:0;padding:0;overflow:hidden}\n"
           "body{padding:5px 6px;font:12px/1.35 sans-serif;color:#1d2b3a;"
           "background:linear-gradient(#eef5fc,#d9e8f6)}\n"
           "h1{margin:0 0 4px;font-size:16px;color:#1560a8}\n"
           "p{margin:0 0 5px}\n"
           ".v{color:#5a6b7c;font-size:11px}\n"
           "</style></head>\n"
           "<body>\n"
           "<h1>Fotaviq 相册下载</h1>\n"
           "<p>粘贴相册地址，一键保存全部照片。</p>\n"
           "<p>照片按顺序编号，存放在程序目录下以相册命名的文件夹中，还可以下载并播放背景音乐。</p>\n"
           "<p class=\"v\">版本 ZK1.0</p>\n"
           "</body></html>\n";
}

std::string ViewerAddress(std::string_view baseUrl, const AlbumSpec& album)
{
    return std::string(baseUrl) + "/flash/vphoto.swf?uin=" + album.uin + "&fid=" + album.fid;
}

std::string IndexPage(const Catalogue& catalogue, std::string_view baseUrl)
{
    std::string rows;
    for (const AlbumSpec& a : catalogue.Albums())
        rows += "<tr><td>" + Escape(a.title) + "</td><td><code>" + Escape(ViewerAddress(baseUrl, a)) +
                "</code></td><td>" + Escape(a.purpose) + "</td></tr>\n";
    return Page("Album service",
                "<h1>Album service</h1><p>Paste a viewer address into Fotaviq.</p>\n"
                "<table border=\"1\" cellpadding=\"3\"><tr><th>Title</th><th>Viewer address</th>"
                "<th>Purpose</th></tr>\n" + rows + "</table>");
}
