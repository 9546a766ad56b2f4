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

/// State of text-mode decoding between blocks of the same file.
struct TextModeReader {
  std::string line;    // the part of a line read so far
  bool ended = false;  // a 0x1A was seen: nothing after it counts
};

/// Takes the next complete non-empty line out of `bytes` into `line`, by the text-mode rules (CR
/// LF reads as LF, the first 0x1A ends the input). False when `bytes` holds no further complete
/// line: its rest is then kept in `reader` for the next block.
bool NextLine(TextModeReader* reader, std::string_view* bytes, std::string* line);

/// Ends the input: false, or true with the last line when it did not end with a line feed.
bool EndLines(TextModeReader* reader, std::string* line);

/// Reads the configuration file into g_launch_list, narrating when `verbose`. False when the file
/// cannot be opened (nothing printed) or fails part-way (nothing of it is to be launched); true
/// otherwise, whatever its lines.
bool ReadConfig(bool verbose);

#endif  // TARNWICK_CONFIG_H_
