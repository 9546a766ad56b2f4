#include "shell_open.h"

// windows.h first: shellapi.h builds on its types.
#include <windows.h>

#include <shellapi.h>

int ShellOpen(const char* application, const char* parameters) {
  const HINSTANCE result =
      ShellExecuteA(nullptr, "open", application, parameters, nullptr, SW_SHOWNORMAL);
  // Not a real handle: an integer code kept in a handle type for old callers' sake.
  return static_cast<int>(reinterpret_cast<INT_PTR>(result));
}

void PrepareProcess() {}
