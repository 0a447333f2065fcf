// The album service over HTTPS, read with THttpCli: the addresses it writes begin with
// https://, and a photo arrives byte for byte as the plain service serves it.
#include <gtest/gtest.h>

#include "Options.h"
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
