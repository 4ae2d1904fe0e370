// Bad input to the flight host: a scenario file, a configuration file, a
// command-line argument or an installation that cannot be used. The message
// names the file, line and problem; the program exits with status 2.
#pragma once

#include <stdexcept>
#include <string>

namespace vtal::sim {

class InputError : public std::runtime_error {
public:
    explicit InputError(const std::string &what) : std::runtime_error(what) {}
};

// The text without leading and trailing blanks and line ends.
inline std::string Trim(const std::string &s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    const auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

// "file:line: problem", or "file: problem" when no line applies.
inline std::string At(const std::string &file, int line, const std::string &problem) {
    if (line > 0) return file + ":" + std::to_string(line) + ": " + problem;
    return file + ": " + problem;
}

}  // namespace vtal::sim
