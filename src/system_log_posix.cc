#include <syslog.h>

#include <string>
#include <string_view>

#include "record_sentences.h"
#include "system_log.h"

namespace {

// The record's whole sentence, with its texts inserted, as the event log's message table has it.
std::string DescribeRecord(const LogRecord& record) {
  const std::string_view sentence = kRecordSentences[static_cast<int>(record.event)];
  std::string text;
  for (std::size_t i = 0; i < sentence.size(); ++i) {
    // As the event log reads its table, %1 to %9 stand for the texts; the build lets no other %
    // into it.
    if (sentence[i] != '%') {
      text += sentence[i];
    } else if (const auto index = static_cast<std::size_t>(sentence[++i] - '1');
               index < record.inserts.size()) {
      text += record.inserts[index];
    }
  }
  return text;
}

}  // namespace

const bool kLogReadsPercent = false;

std::string LogUtf8(std::string_view text, TextEncoding /*encoding*/) { return std::string(text); }

void WriteSystemLog(const std::vector<LogRecord>& records) {
  openlog("tarnwick", LOG_PID, LOG_USER);
  for (const LogRecord& record : records) {
    syslog(IsError(record.event) ? LOG_ERR : LOG_WARNING, "%s", DescribeRecord(record).c_str());
  }
  closelog();
}
