// Number to text and back for the editor's readouts and fields, independent
// of the process locale: a host may switch LC_NUMERIC to a decimal comma, and
// the bitmap readouts and typed values must not change with it.
#pragma once

#include <string>

namespace tq {

// printf's "%.Nf" ("%+.Nf" with plusSign) in the C locale.
std::string fixedText(double value, int decimals, bool plusSign);

// The number at the start of `text` as strtod reads it in the C locale
// (leading white space, a sign, decimals, an exponent, "inf", "nan"); the rest
// is ignored, and 0 when there is no number.
double leadingNumber(const char* text);

}  // namespace tq
