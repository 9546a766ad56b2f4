/* The floor for launching: a bare loop that starts `true` N times with the same settings the
 * launcher uses (new session, standard streams on /dev/null, default SIGPIPE), never waiting. */
#define _GNU_SOURCE /* POSIX_SPAWN_SETSID */
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

extern char** environ;

int main(int argc, char** argv) {
  const int count = argc > 1 ? atoi(argv[1]) : 300;
  char* child[] = {"true", NULL};
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  for (int i = 0; i < count; ++i) {
    pid_t pid;
    if (posix_spawnp(&pid, child[0], &actions, &attr, child, environ) != 0) return 1;
  }
  return 0;
}
