#include "report.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "decode.h"
#include "record_sentences.h"
#include "system_log.h"

namespace {

// The failures of this run, kept until the end so that every text is written in the encoding the
// whole file was read in.
std::vector<LogRecord> g_records;
std::size_t g_not_recorded = 0;

// Characters that do not show, and so can hide or reorder what a line says: the format characters
// (category Cf) of Unicode 14.0, the bidirectional controls among them, and the whole block of the
// tag characters. Ranges, first and last, in order.
constexpr std::uint32_t kHidden[][2] = {
    {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},
    {0x070F, 0x070F},   {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},
    {0x200B, 0x200F},   {0x202A, 0x202E},   {0x2060, 0x2064},   {0x2066, 0x206F},
    {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD}, {0x110CD, 0x110CD},
    {0x13430, 0x13438}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0000, 0xE007F}};

// Whether the character `code` can make a line read as something else: a C1 control (CSI and NEL
// among them), a line or paragraph separator, or a character that does not show.
bool Deceives(std::uint32_t code) {
  if ((code >= 0x80 && code <= 0x9F) || code == 0x2028 || code == 0x2029) return true;
  for (const auto& range : kHidden) {
    if (code >= range[0] && code <= range[1]) return true;
  }
  return false;
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

// `text`, taken as UTF-8, with everything escaped that could make it pass for something else;
// where that takes more than `room` bytes, only the whole characters and escapes that fit with
// "..." after them.
std::string Escape(std::string_view text, std::size_t room) {
  std::string shown;
  std::size_t fits = 0;  // how much of `shown` leaves room for "..."
  for (std::size_t i = 0; i < text.size() && shown.size() <= room; ++i) {
    if (shown.size() + 3 <= room) fits = shown.size();
    // A CR or an ESC could make the record pass for another one on a terminal.
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x80) {
      std::uint32_t code = 0;
      const std::size_t length = Utf8Sequence(text.substr(i), &code);
      if (length == 0) {
        AppendHex(&shown, "\\x", byte, 2);
      } else if (Deceives(code)) {
        AppendHex(&shown, code > 0xFFFF ? "\\U" : "\\u", code, code > 0xFFFF ? 8 : 4);
      } else {
        shown.append(text, i, length);
      }
      if (length > 1) i += length - 1;
    } else if (byte < 0x20 || byte == 0x7F || (byte == '%' && kLogReadsPercent)) {
      AppendHex(&shown, "\\x", byte, 2);
    } else if (byte == '\\') {
      shown += "\\\\";
    } else {
      shown += static_cast<char>(byte);
    }
  }
  if (shown.size() + 3 <= room) fits = shown.size();
  if (shown.size() > room) shown.erase(fits).append("...");
  return shown;
}

}  // namespace

std::vector<std::string> RecordTexts(LogEvent event, const std::vector<std::string>& texts,
                                     TextEncoding encoding) {
  std::vector<std::string> utf8, shown;
  for (const std::string& text : texts) {
    utf8.push_back(LogUtf8(std::string_view(text).substr(0, text.find('\0')), encoding));
    shown.push_back(Escape(utf8.back(), kMaxRecord));
  }
  // The room the sentence leaves is shared out shortest text first: each may take an even share of
  // what is still left, so what a short one does not take, the longer ones may.
  const std::string_view sentence = kRecordSentences[static_cast<int>(event)];
  std::size_t room =
      kMaxRecord - sentence.size() +
      2 * static_cast<std::size_t>(std::count(sentence.begin(), sentence.end(), '%'));
  std::vector<std::size_t> order(shown.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&shown](std::size_t a, std::size_t b) {
    return shown[a].size() < shown[b].size();
  });
  for (std::size_t k = 0; k < order.size(); ++k) {
    const std::size_t share = room / (order.size() - k);
    std::string& text = shown[order[k]];
    if (text.size() > share) text = Escape(utf8[order[k]], share);
    room -= text.size();
  }
  return shown;
}

void RecordFailure(LogEvent event, std::initializer_list<std::string_view> texts) {
  // Past the limit nothing is copied: a file of a million broken lines costs a count.
  if (g_records.size() >= kMaxRecords) {
    ++g_not_recorded;
    return;
  }
  // Written only at the end, once the encoding of the whole file is known. A text shows at least
  // one byte for every two it has (an ANSI double-byte character may become a single one), so
  // what lies past twice a whole record's room is never shown; one byte more is kept, so that the
  // text is seen to be cut.
  LogRecord record{event, {}};
  for (const std::string_view text : texts)
    record.inserts.emplace_back(text.substr(0, 2 * kMaxRecord + 1));
  g_records.push_back(std::move(record));
}

void WriteFailures(TextEncoding encoding) {
  if (g_not_recorded > 0) {
    g_records.push_back({LogEvent::kNotRecorded, {std::to_string(g_not_recorded)}});
  }
  for (LogRecord& record : g_records)
    record.inserts = RecordTexts(record.event, record.inserts, encoding);
  if (!g_records.empty()) WriteSystemLog(g_records);
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
