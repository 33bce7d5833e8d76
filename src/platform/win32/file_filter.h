#pragma once
#include <string>

#include "platform/platform.h"

namespace veltrane::platform::win32 {

// The filters of a file chooser as the common file dialogs read them: each
// name and pattern followed by a NUL, the whole list by one more NUL. A
// filter with an empty or NUL-bearing name or pattern would cut the list
// short and is left out. Empty when no filter remains.
std::string fileFilterList(const FileChooserSpec& spec);

}  // namespace veltrane::platform::win32
