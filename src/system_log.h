#ifndef TARNWICK_SYSTEM_LOG_H_
#define TARNWICK_SYSTEM_LOG_H_

#include <string>
#include <string_view>
#include <vector>

#include "common.h"

/// `text`, in `encoding`, as the UTF-8 the log takes: on Windows an ANSI text is converted from the
/// ANSI code page, so that a double-byte character stays one; on POSIX the bytes are left as they
/// are, since log readers take them as UTF-8 whatever the file was.
std::string LogUtf8(std::string_view text, TextEncoding encoding);

/// Whether the platform's log reads a % in a record's text as the start of something to insert
/// there, as Event Viewer takes a %1 in a text for one more insertion.
extern const bool kLogReadsPercent;

/// Writes `records`, their texts in UTF-8, to the platform's log: the Windows event log (source
/// Tarnwick) or syslog (tag tarnwick). A log that cannot be written is left alone.
void WriteSystemLog(const std::vector<LogRecord>& records);

#endif  // TARNWICK_SYSTEM_LOG_H_
