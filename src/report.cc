#include "report.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "decode.h"
#include "system_log.h"

namespace {

// The failures of this run, kept until the end so that every text is written in the encoding the
// whole file was read in.
std::vector<LogRecord> g_records;
std::size_t g_not_recorded = 0;

// A log record is no place for a whole 10 MB line: keep its start, never half a UTF-8 sequence.
constexpr std::size_t kMaxInsert = 2000;

// Whether the character `code` can make a line read as something else: a C1 control (CSI and NEL
// among them), a line or paragraph separator, or a bidirectional control.
bool Deceives(std::uint32_t code) {
  return (code >= 0x80 && code <= 0x9F) || code == 0x061C || code == 0x200E || code == 0x200F ||
         (code >= 0x2028 && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

// The length of the well-formed UTF-8 sequence at the start of `text`, its lead at or above 0x80,
// and its character in `code`; 0 when it is not one.
std::size_t Utf8Sequence(std::string_view text, std::uint32_t* code) {
  const auto lead = static_cast<unsigned char>(text[0]);
  const Utf8Lead rule = Utf8LeadRule(lead);
  if (rule.needed == 0 || text.size() <= static_cast<std::size_t>(rule.needed)) return 0;
  *code = lead & (0x3F >> rule.needed);
  for (int i = 1; i <= rule.needed; ++i) {
    const auto next = static_cast<unsigned char>(text[static_cast<std::size_t>(i)]);
    if (next < (i == 1 ? rule.low : 0x80) || next > (i == 1 ? rule.high : 0xBF)) return 0;
    *code = *code << 6 | (next & 0x3F);
  }
  return static_cast<std::size_t>(rule.needed) + 1;
}

void AppendHex(std::string* shown, const char* prefix, std::uint32_t value, int digits) {
  constexpr char kHex[] = "0123456789abcdef";
  *shown += prefix;
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) *shown += kHex[(value >> shift) & 0xF];
}

}  // namespace

std::string RecordText(std::string_view text, TextEncoding encoding) {
  text = text.substr(0, text.find('\0'));
  std::size_t size = text.size();
  if (size > kMaxInsert) {
    size = kMaxInsert;
    while (size > 0 && (static_cast<unsigned char>(text[size]) & 0xC0) == 0x80) --size;
  }
  const std::string_view kept = text.substr(0, size);
  std::string shown;
  shown.reserve(size);
  for (std::size_t i = 0; i < kept.size(); ++i) {
    // A CR or an ESC could make the record pass for another one on a terminal.
    const auto byte = static_cast<unsigned char>(kept[i]);
    if (byte >= 0x80 && encoding == TextEncoding::kUtf8) {
      std::uint32_t code = 0;
      const std::size_t length = Utf8Sequence(kept.substr(i), &code);
      if (length == 0) {
        AppendHex(&shown, "\\x", byte, 2);
      } else if (Deceives(code)) {
        AppendHex(&shown, "\\u", code, 4);
      } else {
        shown.append(kept, i, length);
      }
      if (length > 1) i += length - 1;
    } else if (byte < 0x20 || byte == 0x7F) {
      AppendHex(&shown, "\\x", byte, 2);
    } else if (byte == '\\') {
      shown += "\\\\";
    } else {
      shown += static_cast<char>(byte);
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
  // Written only at the end, once the encoding of the whole file is known; a byte past the limit
  // is kept so that RecordText sees the text was cut.
  LogRecord record{event, {}};
  for (const std::string_view text : texts)
    record.inserts.emplace_back(text.substr(0, kMaxInsert + 1));
  g_records.push_back(std::move(record));
}

void WriteFailures(TextEncoding encoding) {
  if (g_not_recorded > 0) {
    g_records.push_back({LogEvent::kNotRecorded, {std::to_string(g_not_recorded)}});
  }
  for (LogRecord& record : g_records) {
    for (std::string& text : record.inserts) text = RecordText(text, encoding);
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
