#include "report.h"

#include <utility>
#include <vector>

#include "record_sentences.h"
#include "shell_open.h"

namespace {

// The failures of this run, kept until the end so that every text is written in the encoding the
// whole file was read in.
std::vector<LogRecord> g_records;
std::size_t g_not_recorded = 0;

// A log record is no place for a whole 10 MB line: keep its start, never half a UTF-8 sequence.
constexpr std::size_t kMaxInsert = 2000;

}  // namespace

std::string RecordText(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  std::size_t size = text.size();
  if (size > kMaxInsert) {
    size = kMaxInsert;
    while (size > 0 && (static_cast<unsigned char>(text[size]) & 0xC0) == 0x80) --size;
  }
  std::string shown;
  shown.reserve(size);
  for (const char c : text.substr(0, size)) {
    // A CR or an ESC could make the record pass for another one on a terminal.
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      constexpr char kHex[] = "0123456789abcdef";
      shown += {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xF]};
    } else if (c == '\\') {
      shown += "\\\\";
    } else {
      shown += c;
    }
  }
  if (size < text.size()) shown += "...";
  return shown;
}

void RecordFailure(LogEvent event, std::initializer_list<std::string_view> texts) {
  // Past the limit nothing is copied: a file of a million broken lines costs a count.
  if (g_records.size() >= kMaxRecords) {
    ++g_not_recorded;
    return;
  }
  LogRecord record{event, {}, {}};
  for (const std::string_view text : texts) record.inserts.push_back(RecordText(text));
  g_records.push_back(std::move(record));
}

void WriteFailures(TextEncoding encoding) {
  if (g_not_recorded > 0) {
    g_records.push_back({LogEvent::kNotRecorded, {std::to_string(g_not_recorded)}, {}});
  }
  for (LogRecord& record : g_records) record.sentence = DescribeRecord(record);
  if (!g_records.empty()) WriteSystemLog(g_records, encoding);
  g_records.clear();
  g_not_recorded = 0;
}

const char* ShellCodeMeaning(int code) {
  switch (code) {
    case 2:
      return "file not found";
    case 3:
      return "path not found";
    case 5:
      return "access denied";
    case 8:
      return "out of memory";
    case 11:
      return "not a valid program";
    case 26:
      return "sharing violation";
    case 27:
      return "incomplete association";
    case 31:
      return "no program associated";
    case 32:
      return "a DLL not found";
    default:
      return "unknown error";
  }
}

std::string DescribeRecord(const LogRecord& record) {
  const std::string_view sentence = kRecordSentences[static_cast<int>(record.event)];
  std::string text;
  for (std::size_t i = 0; i < sentence.size(); ++i) {
    // As the event log reads its table: %1 to %9 are the texts; % before anything else escapes it.
    if (sentence[i] != '%' || i + 1 == sentence.size()) {
      text += sentence[i];
      continue;
    }
    const char next = sentence[++i];
    const auto index = static_cast<std::size_t>(next - '1');
    if (next < '1' || next > '9') {
      text += next;
    } else if (index < record.inserts.size()) {
      text += record.inserts[index];
    }
  }
  return text;
}
