// SPDX-License-Identifier: Apache-2.0
// Random patterns and subjects, matched by this engine and by PCRE2's interpreter. The
// generated family stays where both define the same result: leftmost-first backtracking,
// greedy and lazy quantifiers, groups, alternation, classes, anchors, word edges and
// back-references to closed groups, with and without the i, s and m modifiers. Subjects
// hold no CR, where the two differ on line breaks.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "regex/RegExpr.h"

namespace {

class PatternGenerator {
public:
    explicit PatternGenerator(std::mt19937& rng) : rng_(rng) {}

    std::string Make() {
        groups_ = 0;
        closed_.clear();
        return Alternation(0);
    }
    int Groups() const { return groups_; }

private:
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

    std::string Alternation(int depth) {
        std::string out = Sequence(depth);
        const int extra = Pick(4) == 0 ? 1 + Pick(2) : 0;
        for (int i = 0; i < extra; ++i) out += "|" + Sequence(depth);
        return out;
    }

    std::string Sequence(int depth) {
        std::string out;
        const int pieces = Pick(depth == 0 ? 5 : 4) + (depth == 0 ? 1 : 0);
        for (int i = 0; i < pieces; ++i) out += Piece(depth);
        return out;
    }

    std::string Piece(int depth) {
        bool quantifiable = true;
        const std::string atom = Atom(depth, quantifiable);
        if (!quantifiable || Pick(3) != 0) return atom;
        static const char* const kQuantifiers[] = {"*", "+", "?", "{2}", "{1,}", "{0,2}", "{1,3}", "{0,1}"};
        std::string q = kQuantifiers[Pick(8)];
        if (Pick(3) == 0) q += "?";
        return atom + q;
    }

    std::string Atom(int depth, bool& quantifiable) {
        quantifiable = true;
        switch (Pick(16)) {
        case 0: case 1: case 2: case 3: return std::string(1, "abc"[Pick(3)]);
        case 4: return ".";
        case 5: {
            static const char* const kClasses[] = {"[ab]", "[^a]", "[a-c]", "[^bc]", "[a\\d]", "[\\w]", "[^\\s]", "[b-c ]"};
            return kClasses[Pick(8)];
        }
        case 6: {
            static const char* const kEscapes[] = {"\\d", "\\w", "\\s", "\\W", "\\S", "\\D", "\\n", "\\x61"};
            return kEscapes[Pick(8)];
        }
        case 7: case 8: case 9: case 10:
            if (depth < 3 && groups_ < 9) {
                const int n = ++groups_;
                std::string inner = Alternation(depth + 1);
                closed_.push_back(n);
                return "(" + inner + ")";
            }
            return "a";
        case 11:
            quantifiable = false;
            return Pick(2) ? "^" : "$";
        case 12:
            quantifiable = false;
            return Pick(2) ? "\\b" : "\\B";
        case 13:
            if (!closed_.empty()) return "\\" + std::to_string(closed_[Pick(static_cast<int>(closed_.size()))]);
            return "b";
        default:
            return std::string(1, "ab"[Pick(2)]);
        }
    }

    std::mt19937& rng_;
    int groups_ = 0;
    std::vector<int> closed_;
};

// Without the g modifier every quantifier is lazy, whether marked or not; PCRE2's ungreedy
// option would turn marked ones greedy instead, so the PCRE2 pattern gets every mark spelled out.
// In the generated family *, +, ? and } occur only as quantifiers.
std::string AllLazy(const std::string& pattern) {
    std::string out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        out += c;
        if (c == '\\' && i + 1 < pattern.size()) {
            out += pattern[++i];
            continue;
        }
        if (c == '*' || c == '+' || c == '?' || c == '}') {
            out += '?';
            if (i + 1 < pattern.size() && pattern[i + 1] == '?') ++i;
        }
    }
    return out;
}

struct Match {
    bool found = false;
    std::vector<std::pair<long, long>> slots;  // (0-based start, length), (-1, -1) when unset
};

class Pcre {
public:
    Pcre(const std::string& pattern, int modifiers) {
        context_ = pcre2_compile_context_create(nullptr);
        pcre2_set_newline(context_, PCRE2_NEWLINE_ANYCRLF);
        uint32_t options = PCRE2_DOLLAR_ENDONLY;
        if (modifiers & TRegExpr::ModI) options |= PCRE2_CASELESS;
        if (modifiers & TRegExpr::ModS) options |= PCRE2_DOTALL;
        if (modifiers & TRegExpr::ModM) options |= PCRE2_MULTILINE | PCRE2_ALT_CIRCUMFLEX;
        int error = 0;
        PCRE2_SIZE offset = 0;
        code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), options, &error, &offset,
                              context_);
        if (code_) data_ = pcre2_match_data_create_from_pattern(code_, nullptr);
    }
    ~Pcre() {
        if (data_) pcre2_match_data_free(data_);
        if (code_) pcre2_code_free(code_);
        pcre2_compile_context_free(context_);
    }
    bool Ok() const { return code_ != nullptr; }

    Match Run(const std::string& subject, std::size_t offset, int groups) {
        Match m;
        const int rc = pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), offset, 0,
                                   data_, nullptr);
        if (rc < 0) return m;
        m.found = true;
        const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data_);
        for (int n = 0; n <= groups; ++n) {
            if (n >= rc || ov[2 * n] == PCRE2_UNSET) m.slots.emplace_back(-1, -1);
            else m.slots.emplace_back(static_cast<long>(ov[2 * n]), static_cast<long>(ov[2 * n + 1] - ov[2 * n]));
        }
        return m;
    }

private:
    pcre2_compile_context* context_ = nullptr;
    pcre2_code* code_ = nullptr;
    pcre2_match_data* data_ = nullptr;
};

Match Ours(TRegExpr& re, bool found, int groups) {
    Match m;
    if (!found) return m;
    m.found = true;
    for (int n = 0; n <= groups; ++n) {
        if (re.MatchPos(n) < 0) m.slots.emplace_back(-1, -1);
        else m.slots.emplace_back(re.MatchPos(n) - 1, re.MatchLen(n));
    }
    return m;
}

std::string Describe(const Match& m) {
    if (!m.found) return "no match";
    std::string out;
    for (std::size_t n = 0; n < m.slots.size(); ++n)
        out += "[" + std::to_string(n) + "] " + std::to_string(m.slots[n].first) + "+" +
               std::to_string(m.slots[n].second) + " ";
    return out;
}

std::string Visible(const std::string& s) {
    std::string out;
    for (char c : s) out += c == '\n' ? std::string("\\n") : c == '\0' ? std::string("\\0") : std::string(1, c);
    return out;
}

// Exec on subject, then the ExecNext chain (at most maxSteps searches), each compared with
// PCRE2 on reference (the subject as PCRE2 must see it) from the same offset. Counts the
// searches compared and the matches among them.
void CompareChain(TRegExpr& re, Pcre& pcre, const std::string& subject, const std::string& reference, int groups,
                  int maxSteps, int& compared, int& matched) {
    bool found = re.Exec(subject);
    std::size_t offset = 0;
    for (int step = 0; step < maxSteps; ++step) {
        const Match expected = pcre.Run(reference, offset, groups);
        const Match actual = Ours(re, found, groups);
        ++compared;
        ASSERT_EQ(Describe(actual), Describe(expected)) << "at offset " << offset;
        if (!found) break;
        ++matched;
        offset = static_cast<std::size_t>(actual.slots[0].first + actual.slots[0].second);
        if (actual.slots[0].second == 0) ++offset;
        if (offset > reference.size()) break;
        found = re.ExecNext();
    }
}

TEST(RegExprDifferential, AgreesWithPcreOnRandomPatterns) {
    const unsigned seed = 20240611;
    std::mt19937 rng(seed);
    PatternGenerator generator(rng);
    int compared = 0;
    int matched = 0;
    for (int round = 0; round < 12000 && !HasFailure(); ++round) {
        const std::string pattern = generator.Make();
        const int groups = generator.Groups();
        int modifiers = TRegExpr::ModR | TRegExpr::ModS | TRegExpr::ModG;
        const int variant = std::uniform_int_distribution<int>(0, 9)(rng);
        if (variant == 1) modifiers |= TRegExpr::ModI;
        if (variant == 2) modifiers &= ~TRegExpr::ModS;
        if (variant == 3) modifiers |= TRegExpr::ModM;
        if (variant == 4) modifiers &= ~TRegExpr::ModG;

        TRegExpr re;
        for (int index = 1; index <= 6; ++index) re.SetModifierFlag(index, (modifiers >> (index - 1)) & 1);
        re.SetExpression(pattern);
        try {
            re.Prepare();
        } catch (const ERegExpr&) {
            continue;  // outside the family (an empty operand of * or +, for one)
        }
        Pcre pcre(modifiers & TRegExpr::ModG ? pattern : AllLazy(pattern), modifiers);
        ASSERT_TRUE(pcre.Ok()) << "PCRE2 rejects " << pattern;

        for (int s = 0; s < 4; ++s) {
            std::string subject;
            const int len = std::uniform_int_distribution<int>(0, 10)(rng);
            const char* alphabet = variant == 1 ? "abcAB" : (s == 3 ? "ab\n c1" : "abc");
            const int letters = static_cast<int>(std::char_traits<char>::length(alphabet));
            for (int i = 0; i < len; ++i) subject += alphabet[std::uniform_int_distribution<int>(0, letters - 1)(rng)];

            SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round) + " pattern /" +
                         pattern + "/ modifiers " + re.ModifierStr() + " subject \"" + Visible(subject) + "\"");
            CompareChain(re, pcre, subject, subject, groups, 12, compared, matched);
            if (HasFatalFailure()) return;
        }
    }
    RecordProperty("compared", compared);
    RecordProperty("matched", matched);
    EXPECT_GT(compared, 30000);
    EXPECT_GT(matched, 10000);
}

// Patterns and subjects aimed at the search shortcuts: a literal every match starts with
// (found through one of its bytes, which moves to a rarer one after many near misses), a
// repeat followed by a literal (scanned for instead of tried count by count, with no choice
// point when nothing after it can fail), small first-character sets, the must-have literal,
// case-insensitive literals, line anchors, NUL bytes (the subject ends at the first) and
// literals at the subject's end. Subjects are made of the patterns' own pieces, so candidates
// overlap and nearly match.
TEST(RegExprDifferential, SearchShortcutsAgreeWithPcre) {
    const unsigned seed = 20261208;
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    const char* const heads[] = {"ab", "\"k\":\"", "abc", "a", "aab", "b\"a"};
    const char* const repeats[] = {".*?", ".*", "[^c]*?", "[^c]*", ".+?", "\\w*", "[a-c]{0,3}?", "b*", "\\d+?"};
    const char* const tails[] = {"c", "cd", "\"", "b", "ab", "\"k\""};
    const char* const pieces[] = {"ab", "a", "b", "abc", "c", "cd", "\"k\":\"", "\"k\"", ":\"", "x", "AB", "aB", "\n", "d", "1", "\""};
    int compared = 0;
    int matched = 0;
    for (int round = 0; round < 3000 && !HasFailure(); ++round) {
        const std::string head = heads[pick(6)];
        const std::string repeat = repeats[pick(9)];
        const std::string tail = tails[pick(6)];
        std::string pattern;
        switch (pick(9)) {
        case 0: pattern = head + "(" + repeat + ")" + tail; break;
        case 8: pattern = head + "(" + repeat + ")(" + tail + ")" + (pick(2) ? "b" : "[bd]"); break;  // may fail after it
        case 1: pattern = "^" + head + repeat + tail; break;
        case 2: pattern = "\\b" + head + "(" + repeat + ")"; break;
        case 3: pattern = "(" + head + "|" + tail + ")" + repeat + tail; break;
        case 4: pattern = "x*" + head + repeat + tail; break;
        case 5: pattern = head + repeat + "$"; break;
        case 6: pattern = "[ax]" + repeat + tail; break;
        default: pattern = head + "(" + repeat + ")(" + tail + ")"; break;
        }
        int modifiers = TRegExpr::ModR | TRegExpr::ModS | TRegExpr::ModG;
        switch (pick(6)) {
        case 1: modifiers |= TRegExpr::ModI; break;
        case 2: modifiers |= TRegExpr::ModM; break;
        case 3: modifiers &= ~TRegExpr::ModG; break;
        case 4: modifiers &= ~TRegExpr::ModS; break;
        default: break;
        }
        TRegExpr re;
        for (int index = 1; index <= 6; ++index) re.SetModifierFlag(index, (modifiers >> (index - 1)) & 1);
        re.SetExpression(pattern);
        re.Prepare();
        Pcre pcre(modifiers & TRegExpr::ModG ? pattern : AllLazy(pattern), modifiers);
        ASSERT_TRUE(pcre.Ok()) << "PCRE2 rejects " << pattern;
        const int groups = 2;

        for (int s = 0; s < 3; ++s) {
            // Mostly short subjects; some long enough for the literal's byte to be changed.
            const std::size_t target = pick(4) == 0 ? 300 + pick(2000) : pick(40);
            std::string subject;
            while (subject.size() < target) subject += pieces[pick(16)];
            if (pick(3) == 0) subject += pick(2) ? head : head + "zz" + tail;  // at the very end
            if (pick(6) == 0) subject.insert(static_cast<std::size_t>(pick(static_cast<int>(subject.size()) + 1)), 1, '\0');
            const std::string upToNul = subject.substr(0, subject.find('\0'));

            SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round) + " pattern /" +
                         pattern + "/ modifiers " + re.ModifierStr() + " subject \"" + Visible(subject) + "\"");
            CompareChain(re, pcre, subject, upToNul, groups, 60, compared, matched);
            if (HasFatalFailure()) return;
        }
    }
    RecordProperty("compared", compared);
    RecordProperty("matched", matched);
    EXPECT_GT(compared, 30000);
    EXPECT_GT(matched, 20000);
}

}  // namespace
