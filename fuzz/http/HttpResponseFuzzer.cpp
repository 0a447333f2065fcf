// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary response bytes through THttpCli's response handling: the input chooses
// the request (kind, proxy, address), then supplies up to four connections' worth of bytes,
// each cut into pieces of chosen sizes. Every connection is closed by the peer at its
// end; connections beyond the script are refused. Get must return or raise
// EHttpException, never hang, and never touch memory it does not own.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

#include "base/Stream.h"
#include "http/ScriptedClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    TScriptedHttpCli client;
    const int kind = in.ConsumeIntegralInRange(0, 2);
    if (in.ConsumeBool()) client.SetProxy("proxy.lan:3128");
    static const char* const urls[] = {"http://h/a/b.htm?q=1", "http://u:p@h:8080/", "h", "/x", "../up"};
    client.SetURL(urls[in.ConsumeIntegralInRange<std::size_t>(0, 4)]);

    const int connections = in.ConsumeIntegralInRange(1, 4);
    for (int i = 0; i < connections && in.remaining_bytes() > 0; ++i) {
        std::vector<std::string> pieces;
        const int count = in.ConsumeIntegralInRange(1, 8);
        for (int p = 0; p < count; ++p) {
            const std::size_t len = in.ConsumeIntegralInRange<std::size_t>(0, 9000);
            pieces.push_back(in.ConsumeBytesAsString(len));
        }
        client.AddExchange(std::move(pieces));
    }

    TMemoryStream doc;
    TStringStream post("field=value");
    client.SetDocStream(&doc);
    client.SetPostStream(&post);
    try {
        client.ExecuteRequest(kind == 0 ? httpGET : kind == 1 ? httpPOST : httpHEAD);
    } catch (const EHttpException& e) {
        if (e.ErrorCode() == 1 || e.ErrorCode() == 2) std::abort();  // the client was idle and had a body
    }
    if (client.State() != httpIdle) std::abort();
    if (doc.Size() != client.RcvdBytes()) std::abort();
    return 0;
}
