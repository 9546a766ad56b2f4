#include "trust.h"

#include <cerrno>
#include <cstring>

// Who may write C:\Tarnwick.cfg is set by the access list of C:\ and of the file itself; a folder
// of that name does not open.
std::FILE* OpenConfig(const char* path, const char** reason) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) *reason = std::strerror(errno);
  return file;
}
