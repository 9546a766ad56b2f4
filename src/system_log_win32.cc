#include "system_log.h"

#include <windows.h>

#include "widen.h"

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
