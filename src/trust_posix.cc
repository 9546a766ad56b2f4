#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "trust.h"

namespace {

// Whether `group` is the own group of the user `owner`: the owner's primary group, named as the
// owner, with no other member, as Debian and Ubuntu give every user (whose umask 002 then makes
// files 0664). The name counts because a directory service may answer for one user but not list
// them all: a primary group shared by all of its users (domain users) is not found sharing, but
// it never bears one user's name.
bool IsOwnGroup(uid_t owner, gid_t group) {
  const passwd* user = getpwuid(owner);
  if (user == nullptr || user->pw_gid != group) return false;
  const std::string name = user->pw_name;  // the next lookup may overwrite it
  const struct group* entry = getgrgid(group);
  if (entry == nullptr || name != entry->gr_name) return false;
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

// How a folder on the way is opened: to walk it takes only the right to search it, as the
// system's own walk of a path does.
#ifdef O_PATH
constexpr int kFolderAccess = O_PATH;
#else
constexpr int kFolderAccess = O_RDONLY;
#endif

// Opens `path` for reading without waiting on a FIFO or a device, one name at a time, and follows
// a symbolic link, of a folder on the way as of the file itself, only when it belongs to this user
// or root: anyone else's link could point this user's run (or root's) at a file of their choosing.
// The system never follows a link by itself, so each link of a chain, and of its targets, is asked
// in turn. -1, with the reason in `reason`, when it does not open.
int OpenTrustingLinks(const char* path, const char** reason) {
  std::vector<std::string> names;  // what is still to be walked, the next name last
  const auto add = [&names](std::string_view text) {
    const std::size_t first = names.size();
    for (std::size_t start = 0; start < text.size();) {
      const std::size_t end = std::min(text.find('/', start), text.size());
      if (end > start && text.substr(start, end - start) != ".") {
        names.emplace(names.begin() + static_cast<std::ptrdiff_t>(first),
                      text.substr(start, end - start));
      }
      start = end + 1;
    }
  };
  int folder = *path == '/' ? open("/", kFolderAccess | O_DIRECTORY | O_CLOEXEC) : AT_FDCWD;
  if (folder == -1) {
    *reason = std::strerror(errno);
    return -1;
  }
  add(path);
  for (int links = 0;;) {
    // A path, or a link, that ends at a folder opens that folder (which is then refused).
    if (names.empty()) names.emplace_back(".");
    const std::string name = std::move(names.back());
    names.pop_back();
    const int flags = names.empty() ? O_RDONLY | O_NONBLOCK : kFolderAccess | O_DIRECTORY;
    const int fd = openat(folder, name.c_str(), flags | O_CLOEXEC | O_NOFOLLOW);
    const int error = errno;
    if (fd >= 0) {
      if (folder != AT_FDCWD) close(folder);
      if (names.empty()) return fd;
      folder = fd;
      continue;
    }
    struct stat link;
    if ((error != ELOOP && error != ENOTDIR) ||
        fstatat(folder, name.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(link.st_mode)) {
      *reason = std::strerror(error);
      break;
    }
    if (link.st_uid != geteuid() && link.st_uid != 0) {
      *reason = "A symbolic link of another user";
      break;
    }
    if (++links > 40) {
      *reason = std::strerror(ELOOP);
      break;
    }
    std::string target(static_cast<std::size_t>(link.st_size) + 1, '\0');
    const ssize_t size = readlinkat(folder, name.c_str(), target.data(), target.size());
    // A link changed since it was looked at is not followed.
    if (size <= 0 || static_cast<std::size_t>(size) >= target.size()) {
      *reason = size < 0 ? std::strerror(errno) : "A symbolic link that changed";
      break;
    }
    target.resize(static_cast<std::size_t>(size));
    // A relative target is relative to the link's own folder, the one open.
    if (target.front() == '/') {
      const int root = open("/", kFolderAccess | O_DIRECTORY | O_CLOEXEC);
      if (root == -1) {
        *reason = std::strerror(errno);
        break;
      }
      if (folder != AT_FDCWD) close(folder);
      folder = root;
    }
    add(target);
  }
  if (folder != AT_FDCWD) close(folder);
  return -1;
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
