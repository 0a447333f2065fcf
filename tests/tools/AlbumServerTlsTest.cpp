// SPDX-License-Identifier: Apache-2.0
// The album service over HTTPS, read with THttpCli: the addresses it writes begin with
// https://, and a photo arrives byte for byte as the plain service serves it; requests
// sent back to back in one TLS record are all answered.
#include <gtest/gtest.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Options.h"
#include "RawHttp.h"
#include "ServerProcess.h"
#include "base/Stream.h"
#include "http/HttpProt.h"
#include "socket/WSocketTlsConfig.h"
#include "../http/ClientCalls.h"
#include "support/TestPki.h"

namespace {

std::string Get(const std::string& url) {
    THttpCli c;
    return GetText(c, url);
}

// Writes `bytes` in one TLS record and returns all the server sends until it closes.
std::string TlsConversation(int port, const std::string& bytes)
{
    std::string all;
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval limit{10, 0};  // a server that waits for a request it already has gives up in 5 s
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    SSL* ssl = SSL_new(ctx);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && SSL_set_fd(ssl, fd) == 1 &&
        SSL_connect(ssl) == 1 && SSL_write(ssl, bytes.data(), static_cast<int>(bytes.size())) > 0) {
        char buf[16384];
        for (int n; (n = SSL_read(ssl, buf, sizeof buf)) > 0;)
            all.append(buf, static_cast<std::size_t>(n));
    }
    SSL_free(ssl);
    close(fd);
    SSL_CTX_free(ctx);
    return all;
}

}  // namespace

TEST(AlbumServerTls, AddressesUseTheSchemeAndItsDefaultPort)
{
    const char* args[] = {"album-server", "--tls-cert", "c.pem", "--tls-key", "k.pem"};
    Options o = ParseOptions(5, args);
    EXPECT_EQ(o.port, 443);
    EXPECT_EQ(BaseUrl(o, 443), "https://127.0.0.1");
    EXPECT_EQ(BaseUrl(o, 8443), "https://127.0.0.1:8443");
    const char* half[] = {"album-server", "--tls-cert", "c.pem"};
    EXPECT_THROW(ParseOptions(3, half), std::invalid_argument);
}

TEST(AlbumServerTls, PhotosOverHttpsMatchThePlainService)
{
    TTestPki pki;
    if (!pki.Why().empty()) GTEST_SKIP() << pki.Why();
    TlsSetSettings({pki.CaFile(), true});
    ServerProcess tls({"--tls-cert", pki.Server().Cert, "--tls-key", pki.Server().Key});
    ServerProcess plain;
    const std::string base = "https://127.0.0.1:" + std::to_string(tls.Port());
    const std::string document = Get(base + "/cgi-bin/common/cgi_load_flash?uin=10001&fid=2");
    const std::string photoKey = "\"url\":\"" + base + "/photos/";
    const std::size_t at = document.find(photoKey);
    ASSERT_NE(at, std::string::npos) << document;
    const std::size_t end = document.find('"', at + 7);
    const std::string photo = document.substr(at + 7, end - at - 7);
    const std::string path = photo.substr(base.size());
    const std::string overTls = Get(photo);
    EXPECT_GT(overTls.size(), 1000u);
    EXPECT_TRUE(overTls == Get("http://127.0.0.1:" + std::to_string(plain.Port()) + path)) << path;
    TlsSetSettings({});
}

TEST(AlbumServerTls, RequestsSentBackToBackAreAnsweredInOrder)
{
    TTestPki pki;
    if (!pki.Why().empty()) GTEST_SKIP() << pki.Why();
    ServerProcess tls({"--tls-cert", pki.Server().Cert, "--tls-key", pki.Server().Key});
    ServerProcess plain;
    const std::vector<std::string> paths = {"/links/2.html", "/photos/xihu/1.jpg", "/links/1.html"};
    const std::string requests = BackToBackGets(paths);
    const std::vector<RawResponse> answers = SplitResponses(TlsConversation(tls.Port(), requests));
    ASSERT_EQ(answers.size(), paths.size());
    httplib::Client cli("127.0.0.1", plain.Port());
    for (std::size_t i = 0; i < paths.size(); ++i)
        EXPECT_TRUE(answers[i].body == cli.Get(paths[i])->body) << paths[i];
}
