// Looking into a command's printed text: whether it holds a part, how often,
// and its lines.
#pragma once

#include <cstddef>
#include <sstream>
#include <string>
#include <vector>

namespace vtal::testtext {

inline bool Has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

inline std::size_t Count(const std::string &text, const std::string &part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The lines of a text, without their line ends; a last line without one counts.
inline std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace vtal::testtext
