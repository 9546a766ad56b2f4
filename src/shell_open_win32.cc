#include "shell_open.h"

// windows.h first: shellapi.h and objbase.h build on its types.
#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

int ShellOpen(const char* application, const char* parameters) {
  const HINSTANCE result =
      ShellExecuteA(nullptr, "open", application, parameters, nullptr, SW_SHOWNORMAL);
  // Not a real handle: an integer code kept in a handle type for old callers' sake.
  return static_cast<int>(reinterpret_cast<INT_PTR>(result));
}

void PrepareProcess() {
  // "open" may be carried out by shell extensions activated through COM. In a single-threaded
  // apartment the shell does that work within the call; without one it may fail, or hand it to a
  // thread that dies when the launcher exits right after the call, losing a launch reported as
  // started. A failure here is not fatal: plain programs start without COM. The apartment lasts
  // until the process exits, after the last launch.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
}
