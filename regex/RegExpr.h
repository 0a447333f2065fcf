// SPDX-License-Identifier: Apache-2.0
#pragma once
// TRegExpr: a Perl-style regular expression compiled into a node program and matched by
// depth-first backtracking. One object holds a pattern (Expression), modifiers, the character
// lists that give \s, \w, \b and line breaks their meaning, a subject (InputString) and the
// result of the last search.
//
// Characters are bytes. The pattern and the subject end at their first NUL byte. Positions in
// the interface are 1-based, as offsets into the subject. Every failure raises ERegExpr through
// the virtual RaiseError; a search that finds nothing returns false and is not an error.
//
// An object is used by one thread at a time; separate objects are independent.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/Exception.h"

class RegExprMatcher;  // the backtracking machine (RegExprMatcher.h)
class RegExprSearch;   // the choice of start positions (RegExprSearch.h)

// The engine's exception. ErrorId is the error code; ErrorPos is CompilePos when it was raised
// (the parse cursor for compile errors, 0 otherwise).
class ERegExpr : public Exception {
public:
    ERegExpr(std::string message, int errorId, int errorPos)
        : Exception(std::move(message)), errorId_(errorId), errorPos_(errorPos) {}
    ~ERegExpr() override;

    int ErrorId() const noexcept { return errorId_; }
    int ErrorPos() const noexcept { return errorPos_; }
    const char* ClassName() const noexcept override { return "ERegExpr"; }

private:
    int errorId_;
    int errorPos_;
};

// The default case flipper: ASCII letters flip between upper and lower case; every other
// byte is returned unchanged (the code page's multi-byte trail bytes must stay as they are).
unsigned char FlipCase(unsigned char c);

// Process-wide defaults copied into every new object by its constructor.
struct TRegExprDefaults {
    static inline bool ModifierI = false;
    static inline bool ModifierR = true;
    static inline bool ModifierS = true;
    static inline bool ModifierG = true;
    static inline bool ModifierM = false;
    static inline std::string SpaceChars = std::string(" \t\n\r\f");
    static inline std::string WordChars =
        "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_";
    static inline std::string LineSeparators = "\r\n";
    static inline std::string LinePairedSeparator = "\r\n";
};

class TRegExpr {
public:
    // Modifier bits of the modifier set and of modifier strings.
    enum : int { ModI = 1, ModR = 2, ModS = 4, ModG = 8, ModM = 16, ModX = 32 };

    // A case flipper maps a character to its other-case partner (or to itself). It must be a
    // pure function of the character: the engine tabulates it when it is assigned.
    using TCaseFlipper = std::function<unsigned char(unsigned char)>;

    TRegExpr();
    TRegExpr(const TRegExpr&) = delete;
    TRegExpr& operator=(const TRegExpr&) = delete;
    virtual ~TRegExpr();

    // --- pattern and modifiers -------------------------------------------------------------

    // Assigning a different text (or any text while not compiled) marks the object not
    // compiled and drops the program; the next search compiles the new text. The empty text
    // leaves no expression: a search then raises 1003.
    const std::string& Expression() const noexcept { return expression_; }
    void SetExpression(std::string_view text);

    // index 1 = i, 2 = r, 3 = s, 4 = g, 5 = m, 6 = x; any other index raises 1013.
    // A change is noticed at the next search, which compiles again.
    bool ModifierFlag(int index);
    void SetModifierFlag(int index, bool on);
    int Modifiers() const noexcept { return modifiers_; }
    // The set as a modifier string, e.g. "rsg-imx".
    std::string ModifierStr() const;
    // Applies a modifier string to `modifiers`: read left to right, a '-' makes later letters
    // clear their bit; i r s g m x (either case) name the bits. Returns false (and leaves
    // `modifiers` alone) for any other character. The empty string is valid.
    static bool ParseModifiers(std::string_view text, int& modifiers);

    // --- character lists -------------------------------------------------------------------
    // Changing a list (or the case flipper) drops the program: compiled classes depend on them.
    const std::string& SpaceCharList() const noexcept { return spaceChars_; }
    void SetSpaceCharList(std::string_view chars);
    const std::string& WordCharList() const noexcept { return wordChars_; }
    void SetWordCharList(std::string_view chars);
    const std::string& LineSeparatorList() const noexcept { return lineSeparators_; }
    void SetLineSeparatorList(std::string_view chars);

    // Two different characters (head, tail) or the empty text (none). Anything else raises 128.
    std::string LinePairedSeparator() const;
    void SetLinePairedSeparator(std::string_view pair);

    const TCaseFlipper& CaseFlipper() const noexcept { return caseFlipper_; }
    void SetCaseFlipper(TCaseFlipper flipper);

    // --- subject and searching -------------------------------------------------------------

    // Reading without a subject raises 1008. Writing clears every capture slot.
    const std::string& InputString() const;
    void SetInputString(std::string_view text);

    // InputString := text, then search from offset 1.
    bool Exec(std::string_view text);
    // Searches the current subject from the 1-based offset. Offset < 1 raises 1006; an offset
    // beyond the subject's end + 1 finds nothing. No subject raises 1005.
    bool ExecPos(int offset = 1);
    // Continues after the last match (one character further when it was empty). Without a
    // previous successful search raises 1007.
    bool ExecNext();

    // Capture slot n (0 = whole match, 1..14 = groups) of the last search: its text, its
    // 1-based position and its length; "" / -1 / -1 when the slot is not set.
    std::string SubMatch(int n) const;
    int MatchPos(int n) const;
    int MatchLen(int n) const;

    // --- compiling -------------------------------------------------------------------------

    // Compiles Expression (raises 1003 without one). Searches call it on demand.
    void Prepare();
    bool Compiled() const noexcept { return compiled_; }
    // The parse cursor's 0-based offset during a compile; 0 otherwise.
    int CompilePos() const noexcept;

    // The compiled program (empty when there is none) and the analysis kept with it.
    const std::vector<std::uint8_t>& Program() const noexcept { return program_; }
    const std::array<std::uint8_t, 32>& FirstChars() const noexcept { return firstChars_; }
    unsigned char StartChar() const noexcept { return startChar_; }
    bool Anchored() const noexcept { return anchored_; }
    // The must-have literal (empty when there is none).
    std::string MustString() const;
    // Compiles when needed, then lists the program node by node with the analysis results.
    std::string Dump();

    // --- limits of a search ----------------------------------------------------------------

    // Bounds a search's backtracking in memory and in time; a search that goes past either
    // bound raises 1016 (the object stays usable):
    //  - the backtracking state it keeps at once (choice points plus undo records) stays below
    //    the limit: at the default of 4,000,000 about 100 MB at most;
    //  - it resumes at most limit + 16 x (positions from its offset to the subject's end)
    //    choice points. Exponential backtracking (such as (a|aa)*$ on a run of a's) thus ends
    //    after about the limit's number of resumes - well under a second at the default -
    //    while a search that backtracks a few times per character runs to its end.
    std::size_t BacktrackLimit() const noexcept { return backtrackLimit_; }
    void SetBacktrackLimit(std::size_t entries) noexcept { backtrackLimit_ = entries; }
    // The number of nodes one search may visit; 0 (the default) means no limit. At the limit a
    // search raises 1017. Meant for callers that run untrusted patterns.
    std::uint64_t StepLimit() const noexcept { return stepLimit_; }
    void SetStepLimit(std::uint64_t steps) noexcept { stepLimit_ = steps; }

    // --- errors ----------------------------------------------------------------------------

    // Records the code and raises ERegExpr; compile errors (code < 1000) carry " (pos N)".
    // An override may raise something else; if it returns, the plain ERegExpr is raised.
    virtual void RaiseError(int code);
    virtual std::string ErrorText(int code) const;
    int LastErrorCode() const noexcept { return lastErrorCode_; }

private:
    friend class RegExprMatcher;
    friend class RegExprSearch;

    bool BuildProgram(const std::string& pattern);
    bool EnsureProgram();
    bool ExecPrim(std::ptrdiff_t offset);
    void DropProgram() noexcept;
    void ClearSlots() noexcept;
    // Raises through RaiseError; if an override returns, raises the plain ERegExpr anyway.
    [[noreturn]] void Error(int code);

    // Pattern and program.
    std::string expression_;
    bool compiled_ = false;
    std::vector<std::uint8_t> program_;
    std::uint64_t programVersion_ = 1;  // changes with every program built or dropped
    int programModifiers_ = 0;
    int modifiers_ = 0;
    const std::size_t* compileCursor_ = nullptr;  // set while a compile runs

    // Analysis results.
    std::array<std::uint8_t, 32> firstChars_{};
    unsigned char startChar_ = 0;
    bool anchored_ = false;
    int mustString_ = 0;  // program offset of the literal's first character, 0 = none
    int mustLength_ = 0;
    int prefixLiteral_ = 0;           // literal node every match starts with, 0 = none
    std::vector<int> jumpBackNodes_;  // OpJumpBack nodes, for the matcher's empty-loop guard

    // Lists and case folding.
    std::string spaceChars_;
    std::string wordChars_;
    std::string lineSeparators_;
    bool pairedAssigned_ = false;
    unsigned char pairedHead_ = 0;
    unsigned char pairedTail_ = 0;
    TCaseFlipper caseFlipper_;
    std::array<unsigned char, 256> flipTable_{};
    // The lists as 256-bit sets, kept up to date by their writers.
    std::array<std::uint8_t, 32> sepSet_{};
    std::array<std::uint8_t, 32> wordSet_{};

    // Subject and result.
    bool hasSubject_ = false;
    std::string subject_;
    std::uint64_t subjectVersion_ = 1;  // changes with every InputString write
    std::array<std::ptrdiff_t, 15> startp_{};  // offsets into subject_, -1 = not set
    std::array<std::ptrdiff_t, 15> endp_{};

    std::size_t backtrackLimit_ = 4000000;
    std::uint64_t stepLimit_ = 0;
    int lastErrorCode_ = 0;

    std::unique_ptr<RegExprMatcher> matcher_;  // kept between searches to reuse its stacks
    std::unique_ptr<RegExprSearch> search_;    // kept between searches for what it learnt
};
