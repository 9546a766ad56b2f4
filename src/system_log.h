#ifndef TARNWICK_SYSTEM_LOG_H_
#define TARNWICK_SYSTEM_LOG_H_

#include <vector>

#include "common.h"

/// Writes `records` to the platform's log, their texts in `encoding`: the Windows event log
/// (source Tarnwick) or syslog (tag tarnwick). A log that cannot be written is left alone.
void WriteSystemLog(const std::vector<LogRecord>& records, TextEncoding encoding);

#endif  // TARNWICK_SYSTEM_LOG_H_
