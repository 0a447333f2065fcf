// SPDX-License-Identifier: Apache-2.0
#include "support/TestPki.h"

#include <cstdlib>
#include <fstream>

namespace {

const char* const kConfig = R"([req]
distinguished_name = dn
prompt = no
[dn]
CN = Fotaviq test authority
[ca_ext]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[server_ext]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1,DNS:localhost
[wrong_ext]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:other.example
[ca]
default_ca = testca
[testca]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = anything
[anything]
commonName = supplied
)";

const char* const kNewKey = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";

}  // namespace

bool TTestPki::Run(const std::string& command) {
    if (!why_.empty()) return false;
    const std::string line = "cd '" + dir_.Path() + "' && openssl " + command + " >>openssl.log 2>&1";
    if (std::system(line.c_str()) != 0) why_ = "openssl failed: openssl " + command;
    return why_.empty();
}

TTestPki::TTestPki() {
    if (FindProgram("openssl").empty()) {
        why_ = "the openssl program is not installed";
        return;
    }
    std::ofstream(dir_.File("pki.cnf")) << kConfig;
    std::ofstream(dir_.File("index.txt"));
    std::ofstream(dir_.File("serial")) << "1000\n";
    const std::string sign = " -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 -extfile pki.cnf";
    Run(std::string("req -x509 -config pki.cnf -extensions ca_ext") + kNewKey + " -keyout ca.key -out ca.pem -days 30");
    Run(std::string("req -new -config pki.cnf") + kNewKey + " -keyout server.key -out server.csr -subj /CN=127.0.0.1");
    Run("x509 -req -in server.csr -out server.pem -extensions server_ext" + sign);
    Run(std::string("req -new -config pki.cnf") + kNewKey + " -keyout wrong.key -out wrong.csr -subj /CN=other.example");
    Run("x509 -req -in wrong.csr -out wrong.pem -extensions wrong_ext" + sign);
    // openssl x509 of OpenSSL 3.0 cannot date a certificate in the past; openssl ca can.
    Run("ca -batch -config pki.cnf -cert ca.pem -keyfile ca.key -in server.csr -out expired.pem -notext"
        " -startdate 20200101000000Z -enddate 20200201000000Z -extensions server_ext -extfile pki.cnf");
    Run(std::string("req -x509 -config pki.cnf -extensions server_ext") + kNewKey +
        " -keyout self.key -out self.pem -days 30 -subj /CN=127.0.0.1");
}
