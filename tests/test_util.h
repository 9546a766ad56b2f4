#ifndef TARNWICK_TEST_UTIL_H_
#define TARNWICK_TEST_UTIL_H_

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "config.h"

namespace fs = std::filesystem;

/// A new empty folder under the system's temporary folder, never one another test process uses.
inline fs::path MakeScratchDir() {
  std::random_device random;
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  std::mt19937_64 numbers(random() ^ static_cast<unsigned long long>(now));
  for (;;) {
    const fs::path dir = fs::temp_directory_path() / ("tarnwick-test-" + std::to_string(numbers()));
    if (fs::create_directory(dir)) return dir;
  }
}

inline void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

/// Reads the whole of `path` into `content`; false when it cannot be opened.
inline bool ReadFile(const fs::path& path, std::string* content) {
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) return false;
  content->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

/// Waits for a launched program to write `path`; false when it has not appeared in time. Launches
/// return before the program runs, so the tests poll instead of sleeping a fixed time.
inline bool WaitForFile(const fs::path& path, std::string* content) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (;;) {
    // Under Wine the renamed file can show before it can be opened: wait until it opens.
    if (ReadFile(path, content)) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

/// Removes `dir` and everything in it, waiting while Windows still holds a program there that a
/// test started: a running exe cannot be deleted, and one that has just ended may stay locked.
inline void RemoveWhenFree(const fs::path& dir) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  std::error_code error;
  while (fs::remove_all(dir, error) == static_cast<std::uintmax_t>(-1) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

/// Replaces every `from` in `text` with `to`.
inline std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

/// `utf8` as UTF-16 with its byte-order mark, little-endian or big-endian.
inline std::string Utf16(std::string_view utf8, bool little) {
  std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
  const auto put = [&bytes, little](unsigned unit) {
    const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    bytes += little ? low : high;
    bytes += little ? high : low;
  };
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    unsigned code_point = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) code_point = code_point << 6 | (utf8[i + k] & 0x3F);
    i += length;
    if (code_point < 0x10000) {
      put(code_point);
    } else {
      put(0xD800 + ((code_point - 0x10000) >> 10));
      put(0xDC00 + ((code_point - 0x10000) & 0x3FF));
    }
  }
  return bytes;
}

/// The lines of `bytes`, fed to the reader in blocks of `block` bytes, as the program reads a file;
/// `encoding`, when given, receives the encoding decided for them.
inline std::vector<std::string> ReadLines(std::string_view bytes, std::size_t block,
                                          TextEncoding* encoding = nullptr) {
  TextModeReader reader;
  std::vector<std::string> lines;
  std::string_view line;
  for (std::size_t at = 0; at < bytes.size(); at += block) {
    FeedBlock(&reader, bytes.substr(at, block));
    while (NextLine(&reader, &line)) lines.emplace_back(line);
  }
  if (EndLines(&reader, &line)) lines.emplace_back(line);
  if (encoding != nullptr) *encoding = DecidedEncoding(reader.decoder);
  return lines;
}

#endif  // TARNWICK_TEST_UTIL_H_
