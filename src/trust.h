#ifndef TARNWICK_TRUST_H_
#define TARNWICK_TRUST_H_

#include <cstdio>

/// Opens the configuration file `path` to be read as bytes, or gives null with the reason in
/// `reason` (the system's, or why the file must not be trusted). It must be a regular file: a FIFO
/// or a device is refused at once, never waited on. On POSIX it must belong to this user or root,
/// and no one else may write to it (not other users, nor its group unless that is the owner's own
/// group, named as the owner and with no other member, nor anyone its access list names); every
/// symbolic link on its way, a folder's too, is followed only when it belongs to this user or root.
std::FILE* OpenConfig(const char* path, const char** reason);

#endif  // TARNWICK_TRUST_H_
