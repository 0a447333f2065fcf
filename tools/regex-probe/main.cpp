// SPDX-License-Identifier: Apache-2.0
// regex-probe: a small driver for trying patterns by hand.
//
//   regex-probe [-m MODIFIERS] [-q] [-n MAX] PATTERN [FILE]
//   regex-probe [-q] [-n MAX] /PATTERN/MODIFIERS [FILE]
//
// MODIFIERS is a modifier string applied to the defaults ("i", "m-g", "-s" ...). The subject is
// FILE, or standard input. Prints the program dump (unless -q), then the match of Exec and of
// each ExecNext (at most MAX matches) with 1-based offsets, lengths and groups. A compile or
// search error prints its code, position and text.
// Exit status: 0 when something matched, 1 when nothing did, 2 on an error or bad usage.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "regex/RegExpr.h"

namespace {

void Usage() {
    std::fprintf(stderr,
                 "usage: regex-probe [-m MODIFIERS] [-q] [-n MAX] PATTERN [FILE]\n"
                 "       regex-probe [-q] [-n MAX] /PATTERN/MODIFIERS [FILE]\n");
    std::exit(2);
}

// Text with non-printable bytes as \xHH, for one line of output.
std::string Printable(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

void PrintMatch(TRegExpr& re, const char* how, long number) {
    std::printf("%s: match %ld at %d len %d \"%s\"\n", how, number, re.MatchPos(0), re.MatchLen(0),
                Printable(re.SubMatch(0)).c_str());
    for (int n = 1; n < 15; ++n) {
        if (re.MatchPos(n) < 0) continue;
        std::printf("  group %d at %d len %d \"%s\"\n", n, re.MatchPos(n), re.MatchLen(n),
                    Printable(re.SubMatch(n)).c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string modifiers;
    bool quiet = false;
    long maxMatches = -1;
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
        const std::string opt = argv[i];
        if (opt == "-m" && i + 1 < argc) modifiers = argv[++i];
        else if (opt == "-q") quiet = true;
        else if (opt == "-n" && i + 1 < argc) maxMatches = std::strtol(argv[++i], nullptr, 10);
        else if (opt == "--") { ++i; break; }
        else Usage();
    }
    if (i >= argc) Usage();
    std::string pattern = argv[i++];
    if (pattern.size() >= 2 && pattern[0] == '/') {
        const std::size_t close = pattern.rfind('/');
        if (close > 0) {
            modifiers = pattern.substr(close + 1);
            pattern = pattern.substr(1, close - 1);
        }
    }

    std::string subject;
    if (i < argc) {
        std::ifstream in(argv[i], std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "regex-probe: cannot read %s\n", argv[i]);
            return 2;
        }
        subject.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } else {
        std::ostringstream all;
        all << std::cin.rdbuf();
        subject = all.str();
    }

    TRegExpr re;
    int mods = re.Modifiers();
    if (!TRegExpr::ParseModifiers(modifiers, mods)) {
        std::fprintf(stderr, "regex-probe: bad modifiers \"%s\"\n", modifiers.c_str());
        return 2;
    }
    for (int index = 1; index <= 6; ++index) re.SetModifierFlag(index, (mods >> (index - 1)) & 1);

    try {
        re.SetExpression(pattern);
        std::printf("Pattern: %s\nModifiers: %s\n", Printable(pattern).c_str(), re.ModifierStr().c_str());
        if (!quiet) std::fputs(re.Dump().c_str(), stdout);
        long count = 0;
        bool found = re.Exec(subject);
        if (!found) std::printf("Exec: no match\n");
        const char* how = "Exec";
        while (found) {
            ++count;
            PrintMatch(re, how, count);
            if (maxMatches >= 0 && count >= maxMatches) break;
            how = "ExecNext";
            found = re.ExecNext();
            if (!found) std::printf("ExecNext: no match\n");
        }
        std::printf("Matches: %ld\n", count);
        return count > 0 ? 0 : 1;
    } catch (const ERegExpr& e) {
        std::printf("Error %d at position %d: %s\n", e.ErrorId(), e.ErrorPos(), e.Message().c_str());
        return 2;
    }
}
