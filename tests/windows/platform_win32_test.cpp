#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "platform/win32/file_filter.h"
#include "platform/win32/win32_widgets.h"

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

// A module without the dialog resource cannot show the dialog: an error the
// dialog logic reports, not a silent Cancel.
TEST(Win32Toolkit, DialogWithoutItsResourceIsAnError) {
  const DialogTemplate dialog{"Veltrane", 100, 50, "MS Sans Serif", 8, {}};
  DialogEvents events;
  EXPECT_THROW(win32::toolkit().runModal(dialog, events), std::runtime_error);
  EXPECT_EQ(win32::openDialogWindow(), nullptr);
}

}  // namespace
}  // namespace veltrane::platform
