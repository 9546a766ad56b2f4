#include "config.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
// empty lines do not count. Every file is also fed one byte at a time, so a CR at the end of one
// block and its LF at the start of the next still read as one line end.
TEST(NextLineTest, AppliesTextModeRulesAcrossBlocks) {
  struct Row {
    std::string bytes;
    std::vector<std::string> lines;
  };
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
      {"\xEF\xBB\xBF"
       "a\n",
       {"\xEF\xBB\xBF"
        "a"}},
      {"x\nx\n", {"x", "x"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.bytes));
    for (const std::size_t block : {row.bytes.size() + 1, std::size_t{1}}) {
      const std::vector<std::string> lines = ReadLines(row.bytes, block);
      EXPECT_EQ(lines, row.lines) << "blocks of " << block;
    }
  }
}
