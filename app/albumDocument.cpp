#include "app/albumDocument.h"

#include "regex/RegExpr.h"

TAlbumDocument ReadAlbumDocument(const std::string& document) {
    TAlbumDocument found;
    TRegExpr re;
    re.SetExpression(R"re("name":"(.*?)")re");
    if (re.Exec(document)) found.Title = re.SubMatch(1);
    re.SetExpression(R"re("mp3":"(.*?)")re");
    if (re.Exec(document)) found.MusicUrl = re.SubMatch(1);
    re.SetExpression(R"re("url":"(.*?)")re");
    if (re.Exec(document)) {
        do {
            found.PhotoUrls.push_back(re.SubMatch(1));
        } while (re.ExecNext());
    }
    return found;
}
