#include "config.h"

#include <cstdio>
#include <cstring>

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

}  // namespace

bool NextLine(TextModeReader* reader, std::string_view* bytes, std::string* line) {
  while (!reader->ended && !bytes->empty()) {
    const char* start = bytes->data();
    const auto* line_feed = static_cast<const char*>(std::memchr(start, '\n', bytes->size()));
    const std::size_t size = line_feed == nullptr ? bytes->size() : line_feed - start;
    const auto* end_of_file = static_cast<const char*>(std::memchr(start, '\x1a', size));
    if (end_of_file != nullptr) {
      reader->line.append(start, end_of_file - start);
      reader->ended = true;
      break;
    }
    reader->line.append(start, size);
    if (line_feed == nullptr) break;
    bytes->remove_prefix(size + 1);
    // CR LF reads as LF; any other CR is an ordinary character.
    if (!reader->line.empty() && reader->line.back() == '\r') reader->line.pop_back();
    if (!reader->line.empty()) return HandOver(reader, line);
  }
  *bytes = std::string_view();
  return false;
}

bool EndLines(TextModeReader* reader, std::string* line) {
  reader->ended = true;
  return !reader->line.empty() && HandOver(reader, line);
}

namespace {

void AcceptLine(const std::string& line, bool verbose) {
  LaunchEntry entry;
  if (!SplitLine(line, &entry)) {
    if (verbose)
      std::printf("ERROR: %s does not contain a \", ignored from launch\n", line.c_str());
    return;
  }
  g_launch_list.push_back(std::move(entry));
  if (verbose) std::printf("\tApplication: %s\n", line.c_str());
}

}  // namespace

bool ReadConfig(bool verbose) {
  // Binary mode: the text-mode rules are applied here, so every platform reads a file alike.
  std::FILE* file = std::fopen(kConfigFilePath, "rb");
  if (file == nullptr) return false;
  // A folder opens on POSIX but fails at the first read: that too is a file that cannot be opened.
  char block[64 * 1024];
  std::size_t got = std::fread(block, 1, sizeof block, file);
  if (std::ferror(file) != 0) {
    std::fclose(file);
    return false;
  }
  if (verbose) std::printf("\nReading config..\n");

  TextModeReader reader;
  std::string line;
  for (;;) {
    std::string_view bytes(block, got);
    while (NextLine(&reader, &bytes, &line)) AcceptLine(line, verbose);
    if (reader.ended || got < sizeof block) break;
    got = std::fread(block, 1, sizeof block, file);
  }
  // A file that fails part-way is unreadable: launching what was read so far could start a
  // command cut in the middle.
  const bool read_failed = std::ferror(file) != 0;
  std::fclose(file);
  if (read_failed) return false;

  if (EndLines(&reader, &line)) AcceptLine(line, verbose);
  if (verbose) std::printf("Finish reading config..\n\n");
  return true;
}
