#pragma once
#include "result_codes.h"

namespace veltrane {

// The parameter block and the view state in the host's persistent
// descriptor registry, under the plug-in's identifier. Both return a host
// code; hostapi::errPlugInHostInsufficient when the host offers no basic
// suite. Reading stops at the first value that cannot be read; what was not
// read keeps its value.
ResultCode readRegistry();
ResultCode writeRegistry();

// The parameter block in the host's scripting descriptor. Reading also
// decides whether to display the dialog: the play setting when a descriptor
// was handed over, otherwise the current showDialogFlag.
ResultCode readScriptParams(bool& displayDialog);
ResultCode writeScriptParams();

}  // namespace veltrane
