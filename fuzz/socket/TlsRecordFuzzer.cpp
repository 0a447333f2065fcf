// SPDX-License-Identifier: Apache-2.0
// A TLS server on loopback (OpenSSL on this thread, behind the fuzz peer) sends the input's
// pieces, each as its own records, in writes of a chosen size, then ends with or without a
// TLS close, or resets. Whatever the splits: OnSessionConnected comes once and with 0, the
// session ends once, the application reads exactly what the server wrote, in order (a
// prefix of it after a reset), the end without a TLS close is reported as 20105, and no
// socket is left behind.
//
// Option bits: 0-1 bytes read per notification (all, 1, 3, 64), 2-3 bytes per write of
// the encrypted stream (as produced, 1, 5, 100), 4 no TLS close, 5 reset at the end,
// 6 one read per notification (wsoNoReceiveLoop).
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzPeer.h"
#include "PeerScript.h"
#include "winsock/WinsockHooks.h"
#include "socket/WSocket.h"
#include "socket/WSocketTlsConfig.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "tls_record_fuzzer: %s\n", what);
    std::abort();
}

// A self-signed certificate for 127.0.0.1, made once per run; the client trusts it.
SSL_CTX* ServerContext() {
    static SSL_CTX* const ctx = [] {
        char dir[] = "/tmp/tls-fuzz-XXXXXX";
        if (!mkdtemp(dir)) Fail("no scratch folder");
        const std::string d = dir;
        const std::string make = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
                                 " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout " +
                                 d + "/key.pem -out " + d + "/cert.pem 2>/dev/null";
        if (std::system(make.c_str()) != 0) Fail("openssl could not make a certificate");
        TlsSetSettings({d + "/cert.pem", true});
        SSL_CTX* c = SSL_CTX_new(TLS_server_method());
        if (SSL_CTX_use_certificate_file(c, (d + "/cert.pem").c_str(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_use_PrivateKey_file(c, (d + "/key.pem").c_str(), SSL_FILETYPE_PEM) != 1)
            Fail("the server cannot load its certificate");
        std::system(("rm -rf " + d).c_str());
        return c;
    }();
    return ctx;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TFuzzPeer peer;
    SSL_CTX* const ctx = ServerContext();
    const TPeerScript script = ParsePeerScript(std::string_view(reinterpret_cast<const char*>(data), size), 1);
    const TPeerConnection& server = script.connections.front();
    static const int readSizes[] = {0, 1, 3, 64};
    static const std::size_t writeSizes[] = {0, 1, 5, 100};
    const int readSize = readSizes[script.options & 3];
    const std::size_t writeSize = writeSizes[(script.options >> 2) & 3];
    const bool closeNotify = !(script.options & 16);
    const bool reset = (script.options & 32) || server.reset;
    const std::string sent = AllBytes(server);

    int connected = 0, closed = 0;
    WORD connectError = 0, closeError = 0;
    std::string app;
    {
        TWSocket s;
        if (script.options & 64) s.ComponentOptions.Include(wsoNoReceiveLoop);
        s.SetAddr("127.0.0.1");
        s.SetPort(std::to_string(peer.Port()));
        s.SetTlsEnabled(true);
        s.OnSessionConnected = [&](TObject*, WORD error) {
            ++connected;
            connectError = error;
        };
        s.OnSessionClosed = [&](TObject*, WORD error) {
            ++closed;
            closeError = error;
        };
        s.OnDataAvailable = [&](TObject*, WORD) {
            if (connected != 1 || connectError != 0) Fail("data offered to the application before the session");
            if (readSize == 0) {
                app += s.ReceiveText();
                return;
            }
            std::string buf(static_cast<std::size_t>(readSize), '\0');
            const int n = s.Receive(buf.data(), readSize);
            if (n > 0) app.append(buf, 0, static_cast<std::size_t>(n));
        };
        const auto ended = [&] { return closed > 0; };
        const auto unread = [&] { return NetworkUnread(s); };

        SSL* ssl = SSL_new(ctx);
        BIO* in = BIO_new(BIO_s_mem());
        BIO* out = BIO_new(BIO_s_mem());
        BIO_set_mem_eof_return(in, -1);
        SSL_set_bio(ssl, in, out);
        SSL_set_accept_state(ssl);
        // The encrypted bytes the server produced, in writes of writeSize.
        const auto flush = [&] {
            char* p = nullptr;
            const long n = BIO_get_mem_data(out, &p);
            const std::string bytes(p, static_cast<std::size_t>(n > 0 ? n : 0));
            (void)BIO_reset(out);
            const std::size_t step = writeSize > 0 ? writeSize : bytes.size();
            for (std::size_t at = 0; at < bytes.size(); at += step) peer.Send(bytes.substr(at, step), unread);
        };

        s.Connect();
        bool up = false;
        if (peer.Accept(5000, ended)) {
            std::size_t taken = 0;
            while (!up && !ended()) {
                if (!peer.PumpUntil([&] { return peer.Received().size() > taken || ended(); }, 5000)) break;
                BIO_write(in, peer.Received().data() + taken, static_cast<int>(peer.Received().size() - taken));
                taken = peer.Received().size();
                const int r = SSL_do_handshake(ssl);
                flush();
                if (r == 1) up = true;
                else if (SSL_get_error(ssl, r) != SSL_ERROR_WANT_READ) Fail("the server's handshake failed");
            }
            if (!up) Fail("no handshake");
            if (!peer.PumpUntil([&] { return connected > 0; }, 5000)) Fail("the session did not start");
            for (const std::string& piece : server.pieces) {
                if (SSL_write(ssl, piece.data(), static_cast<int>(piece.size())) <= 0) Fail("the server cannot write");
                flush();
            }
            if (closeNotify && !reset) {
                SSL_shutdown(ssl);
                flush();
            }
            if (reset)
                peer.Reset();
            else
                peer.Close();
        }
        SSL_free(ssl);
        ERR_clear_error();
        if (!peer.PumpUntil(ended, 10000)) Fail("the session did not end");
        if (closed != 1) Fail("OnSessionClosed more than once");
        if (connected != 1 || connectError != 0) Fail("OnSessionConnected not once with 0");
        if (sent.compare(0, app.size(), app) != 0) Fail("the application read bytes the server did not send in that order");
        if (!reset) {
            if (app != sent) Fail("the application did not read everything");
            if (closeError != (closeNotify ? 0 : 20105)) Fail("the end was reported with the wrong code");
        }
    }
    peer.CloseWaiting();
    if (WinsockOpenSocketCount() != 0 || LiveSocketCount() != 0) Fail("a socket outlived its object");
    return 0;
}
