// SPDX-License-Identifier: Apache-2.0
#include "app/settings/tlsSettings.h"

#include "app/settings/settingsFile.h"
#include "base/SysUtils.h"
#include "socket/WSocketTlsConfig.h"

namespace {

TTlsChoice& Current() {
    static TTlsChoice choice;
    return choice;
}

}  // namespace

TTlsChoice ReadTlsChoice(const TSettingsFile& ini, const std::optional<std::string>& caFileArg, bool insecureArg) {
    TTlsChoice c;
    c.CaFile = caFileArg ? *caFileArg : ini.Value("tls", "ca-file");
    const std::string verify = LowerCase(ini.Value("tls", "verify"));
    if (verify == "false" || verify == "no" || verify == "off" || verify == "0") {
        c.Verify = false;
        c.Source = "[tls] verify=false";
    }
    if (insecureArg) {
        c.Verify = false;
        c.Source = "--insecure";
    }
    return c;
}

void ApplyTlsChoice(const TTlsChoice& choice) {
    TTlsSettings s;
    s.CaFile = choice.CaFile;
    s.Verify = choice.Verify;
    TlsSetSettings(s);
    Current() = choice;
}

std::string TlsWarningLine(const TTlsChoice& choice) {
    if (choice.Verify) return {};
    // 警告：不验证服务器证书（%s），HTTPS 连接可能被冒充
    return Format("\xBE\xAF\xB8\xE6\xA3\xBA\xB2\xBB\xD1\xE9\xD6\xA4\xB7\xFE\xCE\xF1\xC6\xF7\xD6\xA4\xCA\xE9\xA3\xA8%s"
                  "\xA3\xA9\xA3\xAC" "HTTPS \xC1\xAC\xBD\xD3\xBF\xC9\xC4\xDC\xB1\xBB\xC3\xB0\xB3\xE4",
                  choice.Source.c_str());
}

const TTlsChoice& CurrentTlsChoice() { return Current(); }
