#include <cstdio>
#include <cstring>

#include "config.h"
#include "launch.h"
#include "report.h"
#include "shell.h"

int main(int argc, char** argv) {
  // Only the first argument counts, and only in exactly these two forms.
  const bool verbose =
      argc >= 2 && (std::strcmp(argv[1], "-v") == 0 || std::strcmp(argv[1], "-V") == 0);
  PrepareProcess();

  // Nobody may watch a run at log-on: its failures go to the platform's log as well.
  const bool read = ReadConfig(verbose);
  const bool launched = read && LaunchApplications(verbose);
  WriteFailures(g_launch_encoding);
  if (!read) {
    if (verbose) {
      std::printf(
          "ERROR: No config file was found. Create your own C:\\Tarnwick.cfg file and add your "
          "apps, *one* on each line\n");
    }
    return -1;
  }
  if (!launched) {
    if (verbose) std::printf("ERROR: One or more applications failed to launch\n");
    return -1;
  }
  return 0;
}
