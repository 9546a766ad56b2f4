#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <syslog.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform.h"
#include "record_sentences.h"

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

// Whether `group` is the own group of the user `owner`: the owner's primary group, with no other
// member, as Debian and Ubuntu give every user (whose umask 002 then makes files 0664).
bool IsOwnGroup(uid_t owner, gid_t group) {
  const passwd* user = getpwuid(owner);
  if (user == nullptr || user->pw_gid != group) return false;
  const std::string name = user->pw_name;  // the next lookup may overwrite it
  const struct group* entry = getgrgid(group);
  if (entry == nullptr) return false;
  for (char** member = entry->gr_mem; *member != nullptr; ++member) {
    if (name != *member) return false;
  }
  // Nor may another user have it as their primary group.
  bool alone = true;
  setpwent();
  while (const passwd* other = getpwent()) {
    if (other->pw_gid == group && other->pw_uid != owner) {
      alone = false;
      break;
    }
  }
  endpwent();
  return alone;
}

// Why a file whose owner is `owner` must not be trusted for the write permission its access list
// (POSIX ACL, read from the open file) gives named users and groups, or null. The mode's group
// bits then show only the list's mask: a named entry can write even where they say the group
// cannot. The list's form: a 4-byte version, then 8-byte entries (2-byte tag, 2-byte permissions,
// 4-byte id), all little-endian.
const char* AclReason(int fd, uid_t owner) {
  constexpr char kAccessAcl[] = "system.posix_acl_access";
  constexpr std::uint32_t kUser = 0x02, kGroup = 0x08, kMask = 0x10, kWrite = 0x02;
  std::vector<unsigned char> acl(4 + 8 * 32);
  ssize_t size;
  while ((size = fgetxattr(fd, kAccessAcl, acl.data(), acl.size())) < 0 && errno == ERANGE) {
    acl.resize(acl.size() * 2);
  }
  // No list, or a file system without them: the mode says it all.
  if (size < 0) return errno == ENODATA || errno == ENOTSUP ? nullptr : std::strerror(errno);
  if (size < 4 || (size - 4) % 8 != 0) return "An access list that cannot be read";
  struct Entry {
    std::uint32_t tag, permissions, id;
  };
  const auto byte = [&](std::size_t at) { return static_cast<std::uint32_t>(acl[at]); };
  std::vector<Entry> entries;
  std::uint32_t mask = 07;
  for (std::size_t at = 4; at < static_cast<std::size_t>(size); at += 8) {
    entries.push_back({byte(at) | byte(at + 1) << 8, byte(at + 2) | byte(at + 3) << 8,
                       byte(at + 4) | byte(at + 5) << 8 | byte(at + 6) << 16 | byte(at + 7) << 24});
    if (entries.back().tag == kMask) mask = entries.back().permissions;
  }
  for (const Entry& entry : entries) {
    if ((entry.permissions & mask & kWrite) == 0) continue;
    if (entry.tag == kUser && entry.id != owner && entry.id != 0) return "Writable by other users";
    if (entry.tag == kGroup && !IsOwnGroup(owner, entry.id)) {
      return "Writable by a group that is not its owner's own";
    }
  }
  return nullptr;
}

// Why the open file `fd` must not be trusted as the list of what to start, or null.
const char* UntrustedReason(int fd) {
  struct stat info;
  if (fstat(fd, &info) != 0) return std::strerror(errno);
  if (!S_ISREG(info.st_mode)) return "Not a regular file";
  if (info.st_uid != geteuid() && info.st_uid != 0) return "Owned by another user";
  if ((info.st_mode & S_IWOTH) != 0) return "Writable by other users";
  if ((info.st_mode & S_IWGRP) != 0 && !IsOwnGroup(info.st_uid, info.st_gid)) {
    return "Writable by a group that is not its owner's own";
  }
  return AclReason(fd, info.st_uid);
}

// Opens `path` for reading without waiting on a FIFO or a device, and follows a symbolic link
// only when it belongs to this user or root: anyone else's link could point this user's run (or
// root's) at a file of their choosing. Each link of a chain is asked in turn. -1, with the reason
// in `reason`, when it does not open.
int OpenTrustingLinks(const char* path, const char** reason) {
  std::string name = path;
  for (int links = 0;; ++links) {
    const int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0) return fd;
    struct stat link;
    if (errno != ELOOP || links == 40 || lstat(name.c_str(), &link) != 0 ||
        !S_ISLNK(link.st_mode)) {
      *reason = std::strerror(errno);
      return -1;
    }
    if (link.st_uid != geteuid() && link.st_uid != 0) {
      *reason = "A symbolic link of another user";
      return -1;
    }
    std::string target(static_cast<std::size_t>(link.st_size) + 1, '\0');
    const ssize_t size = readlink(name.c_str(), target.data(), target.size());
    // A link changed since it was looked at is not followed.
    if (size <= 0 || static_cast<std::size_t>(size) >= target.size()) {
      *reason = size < 0 ? std::strerror(errno) : "A symbolic link that changed";
      return -1;
    }
    target.resize(static_cast<std::size_t>(size));
    // A relative target is relative to the link's own folder.
    const std::size_t slash = name.rfind('/');
    if (target.front() == '/' || slash == std::string::npos) {
      name = target;
    } else {
      name.erase(slash + 1).append(target);
    }
  }
}

// The record's whole sentence, with its texts inserted, as the event log's message table has it.
std::string DescribeRecord(const LogRecord& record) {
  const std::string_view sentence = kRecordSentences[static_cast<int>(record.event)];
  std::string text;
  for (std::size_t i = 0; i < sentence.size(); ++i) {
    // As the event log reads its table, %1 to %9 stand for the texts; the build lets no other %
    // into it.
    if (sentence[i] != '%') {
      text += sentence[i];
    } else if (const auto index = static_cast<std::size_t>(sentence[++i] - '1');
               index < record.inserts.size()) {
      text += record.inserts[index];
    }
  }
  return text;
}

}  // namespace

std::FILE* OpenConfig(const char* path, const char** reason) {
  const int fd = OpenTrustingLinks(path, reason);
  if (fd < 0) return nullptr;
  // The opened file itself is checked, not its path again: the path may be swapped in between.
  if ((*reason = UntrustedReason(fd)) == nullptr) {
    if (std::FILE* file = fdopen(fd, "rb")) return file;
    *reason = std::strerror(errno);
  }
  close(fd);
  return nullptr;
}

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

void WriteSystemLog(const std::vector<LogRecord>& records, TextEncoding /*encoding*/) {
  openlog("tarnwick", LOG_PID, LOG_USER);
  for (const LogRecord& record : records) {
    syslog(IsError(record.event) ? LOG_ERR : LOG_WARNING, "%s", DescribeRecord(record).c_str());
  }
  closelog();
}

void PrepareProcess() { std::signal(SIGPIPE, SIG_IGN); }
