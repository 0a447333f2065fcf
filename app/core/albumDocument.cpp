// SPDX-License-Identifier: Apache-2.0
#include "app/core/albumDocument.h"

#include "regex/RegExpr.h"

TAlbumDocument ReadAlbumDocument(const std::string& document) {
    TAlbumDocument found;
    TRegExpr re;
    // The document is taken once; each search starts from its beginning, as Exec would,
    // without copying or comparing the whole document again.
    re.SetInputString(document);
    re.SetExpression(R"re("name":"(.*?)")re");
    if (re.ExecPos(1)) found.Title = re.SubMatch(1);
    re.SetExpression(R"re("mp3":"(.*?)")re");
    if (re.ExecPos(1)) found.MusicUrl = re.SubMatch(1);
    re.SetExpression(R"re("url":"(.*?)")re");
    if (re.ExecPos(1)) {
        do {
            found.PhotoUrls.push_back(re.SubMatch(1));
        } while (re.ExecNext());
    }
    re.SetExpression(R"re("total":[ \t]*([0-9]{1,9})\b)re");
    if (re.ExecPos(1)) found.AnnouncedPhotos = std::stoll(re.SubMatch(1));
    return found;
}
