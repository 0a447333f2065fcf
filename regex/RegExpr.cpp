// SPDX-License-Identifier: Apache-2.0
// The TRegExpr object: properties, compiling on demand and the search.
#include "regex/RegExpr.h"

#include <cstring>

#include "regex/RegExprAnalysis.h"
#include "regex/RegExprCompiler.h"
#include "regex/RegExprDump.h"
#include "regex/RegExprMatcher.h"
#include "regex/RegExprProgram.h"
#include "regex/RegExprSearch.h"

namespace {

// Texts end at their first NUL byte.
std::string_view UpToNul(std::string_view text) {
    const std::size_t nul = text.find('\0');
    return nul == std::string_view::npos ? text : text.substr(0, nul);
}

std::array<std::uint8_t, 32> SetOf(std::string_view chars) {
    std::array<std::uint8_t, 32> set{};
    for (char ch : chars) {
        const auto c = static_cast<unsigned char>(ch);
        set[c >> 3] |= static_cast<std::uint8_t>(1u << (c & 7));
    }
    return set;
}

}  // namespace

unsigned char FlipCase(unsigned char c) {
    if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c - 'A' + 'a');
    return c;
}

TRegExpr::TRegExpr()
    : matcher_(std::make_unique<RegExprMatcher>(*this)), search_(std::make_unique<RegExprSearch>(*this, *matcher_)) {
    SetModifierFlag(1, TRegExprDefaults::ModifierI);
    SetModifierFlag(2, TRegExprDefaults::ModifierR);
    SetModifierFlag(3, TRegExprDefaults::ModifierS);
    SetModifierFlag(4, TRegExprDefaults::ModifierG);
    SetModifierFlag(5, TRegExprDefaults::ModifierM);
    spaceChars_ = TRegExprDefaults::SpaceChars;
    wordChars_ = TRegExprDefaults::WordChars;
    wordSet_ = SetOf(wordChars_);
    lineSeparators_ = TRegExprDefaults::LineSeparators;
    sepSet_ = SetOf(lineSeparators_);
    SetCaseFlipper(FlipCase);
    SetLinePairedSeparator(TRegExprDefaults::LinePairedSeparator);
    ClearSlots();
}

TRegExpr::~TRegExpr() = default;

// --- pattern and modifiers ---------------------------------------------------------------

void TRegExpr::SetExpression(std::string_view text) {
    text = UpToNul(text);
    if (text == expression_ && compiled_) return;
    compiled_ = false;
    expression_.assign(text);
    // Dropped for the empty text too: a search must not go on running an earlier pattern.
    DropProgram();
}

static int ModifierBitOf(int index) { return index >= 1 && index <= 6 ? 1 << (index - 1) : 0; }

bool TRegExpr::ModifierFlag(int index) {
    const int bit = ModifierBitOf(index);
    if (bit == 0) Error(1013);
    return (modifiers_ & bit) != 0;
}

void TRegExpr::SetModifierFlag(int index, bool on) {
    const int bit = ModifierBitOf(index);
    if (bit == 0) Error(1013);
    modifiers_ = on ? (modifiers_ | bit) : (modifiers_ & ~bit);
}

std::string TRegExpr::ModifierStr() const { return regexpr::ModifierString(modifiers_); }

bool TRegExpr::ParseModifiers(std::string_view text, int& modifiers) {
    return regexpr::ParseModifierString(text, modifiers);
}

// --- lists -------------------------------------------------------------------------------

void TRegExpr::SetSpaceCharList(std::string_view chars) {
    if (chars == spaceChars_) return;
    spaceChars_.assign(chars);
    DropProgram();
}

void TRegExpr::SetWordCharList(std::string_view chars) {
    if (chars == wordChars_) return;
    wordChars_.assign(chars);
    wordSet_ = SetOf(wordChars_);
    DropProgram();
}

void TRegExpr::SetLineSeparatorList(std::string_view chars) {
    if (chars == lineSeparators_) return;
    lineSeparators_.assign(chars);
    sepSet_ = SetOf(lineSeparators_);
    DropProgram();
}

std::string TRegExpr::LinePairedSeparator() const {
    if (!pairedAssigned_) return {};
    return std::string{static_cast<char>(pairedHead_), static_cast<char>(pairedTail_)};
}

void TRegExpr::SetLinePairedSeparator(std::string_view pair) {
    if (pair.size() == 2) {
        const auto head = static_cast<unsigned char>(pair[0]);
        const auto tail = static_cast<unsigned char>(pair[1]);
        if (head == tail) Error(128);
        if (pairedAssigned_ && head == pairedHead_ && tail == pairedTail_) return;
        pairedAssigned_ = true;
        pairedHead_ = head;
        pairedTail_ = tail;
        DropProgram();
    } else if (pair.empty()) {
        if (!pairedAssigned_) return;
        pairedAssigned_ = false;
        pairedHead_ = pairedTail_ = 0;
        DropProgram();
    } else {
        Error(128);
    }
}

void TRegExpr::SetCaseFlipper(TCaseFlipper flipper) {
    caseFlipper_ = std::move(flipper);
    for (int c = 0; c < 256; ++c) {
        const auto ch = static_cast<unsigned char>(c);
        flipTable_[c] = caseFlipper_ ? caseFlipper_(ch) : ch;
    }
    DropProgram();
}

// --- subject and results -----------------------------------------------------------------

const std::string& TRegExpr::InputString() const {
    if (!hasSubject_) const_cast<TRegExpr*>(this)->Error(1008);
    return subject_;
}

void TRegExpr::SetInputString(std::string_view text) {
    ClearSlots();
    subject_.assign(UpToNul(text));
    hasSubject_ = true;
    ++subjectVersion_;
}

void TRegExpr::ClearSlots() noexcept {
    // -1 is all bits set.
    std::memset(startp_.data(), 0xFF, sizeof startp_);
    std::memset(endp_.data(), 0xFF, sizeof endp_);
}

std::string TRegExpr::SubMatch(int n) const {
    if (n < 0 || n >= regexpr::SubExpMax || !hasSubject_ || startp_[n] < 0 || endp_[n] < startp_[n]) return {};
    return subject_.substr(static_cast<std::size_t>(startp_[n]), static_cast<std::size_t>(endp_[n] - startp_[n]));
}

int TRegExpr::MatchPos(int n) const {
    if (n < 0 || n >= regexpr::SubExpMax || startp_[n] < 0 || endp_[n] < startp_[n]) return -1;
    return static_cast<int>(startp_[n] + 1);
}

int TRegExpr::MatchLen(int n) const {
    if (n < 0 || n >= regexpr::SubExpMax || startp_[n] < 0 || endp_[n] < startp_[n]) return -1;
    return static_cast<int>(endp_[n] - startp_[n]);
}

// --- compiling ---------------------------------------------------------------------------

int TRegExpr::CompilePos() const noexcept { return compileCursor_ ? static_cast<int>(*compileCursor_) : 0; }

void TRegExpr::DropProgram() noexcept {
    program_.clear();
    ++programVersion_;
    prefixLiteral_ = 0;
    firstChars_.fill(0);
    startChar_ = 0;
    anchored_ = false;
    mustString_ = 0;
    mustLength_ = 0;
    jumpBackNodes_.clear();
}

std::string TRegExpr::MustString() const {
    if (mustString_ == 0 || program_.empty()) return {};
    return std::string(reinterpret_cast<const char*>(&program_[mustString_]), static_cast<std::size_t>(mustLength_));
}

void TRegExpr::Prepare() {
    if (expression_.empty()) Error(1003);
    BuildProgram(expression_);
}

bool TRegExpr::BuildProgram(const std::string& pattern) {
    DropProgram();
    programModifiers_ = modifiers_;
    regexpr::CompileSettings settings;
    settings.modifiers = modifiers_;
    settings.spaceChars = spaceChars_;
    settings.wordChars = wordChars_;
    settings.lineSeparatorsEmpty = lineSeparators_.empty();
    settings.pairedAssigned = pairedAssigned_;
    settings.flip = &flipTable_;
    regexpr::Compiler compiler(settings);

    // CompilePos reads the compiler's cursor until the error has been raised.
    struct CursorScope {
        const std::size_t*& cursor;
        ~CursorScope() { cursor = nullptr; }
    } scope{compileCursor_};
    compileCursor_ = &compiler.Cursor();
    try {
        int flags = 0;
        std::vector<std::uint8_t> program = compiler.Compile(pattern, flags);
        regexpr::AnalysisSettings analysisSettings;
        analysisSettings.lineSeparators = lineSeparators_;
        analysisSettings.pairedAssigned = pairedAssigned_;
        analysisSettings.pairedHead = pairedHead_;
        analysisSettings.flip = &flipTable_;
        regexpr::Analysis analysis = regexpr::Analyse(program, flags, analysisSettings);
        program_ = std::move(program);
        firstChars_ = analysis.firstChars;
        startChar_ = analysis.startChar;
        anchored_ = analysis.anchored;
        mustString_ = analysis.mustString;
        mustLength_ = analysis.mustLength;
        prefixLiteral_ = analysis.prefixLiteral;
        jumpBackNodes_ = std::move(analysis.jumpBacks);
        ++programVersion_;
    } catch (const regexpr::Failure& failure) {
        DropProgram();
        compiled_ = false;
        Error(failure.code);
    }
    compiled_ = true;
    return true;
}

bool TRegExpr::EnsureProgram() {
    if (!program_.empty() && modifiers_ != programModifiers_) DropProgram();
    if (program_.empty()) Prepare();
    if (program_.empty()) return false;
    if (program_[0] != regexpr::ProgramMarker) Error(1004);
    return true;
}

std::string TRegExpr::Dump() {
    EnsureProgram();
    return DumpRegExprProgram(program_) + DumpRegExprAnalysis(*this);
}

// --- searching ---------------------------------------------------------------------------

bool TRegExpr::Exec(std::string_view text) {
    SetInputString(text);
    return ExecPrim(1);
}

bool TRegExpr::ExecPos(int offset) { return ExecPrim(offset); }

bool TRegExpr::ExecNext() {
    if (startp_[0] < 0 || endp_[0] < 0) Error(1007);
    std::ptrdiff_t offset = endp_[0] + 1;
    if (endp_[0] == startp_[0]) ++offset;  // step over an empty match
    return ExecPrim(offset);
}

bool TRegExpr::ExecPrim(std::ptrdiff_t offset) {
    ClearSlots();
    if (!EnsureProgram()) return false;
    if (!hasSubject_) Error(1005);
    const auto len = static_cast<std::ptrdiff_t>(subject_.size());
    if (offset < 1) Error(1006);
    if (offset > len + 1) return false;

    const auto* start = reinterpret_cast<const unsigned char*>(subject_.data());
    const unsigned char* s = start + offset - 1;

    if (search_->Run(s)) return true;
    ClearSlots();
    return false;
}
