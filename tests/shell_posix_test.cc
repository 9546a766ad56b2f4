// What "open" answers on POSIX, where the project stands in for the Windows shell.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "shell.h"
#include "test_util.h"

namespace {

// Runs a case with PATH set to `path` alone, restoring it afterwards.
int OpenWithPath(const std::string& path, const std::string& application,
                 const std::string& parameters) {
  const char* old = std::getenv("PATH");
  const std::string saved = old == nullptr ? "" : old;
  setenv("PATH", path.c_str(), 1);
  const int code = ShellOpen(application.c_str(), parameters.c_str());
  setenv("PATH", saved.c_str(), 1);
  return code;
}

}  // namespace

// What is no program goes to xdg-open, and without one the answer is "no association"; a bare
// name is looked up in PATH; the POSIX ways of not finding a file all answer "not found".
TEST(ShellOpenPosixTest, AnswersWithTheShellsCodes) {
  const fs::path dir = MakeScratchDir();
  const fs::path bin = dir / "bin";  // holds the recorder under a bare name and a fake xdg-open
  const fs::path empty = dir / "empty";
  fs::create_directories(bin);
  fs::create_directories(empty);
  fs::copy_file(ARGREC_PATH, bin / "argrec");
  WriteFile(bin / "xdg-open",
            "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.part\" && /bin/mv \"$0.part\" \"$0.out\"\n");
  fs::permissions(bin / "xdg-open", fs::perms::owner_all);
  // Not executable by anyone, so that root too is refused it.
  WriteFile(bin / "no-exec", "#!/bin/sh\n");
  fs::permissions(bin / "no-exec", fs::perms::owner_read | fs::perms::owner_write);
  WriteFile(dir / "notes.txt", "text");

  const std::string d = dir.string();
  struct Row {
    std::string path, application, parameters;
    int code;
    const char* opened;  // what xdg-open must receive (@D@ for the scratch folder), or null
  };
  const Row rows[] = {
      {empty, d + "/notes.txt/x", "", 2, nullptr},
      {empty, d + "/" + std::string(5000, 'a'), "", 2, nullptr},
      {empty, "no-such-program", "", 2, nullptr},
      {empty, d + "/notes.txt", "", 31, nullptr},
      {empty, d, "", 31, nullptr},
      {empty, "https://example.org/", "", 31, nullptr},
      {bin, "argrec", d + "/bare", 33, nullptr},
      {bin, "\"argrec\"", d + "/bare-quoted", 33, nullptr},
      {bin, "argrec", d + "/huge " + std::string(200000, 'x'), 8, nullptr},
      {bin, d + "/notes.txt", "", 33, "@D@/notes.txt\n"},
      {bin, "\"" + d + "\"", "ignored", 33, "@D@\n"},
      {bin, "mailto:someone@example.org", "", 33, "mailto:someone@example.org\n"},
      {bin, "C:x", "", 2, nullptr},
      {bin, "no-exec", "", 5, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.application.substr(0, 80));
    fs::remove(bin / "xdg-open.out");
    EXPECT_EQ(OpenWithPath(row.path, row.application, row.parameters), row.code);
    std::string opened;
    if (row.opened != nullptr) {
      ASSERT_TRUE(WaitForFile(bin / "xdg-open.out", &opened));
      EXPECT_EQ(opened, ReplaceAll(row.opened, "@D@", d));
    }
  }

  // A program that keeps running leads a session of its own, not the launcher's.
  const fs::path session = dir / "session";
  const std::string record = "-c \"set -- $(cut -d' ' -f1,6 /proc/$$/stat); echo $1 $2 > " +
                             session.string() + ".part; mv " + session.string() + ".part " +
                             session.string() + "; exec sleep 30\"";
  ASSERT_EQ(ShellOpen("sh", record.c_str()), 33);
  std::string ids;
  ASSERT_TRUE(WaitForFile(session, &ids));
  pid_t pid = 0;
  pid_t sid = 0;
  std::istringstream(ids) >> pid >> sid;
  EXPECT_GT(pid, 0);
  EXPECT_EQ(sid, pid);
  EXPECT_NE(sid, getsid(0));
  kill(pid, SIGTERM);

  // A descriptor the launcher was handed without close-on-exec does not reach what it starts.
  const int inherited = open("/dev/null", O_RDONLY);
  const std::string fd_file = (dir / "fd").string();
  const std::string probe = "-c \"[ -e /proc/$$/fd/" + std::to_string(inherited) +
                            " ] && echo open > " + fd_file + ".part || echo closed > " + fd_file +
                            ".part; mv " + fd_file + ".part " + fd_file + "\"";
  ASSERT_EQ(ShellOpen("sh", probe.c_str()), 33);
  close(inherited);
  std::string state;
  ASSERT_TRUE(WaitForFile(fd_file, &state));
  EXPECT_EQ(state, "closed\n");
  fs::remove_all(dir);
}
