#ifndef TARNWICK_PLATFORM_H_
#define TARNWICK_PLATFORM_H_

#include <cstdio>
#include <vector>

#include "common.h"

/// Asks the platform's shell to "open" `application` with the argument text `parameters`, both in
/// `encoding`, without waiting for what it starts. Returns the shell's code: above 32 when the
/// request was carried out, 32 or less (an error code, printed unchanged) when it was not.
int ShellOpen(const char* application, const char* parameters,
              TextEncoding encoding = TextEncoding::kAnsi);

/// Prepares the process once, before any output and any launch: on POSIX a reader of the
/// narration that goes away must not end the run; on Windows DLLs loaded by bare name come from
/// System32 alone, and the shell gets the COM apartment it asks its callers for. Never fails the
/// run.
void PrepareProcess();

/// Opens the configuration file `path` to be read as bytes, or gives null with the reason in
/// `reason` (the system's, or why the file must not be trusted). It must be a regular file: a FIFO
/// or a device is refused at once, never waited on. On POSIX it must belong to this user or root,
/// and no one else may write to it (not other users, nor its group unless that is the owner's own
/// group with no other member, nor anyone its access list names); a symbolic link is followed
/// only when it, too, belongs to this user or root.
std::FILE* OpenConfig(const char* path, const char** reason);

/// Writes `records` to the platform's log, their texts in `encoding`: the Windows event log
/// (source Tarnwick) or syslog (tag tarnwick). A log that cannot be written is left alone.
void WriteSystemLog(const std::vector<LogRecord>& records, TextEncoding encoding);

#endif  // TARNWICK_PLATFORM_H_
