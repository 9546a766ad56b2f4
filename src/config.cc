#include "config.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "report.h"

std::string SliceRange(const std::string& text, std::ptrdiff_t from, std::ptrdiff_t to) {
  if (from < 0 || from >= to || static_cast<std::size_t>(to) > text.size()) return std::string();
  return text.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from));
}

bool SplitLine(const std::string& line, LaunchEntry* entry) {
  const auto n = static_cast<std::ptrdiff_t>(line.size());
  if (line[0] == '"') {
    const std::size_t close = line.find('"', 1);
    if (close == std::string::npos) return false;
    const auto q = static_cast<std::ptrdiff_t>(close);
    entry->application = SliceRange(line, 0, q + 1);
    // The character after the closing quote is dropped, whatever it is.
    entry->parameters = SliceRange(line, q + 2, n);
    return true;
  }
  // Only the space separates: a tab is an ordinary character.
  const std::size_t space = line.find(' ');
  if (space == std::string::npos) {
    entry->application = line;
    entry->parameters.clear();
    return true;
  }
  const auto s = static_cast<std::ptrdiff_t>(space);
  entry->application = SliceRange(line, 0, s);
  entry->parameters = SliceRange(line, s + 1, n);
  return true;
}

namespace {

// Swapping hands the caller the line and keeps a buffer in the reader: no allocation per line.
bool HandOver(TextModeReader* reader, std::string* line) {
  line->swap(reader->line);
  reader->line.clear();
  return true;
}

// Writes `code_point` as UTF-8 at `out`; returns the end of what it wrote.
char* PutUtf8(char* out, unsigned code_point) {
  if (code_point < 0x80) {
    *out++ = static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    *out++ = static_cast<char>(0xC0 | (code_point >> 6));
    *out++ = static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (code_point >> 12));
    *out++ = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (code_point >> 18));
    *out++ = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code_point & 0x3F));
  }
  return out;
}

constexpr unsigned kReplacement = 0xFFFD;

// A surrogate is only sound as the high half directly followed by the low half; any other is
// replaced, and the unit after a lone high half is still read as itself.
char* PutUtf16Unit(TextModeReader* reader, char* out, unsigned unit) {
  const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
  if (reader->utf16_high != 0) {
    const unsigned high = reader->utf16_high;
    reader->utf16_high = 0;
    if (low) return PutUtf8(out, 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00));
    out = PutUtf8(out, kReplacement);
  }
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    reader->utf16_high = unit;
    return out;
  }
  return PutUtf8(out, low ? kReplacement : unit);
}

void DecodeUtf16(TextModeReader* reader, std::string_view bytes) {
  if (bytes.empty()) return;
  const bool little = reader->mark == FileMark::kUtf16Le;
  const auto unit_of = [little](unsigned first, unsigned second) {
    return little ? first | second << 8 : first << 8 | second;
  };
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t n = bytes.size();
  // Room for the worst case, three bytes a unit (and a replaced high half before the first).
  const std::size_t start = reader->decoded.size();
  reader->decoded.resize(start + 3 * (n / 2 + 2));
  char* out = &reader->decoded[start];
  if (reader->utf16_byte >= 0) {
    out = PutUtf16Unit(reader, out, unit_of(static_cast<unsigned>(reader->utf16_byte), *b));
    reader->utf16_byte = -1;
    ++b;
    --n;
  }
  const std::size_t low_byte = little ? 0 : 1, high_byte = 1 - low_byte;
  while (n >= 2) {
    // Four ASCII units at a time: most files are mostly ASCII.
    if (n >= 8 && reader->utf16_high == 0 &&
        (b[high_byte] | b[high_byte + 2] | b[high_byte + 4] | b[high_byte + 6]) == 0 &&
        ((b[low_byte] | b[low_byte + 2] | b[low_byte + 4] | b[low_byte + 6]) & 0x80) == 0) {
      for (std::size_t k = 0; k < 8; k += 2) *out++ = static_cast<char>(b[low_byte + k]);
      b += 8;
      n -= 8;
      continue;
    }
    out = PutUtf16Unit(reader, out, unit_of(b[0], b[1]));
    b += 2;
    n -= 2;
  }
  if (n == 1) reader->utf16_byte = *b;
  reader->decoded.resize(static_cast<std::size_t>(out - reader->decoded.data()));
}

// Follows the bytes of a file without a mark through the well-formed UTF-8 sequences (overlong
// forms, surrogates and code points past U+10FFFF are not), across calls.
void CheckUtf8(TextModeReader* reader, const char* text, std::size_t size) {
  if (reader->mark != FileMark::kNone || reader->utf8_broken) return;
  const auto* b = reinterpret_cast<const unsigned char*>(text);
  const auto* end = b + size;
  while (b < end) {
    if (reader->utf8_needed == 0) {
      // Eight ASCII bytes at a time: most files are mostly ASCII.
      for (std::uint64_t word; end - b >= 8; b += 8) {
        std::memcpy(&word, b, sizeof word);
        if ((word & 0x8080808080808080ULL) != 0) break;
      }
      if (b == end) return;
      const unsigned char c = *b++;
      if (c < 0x80) continue;
      reader->utf8_low = 0x80;
      reader->utf8_high = 0xBF;
      if (c >= 0xC2 && c <= 0xDF) {
        reader->utf8_needed = 1;
      } else if (c >= 0xE0 && c <= 0xEF) {
        reader->utf8_needed = 2;
        if (c == 0xE0) reader->utf8_low = 0xA0;
        if (c == 0xED) reader->utf8_high = 0x9F;
      } else if (c >= 0xF0 && c <= 0xF4) {
        reader->utf8_needed = 3;
        if (c == 0xF0) reader->utf8_low = 0x90;
        if (c == 0xF4) reader->utf8_high = 0x8F;
      } else {
        reader->utf8_broken = true;
        return;
      }
      reader->utf8_seen = true;
    } else {
      const unsigned char c = *b++;
      if (c < reader->utf8_low || c > reader->utf8_high) {
        reader->utf8_broken = true;
        return;
      }
      reader->utf8_low = 0x80;
      reader->utf8_high = 0xBF;
      --reader->utf8_needed;
    }
  }
}

// Appends text read as part of the current line, following it through the UTF-8 test.
void AppendToLine(TextModeReader* reader, const char* text, std::size_t size) {
  CheckUtf8(reader, text, size);
  reader->line.append(text, size);
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

struct Mark {
  std::string_view bytes;
  FileMark mark;
};
constexpr Mark kMarks[] = {
    {"\xFF\xFE", FileMark::kUtf16Le},
    {"\xFE\xFF", FileMark::kUtf16Be},
    {"\xEF\xBB\xBF", FileMark::kUtf8},
};

}  // namespace

std::string_view DecodeBlock(TextModeReader* reader, std::string_view bytes) {
  reader->decoded.clear();
  std::string_view carried;  // the first bytes, held until the mark was decided
  if (reader->mark == FileMark::kUndecided) {
    const std::size_t take = std::min(bytes.size(), 3 - reader->held.size());
    reader->held.append(bytes.substr(0, take));
    bytes.remove_prefix(take);
    const std::string_view held = reader->held;
    reader->mark = FileMark::kNone;
    carried = held;
    for (const Mark& mark : kMarks) {
      if (StartsWith(held, mark.bytes)) {
        reader->mark = mark.mark;
        carried = held.substr(mark.bytes.size());
        break;
      }
      // Fewer bytes than a whole mark: it may still follow in the next block.
      if (StartsWith(mark.bytes, held)) {
        reader->mark = FileMark::kUndecided;
        return std::string_view();
      }
    }
  }
  if (reader->mark == FileMark::kUtf16Le || reader->mark == FileMark::kUtf16Be) {
    DecodeUtf16(reader, carried);
    DecodeUtf16(reader, bytes);
    return reader->decoded;
  }
  if (carried.empty()) return bytes;
  reader->decoded.assign(carried.data(), carried.size());
  reader->decoded.append(bytes.data(), bytes.size());
  return reader->decoded;
}

bool NextLine(TextModeReader* reader, std::string_view* text, std::string* line) {
  while (!reader->ended && !text->empty()) {
    const char* start = text->data();
    const auto* line_feed = static_cast<const char*>(std::memchr(start, '\n', text->size()));
    const std::size_t size = line_feed == nullptr ? text->size() : line_feed - start;
    const auto* end_of_file = static_cast<const char*>(std::memchr(start, '\x1a', size));
    if (end_of_file != nullptr) {
      AppendToLine(reader, start, end_of_file - start);
      reader->ended = true;
      break;
    }
    AppendToLine(reader, start, size);
    if (line_feed == nullptr) break;
    text->remove_prefix(size + 1);
    // A line feed inside a UTF-8 sequence breaks it.
    if (reader->utf8_needed != 0) reader->utf8_broken = true;
    // CR LF reads as LF; any other CR is an ordinary character.
    if (!reader->line.empty() && reader->line.back() == '\r') reader->line.pop_back();
    if (!reader->line.empty()) return HandOver(reader, line);
  }
  *text = std::string_view();
  return false;
}

bool EndLines(TextModeReader* reader, std::string* line) {
  // What a cut file leaves undecoded: the first bytes of a mark that never came are text; half a
  // UTF-16 unit, or a high surrogate alone, is one malformed unit.
  if (!reader->ended) {
    if (reader->mark == FileMark::kUndecided) {
      reader->mark = FileMark::kNone;
      AppendToLine(reader, reader->held.data(), reader->held.size());
    } else if (reader->utf16_byte >= 0 || reader->utf16_high != 0) {
      char replacement[4];
      reader->line.append(replacement, PutUtf8(replacement, kReplacement) - replacement);
    }
  }
  if (reader->utf8_needed != 0) reader->utf8_broken = true;
  reader->ended = true;
  return !reader->line.empty() && HandOver(reader, line);
}

TextEncoding DecidedEncoding(const TextModeReader& reader) {
  if (reader.mark != FileMark::kNone) return TextEncoding::kUtf8;
  return reader.utf8_seen && !reader.utf8_broken ? TextEncoding::kUtf8 : TextEncoding::kAnsi;
}

namespace {

void AcceptLine(const std::string& line, bool verbose) {
  LaunchEntry entry;
  if (!SplitLine(line, &entry)) {
    if (verbose)
      std::printf("ERROR: %s does not contain a \", ignored from launch\n", line.c_str());
    RecordFailure(LogEvent::kLineRejected, {line});
    return;
  }
  g_launch_list.push_back(std::move(entry));
  if (verbose) std::printf("\tApplication: %s\n", line.c_str());
}

// Records why the file could not be read, with the system's reason for the last failed call.
bool Unreadable(std::FILE* file) {
  const int error = errno;
  if (file != nullptr) std::fclose(file);
  RecordFailure(LogEvent::kConfigUnreadable, {kConfigFilePath, std::strerror(error)});
  return false;
}

}  // namespace

bool ReadConfig(bool verbose) {
  // Binary mode: the text-mode rules are applied here, so every platform reads a file alike.
  std::FILE* file = std::fopen(kConfigFilePath, "rb");
  if (file == nullptr) return Unreadable(nullptr);
  // A folder opens on POSIX but fails at the first read: that too is a file that cannot be opened.
  char block[64 * 1024];
  std::size_t got = std::fread(block, 1, sizeof block, file);
  if (std::ferror(file) != 0) return Unreadable(file);
  if (verbose) std::printf("\nReading config..\n");

  TextModeReader reader;
  std::string line;
  for (;;) {
    std::string_view text = DecodeBlock(&reader, std::string_view(block, got));
    while (NextLine(&reader, &text, &line)) AcceptLine(line, verbose);
    if (reader.ended || got < sizeof block) break;
    got = std::fread(block, 1, sizeof block, file);
  }
  // A file that fails part-way is unreadable: launching what was read so far could start a
  // command cut in the middle.
  if (std::ferror(file) != 0) return Unreadable(file);
  std::fclose(file);

  if (EndLines(&reader, &line)) AcceptLine(line, verbose);
  g_launch_encoding = DecidedEncoding(reader);
  if (verbose) std::printf("Finish reading config..\n\n");
  return true;
}
