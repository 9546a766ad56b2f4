#include "shell_open.h"

// windows.h first: shellapi.h and objbase.h build on its types.
#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include <string>

namespace {

// A text in `encoding` as the wide text the Unicode calls take; a malformed UTF-8 sequence becomes
// U+FFFD.
std::wstring Widen(const char* text, TextEncoding encoding) {
  const UINT code_page = encoding == TextEncoding::kUtf8 ? CP_UTF8 : CP_ACP;
  const int size = MultiByteToWideChar(code_page, 0, text, -1, nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(code_page, 0, text, -1, &wide[0], size);
  wide.pop_back();  // the terminator the count included
  return wide;
}

}  // namespace

int ShellOpen(const char* application, const char* parameters, TextEncoding encoding) {
  HINSTANCE result;
  if (encoding == TextEncoding::kUtf8) {
    // The ANSI call would read UTF-8 in the ANSI code page and garble every name beyond ASCII.
    result = ShellExecuteW(nullptr, L"open", Widen(application, encoding).c_str(),
                           Widen(parameters, encoding).c_str(), nullptr, SW_SHOWNORMAL);
  } else {
    result = ShellExecuteA(nullptr, "open", application, parameters, nullptr, SW_SHOWNORMAL);
  }
  // Not a real handle: an integer code kept in a handle type for old callers' sake.
  return static_cast<int>(reinterpret_cast<INT_PTR>(result));
}

void WriteSystemLog(const std::vector<LogRecord>& records, TextEncoding encoding) {
  // Without the registered source the records are still written, only Event Viewer cannot find
  // their sentences.
  HANDLE log = RegisterEventSourceW(nullptr, L"Tarnwick");
  if (log == nullptr) return;
  for (const LogRecord& record : records) {
    std::vector<std::wstring> texts;
    for (const std::string& text : record.inserts) texts.push_back(Widen(text.c_str(), encoding));
    std::vector<LPCWSTR> inserts;
    for (const std::wstring& text : texts) inserts.push_back(text.c_str());
    ReportEventW(log, IsError(record.event) ? EVENTLOG_ERROR_TYPE : EVENTLOG_WARNING_TYPE, 0,
                 static_cast<DWORD>(record.event), nullptr, static_cast<WORD>(inserts.size()), 0,
                 inserts.data(), nullptr);
  }
  DeregisterEventSource(log);
}

void PrepareProcess() {
  // "open" may be carried out by shell extensions activated through COM. In a single-threaded
  // apartment the shell does that work within the call; without one it may fail, or hand it to a
  // thread that dies when the launcher exits right after the call, losing a launch reported as
  // started. A failure here is not fatal: plain programs start without COM. The apartment lasts
  // until the process exits, after the last launch.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
}
