#include "system_log.h"

#include <windows.h>

#include "widen.h"

const bool kLogReadsPercent = true;

std::string LogUtf8(std::string_view text, TextEncoding encoding) {
  if (encoding == TextEncoding::kUtf8) return std::string(text);
  const std::vector<wchar_t> wide = Widen(std::string(text).c_str(), encoding);
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(size > 0 ? static_cast<std::size_t>(size) : 1, '\0');
  if (size > 0)
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, utf8.data(), size, nullptr, nullptr);
  utf8.pop_back();  // the terminating NUL
  return utf8;
}

void WriteSystemLog(const std::vector<LogRecord>& records) {
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
      texts[count] = Widen(record.inserts[count].c_str(), TextEncoding::kUtf8);
      inserts[count] = texts[count].data();
    }
    ReportEventW(log, IsError(record.event) ? EVENTLOG_ERROR_TYPE : EVENTLOG_WARNING_TYPE, 0,
                 static_cast<DWORD>(record.event), sid, count, 0, inserts, nullptr);
  }
  DeregisterEventSource(log);
}
