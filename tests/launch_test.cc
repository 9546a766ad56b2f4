#include "launch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common.h"
#include "shell.h"
#include "test_util.h"

// The launched program receives the parameters split by the Microsoft C runtime rules, on every
// platform. The recorder's first argument names the file it writes; the rest is the case.
TEST(ShellOpenTest, ProgramReceivesParametersSplitLikeWindows) {
  struct Row {
    const char* parameters;
    const char* received;  // one argument a line
  };
  const Row rows[] = {
      {"a b c", "a\nb\nc\n"},
      {"  a   b  ", "a\nb\n"},
      {"a\tb", "a\nb\n"},
      {"", ""},
      {R"("a b" c)", "a b\nc\n"},
      {R"(x"y z"w)", "xy zw\n"},
      {R"("a""b")", "a\"b\n"},
      {R"(a "" b)", "a\n\nb\n"},
      {R"(a\\b)", "a\\\\b\n"},
      {R"(a\"b)", "a\"b\n"},
      {R"("a\\" b)", "a\\\nb\n"},
      {R"(a\\\"b)", "a\\\"b\n"},
      {R"("a\" b")", "a\" b\n"},
      {R"(C:\Program Files\x)", "C:\\Program\nFiles\\x\n"},
      {R"("unterminated a  b)", "unterminated a  b\n"},
      {"$(echo hi);|&`x` %s%n", "$(echo\nhi);|&`x`\n%s%n\n"},
  };
  const fs::path dir = MakeScratchDir();
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.parameters);
    const fs::path out = dir / ("out" + std::to_string(++n));
    const std::string parameters = out.string() + " " + row.parameters;
    ASSERT_GT(ShellOpen(ARGREC_PATH, parameters.c_str()), 32);
    std::string received;
    ASSERT_TRUE(WaitForFile(out, &received));
    EXPECT_EQ(received, row.received);
  }
  fs::remove_all(dir);
}

// The codes every platform gives alike, measured against the Windows shell.
TEST(ShellOpenTest, AnswersLikeTheWindowsShell) {
  const fs::path dir = MakeScratchDir();
  const fs::path spaced = dir / "a b" / fs::path(ARGREC_PATH).filename();
  fs::create_directories(spaced.parent_path());
  fs::copy_file(ARGREC_PATH, spaced);
  WriteFile(dir / "corrupt.exe", "MZ not really a program");
  fs::permissions(dir / "corrupt.exe", fs::perms::owner_all);
  WriteFile(dir / "notes.tarnwick-unknown", "text");
  struct Row {
    std::string application;
    int code;
  };
  const Row rows[] = {
      {"", 11},
      {"\"\"", 2},
      {(dir / "missing.exe").string(), 2},
      {(dir / "missing" / "x.exe").string(), 2},
      {(dir / "corrupt.exe").string(), 11},
#ifdef _WIN32
      {(dir / "notes.tarnwick-unknown").string(), 31},
#endif
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.application);
    EXPECT_EQ(ShellOpen(row.application.c_str(), ""), row.code);
  }
  // A quoted path with spaces reaches the program.
  const std::string quoted = "\"" + spaced.string() + "\"";
  const std::string out = (dir / "spaced").string();
  ASSERT_GT(ShellOpen(quoted.c_str(), (out + " x").c_str()), 32);
  std::string received;
  ASSERT_TRUE(WaitForFile(out, &received));
  EXPECT_EQ(received, "x\n");
  RemoveWhenFree(dir);
}

// Every entry is attempted in order; one failure makes the result false but stops nothing.
TEST(LaunchApplicationsTest, AttemptsEveryEntryAndReportsAnyFailure) {
  const fs::path dir = MakeScratchDir();
  const std::string rec = ARGREC_PATH;
  const std::string missing = (dir / "missing-program").string();
  struct Row {
    LaunchList entries;
    bool result;
    std::vector<std::string> written;  // files the recorder must write
  };
  const Row rows[] = {
      {{}, true, {}},
      {{{rec, (dir / "a").string()}, {"\"" + rec + "\"", (dir / "b").string() + " x"}},
       true,
       {"a", "b"}},
      {{{rec, (dir / "c").string()}, {missing, ""}, {rec, (dir / "d").string()}, {"", ""}},
       false,
       {"c", "d"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.entries.size());
    g_launch_list = row.entries;
    EXPECT_EQ(LaunchApplications(false), row.result);
    for (const std::string& name : row.written) {
      std::string received;
      EXPECT_TRUE(WaitForFile(dir / name, &received)) << name;
    }
  }
  g_launch_list.clear();
  fs::remove_all(dir);
}
