// WinMain, entered by the C runtime's GUI start-up on Windows and by main() on POSIX; core code.
#include "launcher/launcher.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // The command line and the show state are deliberately ignored: the launcher takes no options,
  // and nothing of its own start reaches the program it starts.
  g_launcherState.instance = instance;
  g_launcherState.archiveFile = INVALID_HANDLE_VALUE;
  return RunLauncher();
}
