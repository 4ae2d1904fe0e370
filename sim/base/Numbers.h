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
// Numbers in messages are written in plain digits within these sizes: a
// frame step of 1e-15 s reads "0.000000000000001". Beyond them, sizes no
// run can hold ("1e+200 m from the centre"), they keep an exponent rather
// than hundreds of digits.
constexpr double kSmallestPlain = 1e-15;
constexpr double kLargestPlain = 1e16;
// A number for a message: `significant` significant digits, trailing zeros
// dropped ("16666666.67", "0.0000001", "1000000000000").
std::string Plain(double x, int significant = 10);

// Decimals to write multiples of a step with (times of frames): `least`, or
// more when the step's first significant digit lies further right, so that
// consecutive multiples never read the same ("0.0000001" for a step of 1e-7 s).
int DecimalsForStep(double step, int least);

}  // namespace vtal::sim
