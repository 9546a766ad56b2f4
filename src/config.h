#ifndef TARNWICK_CONFIG_H_
#define TARNWICK_CONFIG_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

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
  std::string line;         // the line read so far
  bool pending_cr = false;  // a carriage return whose meaning depends on the next byte
  bool ended = false;       // a 0x1A was seen: nothing after it counts
};

/// Decodes one block of file bytes with the text-mode rules (CR LF reads as LF, the first 0x1A
/// ends the input) and appends each completed non-empty line to `lines`.
void TakeLines(TextModeReader* reader, std::string_view bytes, std::vector<std::string>* lines);

/// Ends the input: appends the last line when it did not end with a line feed.
void EndLines(TextModeReader* reader, std::vector<std::string>* lines);

/// Reads the configuration file into g_launch_list, narrating when `verbose`. False, and nothing
/// printed, when the file cannot be opened or read to its end; true otherwise, whatever the lines.
bool ReadConfig(bool verbose);

#endif  // TARNWICK_CONFIG_H_
