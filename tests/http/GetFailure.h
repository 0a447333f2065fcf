#pragma once
// The message of the failure THttpCli::Get raised, "" when it returned normally.
#include <string>

#include "http/HttpProt.h"

inline std::string GetFailure(THttpCli& c) {
    try {
        c.Get();
    } catch (const EHttpException& e) {
        return e.Message();
    }
    return "";
}
