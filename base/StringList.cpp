// SPDX-License-Identifier: Apache-2.0
#include "base/StringList.h"

#include "base/Exception.h"

void TStringList::Check(int index) const {
    if (index < 0 || index >= Count())
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

const std::string& TStringList::operator[](int index) const {
    Check(index);
    return items_[static_cast<size_t>(index)];
}

std::string& TStringList::operator[](int index) {
    Check(index);
    return items_[static_cast<size_t>(index)];
}

int TStringList::Add(std::string s) {
    items_.push_back(std::move(s));
    return Count() - 1;
}

void TStringList::Delete(int index) {
    Check(index);
    items_.erase(items_.begin() + index);
}

int TStringList::IndexOf(const std::string& s) const {
    for (int i = 0; i < Count(); ++i)
        if (items_[static_cast<size_t>(i)] == s) return i;
    return -1;
}

std::string TStringList::Text() const {
    std::string out;
    for (const auto& s : items_) out += s + "\r\n";
    return out;
}
