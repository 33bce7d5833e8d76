#include "ui/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>

namespace veltrane::ui {
namespace {

std::string integerDigits(double integral) {
  char buffer[320];  // the largest double has 309 integer digits
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, integral, std::chars_format::fixed, 0);
  return std::string(buffer, result.ptr);
}

}  // namespace

// The integer part and the fraction are taken apart first (both exactly), so
// that the rounding decision and the digits written come from one scaled
// number: scaling the whole value twice, once to decide and once to write,
// can disagree by one unit in the last place and show 1.38 as "1.3799".
std::string FormatNumber(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0.0 ? "-inf" : "inf";

  const double magnitude = std::fabs(value);
  double integral = std::trunc(magnitude);
  double scaled = (magnitude - integral) * 1e5;  // 0 <= scaled < 100000
  // Round half up at the fifth decimal.
  if ((scaled - std::trunc(scaled)) * 10.0 >= 5.0) scaled += 0.5;
  auto decimals = static_cast<std::uint32_t>(scaled);
  if (decimals >= 100000) {
    decimals -= 100000;
    integral += 1.0;  // exact: a value with a fraction is below 2^52
  }

  std::string text = value < 0.0 ? "-" : "";
  text += integerDigits(integral);
  char digits[5];
  for (int i = 4; i >= 0; --i) {
    digits[i] = static_cast<char>('0' + decimals % 10);
    decimals /= 10;
  }
  std::size_t written = 5;
  while (written > 1 && digits[written - 1] == '0') --written;
  text += '.';
  text.append(digits, written);
  return text;
}

namespace {

constexpr int maxDigits = 9;
constexpr double powersOfTen[maxDigits + 1] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};

// One part of a typed number: spaces, digits, spaces. `value` holds the
// first nine digits; `digitCount` counts them all.
struct Part {
  bool valid = false;
  std::int64_t value = 0;
  int digitCount = 0;
};

Part readPart(std::string_view text) {
  Part part;
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (part.digitCount < maxDigits) part.value = part.value * 10 + (text[i] - '0');
    ++part.digitCount;
  }
  for (; i < text.size(); ++i) {
    if (text[i] != ' ') return Part{};
  }
  part.valid = part.digitCount > 0;
  return part;
}

}  // namespace

double ParseNumber(const std::string& text, double defaultValue) {
  std::string digits;
  digits.reserve(text.size());
  bool negative = false;
  for (const char c : text) {
    if (c == '-') {
      negative = !negative;
    } else {
      digits += c;
    }
  }

  const std::string_view all = digits;
  const std::size_t separator = all.find_last_of(".,");
  const Part integer = readPart(all.substr(0, separator));
  const Part fraction = separator == std::string_view::npos ? Part{} : readPart(all.substr(separator + 1));
  if (!integer.valid && !fraction.valid) return defaultValue;

  double result = 0.0;
  if (integer.valid) result = integer.digitCount > maxDigits ? 2147483647.0 : static_cast<double>(integer.value);
  if (fraction.valid) {
    const int used = fraction.digitCount > maxDigits ? maxDigits : fraction.digitCount;
    result += static_cast<double>(fraction.value) / powersOfTen[used];
  }
  return negative ? -result : result;
}

}  // namespace veltrane::ui
