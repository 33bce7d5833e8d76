#include "dialog.h"

namespace veltrane::gimp {

// The Linux modules have no dialog of their own yet: their message boxes are
// lines on standard error and their file choosers answer "cancelled".
bool moduleDialogAvailable() { return false; }

}  // namespace veltrane::gimp
