#include "config.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "report.h"
#include "test_util.h"

// Out-of-range requests give an empty text instead of failing.
TEST(SliceRangeTest, TakesHalfOpenRangesAndEmptiesBadOnes) {
  struct Row {
    std::ptrdiff_t from, to;
    const char* expected;
  };
  const std::string text = "abcdef";
  const Row rows[] = {
      {0, 3, "abc"}, {2, 6, "cdef"}, {0, 6, "abcdef"}, {5, 6, "f"}, {3, 3, ""},
      {4, 2, ""},    {-1, 3, ""},    {0, 7, ""},       {6, 6, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.from) + ".." + std::to_string(row.to));
    EXPECT_EQ(SliceRange(text, row.from, row.to), row.expected);
  }
  EXPECT_EQ(SliceRange("", 0, 0), "");
}

// A leading quote makes the line quoted (the character after the closing quote is dropped);
// otherwise the first space, and only a space, splits.
TEST(SplitLineTest, SplitsQuotedAndPlainLines) {
  struct Row {
    std::string line;
    bool accepted;
    std::string application, parameters;
  };
  const Row rows[] = {
      {"notepad.exe", true, "notepad.exe", ""},
      {R"(notepad.exe C:\a.txt)", true, "notepad.exe", R"(C:\a.txt)"},
      {"a  b", true, "a", " b"},
      {"a ", true, "a", ""},
      {" x y", true, "", "x y"},
      {"a\tb", true, "a\tb", ""},
      {"a\tb c", true, "a\tb", "c"},
      {R"(a"b c")", true, R"(a"b)", R"(c")"},
      {R"("C:\Tools\a b.exe" /x)", true, R"("C:\Tools\a b.exe")", "/x"},
      {R"("a b")", true, R"("a b")", ""},
      {R"("a"-x)", true, R"("a")", "x"},
      {R"("a" )", true, R"("a")", ""},
      {R"("a"  b )", true, R"("a")", " b "},
      {R"("")", true, R"("")", ""},
      {R"(")", false, "", ""},
      {R"("abc def)", false, "", ""},
      {"\xEF\xBB\xBF\"a b\" c", true, "\xEF\xBB\xBF\"a", "b\" c"},
      {std::string("a\0b c", 5), true, std::string("a\0b", 3), "c"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    LaunchEntry entry;
    ASSERT_EQ(SplitLine(row.line, &entry), row.accepted);
    if (!row.accepted) continue;
    EXPECT_EQ(entry.application, row.application);
    EXPECT_EQ(entry.parameters, row.parameters);
  }
}

// Text-mode rules: CR LF is a line end, a lone CR is a character, the first 0x1A ends the input,
// empty lines do not count. The encoding is decided for the whole file: a byte-order mark (not
// text) for UTF-8 and UTF-16, whose characters follow the same rules; else UTF-8 when every byte
// at or above 0x80 is part of a well-formed sequence, and there is one; else the bytes as they are.
// Every file is also fed one and three bytes at a time, so a CR LF, a mark, a UTF-16 unit or a
// surrogate pair cut by a block boundary still reads as one.
TEST(NextLineTest, AppliesTextModeRulesAcrossBlocks) {
  struct Row {
    std::string bytes;
    std::vector<std::string> lines;
    TextEncoding encoding = TextEncoding::kAnsi;
  };
  const std::string le = Utf16("", true), be = Utf16("", false);
  const Row rows[] = {
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb", {"a", "b"}},
      {"a\rb\n", {"a\rb"}},
      {"a\r", {"a\r"}},
      {"a\r\r\nb", {"a\r", "b"}},
      {"a\r\x1a", {"a\r"}},
      {"a\x1a"
       "b\nc\n",
       {"a"}},
      {"\x1a"
       "a\n",
       {}},
      {"\n\r\n\n", {}},
      {"", {}},
      {std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
      {"x\nx\n", {"x", "x"}},
      {"\xEF\xBB\xBF"
       "a\n\xEF\xBB\xBF",
       {"a", "\xEF\xBB\xBF"},
       TextEncoding::kUtf8},
      {"Pr\xC3\xBC"
       "fung \xE2\x9C\x93\xCE\xA9\r\n",
       {"Pr\xC3\xBC"
        "fung \xE2\x9C\x93\xCE\xA9"},
       TextEncoding::kUtf8},
      {"Pr\xFC"
       "fung\r\n",
       {"Pr\xFC"
        "fung"}},
      {"\xFF", {"\xFF"}},
      {"\xEF\xBB", {"\xEF\xBB"}},
      {"\xC3\n\xBC\n", {"\xC3", "\xBC"}},
      // Each malformed form alone, and the well-formed sequence just inside each bound.
      {"\xC0\xAF", {"\xC0\xAF"}},
      {"\xE0\x9F\xBF", {"\xE0\x9F\xBF"}},
      {"\xED\xA0\x80", {"\xED\xA0\x80"}},
      {"\xF0\x8F\xBF\xBF", {"\xF0\x8F\xBF\xBF"}},
      {"\xF4\x90\x80\x80", {"\xF4\x90\x80\x80"}},
      {"\xF5\x80\x80\x80", {"\xF5\x80\x80\x80"}},
      {"\xC2\x80\xE0\xA0\x80", {"\xC2\x80\xE0\xA0\x80"}, TextEncoding::kUtf8},
      {"\xED\x9F\xBF", {"\xED\x9F\xBF"}, TextEncoding::kUtf8},
      {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF",
       {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
       TextEncoding::kUtf8},
      {"\xE2\x9C", {"\xE2\x9C"}},
      {"\xC3\xA9\x80", {"\xC3\xA9\x80"}},
      {"abcdefg\xC3\xA9", {"abcdefg\xC3\xA9"}, TextEncoding::kUtf8},
      {Utf16("\"a b\" c\r\n\n\xCE\xA9\xF0\x9F\x98\x80\rx\x1a"
             "d\n",
             true),
       {"\"a b\" c", "\xCE\xA9\xF0\x9F\x98\x80\rx"},
       TextEncoding::kUtf8},
      {Utf16("\xE2\x9C\x93\n", false) + be + std::string("\0a\0\n", 4),
       {"\xE2\x9C\x93",
        "\xEF\xBB\xBF"
        "a"},
       TextEncoding::kUtf8},
      {Utf16("a", true) +
           std::string("\0\xD8"
                       "b\0\n\0\0\xDC",
                       8) +
           "c",
       {"a\xEF\xBF\xBD"
        "b",
        "\xEF\xBF\xBD\xEF\xBF\xBD"},
       TextEncoding::kUtf8},
      {Utf16(std::string("a\0b", 3), false) + "\xD8",
       {std::string("a\0b\xEF\xBF\xBD", 6)},
       TextEncoding::kUtf8},
      {le, {}, TextEncoding::kUtf8},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.bytes));
    for (const std::size_t block : {row.bytes.size() + 1, std::size_t{1}, std::size_t{3}}) {
      TextEncoding encoding;
      const std::vector<std::string> lines = ReadLines(row.bytes, block, &encoding);
      EXPECT_EQ(lines, row.lines) << "blocks of " << block;
      EXPECT_EQ(encoding, row.encoding) << "blocks of " << block;
    }
  }
}

// A text goes into a log record up to its first NUL, cut after 2000 bytes (never inside a UTF-8
// sequence), with every control byte and backslash written so that it cannot pass for another; in
// UTF-8 also every byte outside a well-formed sequence, and each character that changes how a line
// reads, but not its neighbours.
TEST(RecordTextTest, CutsAndEscapesWhatTheLogShows) {
  const std::string a(1999, 'a');
  constexpr TextEncoding kAnsi = TextEncoding::kAnsi, kUtf8 = TextEncoding::kUtf8;
  const std::tuple<std::string, TextEncoding, std::string> rows[] = {
      {"a\x1b[2K\rb", kUtf8, R"(a\x1b[2K\x0db)"},
      {"\x1f\x20\x7e", kAnsi,
       R"(\x1f )"
       "~"},
      {"\x7f", kAnsi, R"(\x7f)"},
      {R"(C:\a)", kUtf8, R"(C:\\a)"},
      {std::string("a\0b", 3), kAnsi, "a"},
      {"\xC3\xA9\x80\xFF\xC2\x9B", kAnsi, "\xC3\xA9\x80\xFF\xC2\x9B"},
      {"\xC3\xA9\x80\xFF", kUtf8, "\xC3\xA9\\x80\\xff"},
      {"\xE2\x80", kUtf8, R"(\xe2\x80)"},
      {"\xC0\xAF", kUtf8, R"(\xc0\xaf)"},
      {"\xC2\x85", kUtf8, R"(\u0085)"},
      {"\xC2\x9F\xC2\xA0", kUtf8, "\\u009f\xC2\xA0"},
      {"\xD8\x9C", kUtf8, R"(\u061c)"},
      {"\xE2\x80\x8D\xE2\x80\x8E", kUtf8, "\xE2\x80\x8D\\u200e"},
      {"\xE2\x80\x8F", kUtf8, R"(\u200f)"},
      {"\xE2\x80\xA7\xE2\x80\xA8", kUtf8, "\xE2\x80\xA7\\u2028"},
      {"\xE2\x80\xAE\xE2\x80\xAF", kUtf8, "\\u202e\xE2\x80\xAF"},
      {"\xE2\x81\xA5\xE2\x81\xA6", kUtf8, "\xE2\x81\xA5\\u2066"},
      {"\xE2\x81\xA9\xE2\x81\xAA", kUtf8, "\\u2069\xE2\x81\xAA"},
      {"\xF0\x9F\x98\x80", kUtf8, "\xF0\x9F\x98\x80"},
      {a + "b", kAnsi, a + "b"},
      {a + "bc", kAnsi, a + "b..."},
      {a + "\xC3\xA9", kUtf8, a + "..."},
      {a + "b\xC3\xA9", kUtf8, a + "b..."},
      {a.substr(1) + "\xE2\x9C\x93", kUtf8, a.substr(1) + "..."},
  };
  for (const auto& [text, encoding, shown] : rows) {
    SCOPED_TRACE(text.substr(0, 20));
    EXPECT_EQ(RecordText(text, encoding), shown);
  }
}
