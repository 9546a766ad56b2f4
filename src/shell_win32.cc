#include "shell.h"

// windows.h first: shellapi.h and objbase.h build on its types.
#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include "widen.h"

namespace {

// A DLL loaded by bare name, by this process or by the shell's work inside it, is looked for in
// System32 alone: not beside the exe or in the current folder, where a download folder may hold a
// planted one. (The DLLs the exe imports are loaded before any of its code runs, and so are not
// covered.) Windows 7 has the call only with its update KB2533623, so it is looked up.
void RestrictDllSearch() {
  using SetDirectories = BOOL(WINAPI*)(DWORD);
  const FARPROC set = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
  if (set != nullptr) {
    reinterpret_cast<SetDirectories>(reinterpret_cast<void (*)()>(set))(
        LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
}

#ifdef __GNUC__
// GCC's stack protector library picks its guard value in a constructor of its own, through a
// crypto provider that loads DLLs by name, before main runs: the search is restricted by a
// constructor that runs before every other one (101 is the first priority a program may use).
[[gnu::constructor(101)]] void RestrictDllSearchFirst() { RestrictDllSearch(); }
#endif

}  // namespace

int ShellOpen(const char* application, const char* parameters, TextEncoding encoding) {
  HINSTANCE result;
  if (encoding == TextEncoding::kUtf8) {
    // The ANSI call would read UTF-8 in the ANSI code page and garble every name beyond ASCII.
    result = ShellExecuteW(nullptr, L"open", Widen(application, encoding).data(),
                           Widen(parameters, encoding).data(), nullptr, SW_SHOWNORMAL);
  } else {
    result = ShellExecuteA(nullptr, "open", application, parameters, nullptr, SW_SHOWNORMAL);
  }
  // Not a real handle: an integer code kept in a handle type for old callers' sake.
  return static_cast<int>(reinterpret_cast<INT_PTR>(result));
}

void PrepareProcess() {
  // Again, for a build whose compiler has no constructor to do it before main.
  RestrictDllSearch();
  // "open" may be carried out by shell extensions activated through COM. In a single-threaded
  // apartment the shell does that work within the call; without one it may fail, or hand it to a
  // thread that dies when the launcher exits right after the call, losing a launch reported as
  // started. A failure here is not fatal: plain programs start without COM. The apartment lasts
  // until the process exits, after the last launch.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
}
