// SPDX-License-Identifier: Apache-2.0
#pragma once
// One Get of the HTTP client, the way the tests look at it.
#include <string>

#include "base/Stream.h"
#include "http/HttpProt.h"

// The message of the failure THttpCli::Get raised, "" when it returned normally.
inline std::string GetFailure(THttpCli& c) {
    try {
        c.Get();
    } catch (const EHttpException& e) {
        return e.Message();
    }
    return "";
}

// The body of url; a failure raises as Get does.
inline std::string GetText(THttpCli& c, const std::string& url) {
    TStringStream body;
    c.SetURL(url);
    c.SetDocStream(&body);
    c.Get();
    return body.DataString();
}
