#include "platform.h"

// windows.h first: shellapi.h and objbase.h build on its types.
#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// A text in `encoding` as the zero-terminated wide text the Unicode calls take; a malformed UTF-8
// sequence becomes U+FFFD. (A vector, not a wide string: that would link the library's whole wide
// string into an exe meant to stay small.)
std::vector<wchar_t> Widen(const char* text, TextEncoding encoding) {
  const UINT code_page = encoding == TextEncoding::kUtf8 ? CP_UTF8 : CP_ACP;
  const int size = MultiByteToWideChar(code_page, 0, text, -1, nullptr, 0);
  std::vector<wchar_t> wide(size > 0 ? static_cast<std::size_t>(size) : 1, L'\0');
  if (size > 0) MultiByteToWideChar(code_page, 0, text, -1, wide.data(), size);
  return wide;
}

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

// Who may write C:\Tarnwick.cfg is set by the access list of C:\ and of the file itself; a folder
// of that name does not open.
std::FILE* OpenConfig(const char* path, const char** reason) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) *reason = std::strerror(errno);
  return file;
}

void WriteSystemLog(const std::vector<LogRecord>& records, TextEncoding encoding) {
  // Without the registered source the records are still written, only Event Viewer cannot find
  // their sentences.
  HANDLE log = RegisterEventSourceW(nullptr, L"Tarnwick");
  if (log == nullptr) return;
  // Whose log-on it was: the user of the process's token, for Event Viewer's User column. A record
  // without it is still better than none.
  std::vector<unsigned char> user;
  HANDLE token;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    user.resize(size);
    if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) user.clear();
    CloseHandle(token);
  }
  const PSID sid = user.empty() ? nullptr : reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  for (const LogRecord& record : records) {
    constexpr WORD kMaxInserts = 4;  // the most texts a record has
    std::vector<wchar_t> texts[kMaxInserts];
    LPCWSTR inserts[kMaxInserts] = {};
    WORD count = 0;
    for (; count < kMaxInserts && count < record.inserts.size(); ++count) {
      texts[count] = Widen(record.inserts[count].c_str(), encoding);
      inserts[count] = texts[count].data();
    }
    ReportEventW(log, IsError(record.event) ? EVENTLOG_ERROR_TYPE : EVENTLOG_WARNING_TYPE, 0,
                 static_cast<DWORD>(record.event), sid, count, 0, inserts, nullptr);
  }
  DeregisterEventSource(log);
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
