// SPDX-License-Identifier: Apache-2.0
#pragma once
// A throw-away authority and server certificates, made with the openssl program in a
// scratch folder when the object is built (no key is ever committed). Every server
// certificate is an EC P-256 key for 127.0.0.1 and "localhost" unless its name says
// otherwise. Why() is empty when everything was made.
#include <string>

#include "support/ChildProcess.h"

class TTestPki {
public:
    TTestPki();
    const std::string& Why() const { return why_; }

    struct TPair {
        std::string Cert;  // PEM files
        std::string Key;
    };
    std::string CaFile() const { return dir_.File("ca.pem"); }
    TPair Server() const { return {dir_.File("server.pem"), dir_.File("server.key")}; }
    TPair WrongName() const { return {dir_.File("wrong.pem"), dir_.File("wrong.key")}; }   // other.example only
    TPair Expired() const { return {dir_.File("expired.pem"), dir_.File("server.key")}; }  // valid in January 2020
    TPair SelfSigned() const { return {dir_.File("self.pem"), dir_.File("self.key")}; }   // not by the authority

private:
    bool Run(const std::string& command);
    TScratchDir dir_;
    std::string why_;
};
