#ifndef TARNWICK_SHELL_H_
#define TARNWICK_SHELL_H_

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

#endif  // TARNWICK_SHELL_H_
