#pragma once
#include <stdexcept>

namespace veltrane::cli {

// A mistake in the command line or a file that cannot be used: the message
// is printed after "veltrane: " and the command exits with status 2.
class CommandError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace veltrane::cli
