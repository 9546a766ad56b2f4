#include "config.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "report.h"
#include "trust.h"

std::string SliceRange(std::string_view text, std::ptrdiff_t from, std::ptrdiff_t to) {
  if (from < 0 || from >= to || static_cast<std::size_t>(to) > text.size()) return std::string();
  return std::string(
      text.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from)));
}

bool SplitLine(std::string_view line, LaunchEntry* entry) {
  const auto n = static_cast<std::ptrdiff_t>(line.size());
  if (line[0] == '"') {
    const std::size_t close = line.find('"', 1);
    if (close == std::string_view::npos) return false;
    const auto q = static_cast<std::ptrdiff_t>(close);
    entry->application = SliceRange(line, 0, q + 1);
    // The character after the closing quote is dropped, whatever it is.
    entry->parameters = SliceRange(line, q + 2, n);
    return true;
  }
  // Only the space separates: a tab is an ordinary character. Without one, the whole line is
  // the application.
  const std::size_t space = line.find(' ');
  const auto s = space == std::string_view::npos ? n : static_cast<std::ptrdiff_t>(space);
  entry->application = SliceRange(line, 0, s);
  entry->parameters = SliceRange(line, s + 1, n);
  return true;
}

namespace {

// Hands out the line collected across blocks, keeping its buffer for the next such line.
std::string_view TakePartial(TextModeReader* reader) {
  reader->whole.swap(reader->partial);
  reader->partial.clear();
  return reader->whole;
}

}  // namespace

void FeedBlock(TextModeReader* reader, std::string_view bytes) {
  reader->text = std::string_view();
  if (reader->ended) return;
  std::string_view text = DecodeBlock(&reader->decoder, bytes);
  if (text.empty()) return;
  // One look for the end of the input per block, rather than one per line.
  const auto* end_of_file = static_cast<const char*>(std::memchr(text.data(), '\x1a', text.size()));
  if (end_of_file != nullptr) {
    text = text.substr(0, static_cast<std::size_t>(end_of_file - text.data()));
    reader->ended = true;
  }
  CheckUtf8(&reader->decoder, text);
  reader->text = text;
}

bool NextLine(TextModeReader* reader, std::string_view* line) {
  std::string_view& text = reader->text;
  while (!text.empty()) {
    const auto* line_feed = static_cast<const char*>(std::memchr(text.data(), '\n', text.size()));
    if (line_feed == nullptr) break;
    // A line within the block is handed out where it stands; only one that began in an earlier
    // block is copied together.
    std::string_view piece = text.substr(0, static_cast<std::size_t>(line_feed - text.data()));
    text.remove_prefix(piece.size() + 1);
    if (!reader->partial.empty()) {
      reader->partial.append(piece.data(), piece.size());
      piece = TakePartial(reader);
    }
    // CR LF reads as LF; any other CR is an ordinary character.
    if (!piece.empty() && piece.back() == '\r') piece.remove_suffix(1);
    if (!piece.empty()) {
      *line = piece;
      return true;
    }
  }
  reader->partial.append(text.data(), text.size());
  text = std::string_view();
  return false;
}

bool EndLines(TextModeReader* reader, std::string_view* line) {
  if (!reader->ended) {
    const std::string_view rest = EndDecoding(&reader->decoder);
    CheckUtf8(&reader->decoder, rest);
    reader->partial.append(rest.data(), rest.size());
    reader->ended = true;
  }
  if (reader->partial.empty()) return false;
  *line = TakePartial(reader);
  return true;
}

namespace {

void AcceptLine(std::string_view line, bool verbose) {
  LaunchEntry entry;
  if (!SplitLine(line, &entry)) {
    if (verbose) {
      std::printf("ERROR: %s does not contain a \", ignored from launch\n",
                  std::string(line).c_str());
    }
    RecordFailure(LogEvent::kLineRejected, {line});
    return;
  }
  g_launch_list.push_back(std::move(entry));
  if (verbose) std::printf("\tApplication: %s\n", std::string(line).c_str());
}

// Records why the file could not be read: `reason`, or the system's for the last failed call.
bool Unreadable(std::FILE* file, const char* reason = nullptr) {
  if (reason == nullptr) reason = std::strerror(errno);
  RecordFailure(LogEvent::kConfigUnreadable, {kConfigFilePath, reason});
  if (file != nullptr) std::fclose(file);
  return false;
}

}  // namespace

bool ReadConfig(bool verbose) {
  // Binary mode: the text-mode rules are applied here, so every platform reads a file alike.
  // A list somebody else can write would start their commands as this user: the platform refuses
  // it as it opens it.
  const char* reason = nullptr;
  std::FILE* file = OpenConfig(kConfigFilePath, &reason);
  if (file == nullptr) return Unreadable(nullptr, reason);
  char block[64 * 1024];
  std::size_t got = std::fread(block, 1, sizeof block, file);
  if (std::ferror(file) != 0) return Unreadable(file);
  if (verbose) std::printf("\nReading config..\n");

  TextModeReader reader;
  std::string_view line;
  for (;;) {
    FeedBlock(&reader, std::string_view(block, got));
    while (NextLine(&reader, &line)) AcceptLine(line, verbose);
    if (reader.ended || got < sizeof block) break;
    got = std::fread(block, 1, sizeof block, file);
  }
  // A file that fails part-way is unreadable: launching what was read so far could start a
  // command cut in the middle.
  if (std::ferror(file) != 0) return Unreadable(file);
  std::fclose(file);

  if (EndLines(&reader, &line)) AcceptLine(line, verbose);
  g_launch_encoding = DecidedEncoding(reader.decoder);
  if (verbose) std::printf("Finish reading config..\n\n");
  return true;
}
