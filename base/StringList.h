// SPDX-License-Identifier: Apache-2.0
#pragma once
// An ordered list of byte strings with count, indexed access and add. An index outside the
// list raises EListError "List index out of bounds (<i>)".
#include <string>
#include <vector>

class TStringList {
public:
    int Count() const { return static_cast<int>(items_.size()); }
    const std::string& operator[](int index) const;
    std::string& operator[](int index);
    int Add(std::string s);
    void Delete(int index);
    void Clear() { items_.clear(); }
    int IndexOf(const std::string& s) const;

    // The lines joined, each followed by CR LF.
    std::string Text() const;

    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    void Check(int index) const;
    std::vector<std::string> items_;
};
