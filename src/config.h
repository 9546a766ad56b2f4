#ifndef TARNWICK_CONFIG_H_
#define TARNWICK_CONFIG_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "common.h"

/// The fixed configuration path. On POSIX it names a file in the current working directory.
constexpr char kConfigFilePath[] = "C:\\Tarnwick.cfg";

/// The characters of `text` from `from` up to but not including `to`; empty when `to` is past the
/// end, `from` is negative, or `from` is not less than `to`.
std::string SliceRange(const std::string& text, std::ptrdiff_t from, std::ptrdiff_t to);

/// Splits a non-empty line into application and parameters; false (entry untouched) when the line
/// starts with a double quote that is never closed.
bool SplitLine(const std::string& line, LaunchEntry* entry);

/// What the first bytes of a file say about its encoding.
enum class FileMark {
  kUndecided,  // too few bytes seen yet
  kNone,       // no byte-order mark: UTF-8 if every byte at or above 0x80 is, else ANSI
  kUtf8,
  kUtf16Le,
  kUtf16Be,
};

/// State of decoding and text-mode reading between blocks of the same file.
struct TextModeReader {
  std::string line;    // the part of a line read so far
  bool ended = false;  // a 0x1A was seen: nothing after it counts
  FileMark mark = FileMark::kUndecided;
  std::string held;         // the first bytes, while they may still be a byte-order mark
  std::string decoded;      // the text of the last block, where it differs from its bytes
  int utf16_byte = -1;      // the first byte of a UTF-16 code unit cut by a block boundary
  unsigned utf16_high = 0;  // a high surrogate waiting for its low half
  // The UTF-8 test of a file without a mark, over the bytes read as text.
  int utf8_needed = 0;                              // continuation bytes still due
  unsigned char utf8_low = 0x80, utf8_high = 0xBF;  // the range of the next one
  bool utf8_seen = false;                           // at least one sequence of two or more bytes
  bool utf8_broken = false;  // a byte at or above 0x80 outside a well-formed sequence
};

/// The text of the next block of `bytes` of a file: without the byte-order mark, and UTF-16 turned
/// into UTF-8 (a malformed unit becomes U+FFFD). The result may point into `reader`, and holds
/// only until the next call.
std::string_view DecodeBlock(TextModeReader* reader, std::string_view bytes);

/// Takes the next complete non-empty line out of `text` into `line`, by the text-mode rules (CR
/// LF reads as LF, the first 0x1A ends the input). False when `text` holds no further complete
/// line: its rest is then kept in `reader` for the next block.
bool NextLine(TextModeReader* reader, std::string_view* text, std::string* line);

/// Ends the input: false, or true with the last line when it did not end with a line feed.
bool EndLines(TextModeReader* reader, std::string* line);

/// The encoding of every line read, once the input has ended.
TextEncoding DecidedEncoding(const TextModeReader& reader);

/// Reads the configuration file into g_launch_list, narrating when `verbose`. False when the file
/// cannot be opened (nothing printed) or fails part-way (nothing of it is to be launched); true
/// otherwise, whatever its lines.
bool ReadConfig(bool verbose);

#endif  // TARNWICK_CONFIG_H_
