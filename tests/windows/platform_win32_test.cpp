#include <gtest/gtest.h>

#include <string>

#include "platform/win32/file_filter.h"

namespace veltrane::platform {
namespace {

using namespace std::string_literals;

TEST(FileFilterList, PairsEndInNulAndTheListInOneMore) {
  FileChooserSpec spec;
  EXPECT_EQ(win32::fileFilterList(spec), "");

  spec.filters = {{"Halvane Files (*.hlv)", "*.hlv"},
                  {"", "*.x"},             // no name
                  {"Broken", "*.a\0b"s},   // would end the list early
                  {"All Files (*.*)", "*.*"}};
  EXPECT_EQ(win32::fileFilterList(spec), "Halvane Files (*.hlv)\0*.hlv\0All Files (*.*)\0*.*\0\0"s);
}

}  // namespace
}  // namespace veltrane::platform
