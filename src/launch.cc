#include "launch.h"

#include <cstdio>

#include "common.h"
#include "report.h"
#include "shell.h"

bool LaunchApplications(bool verbose) {
  bool result = true;
  if (verbose) std::printf("Starting to launch applications\n");
  for (std::size_t i = 0; i < g_launch_list.size(); ++i) {
    const LaunchEntry& entry = g_launch_list[i];
    if (verbose) {
      std::printf("\tLaunch: %s\n", entry.application.c_str());
      std::printf("\t Param: %s\n", entry.parameters.c_str());
    }
    // What the started program writes must never overtake the narration before it.
    std::fflush(stdout);
    const int code =
        ShellOpen(entry.application.c_str(), entry.parameters.c_str(), g_launch_encoding);
    if (code > 32) {
      if (verbose) std::printf("\t   Res: OK\n");
    } else {
      if (verbose) std::printf("\t   Res: Failed with code %i\n", code);
      result = false;
      RecordFailure(LogEvent::kLaunchFailed, {entry.application, entry.parameters,
                                              std::to_string(code), ShellCodeMeaning(code)});
    }
  }
  if (verbose) std::printf("Finished to launch applications\n");
  return result;
}
