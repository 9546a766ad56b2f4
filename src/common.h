#ifndef TARNWICK_COMMON_H_
#define TARNWICK_COMMON_H_

#include <string>
#include <vector>

/// One configured launch: what the shell is asked to open, and the argument text passed with it.
struct LaunchEntry {
  std::string application;
  std::string parameters;  // empty when the line has none
};

/// The entries of the configuration file, in file order.
using LaunchList = std::vector<LaunchEntry>;

/// The one process-wide list: filled by ReadConfig, walked by LaunchApplications, released at exit.
extern LaunchList g_launch_list;

/// How the texts of the list are encoded: decided once, for the whole file, by ReadConfig.
enum class TextEncoding {
  kAnsi,  // the bytes of the file, in whatever code page it was written
  kUtf8,  // UTF-8: the file was UTF-8 or UTF-16
};

/// The encoding of every text in g_launch_list.
extern TextEncoding g_launch_encoding;

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

/// Whether the record is an error (else a warning).
inline bool IsError(LogEvent event) {
  return event == LogEvent::kConfigUnreadable || event == LogEvent::kLaunchFailed;
}

#endif  // TARNWICK_COMMON_H_
