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

// A text goes into a log record up to its first NUL, with every control byte and backslash
// written so that it cannot pass for another; so are every byte outside a well-formed UTF-8
// sequence and each character that changes how a line reads or does not show, but not their
// neighbours. The record stays within kMaxRecord bytes: its texts are cut, never inside an escape
// or a character.
TEST(RecordTextTest, CutsAndEscapesWhatTheLogShows) {
  constexpr TextEncoding kAnsi = TextEncoding::kAnsi, kUtf8 = TextEncoding::kUtf8;
  // The room a rejected line has beside its sentence.
  const std::size_t room =
      kMaxRecord + 1 -
      sizeof "Ignored a line of the configuration file that opens a quote and never closes it: ";
  const std::string a(room - 6, 'a');
  std::string bidi;
  for (std::size_t i = 0; i < room; ++i) bidi += "\xE2\x80\xAE";
  const std::tuple<std::string, TextEncoding, std::string> rows[] = {
      {"a\x1b[2K\rb", kUtf8, R"(a\x1b[2K\x0db)"},
      {"\x1f\x20\x7e", kAnsi,
       R"(\x1f )"
       "~"},
      {"\x7f", kAnsi, R"(\x7f)"},
      {R"(C:\a)", kUtf8, R"(C:\\a)"},
      {std::string("a\0b", 3), kAnsi, "a"},
#ifndef _WIN32
      // Log readers take ANSI, too, as UTF-8 (Windows reads it in the ANSI code page first).
      {"\xC3\xA9\x80\xFF", kAnsi, "\xC3\xA9\\x80\\xff"},
      {"\xC2\x9B\xE2\x80\xAE", kAnsi, R"(\u009b\u202e)"},
#endif
      {"\xC3\xA9\x80\xFF", kUtf8, "\xC3\xA9\\x80\\xff"},
#ifdef _WIN32
      // Event Viewer would read a %1 in a text as one more insertion: there every % is escaped.
      {"%1 %%1", kUtf8, R"(\x251 \x25\x251)"},
#else
      {"%1 %%1", kUtf8, "%1 %%1"},
#endif
      {"\xE2\x80", kUtf8, R"(\xe2\x80)"},
      {"\xC0\xAF", kUtf8, R"(\xc0\xaf)"},
      {"\xC2\x85", kUtf8, R"(\u0085)"},
      {"\xC2\x9F\xC2\xA0", kUtf8, "\\u009f\xC2\xA0"},
      {"\xD8\x9C", kUtf8, R"(\u061c)"},
      {"\xE2\x80\x8A\xE2\x80\x8B", kUtf8, "\xE2\x80\x8A\\u200b"},
      {"\xE2\x80\x8F", kUtf8, R"(\u200f)"},
      {"\xE2\x80\xA7\xE2\x80\xA8", kUtf8, "\xE2\x80\xA7\\u2028"},
      {"\xE2\x80\xAE\xE2\x80\xAF", kUtf8, "\\u202e\xE2\x80\xAF"},
      {"\xE2\x81\xA5\xE2\x81\xA6", kUtf8, "\xE2\x81\xA5\\u2066"},
      {"\xE2\x81\xAF\xE2\x81\xB0", kUtf8, "\\u206f\xE2\x81\xB0"},
      // Format characters: each hides, or hides what follows.
      {"\xC2\xAC\xC2\xAD", kUtf8, "\xC2\xAC\\u00ad"},
      {"\xEF\xBB\xBF", kUtf8, R"(\ufeff)"},
      {"\xEF\xBF\xB9", kUtf8, R"(\ufff9)"},
      {"\xF0\x91\x82\xBD", kUtf8, R"(\U000110bd)"},
      {"\xF3\xA0\x80\x80\xF3\xA0\x81\xBF", kUtf8, R"(\U000e0000\U000e007f)"},
      {"\xF3\xA0\x82\x80", kUtf8, "\xF3\xA0\x82\x80"},
      {"\xF0\x9F\x98\x80", kUtf8, "\xF0\x9F\x98\x80"},
      {a + "bcdefg", kAnsi, a + "bcdefg"},
      {a + "bcdefgh", kAnsi, a + "bcd..."},
      {a + "\x1b\x1b", kUtf8, a + "..."},
      {a + "b\xE2\x9C\x93\xE2\x9C\x93", kUtf8, a + "b..."},
      {bidi, kUtf8,
       ReplaceAll(bidi.substr(0, 3 * ((room - 3) / 6)), "\xE2\x80\xAE", R"(\u202e)") + "..."},
  };
  for (const auto& [text, encoding, shown] : rows) {
    SCOPED_TRACE(text.substr(0, 20));
    EXPECT_EQ(RecordTexts(LogEvent::kLineRejected, {text}, encoding), std::vector{shown});
  }
  // The texts of one record share its room; short ones stay whole.
  const std::vector<std::string> shown = RecordTexts(
      LogEvent::kLaunchFailed, {std::string(room, 'a'), "b", std::string(room, 'c'), "d"}, kUtf8);
  EXPECT_EQ(shown[1] + shown[3], "bd");
  EXPECT_EQ(shown[0].size(), shown[2].size());
}
