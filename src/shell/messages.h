#pragma once
#include <stdexcept>
#include <string>

namespace veltrane {

// Thrown by stringify when a number cannot be written as text.
class BadConversion : public std::runtime_error {
 public:
  explicit BadConversion(const std::string& what) : std::runtime_error(what) {}
};

// A number as standard stream output writes it with default precision
// (-108 gives "-108").
std::string stringify(double x);

// A modal message box without owner, caption "Veltrane", OK button.
void reportMessage(const std::string& text);

// The text followed directly by the code as text.
void messageWithCode(const std::string& text, int code);

inline constexpr const char* messageCaption = "Veltrane";

}  // namespace veltrane
