// The Windows module's attach hook: the dialog resource lives in this module
// and the filter dialog runs on the Windows toolkit.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/win32/win32_widgets.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  // Thread notifications stay on: the static run-time libraries keep
  // per-thread data through them.
  if (reason == DLL_PROCESS_ATTACH) veltrane::platform::win32::attachModule(instance);
  return TRUE;
}
