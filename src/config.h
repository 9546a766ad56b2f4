#ifndef TARNWICK_CONFIG_H_
#define TARNWICK_CONFIG_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "common.h"
#include "decode.h"

/// The fixed configuration path. On POSIX it names a file in the current working directory.
constexpr char kConfigFilePath[] = "C:\\Tarnwick.cfg";

/// The characters of `text` from `from` up to but not including `to`; empty when `to` is past the
/// end, `from` is negative, or `from` is not less than `to`.
std::string SliceRange(std::string_view text, std::ptrdiff_t from, std::ptrdiff_t to);

/// Splits a non-empty line into application and parameters; false (entry untouched) when the line
/// starts with a double quote that is never closed.
bool SplitLine(std::string_view line, LaunchEntry* entry);

/// State of text-mode reading between blocks of the same file.
struct TextModeReader {
  Decoder decoder;
  std::string_view text;  // what is left of the current block's text
  std::string partial;    // a line begun in an earlier block
  std::string whole;      // the last line handed out that spanned blocks
  bool ended = false;     // a 0x1A was seen: nothing after it counts
};

/// Starts on the next block of `bytes` of a file, which must outlive the lines taken from it.
void FeedBlock(TextModeReader* reader, std::string_view bytes);

/// Takes the next complete non-empty line of the current block, by the text-mode rules (CR LF
/// reads as LF, the first 0x1A ends the input), into `line`, valid until the next call. False
/// when the block holds no further complete line: its rest is then kept for the next block.
bool NextLine(TextModeReader* reader, std::string_view* line);

/// Ends the input: false, or true with the last line when it did not end with a line feed.
bool EndLines(TextModeReader* reader, std::string_view* line);

/// Reads the configuration file into g_launch_list, narrating when `verbose`. False when the file
/// cannot be opened (nothing printed) or fails part-way (nothing of it is to be launched); true
/// otherwise, whatever its lines.
bool ReadConfig(bool verbose);

#endif  // TARNWICK_CONFIG_H_
