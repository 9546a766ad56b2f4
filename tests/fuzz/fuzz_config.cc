// Fuzzes reading and splitting: arbitrary file bytes, fed in blocks of a size the input chooses,
// through the functions the reader itself uses. Checks what must hold for any bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "../test_util.h"
#include "config.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t block = data[0] % 16 + 1;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  TextEncoding encoding;
  TextEncoding encoding_whole;
  const std::vector<std::string> lines = ReadLines(bytes, block, &encoding);
  // Re-reading the same bytes in other blocks gives the same lines, in the same encoding.
  Check(lines == ReadLines(bytes, bytes.size() + 1, &encoding_whole));
  Check(encoding == encoding_whole);

  // A file with a byte-order mark is decoded first: its lines are pieces of its text, not of its
  // bytes, and that text has no other line feeds than the file's.
  const bool marked = bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF" ||
                      bytes.substr(0, 3) == "\xEF\xBB\xBF";
  if (marked) {
    for (const std::string& line : lines)
      Check(!line.empty() && line.find('\n') == std::string::npos);
    return 0;
  }
  Check(encoding == TextEncoding::kAnsi || lines.size() > 0);
  const std::string_view text = bytes.substr(0, bytes.find('\x1a'));
  std::size_t from = 0;
  std::size_t accepted = 0;
  for (const std::string& line : lines) {
    // Each line is a piece of the input up to the first 0x1A, in order, without its line end.
    const std::size_t at = text.find(line, from);
    Check(at != std::string_view::npos && !line.empty());
    Check(line.find('\n') == std::string::npos);
    from = at + line.size();

    LaunchEntry entry;
    if (!SplitLine(line, &entry)) {
      Check(line[0] == '"' && line.find('"', 1) == std::string::npos);
      continue;
    }
    ++accepted;
    // The application starts the line; the parameters end it; nothing is invented.
    Check(line.compare(0, entry.application.size(), entry.application) == 0);
    Check(entry.parameters.size() <= line.size() - entry.application.size());
    Check(line.compare(line.size() - entry.parameters.size(), std::string::npos,
                       entry.parameters) == 0);
  }
  Check(accepted <= lines.size());
  Check(lines.size() <= static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
  return 0;
}
