#pragma once

// The seam for the modules' own dialog inside GIMP. An interactive run shows
// the module's dialog when it has one on this system (the host then runs the
// module asking for it, as veltrane --dialog does); until then it uses the
// remembered settings and tells the user so.
namespace veltrane::gimp {

bool moduleDialogAvailable();

}  // namespace veltrane::gimp
