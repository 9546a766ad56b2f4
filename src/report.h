#ifndef TARNWICK_REPORT_H_
#define TARNWICK_REPORT_H_

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "common.h"

/// At most this many failures of one run are recorded; one more record counts the rest.
constexpr std::size_t kMaxRecords = 50;

/// The most bytes a record takes, its sentence and texts together: with syslog's header (its
/// priority, time, tag and process ID, under 48 bytes) it stays within the 2048 bytes every
/// syslog receiver should accept, so that none cuts it inside an escape or a character.
constexpr std::size_t kMaxRecord = 2000;

/// The texts of a record of `event`, in `encoding`, as the record shows them. Each is taken up to
/// its first NUL, as the shell sees it, and as UTF-8 (LogUtf8); then each byte below 0x20, 0x7F
/// and each byte outside a well-formed UTF-8 sequence is written as \xNN (so is a % where the
/// platform's log would read it: kLogReadsPercent), a backslash as \\, and
/// each character that changes how a line reads or does not show (C1 controls, the line and
/// paragraph separators, the format characters, the bidirectional controls among them, and the
/// tag characters) as \uNNNN or \UNNNNNNNN, so that no text can pass for something else. Where
/// the sentence with them would take more than kMaxRecord bytes, the longest texts are cut at an
/// escape or a character, and end in "...", until it fits; the sentence is never cut.
std::vector<std::string> RecordTexts(LogEvent event, const std::vector<std::string>& texts,
                                     TextEncoding encoding);

/// Keeps a failure for the platform's log; its texts are written as RecordTexts shows them.
void RecordFailure(LogEvent event, std::initializer_list<std::string_view> texts);

/// Writes the failures kept, and a count of those past the limit, to the platform's log, their
/// texts read in `encoding`. Writes nothing, and opens no log, when nothing failed.
void WriteFailures(TextEncoding encoding);

/// What a shell code means, as the Windows shell defines it; "unknown error" for other codes.
const char* ShellCodeMeaning(int code);

#endif  // TARNWICK_REPORT_H_
