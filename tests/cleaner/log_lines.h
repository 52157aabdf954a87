// Picking a cleaner's console or run-log text apart, line by line.
#pragma once

#include <sstream>
#include <string>
#include <vector>

namespace fltest {

// What every whole run writes: the banner and header on both streams, and the success verdict.
const char kRule[] = "=============================================================================";
const std::string kBanner = "Ferrolink Clean Tool - Version 2.5\nCopyright (C) 2026 Orvane. All rights reserved.\n\n";
const std::string kHeader = kBanner + kRule + "\nStart to Run Ferrolink Cleaner Tool\n\n";
const std::string kSuccessConsole = "succeed\n\nUninstall Ferrolink succeed\n";
const std::string kSuccessLog = "\n\nUninstall Ferrolink succeed\n";

inline bool starts_with(const std::string& text, const std::string& head)
{
    return text.compare(0, head.size(), head) == 0;
}

inline bool ends_with(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

inline std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

inline std::vector<std::string> lines_starting_with(const std::string& text, const std::string& prefix)
{
    std::vector<std::string> lines;
    for (const std::string& line : lines_of(text)) {
        if (starts_with(line, prefix))
            lines.push_back(line);
    }
    return lines;
}

} // namespace fltest
