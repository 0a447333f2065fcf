// SPDX-License-Identifier: Apache-2.0
#pragma once
// The two-pass compiler from a pattern to a node program (layout in RegExprProgram.h).
// The first pass only measures; the second writes into a buffer of exactly that size. Both
// passes make the same decisions, so every position computed in the second pass is final.
//
// Errors are thrown as regexpr::Failure; the owner turns them into ERegExpr while Cursor()
// still tells where the parse stopped.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace regexpr {

// An engine error on its way to TRegExpr::RaiseError.
struct Failure {
    int code;
};

// What a compile reads from its object besides the pattern.
struct CompileSettings {
    int modifiers = 0;
    std::string_view spaceChars;
    std::string_view wordChars;
    bool lineSeparatorsEmpty = false;
    bool pairedAssigned = false;
    const std::array<unsigned char, 256>* flip = nullptr;
};

// Parse flags returned by each parse step.
enum ParseFlag : int { FlagWidth = 1, FlagSingle = 2, FlagLeadRepeat = 4 };

class Compiler {
public:
    explicit Compiler(const CompileSettings& settings) : settings_(settings) {}

    // Compiles `pattern` (already cut at its first NUL). Returns the program; `flags` receives
    // the whole pattern's parse flags (the analysis needs the leading-repeat bit).
    std::vector<std::uint8_t> Compile(std::string_view pattern, int& flags);

    // The parse cursor as an offset into the pattern; valid during and right after Compile.
    const std::size_t& Cursor() const noexcept { return p_; }

private:
    // Parse steps; each returns its first node and sets its flags.
    int ParseReg(bool inGroup, int& flags);
    int ParseAlternative(int& flags);
    int ParseQuantified(int& flags);
    int ParseAtom(int& flags);
    int ParseEscape(int& flags);
    int ParseLiteralRun(int& flags);
    int ParseClass();
    unsigned char DecodeEscape();
    // Emits a class node for `members` (an empty class becomes an empty 32-byte set).
    int EmitClass(std::array<std::uint8_t, 32> members, bool negated);
    int EmitListClass(std::string_view chars, bool negated);
    int EmitLoop(int atom, std::int32_t min, std::int32_t max, bool lazy);

    // Emitting. During the measuring pass nothing is written and links are left alone, but the
    // emit cursor advances the same way, so it ends at the program's size.
    void Reserve(int bytes);
    int EmitOp(std::uint8_t op);
    void EmitByte(std::uint8_t b);
    void EmitInt32(std::int32_t v);
    void InsertOp(std::uint8_t op, int at, int size);
    void LinkTail(int chain, int target);
    void LinkBranchTail(int node, int target);
    int NextNode(int node) const;

    [[noreturn]] void Fail(int code) { throw Failure{code}; }
    unsigned char Ch(std::size_t at) const { return at < pattern_.size() ? static_cast<unsigned char>(pattern_[at]) : 0; }
    unsigned char Ch() const { return Ch(p_); }
    bool AtEnd() const { return p_ >= pattern_.size(); }
    bool Has(int modifier) const { return (mods_ & modifier) != 0; }

    const CompileSettings& settings_;
    std::string_view pattern_;
    std::size_t p_ = 0;
    int nextGroup_ = 1;
    int mods_ = 0;
    bool measuring_ = true;
    int emit_ = 0;
    std::vector<std::uint8_t> buf_;
};

}  // namespace regexpr
