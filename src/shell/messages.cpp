#include "messages.h"

#include <sstream>

#include "platform/platform.h"

namespace veltrane {

std::string stringify(double x) {
  std::ostringstream out;
  if (!(out << x)) throw BadConversion("stringify(double)");
  return out.str();
}

void reportMessage(const std::string& text) { platform::showMessageBox(messageCaption, text); }

void messageWithCode(const std::string& text, int code) {
  reportMessage(text + stringify(code));
}

}  // namespace veltrane
