#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "trust.h"

namespace {

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
