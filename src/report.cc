#include "report.h"

#include <utility>
#include <vector>

#include "platform.h"

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
  LogRecord record{event, {}};
  for (const std::string_view text : texts) record.inserts.push_back(RecordText(text));
  g_records.push_back(std::move(record));
}

void WriteFailures(TextEncoding encoding) {
  if (g_not_recorded > 0) {
    g_records.push_back({LogEvent::kNotRecorded, {std::to_string(g_not_recorded)}});
  }
  if (!g_records.empty()) WriteSystemLog(g_records, encoding);
  g_records.clear();
  g_not_recorded = 0;
}

const char* ShellCodeMeaning(int code) {
  struct Meaning {
    int code;
    const char* text;
  };
  static constexpr Meaning kMeanings[] = {
      {2, "file not found"},          {3, "path not found"},         {5, "access denied"},
      {8, "out of memory"},           {11, "not a valid program"},   {26, "sharing violation"},
      {27, "incomplete association"}, {31, "no program associated"}, {32, "a DLL not found"}};
  for (const Meaning& meaning : kMeanings) {
    if (meaning.code == code) return meaning.text;
  }
  return "unknown error";
}
