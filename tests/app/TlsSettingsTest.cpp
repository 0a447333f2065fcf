// SPDX-License-Identifier: Apache-2.0
// Where the HTTPS trust and the address family come from: the settings file, overridden by
// the command line; and server values with and without a scheme.
#include <gtest/gtest.h>

#include "app/settings/commonDefineServers.h"
#include "app/settings/networkFamily.h"
#include "app/settings/settingsFile.h"
#include "app/settings/tlsSettings.h"
#include "support/ChildProcess.h"

TEST(TlsSettings, TheCommandLineWinsOverTheSettingsFile) {
    TScratchDir dir;
    const TSettingsFile ini = TSettingsFile::ReadFrom(dir.Write("a.ini", "[tls]\nca-file=/etc/extra.pem\nverify=False\n"));
    TTlsChoice c = ReadTlsChoice(ini, std::nullopt, false);
    EXPECT_EQ(c.CaFile, "/etc/extra.pem");
    EXPECT_FALSE(c.Verify);
    EXPECT_EQ(c.Source, "[tls] verify=false");
    EXPECT_FALSE(TlsWarningLine(c).empty());
    c = ReadTlsChoice(ini, std::string("/tmp/mine.pem"), true);
    EXPECT_EQ(c.CaFile, "/tmp/mine.pem");
    EXPECT_EQ(c.Source, "--insecure");
    c = ReadTlsChoice(TSettingsFile::ReadFrom(dir.Write("b.ini", "[tls]\nverify=true\n")), std::nullopt, false);
    EXPECT_TRUE(c.Verify);
    EXPECT_TRUE(c.CaFile.empty());
    EXPECT_TRUE(TlsWarningLine(c).empty());
}

TEST(ServerSettings, AValueMayNameItsScheme) {
    EXPECT_EQ(ServerBase("127.0.0.1"), "http://127.0.0.1");
    EXPECT_EQ(ServerBase("host:8080"), "http://host:8080");
    EXPECT_EQ(ServerBase("https://host/"), "https://host");
    EXPECT_EQ(ServerBase("HTTPS://host:8443"), "https://host:8443");
}

TEST(NetworkFamily, TheCommandLineWinsAndAnUnknownValueIsSaid) {
    TScratchDir dir;
    const TSettingsFile six = TSettingsFile::ReadFrom(dir.Write("6.ini", "[network]\nip=6\n"));
    EXPECT_EQ(ReadNetworkFamily(six, std::nullopt), TWSocketFamily::IPv6);
    EXPECT_EQ(ReadNetworkFamily(six, TWSocketFamily::IPv4), TWSocketFamily::IPv4);
    std::string note;
    EXPECT_EQ(ReadNetworkFamily(TSettingsFile::ReadFrom(dir.Write("x.ini", "[network]\nip=ipv9\n")), std::nullopt, &note),
              TWSocketFamily::Any);
    EXPECT_NE(note.find("ip=ipv9"), std::string::npos);
}
