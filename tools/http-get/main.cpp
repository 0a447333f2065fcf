// SPDX-License-Identifier: Apache-2.0
// http-get: fetches one address with THttpCli and writes the document to a file or to
// standard output. With -v every event of the client is printed to standard error in the
// order it fires.
//
//   http-get [-v] [-x proxy[:port]] [-o file] [--ca-file PEM] [--insecure] URL
//
// URL may be http:// or https://; --ca-file trusts one more authority besides the system's,
// --insecure switches certificate verification off (with a warning).
// Exit status 0 when Get returned normally, 1 when it raised, 2 on a usage error.
#include <unistd.h>

#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "base/Stream.h"
#include "http/HttpProt.h"
#include "socket/WSocketTlsConfig.h"

namespace {

// Standard output as a stream; a write takes every byte or fails.
class TStdoutStream : public TStream {
public:
    std::int64_t Read(void*, std::int64_t) override { return 0; }
    std::int64_t Write(const void* buffer, std::int64_t count) override {
        const char* p = static_cast<const char*>(buffer);
        std::int64_t done = 0;
        while (done < count) {
            const ssize_t n = ::write(STDOUT_FILENO, p + done, static_cast<std::size_t>(count - done));
            if (n <= 0) break;
            done += n;
        }
        return done;
    }
    std::int64_t Seek(std::int64_t, TSeekOrigin) override { return 0; }
};

const char* StateName(THttpClientState s) {
    static const char* const names[] = {"httpIdle",     "httpStarting",       "httpConnected",    "httpResolving",
                                        "httpResolved", "httpAwaitingHeader", "httpAwaitingBody", "httpAborting"};
    return s <= httpAborting ? names[s] : "?";
}

const char* KindName(THttpRequest k) {
    static const char* const names[] = {"httpAbort", "httpGET", "httpPOST", "httpHEAD"};
    return k <= httpHEAD ? names[k] : "?";
}

void Trace(THttpCli& c) {
    auto say = [](const std::string& s) { std::fprintf(stderr, "%s\n", s.c_str()); };
    c.OnStateChange = [&c, say](TObject*) { say(std::string("state ") + StateName(c.State())); };
    c.OnSessionConnected = [say](TObject*) { say("session connected"); };
    c.OnRequestHeaderBegin = [say](TObject*) { say("request header begin"); };
    c.OnCommand = [say](TObject*, std::string& s) { say("> " + s); };
    c.OnRequestHeaderEnd = [say](TObject*) { say("request header end"); };
    c.OnSendBegin = [say](TObject*) { say("send begin"); };
    c.OnSendData = [say](TObject*, const void*, int len) { say("send data " + std::to_string(len)); };
    c.OnSendEnd = [say](TObject*) { say("send end"); };
    c.OnHeaderBegin = [say](TObject*) { say("header begin"); };
    c.OnCookie = [say](TObject*, const std::string& v, bool&) { say("cookie " + v); };
    c.OnHeaderData = [&c, say](TObject*) {
        const TStringList& h = c.ResponseHeader();
        say("< " + (h.Count() > 0 ? h[h.Count() - 1] : std::string()));
    };
    c.OnHeaderEnd = [say](TObject*) { say("header end"); };
    c.OnDocBegin = [say](TObject*) { say("doc begin"); };
    c.OnDocData = [say](TObject*, const void*, int len) { say("doc data " + std::to_string(len)); };
    c.OnDocEnd = [say](TObject*) { say("doc end"); };
    c.OnLocationChange = [&c, say](TObject*) { say("location change " + c.Location()); };
    c.OnRequestDone = [say](TObject*, THttpRequest k, WORD e) {
        say(std::string("request done ") + KindName(k) + " error " + std::to_string(e));
    };
}

int Usage() {
    std::fprintf(stderr, "usage: http-get [-v] [-x proxy[:port]] [-o file] [--ca-file PEM] [--insecure] URL\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    bool verbose = false;
    std::string proxy, output, url;
    TTlsSettings tls;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-v") {
            verbose = true;
        } else if (a == "--insecure") {
            tls.Verify = false;
        } else if (a == "--ca-file" && i + 1 < argc) {
            tls.CaFile = argv[++i];
        } else if ((a == "-x" || a == "-o") && i + 1 < argc) {
            (a == "-x" ? proxy : output) = argv[++i];
        } else if (!a.empty() && a[0] != '-' && url.empty()) {
            url = a;
        } else {
            return Usage();
        }
    }
    if (url.empty()) return Usage();

    try {
        TlsSetSettings(tls);
        if (!tls.Verify) std::fprintf(stderr, "http-get: warning: TLS certificates are not verified (--insecure)\n");
        std::unique_ptr<TStream> out;
        if (output.empty() || output == "-")
            out = std::make_unique<TStdoutStream>();
        else
            out = std::make_unique<TBufferedFileStream>(output, TFileStream::fmCreate);
        THttpCli client;
        if (verbose) Trace(client);
        client.SetURL(url);
        client.SetProxy(proxy);
        client.SetDocStream(out.get());
        client.Get();
        if (verbose)
            std::fprintf(stderr, "status %d, %lld bytes, Content-Length %d\n", client.StatusCode(),
                         static_cast<long long>(client.RcvdBytes()), client.ContentLength());
        return 0;
    } catch (const EHttpException& e) {
        std::fprintf(stderr, "http-get: %s (%u)\n", e.Message().c_str(), e.ErrorCode());
    } catch (const Exception& e) {
        std::fprintf(stderr, "http-get: %s\n", e.Message().c_str());
    }
    return 1;
}
