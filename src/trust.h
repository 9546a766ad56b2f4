#ifndef TARNWICK_TRUST_H_
#define TARNWICK_TRUST_H_

#include <cstdio>

/// Opens the configuration file `path` to be read as bytes, or gives null with the reason in
/// `reason` (the system's, or why the file must not be trusted). It must be a regular file: a FIFO
/// or a device is refused at once, never waited on. On POSIX it must belong to this user or root,
/// and no one else may write to it (not other users, nor its group unless that is the owner's own
/// group, named as the owner and with no other member, nor anyone its access list names); every
/// symbolic link on its way, a folder's too, is followed only when it belongs to this user or root.
/// On Windows it must be owned by Administrators, SYSTEM, TrustedInstaller or this user, and no
/// one else may be granted a change of it (only Authenticated Users, while a High integrity label
/// keeps every program not run as administrator from writing to it).
std::FILE* OpenConfig(const char* path, const char** reason);

/// Windows: why a file with the owner, access list and label written as `sddl` (SDDL) must not be
/// trusted by the user whose SID is `user` (S-1-...), as OpenConfig decides it, or null. For the
/// tests, which cannot give a file every such list under Wine.
const char* UntrustedSddlReason(const char* sddl, const char* user);

#endif  // TARNWICK_TRUST_H_
