#ifndef TARNWICK_REPORT_H_
#define TARNWICK_REPORT_H_

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

#include "common.h"

/// At most this many failures of one run are recorded; one more record counts the rest.
constexpr std::size_t kMaxRecords = 50;

/// A text as a record carries it: up to its first NUL byte, as the shell sees it; only its start
/// when it is long, never cut inside a UTF-8 sequence; each byte below 0x20 and 0x7F written as
/// \xNN, and a backslash as \\, so that no text can pass for something else. In a UTF-8 text also
/// each byte outside a well-formed sequence as \xNN, and the characters that change how a line
/// reads (C1 controls, the line and paragraph separators, the bidirectional controls) as \uNNNN.
std::string RecordText(std::string_view text, TextEncoding encoding);

/// Keeps a failure for the platform's log; each of its texts is written as RecordText makes it.
void RecordFailure(LogEvent event, std::initializer_list<std::string_view> texts);

/// Writes the failures kept, and a count of those past the limit, to the platform's log, their
/// texts in `encoding`. Writes nothing, and opens no log, when nothing failed.
void WriteFailures(TextEncoding encoding);

/// What a shell code means, as the Windows shell defines it; "unknown error" for other codes.
const char* ShellCodeMeaning(int code);

#endif  // TARNWICK_REPORT_H_
