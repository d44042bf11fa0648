// POSIX only: the process entry, which enters WinMain as the Windows start-up code would.
#include <signal.h>
#include <string.h>

#include "launcher/platform/posix/services.h"

int main(int argc, char** argv) {
  // A write beyond RLIMIT_FSIZE, or to a closed standard error, must fail as a call, not kill the
  // launcher before it can report and exit with its own status.
  signal(SIGXFSZ, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);

  // The command line without the program's name, as WinMain receives it; nothing reads it.
  static char commandLine[8192];
  size_t length = 0;
  for (int i = 1; i < argc; ++i) {
    size_t part = strlen(argv[i]);
    if (length + part + 2 > sizeof commandLine) break;
    if (length > 0) commandLine[length++] = ' ';
    memcpy(commandLine + length, argv[i], part);
    length += part;
  }
  commandLine[length] = 0;
  return WinMain(POSIX_MODULE_TOKEN, nullptr, commandLine, SW_SHOWDEFAULT);
}
