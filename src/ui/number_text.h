#pragma once
#include <string>

namespace veltrane::ui {

// The text an edit box shows for a value: the integer part, a point and up
// to five decimals (rounded half up at the fifth, trailing zeros dropped, at
// least one decimal written): 40 -> "40.0", 0.15 -> "0.15", 1/3 -> "0.33333".
// Large values show their integer part in full; NaN shows "nan" and the
// infinities "inf" / "-inf".
std::string FormatNumber(double value);

// Reads what the user typed. Every '-' anywhere counts towards the sign (an
// odd number makes the result negative) and is dropped; the last '.' or ','
// splits the integer part from the fraction. Each part is optional digits
// with surrounding spaces; an integer part of more than 9 digits reads as
// 2147483647 and a fraction is cut to its first 9 digits. When neither part
// is a number the result is defaultValue, with no sign applied.
double ParseNumber(const std::string& text, double defaultValue);

}  // namespace veltrane::ui
