#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

#include "shell.h"

extern char** environ;

namespace {

// The codes the Windows shell gives for the same outcomes.
constexpr int kCarriedOut = 33;
constexpr int kNotFound = 2;
constexpr int kAccessDenied = 5;
constexpr int kOutOfMemory = 8;
constexpr int kBadFormat = 11;
constexpr int kNoAssociation = 31;

// The shell's code for an error number of posix_spawn or stat; 0 for one without a closer code.
int CodeFor(int error) {
  static constexpr int kCodes[][2] = {
      {0, kCarriedOut},          {ENOENT, kNotFound},     {ENOTDIR, kNotFound},
      {ENAMETOOLONG, kNotFound}, {EACCES, kAccessDenied}, {ENOMEM, kOutOfMemory},
      {EAGAIN, kOutOfMemory},    {E2BIG, kOutOfMemory},   {EMFILE, kOutOfMemory},
      {ENFILE, kOutOfMemory},    {ENOEXEC, kBadFormat}};
  for (const auto& [number, code] : kCodes) {
    if (number == error) return code;
  }
  return 0;
}

// Splits an argument text the way the Microsoft C runtime splits a program's command line:
// - space and tab separate arguments; runs of them are skipped;
// - '"' toggles quoting and is not copied; an argument goes on across quote boundaries;
// - inside quotes, "" gives one literal '"' and quoting goes on;
// - 2n backslashes before '"' give n backslashes and the quote acts as above; 2n+1 give n
//   backslashes and a literal '"'; other backslashes are literal;
// - an unterminated quote runs to the end of the text.
std::vector<std::string> SplitParameters(const char* text) {
  std::vector<std::string> words;
  const char* p = text;
  for (;;) {
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '\0') return words;
    std::string word;
    bool quoted = false;
    while (*p != '\0' && (quoted || (*p != ' ' && *p != '\t'))) {
      if (*p == '\\') {
        std::size_t count = 0;
        for (; *p == '\\'; ++p) ++count;
        if (*p != '"') {
          word.append(count, '\\');
        } else {
          word.append(count / 2, '\\');
          if (count % 2 == 1) word += *p++;
        }
      } else if (*p == '"') {
        if (quoted && p[1] == '"') {
          word += '"';
          p += 2;
        } else {
          quoted = !quoted;
          ++p;
        }
      } else {
        word += *p++;
      }
    }
    words.push_back(std::move(word));
  }
}

// "scheme:" of two or more characters; a single letter is a drive, not a scheme.
bool IsUrl(const std::string& name) {
  const std::size_t colon = name.find(':');
  if (colon == std::string::npos || colon < 2 ||
      !std::isalpha(static_cast<unsigned char>(name[0]))) {
    return false;
  }
  for (std::size_t i = 1; i < colon; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

// Starts `args` on its own, as the shell would: a new session, standard streams on /dev/null (so
// nothing holds the launcher's output open) and no other descriptor, default signal handling.
// Never waits for it.
int Spawn(const std::vector<std::string>& args, bool search_path) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  if (posix_spawn_file_actions_init(&actions) != 0) return ENOMEM;
  if (posix_spawnattr_init(&attr) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return ENOMEM;
  }
  sigset_t no_signals;
  sigset_t default_signals;
  sigemptyset(&no_signals);
  sigemptyset(&default_signals);
  sigaddset(&default_signals, SIGPIPE);  // ignored by the launcher, not by what it starts
  int error = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (error == 0) error = posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  if (error == 0) error = posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  // Whatever else the launcher was handed open (without close-on-exec) is not the child's.
  if (error == 0) error = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  if (error == 0) {
    error = posix_spawnattr_setflags(
        &attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  if (error == 0) error = posix_spawnattr_setsigmask(&attr, &no_signals);
  if (error == 0) error = posix_spawnattr_setsigdefault(&attr, &default_signals);
  if (error == 0) {
    pid_t pid;
    // posix_spawn returns its error number; it does not set errno.
    error = search_path ? posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ)
                        : posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ);
  }
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return error;
}

// Hands what is not a program to the desktop's opener.
int OpenWithDesktop(const std::string& name) {
  const int error = Spawn({"xdg-open", name}, true);
  return error == ENOENT ? kNoAssociation : CodeFor(error);
}

}  // namespace

// Every text is passed as its bytes: a UTF-8 file's are already what POSIX programs expect.
int ShellOpen(const char* application, const char* parameters, TextEncoding /*encoding*/) {
  std::string name = application;
  if (name.empty()) return kBadFormat;
  if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
    name = name.substr(1, name.size() - 2);
  }
  // Quotes around nothing name no file at all, which the shell reports as not found.
  if (name.empty()) return kNotFound;
  if (IsUrl(name)) return OpenWithDesktop(name);

  std::vector<std::string> args = SplitParameters(parameters);
  args.insert(args.begin(), name);
  // A bare name is a program found through PATH, exactly as execvp finds it.
  if (name.find('/') == std::string::npos) return CodeFor(Spawn(args, true));

  struct stat info;
  if (stat(name.c_str(), &info) != 0) return CodeFor(errno);
  if (S_ISREG(info.st_mode) && access(name.c_str(), X_OK) == 0) return CodeFor(Spawn(args, false));
  return OpenWithDesktop(name);
}

void PrepareProcess() { std::signal(SIGPIPE, SIG_IGN); }
