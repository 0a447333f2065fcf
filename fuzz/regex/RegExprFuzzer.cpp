// SPDX-License-Identifier: Apache-2.0
// Input: one byte of modifier bits, then the pattern up to the first NUL byte, then the
// subject. Compiles, lists the program, runs Exec and the ExecNext chain and checks that every
// reported position lies inside the subject; then searches another text of the same length and
// the subject again, which must give the first result again (what the search learnt about one
// subject must not carry over to the next). The search limits turn exponential patterns into an
// ERegExpr instead of a timeout.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "regex/RegExpr.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

void CheckSlots(const TRegExpr& re, std::size_t subjectLength) {
    Check(re.MatchPos(0) >= 1 && re.MatchLen(0) >= 0);
    for (int n = 0; n < 15; ++n) {
        const int pos = re.MatchPos(n);
        if (pos < 0) {
            Check(re.SubMatch(n).empty());
            continue;
        }
        Check(static_cast<std::size_t>(pos - 1 + re.MatchLen(n)) <= subjectLength);
        Check(re.SubMatch(n).size() == static_cast<std::size_t>(re.MatchLen(n)));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const int modifiers = data[0] & 0x3F;
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::size_t nul = rest.find('\0');
    const std::string_view pattern = rest.substr(0, nul);
    const std::string_view subject = nul == std::string_view::npos ? std::string_view() : rest.substr(nul + 1);

    TRegExpr re;
    for (int index = 1; index <= 6; ++index) re.SetModifierFlag(index, (modifiers >> (index - 1)) & 1);
    if (data[0] & 0x40) re.SetLinePairedSeparator("");
    if (data[0] & 0x80) re.SetWordCharList("ab_");
    re.SetStepLimit(200000);
    re.SetBacktrackLimit(200000);
    re.SetExpression(pattern);
    try {
        re.Prepare();
        const std::string dump = re.Dump();
        Check(!dump.empty());
    } catch (const ERegExpr& e) {
        Check((e.ErrorId() < 1000 || (e.ErrorId() == 1003 && pattern.empty())) && re.Program().empty() &&
              re.CompilePos() == 0);
        return 0;
    }
    try {
        bool found = re.Exec(subject);
        const int firstPos = re.MatchPos(0);
        const int firstLen = re.MatchLen(0);
        const std::size_t length = re.InputString().size();
        Check(length <= subject.size());
        for (int step = 0; found && step < 64; ++step) {
            CheckSlots(re, length);
            found = re.ExecNext();
        }
        if (!found) Check(re.MatchPos(0) == -1);

        re.Exec(std::string(subject.rbegin(), subject.rend()));
        Check(re.Exec(subject) == (firstPos >= 0) && re.MatchPos(0) == firstPos && re.MatchLen(0) == firstLen);
    } catch (const ERegExpr& e) {
        Check(e.ErrorId() == 1014 || e.ErrorId() == 1016 || e.ErrorId() == 1017);
    }
    return 0;
}
