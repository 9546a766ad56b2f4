// Runs the built program in the working directory, where its configuration lives under the fixed
// name, and compares what it prints byte for byte, its exit status, and what it launched.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "config.h"
#include "test_util.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace std::string_literals;

namespace {

#ifdef _WIN32
constexpr int kFailed = -1;
#else
constexpr int kFailed = 255;  // -1 from main, as the system reports it
#endif

constexpr char kNoConfig[] =
    "ERROR: No config file was found. Create your own C:\\Tarnwick.cfg file and add your apps, "
    "*one* on each line\n";
constexpr char kReadStart[] = "\nReading config..\n";
constexpr char kReadEnd[] = "Finish reading config..\n\n";
constexpr char kLaunchStart[] = "Starting to launch applications\n";
constexpr char kLaunchEnd[] = "Finished to launch applications\n";
constexpr char kLaunchFailed[] = "ERROR: One or more applications failed to launch\n";

#ifdef _WIN32
// The recorder writes what it received in UTF-8: the shell read the ANSI byte 0xFF in the ANSI
// code page (1252 in the test prefix), as U+00FF.
constexpr char kRecordedFF[] = "\xC3\xBF";
#else
constexpr char kRecordedFF[] = "\xFF";
#endif

constexpr char kAbsent[] = "<absent>";
constexpr char kFolder[] = "<folder>";
constexpr char kFifo[] = "<fifo>";

// One of the programs the table runs against; a windowless one writes into a file, as at log-on.
struct Program {
  const char* name;
  const char* path;
  bool redirected;  // its output goes to a file, not into a pipe
};

const Program kPrograms[] = {
    {"console", TARNWICK_PATH, false},
#ifdef TARNWICKW_PATH
    {"windowless", TARNWICKW_PATH, true},
#endif
};

// Runs `program` with `arguments` from the folder `from`, relative to the working directory, and
// reads what it prints; a reader that `hangs_up` goes away after the first line.
int RunTarnwick(const Program& program, const std::string& arguments, const std::string& from,
                bool hangs_up, std::string* output) {
  const std::string log = "tarnwick.log";
  std::string command = "cd " + from + " && \"" + program.path + "\" " + arguments;
  if (program.redirected) command += " > " + log;
#ifdef _WIN32
  // cmd /c drops the first and the last quote of its command: give it a pair to drop.
  std::FILE* pipe = _popen(("\"" + command + "\"").c_str(), "rb");
#else
  std::FILE* pipe = popen(command.c_str(), "r");
#endif
  if (pipe == nullptr) return -1000;
  output->clear();
  for (int c; (c = std::fgetc(pipe)) != EOF;) {
    *output += static_cast<char>(c);
    if (hangs_up && c == '\n') break;
  }
#ifdef _WIN32
  const int status = _pclose(pipe);
#else
  const int closed = pclose(pipe);
  const int status = WIFEXITED(closed) ? WEXITSTATUS(closed) : -1000 - closed;
#endif
  if (program.redirected) {
    ReadFile(fs::path(from) / log, output);
    const std::size_t line_end = output->find('\n');
    if (hangs_up && line_end != std::string::npos) output->erase(line_end + 1);
    fs::remove(fs::path(from) / log);
  }
  return status;
}

// What the program prints: on Windows its standard output writes every line feed as CR LF.
std::string Printed(const std::string& text) {
#ifdef _WIN32
  return ReplaceAll(text, "\n", "\r\n");
#else
  return text;
#endif
}

class EndToEndTest : public testing::TestWithParam<Program> {};

void PrintTo(const Program& program, std::ostream* out) { *out << program.name; }

}  // namespace

TEST_P(EndToEndTest, NarratesLaunchesAndExits) {
  struct Row {
    const char* name;
    std::string config;  // @REC@: the recorder; @DIR@: a scratch folder for its files
    std::string arguments;
    std::string output;
    int status;
    std::vector<std::pair<std::string, std::string>> recorded;  // file in @DIR@, its content
    std::string from = ".";  // the working folder, below the test's own
    bool hangs_up = false;   // the reader goes away after the first line
    int mode = 0;            // the file's permission bits, where not 0
    // Whom the file is given to: "user" (another), "group" (a shared one); "link": the name is a
    // symbolic link to it, "user link": another user's; "dir link": that link leads through a link
    // to the file's folder, "user dir link": another user's, "relative dir link": one to ".".
    const char* owner = "";
    const char* acl = "";  // an entry added to its access list
  };
  const std::string good = "@REC@ @DIR@/g1 a\r\n";
  const std::string good_narration = std::string(kReadStart) + "\tApplication: @REC@ @DIR@/g1 a\n" +
                                     kReadEnd + kLaunchStart + "\tLaunch: @REC@\n" +
                                     "\t Param: @DIR@/g1 a\n\t   Res: OK\n" + kLaunchEnd;
  const std::string& narrated = good_narration;
  const std::vector<std::pair<std::string, std::string>> g1{{"g1", "a\n"}};
  // Enough entries that the narration overflows any pipe buffer.
  std::string many;
  std::vector<std::pair<std::string, std::string>> many_recorded;
  for (int i = 0; i < 300; ++i) {
    many += "@REC@ @DIR@/m" + std::to_string(i) + " " + std::to_string(i) + "\r\n";
    many_recorded.emplace_back("m" + std::to_string(i), std::to_string(i) + "\n");
  }
  const std::string long_line(10 * 1024 * 1024, 'x');
  // A folder and parameters beyond any single code page, in every encoding the platform's own
  // tools write (@UTF-16LE@ and @UTF-16BE@: the file is written as UTF-16 with its mark).
  const std::string unicode =
      "\"@UREC@\" @DIR@/u1 Gr\xC3\xBC\xC3\x9F"
      "e \"\xE2\x9C\x93 \xCE\xA9\"\r\n";
  const std::string unicode_narration =
      std::string(kReadStart) + "\tApplication: " + unicode.substr(0, unicode.size() - 2) + "\n" +
      kReadEnd + kLaunchStart +
      "\tLaunch: \"@UREC@\"\n\t Param: " + unicode.substr(9, unicode.size() - 11) +
      "\n\t   Res: OK\n" + kLaunchEnd;
  const std::pair<std::string, std::string> unicode_recorded{"u1",
                                                             "Gr\xC3\xBC\xC3\x9F"
                                                             "e\n\xE2\x9C\x93 \xCE\xA9\n"};
  const Row rows[] = {
      {"absent, quiet", kAbsent, "", "", kFailed, {}},
      {"absent, verbose", kAbsent, "-v", kNoConfig, kFailed, {}},
      {"folder", kFolder, "-v", kNoConfig, kFailed, {}},
      {"empty, -V",
       "",
       "-V",
       std::string(kReadStart) + kReadEnd + kLaunchStart + kLaunchEnd,
       0,
       {}},
      {"empty, quiet", "", "", "", 0, {}},
      {"line ends only",
       "\r\n\n\r\n",
       "-v",
       std::string(kReadStart) + kReadEnd + kLaunchStart + kLaunchEnd,
       0,
       {}},
      {"good, verbose", good, "-v", narrated, 0, g1},
      {"good, quiet", good, "", "", 0, g1},
      {"-vv is quiet", good, "-vv", "", 0, {{"g1", "a\n"}}},
      {"-v with a blank is quiet", good, "\"-v \"", "", 0, {{"g1", "a\n"}}},
      {"-v second is quiet", good, "x -v", "", 0, {{"g1", "a\n"}}},
      {"/v is quiet", good, "/v --v", "", 0, {{"g1", "a\n"}}},
#ifdef _WIN32
      // The path is absolute: any working folder finds the same file.
      {"from another folder", good, "-v", good_narration, 0, {{"g1", "a\n"}}, "sub"},
#else
      {"from another folder", good, "-v", kNoConfig, kFailed, {}, "sub"},
#endif
      {"failure in the middle",
       "\"@REC@\" @DIR@/q1 a \"b c\"\r\n"
       "\r\n"
       "\"unterminated\r\n"
       "@DIR@/missing-program x\r\n"
       "@REC@ @DIR@/p1  two\tspaces\r\n",
       "-v",
       std::string(kReadStart) + "\tApplication: \"@REC@\" @DIR@/q1 a \"b c\"\n" +
           "ERROR: \"unterminated does not contain a \", ignored from launch\n" +
           "\tApplication: @DIR@/missing-program x\n" +
           "\tApplication: @REC@ @DIR@/p1  two\tspaces\n" + kReadEnd + kLaunchStart +
           "\tLaunch: \"@REC@\"\n\t Param: @DIR@/q1 a \"b c\"\n\t   Res: OK\n" +
           "\tLaunch: @DIR@/missing-program\n\t Param: x\n\t   Res: Failed with code 2\n" +
           "\tLaunch: @REC@\n\t Param: @DIR@/p1  two\tspaces\n\t   Res: OK\n" + kLaunchEnd +
           kLaunchFailed,
       kFailed,
       {{"q1", "a\nb c\n"}, {"p1", "two\nspaces\n"}}},
      {"0x1A ends the input",
       "@REC@ @DIR@/c1 a\x1a"
       "b\n@REC@ @DIR@/c2\n",
       "-v",
       std::string(kReadStart) + "\tApplication: @REC@ @DIR@/c1 a\n" + kReadEnd + kLaunchStart +
           "\tLaunch: @REC@\n\t Param: @DIR@/c1 a\n\t   Res: OK\n" + kLaunchEnd,
       0,
       {{"c1", "a\n"}}},
      {"UTF-8", unicode, "-v", unicode_narration, 0, {unicode_recorded}},
      {"UTF-8 with its mark",
       "\xEF\xBB\xBF" + unicode,
       "-v",
       unicode_narration,
       0,
       {unicode_recorded}},
      {"UTF-16 LE", "@UTF-16LE@" + unicode, "-v", unicode_narration, 0, {unicode_recorded}},
      {"UTF-16 BE", "@UTF-16BE@" + unicode, "-v", unicode_narration, 0, {unicode_recorded}},
      // Hostile files and conditions.
      {"a single 10 MB line",
       "\"" + long_line + "\n" + good,
       "-v",
       std::string(kReadStart) + "ERROR: \"" + long_line +
           " does not contain a \", ignored from launch\n" +
           good_narration.substr(sizeof kReadStart - 1),
       0,
       {{"g1", "a\n"}}},
      {"NUL, 0xFF and lone CR bytes",
       "@REC@ @DIR@/n1 a\0b\r\n@REC@ @DIR@/f1 \xff\r\x01 c\r\n"s,
       "-v",
       std::string(kReadStart) + "\tApplication: @REC@ @DIR@/n1 a\n" +
           "\tApplication: @REC@ @DIR@/f1 \xff\r\x01 c\n" + kReadEnd + kLaunchStart +
           "\tLaunch: @REC@\n\t Param: @DIR@/n1 a\n\t   Res: OK\n" +
           "\tLaunch: @REC@\n\t Param: @DIR@/f1 \xff\r\x01 c\n\t   Res: OK\n" + kLaunchEnd,
       0,
       {{"n1", "a\n"}, {"f1", kRecordedFF + "\r\x01\nc\n"s}}},
      {"0x1A first",
       "\x1a" + good,
       "-v",
       std::string(kReadStart) + kReadEnd + kLaunchStart + kLaunchEnd,
       0,
       {}},
      {"format specifiers print literally",
       "%s%n%x %d%%\r\n@REC@ @DIR@/s1 %s%n\r\n",
       "-v",
       std::string(kReadStart) + "\tApplication: %s%n%x %d%%\n" +
           "\tApplication: @REC@ @DIR@/s1 %s%n\n" + kReadEnd + kLaunchStart +
           "\tLaunch: %s%n%x\n\t Param: %d%%\n\t   Res: Failed with code 2\n" +
           "\tLaunch: @REC@\n\t Param: @DIR@/s1 %s%n\n\t   Res: OK\n" + kLaunchEnd + kLaunchFailed,
       kFailed,
       {{"s1", "%s%n\n"}}},
      {"shell metacharacters stay text",
       "@REC@ @DIR@/x1 $(touch @DIR@/p) `touch @DIR@/q`;|&><\n",
       "",
       "",
       0,
       {{"x1", "$(touch\n@DIR@/p)\n`touch\n@DIR@/q`;|&><\n"}}},
      // What is started never holds the launcher's output: the reader sees its end while the
      // started program still runs.
      {"a started program lingers",
       "@REC@ @DIR@/l1 linger\n",
       "-v",
       std::string(kReadStart) + "\tApplication: @REC@ @DIR@/l1 linger\n" + kReadEnd +
           kLaunchStart + "\tLaunch: @REC@\n\t Param: @DIR@/l1 linger\n\t   Res: OK\n" + kLaunchEnd,
       0,
       {{"l1", "linger\n"}}},
      {"300 entries, the reader hangs up after one line", many, "-v", "\n", 0, many_recorded, ".",
       true},
#ifndef _WIN32
      {"standard output closed", good, "-v >&-", "", 0, {{"g1", "a\n"}}},
#endif
#ifndef _WIN32
      // A list somebody else may write is never run.
      {"owned by another user", good, "-v", kNoConfig, kFailed, {}, ".", false, 0644, "user"},
      {"writable by others", good, "-v", kNoConfig, kFailed, {}, ".", false, 0646},
      {"writable by a shared group", good, "-v", kNoConfig, kFailed, {}, ".", false, 0664, "group"},
      {"ACL: user rw", good, "-v", kNoConfig, kFailed, {}, ".", false, 0644, "", "u:nobody:rw"},
      {"ACL: group rw", good, "-v", kNoConfig, kFailed, {}, ".", false, 0644, "", "g:nogroup:rw"},
      // Only a write the mask lets through counts, and not the owner's nor its own group's.
      {"ACL: masked rw", good, "-v", narrated, 0, g1, ".", false, 0644, "", "u:nobody:rw,m::r"},
      {"ACL: the owner rw", good, "-v", narrated, 0, g1, ".", false, 0644, "", "u:$(id -u):rw"},
      {"ACL: own group rw", good, "-v", narrated, 0, g1, ".", false, 0644, "", "g:$(id -g):rw"},
      {"another's symlink", good, "-v", kNoConfig, kFailed, {}, ".", false, 0, "user link"},
      {"own symlink", good, "-v", good_narration, 0, {{"g1", "a\n"}}, ".", false, 0, "link"},
      {"another's dir link", good, "-v", kNoConfig, kFailed, {}, ".", false, 0, "user dir link"},
      {"own dir link", good, "-v", good_narration, 0, {{"g1", "a\n"}}, ".", false, 0, "dir link"},
      // A relative target is taken from the link's own folder.
      {"own relative dir link", good, "-v", narrated, 0, g1, ".", false, 0, "relative dir link"},
      // Refused at once, never waited on.
      {"a FIFO", kFifo, "-v", kNoConfig, kFailed, {}},
      {"writable by the own group",
       good,
       "-v",
       good_narration,
       0,
       {{"g1", "a\n"}},
       ".",
       false,
       0664},
#endif
#ifdef _WIN64
      // What the user's System32 holds, which a 32-bit program would look for in SysWOW64.
      {"a program only in the 64-bit System32",
       "C:\\windows\\system32\\tarnwick-rec64.exe @DIR@/w1 full\r\ntarnwick-rec64.exe @DIR@/w2\r\n",
       "",
       "",
       0,
       {{"w1", "full\n"}, {"w2", ""}}},
#endif
  };
#ifdef _WIN64
  fs::copy_file(ARGREC_PATH, R"(C:\windows\system32\tarnwick-rec64.exe)",
                fs::copy_options::overwrite_existing);
#endif
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const fs::path dir = MakeScratchDir();
    const fs::path unicode_dir = dir / fs::u8path(
                                           "Pr\xC3\xBC"
                                           "fung \xE2\x9C\x93\xCE\xA9");
    const fs::path unicode_rec = unicode_dir / fs::path(ARGREC_PATH).filename();
    const auto fill = [&](const std::string& text) {
      return ReplaceAll(ReplaceAll(ReplaceAll(text, "@REC@", ARGREC_PATH), "@DIR@", dir.string()),
                        "@UREC@", unicode_rec.u8string());
    };
    if (row.config.find("@UREC@") != std::string::npos) {
      fs::create_directory(unicode_dir);
      fs::copy_file(ARGREC_PATH, unicode_rec);
    }
    fs::remove_all(kConfigFilePath);
    fs::create_directories(row.from);
    if (row.config == kFolder) {
      fs::create_directory(kConfigFilePath);
    } else if (row.config != kAbsent) {
      const std::string config = fill(row.config);
      const bool utf16 = config.compare(0, 7, "@UTF-16") == 0;
      WriteFile(kConfigFilePath, utf16 ? Utf16(config.substr(10), config[8] == 'L') : config);
    }
#ifndef _WIN32
    if (row.config == kFifo && (fs::remove(kConfigFilePath), mkfifo(kConfigFilePath, 0644) != 0)) {
      FAIL() << "no FIFO";
    }
    const std::string owner = row.owner;
    if (owner.find("link") != std::string::npos) {
      fs::rename(kConfigFilePath, dir / "linked.cfg");
      const bool folder = owner.find("dir") != std::string::npos;
      const bool relative = owner.find("relative") != std::string::npos;
      if (folder) fs::create_directory_symlink(relative ? fs::path(".") : dir, dir / "via");
      fs::create_symlink(dir / (folder ? "via/linked.cfg" : "linked.cfg"), kConfigFilePath);
    }
    if (row.mode != 0) fs::permissions(kConfigFilePath, static_cast<fs::perms>(row.mode));
    // Root may give the file to nobody, or to nogroup; others, to a second group of their own.
    gid_t groups[64];
    const int count = getgroups(64, groups);
    const gid_t shared = getuid() == 0 ? 65534
                         : count > 1   ? groups[groups[0] == getgid()]
                                       : getgid();
    if ((owner == "user" && chown(kConfigFilePath, 65534, -1) != 0) ||
        (owner == "group" && (shared == getgid() || chown(kConfigFilePath, -1, shared) != 0)) ||
        (owner == "user link" && lchown(kConfigFilePath, 65534, -1) != 0) ||
        (owner == "user dir link" && lchown((dir / "via").c_str(), 65534, -1) != 0) ||
        (*row.acl != '\0' &&
         std::system(("setfacl -m " + std::string(row.acl) + " 'C:\\Tarnwick.cfg'").c_str()) !=
             0)) {
      std::printf("%s: skipped, the file cannot be given away here\n", row.name);
      RemoveWhenFree(dir);
      continue;
    }
#endif
    std::string output;
    EXPECT_EQ(RunTarnwick(GetParam(), row.arguments, row.from, row.hangs_up, &output), row.status);
    EXPECT_EQ(output, Printed(fill(row.output)));
    for (const auto& [file, content] : row.recorded) {
      std::string received;
      ASSERT_TRUE(WaitForFile(dir / file, &received)) << file;
      EXPECT_EQ(received, fill(content)) << file;
      EXPECT_FALSE(fs::exists(dir / (file + ".done"))) << file << " was waited for";
    }
    EXPECT_FALSE(fs::exists(dir / "p") || fs::exists(dir / "q"));
    RemoveWhenFree(dir);
  }
  fs::remove_all(kConfigFilePath);
}

INSTANTIATE_TEST_SUITE_P(Programs, EndToEndTest, testing::ValuesIn(kPrograms),
                         [](const testing::TestParamInfo<Program>& info) {
                           return std::string(info.param.name);
                         });
