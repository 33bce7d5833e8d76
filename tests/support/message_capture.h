#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace veltrane::testsupport {

// Collects the message boxes shown while it lives instead of showing them;
// the platform's own message box comes back when it goes.
class MessageCapture {
 public:
  struct Message {
    std::string caption;
    std::string text;
  };

  MessageCapture() {
    platform::setMessageSink([this](const std::string& caption, const std::string& text) {
      messages_.push_back({caption, text});
    });
  }
  ~MessageCapture() { platform::setMessageSink({}); }
  MessageCapture(const MessageCapture&) = delete;
  MessageCapture& operator=(const MessageCapture&) = delete;

  const std::vector<Message>& messages() const { return messages_; }
  std::size_t count() const { return messages_.size(); }
  void clear() { messages_.clear(); }

 private:
  std::vector<Message> messages_;
};

}  // namespace veltrane::testsupport
