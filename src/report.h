#ifndef TARNWICK_REPORT_H_
#define TARNWICK_REPORT_H_

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "common.h"

/// The kinds of record a run leaves in the platform's log; each value is its event ID.
enum class LogEvent {
  kConfigUnreadable = 1,  // error: the configuration file's path, the system's reason
  kLaunchFailed = 2,      // error: application, parameters, the shell's code and its meaning
  kLineRejected = 3,      // warning: the line
  kNotRecorded = 4,       // warning: how many failures of the run were not recorded
};

/// One record for the platform's log: its kind and the texts inserted into its sentence.
struct LogRecord {
  LogEvent event;
  std::vector<std::string> inserts;
};

/// At most this many failures of one run are recorded; one more record counts the rest.
constexpr std::size_t kMaxRecords = 50;

/// Keeps a failure for the platform's log, its texts cut at a NUL byte as the shell sees them.
void RecordFailure(LogEvent event, std::initializer_list<std::string_view> texts);

/// Writes the failures kept, and a count of those past the limit, to the platform's log, their
/// texts in `encoding`. Writes nothing, and opens no log, when nothing failed.
void WriteFailures(TextEncoding encoding);

/// Whether the record is an error (else a warning).
inline bool IsError(LogEvent event) {
  return event == LogEvent::kConfigUnreadable || event == LogEvent::kLaunchFailed;
}

/// What a shell code means, as the Windows shell defines it; "unknown error" for other codes.
const char* ShellCodeMeaning(int code);

/// The record's whole sentence, with its texts inserted, as the Windows message table has it.
std::string DescribeRecord(const LogRecord& record);

#endif  // TARNWICK_REPORT_H_
