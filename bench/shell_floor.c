/* The floor for launching on Windows: a bare loop that asks the shell to open PROGRAM N times
 * with exactly the arguments the launcher passes (no parameters, no folder, a normal window).
 * With "com" it first enters the same COM apartment as the launcher, which tells the cost of COM
 * apart from the launcher's own. Usage: shell_floor PROGRAM [N [com]] */
#include <windows.h>

#include <objbase.h>
#include <shellapi.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
  const int count = argc > 2 ? atoi(argv[2]) : 40;
  int failed = 0;
  if (argc < 2) return 2;
  if (argc > 3 && strcmp(argv[3], "com") == 0) {
    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  }
  for (int i = 0; i < count; ++i) {
    if ((INT_PTR)ShellExecuteA(NULL, "open", argv[1], "", NULL, SW_SHOWNORMAL) <= 32) failed = 1;
  }
  return failed;
}
