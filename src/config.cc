#include "config.h"

#include <cstdio>

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

void CompleteLine(TextModeReader* reader, std::vector<std::string>* lines) {
  if (reader->pending_cr) reader->line += '\r';
  reader->pending_cr = false;
  if (!reader->line.empty()) lines->push_back(std::move(reader->line));
  reader->line.clear();
}

}  // namespace

void TakeLines(TextModeReader* reader, std::string_view bytes, std::vector<std::string>* lines) {
  std::size_t pos = 0;
  while (!reader->ended && pos < bytes.size()) {
    const char c = bytes[pos];
    if (c == '\n') {
      // CR LF reads as one LF: the pending CR is not part of the line.
      reader->pending_cr = false;
      CompleteLine(reader, lines);
      ++pos;
      continue;
    }
    if (reader->pending_cr) {
      // A CR followed by anything but LF (another CR included) is an ordinary character.
      reader->line += '\r';
      reader->pending_cr = false;
    }
    if (c == '\r') {
      reader->pending_cr = true;
      ++pos;
      continue;
    }
    if (c == '\x1a') {
      reader->ended = true;
      break;
    }
    // Copy the run of ordinary bytes at once: lines may be long.
    const std::size_t end = bytes.find_first_of(std::string_view("\n\r\x1a", 3), pos);
    const std::size_t stop = end == std::string_view::npos ? bytes.size() : end;
    reader->line.append(bytes.data() + pos, stop - pos);
    pos = stop;
  }
}

void EndLines(TextModeReader* reader, std::vector<std::string>* lines) {
  CompleteLine(reader, lines);
  reader->ended = true;
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
  std::vector<std::string> lines;
  for (;;) {
    TakeLines(&reader, std::string_view(block, got), &lines);
    for (const std::string& line : lines) AcceptLine(line, verbose);
    lines.clear();
    if (reader.ended || got < sizeof block) break;
    got = std::fread(block, 1, sizeof block, file);
  }
  // A file that fails part-way is unreadable: launching what was read so far could start a
  // command cut in the middle.
  const bool read_failed = std::ferror(file) != 0;
  std::fclose(file);
  if (read_failed) return false;

  EndLines(&reader, &lines);
  for (const std::string& line : lines) AcceptLine(line, verbose);
  if (verbose) std::printf("Finish reading config..\n\n");
  return true;
}
