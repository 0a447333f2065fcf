// SPDX-License-Identifier: Apache-2.0
#include "regex/RegExprSearch.h"

#include <cstring>

#include "regex/RegExpr.h"
#include "regex/RegExprMatcher.h"
#include "regex/RegExprProgram.h"

using namespace regexpr;

void RegExprSearch::Bind() {
    program_ = owner_.programVersion_;
    const std::uint8_t* prog = owner_.program_.data();

    prefix_ = LiteralFinder();
    if (owner_.prefixLiteral_ != 0) {
        const int node = owner_.prefixLiteral_;
        const unsigned char* text = prog + node + NodeHeaderSize;
        prefix_.Assign(text, std::strlen(reinterpret_cast<const char*>(text)),
                       prog[node] == OpLiteralNoCase ? &owner_.flipTable_ : nullptr);
    }
    must_ = LiteralFinder();
    if (owner_.mustString_ != 0)
        must_.Assign(prog + owner_.mustString_, static_cast<std::size_t>(owner_.mustLength_), nullptr);
    mustSubject_ = 0;

    const std::uint8_t* set = owner_.firstChars_.data();
    setEnd_ = InSet(set, 0);
    setCount_ = 0;
    for (int c = 1; c < 256; ++c) {
        if (!InSet(set, static_cast<unsigned char>(c))) continue;
        if (setCount_ == 3) {
            setCount_ = -1;
            break;
        }
        setBytes_[setCount_++] = static_cast<unsigned char>(c);
    }
}

bool RegExprSearch::MustStringAhead(const unsigned char* s, const unsigned char* start, const unsigned char* end) {
    const std::ptrdiff_t offset = s - start;
    if (mustSubject_ == owner_.subjectVersion_ && offset >= mustFrom_ && (mustAt_ < 0 || mustAt_ >= offset))
        return mustAt_ >= 0;
    const unsigned char* at = must_.Find(s, end, end);
    mustSubject_ = owner_.subjectVersion_;
    mustFrom_ = offset;
    mustAt_ = at ? at - start : -1;
    return at != nullptr;
}

bool RegExprSearch::Run(const unsigned char* s) {
    if (program_ != owner_.programVersion_) Bind();
    const auto* start = reinterpret_cast<const unsigned char*>(owner_.subject_.data());
    const unsigned char* end = start + owner_.subject_.size();
    if (!must_.Empty() && !MustStringAhead(s, start, end)) return false;

    RegExprMatcher& m = matcher_;
    m.Begin(s);
    if (owner_.anchored_) return m.TryAt(s);
    if (!prefix_.Empty()) {
        for (const unsigned char* p = s;; ++p) {
            p = prefix_.Find(p, end, end);
            if (p == nullptr) return false;
            if (m.TryAfterPrefix(p, prefix_.Length())) return true;
        }
    }
    if (setCount_ >= 0) {
        if (setCount_ > 0) {
            scanner_.Reset(setBytes_, setCount_, end);
            for (const unsigned char* p = s;; ++p) {
                p = scanner_.Next(p);
                if (p == nullptr) break;
                if (m.TryAt(p)) return true;
            }
        }
        return setEnd_ && m.TryAt(end);
    }
    const std::uint8_t* set = owner_.firstChars_.data();
    for (const unsigned char* p = s; p <= end; ++p) {
        if (InSet(set, *p) && m.TryAt(p)) return true;
    }
    return false;
}
