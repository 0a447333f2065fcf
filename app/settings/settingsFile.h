// SPDX-License-Identifier: Apache-2.0
#pragma once
// The one reader of the settings file (fotaviq.ini, found by SettingsFilePath()). Every
// part of the program that has settings takes its raw values from here and decides itself
// what a value means.
#include <map>
#include <string>

class TSettingsFile {
public:
    // Reads the file as it is now; a missing or unreadable file gives no values.
    static TSettingsFile Read();
    // Reads the file at an ANSI path (tests).
    static TSettingsFile ReadFrom(const std::string& ansiPath);

    // The value of key in [section] as raw ANSI text, trimmed; empty when absent. A value
    // with commas is one text, not a list.
    std::string Value(const std::string& section, const std::string& key) const;

private:
    std::map<std::string, std::string> values_;  // "section/key" -> text
};
