// Bad input to the flight host: a scenario file, a configuration file, a
// command-line argument or an installation that cannot be used. The message
// names the file, line and problem; the program exits with status 2.
#pragma once

#include <limits>
#include <stdexcept>
#include <string>

#include "sim/base/Numbers.h"

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

// Text quoted in a message: a long line or word is cut, with its length, so
// that a message stays readable whatever the input.
constexpr std::size_t kLongestQuote = 60;
inline std::string Short(const std::string &text) {
    if (text.size() <= kLongestQuote) return text;
    return text.substr(0, kLongestQuote) + "... (" + std::to_string(text.size()) + " characters)";
}
inline std::string Quote(const std::string &text) {
    if (text.size() <= kLongestQuote) return "'" + text + "'";
    return "'" + text.substr(0, kLongestQuote) + "...' (" + std::to_string(text.size()) + " characters)";
}

// A command-line number: the whole argument, finite and within [lo, hi]
// (inclusive unless `aboveLo`); throws InputError naming the option.
inline double ParseArgumentNumber(const std::string &text, const std::string &option, double lo, double hi,
                                  bool aboveLo = false) {
    const bool unbounded = hi >= std::numeric_limits<double>::max();
    const std::string range = unbounded ? (aboveLo ? "above " : "at least ") + Plain(lo)
                                        : std::string(aboveLo ? "above " : "from ") + Plain(lo) +
                                              (aboveLo ? " and at most " : " to ") + Plain(hi);
    const NumberWord word = ReadNumberWord(text);
    if (word.kind == NumberKind::NotNumber || word.kind == NumberKind::NaN)
        throw InputError(option + ": " + Quote(text) + " is not a number");
    // Beyond a double it reads as infinite; too small for one, as 0 or nearly.
    const double v = word.value;
    if (!word.Finite() || v < lo || v > hi || (aboveLo && v <= lo))
        throw InputError(option + ": " + Quote(text) + " is out of range: it must be " + range);
    return v;
}

// A command-line whole number within [lo, hi]; throws InputError naming the option.
inline long ParseArgumentCount(const std::string &text, const std::string &option, long lo, long hi) {
    const std::string range = "a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
    long long v = 0;
    const NumberKind kind = ReadWholeNumber(text, v);
    if (kind == NumberKind::NotNumber) throw InputError(option + ": " + Quote(text) + " is not " + range);
    if (kind != NumberKind::Finite || v < lo || v > hi) throw InputError(option + ": " + Quote(text) + " is out of range: it must be " + range);
    return static_cast<long>(v);
}

}  // namespace vtal::sim
