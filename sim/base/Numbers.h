// Numbers as text, both ways: the one reader of a number from a word of
// input, and the writers of saved and reported values.
#pragma once

#include <string>

namespace vtal::sim {

// What a word of input reads as. A caller decides which kinds it accepts
// and what it says of the others.
enum class NumberKind {
    Finite,     // a finite number (also one too small for a double, read as 0 or nearly)
    Infinite,   // "inf", or beyond the range of a double
    NaN,        // "nan"
    NotNumber,  // empty, not a number, or not filling the whole word
};

struct NumberWord {
    NumberKind kind = NumberKind::NotNumber;
    double value = 0.0;     // as read (infinite for Infinite, NaN for "nan")
    bool underflow = false;  // a finite number too small for a double, read as 0 or nearly
    bool Finite() const { return kind == NumberKind::Finite; }
    bool FiniteInRange() const { return kind == NumberKind::Finite && !underflow; }
};

// Reads the whole word (trailing blanks allowed if `trailingBlanks`) as a
// decimal or hexadecimal number in the C locale's format.
NumberWord ReadNumberWord(const std::string &word, bool trailingBlanks = false);

// Reads the whole word as a whole number: Finite (into `out`), Infinite
// (beyond a long long) or NotNumber.
NumberKind ReadWholeNumber(const std::string &word, long long &out);

// Formats a double so that reading it back gives the same value.
std::string Exact(double x);
// Formats a double with a fixed number of decimals, as the host writes its
// scenario lines.
std::string Fixed(double x, int decimals);
// A number for a message: plain digits for ordinary sizes, an exponent for
// the others, never hundreds of digits.
std::string Plain(double x);

}  // namespace vtal::sim
