// The entry point, the stage order and the exit status; core code, OS reached via platform.h only.
#include "launcher/launcher.h"
#include "launcher/text.h"

// Zero-initialised, so its 150 KiB live in .bss rather than in the image; WinMain sets archiveFile
// to INVALID_HANDLE_VALUE before anything reads it.
LauncherState g_launcherState;

void ResetLauncherState() {
  char* bytes = (char*)&g_launcherState;
  for (size_t i = 0; i < sizeof g_launcherState; ++i) bytes[i] = 0;
  g_launcherState.archiveFile = INVALID_HANDLE_VALUE;
}

int RunLauncher() {
  if (!CheckWorkArea()) return EXIT_WORK_AREA_FAILED;
  if (!LocateContainer()) return EXIT_CONTAINER_FAILED;
  if (!PrepareWorkFolder()) return EXIT_WORK_FOLDER_FAILED;

  // A launch path that does not fit MAX_PATH is a start that failed: the clean-up still runs.
  char launchPath[MAX_PATH];
  bool fits = TextCopy(launchPath, sizeof launchPath, g_launcherState.workFolder) &&
              TextAppendChar(launchPath, sizeof launchPath, PATH_SEPARATOR) &&
              TextAppend(launchPath, sizeof launchPath,
                         g_launcherState.entries[g_launcherState.entryCount - 1].expandedName);
  int launched = fits ? LaunchAndWait(launchPath, "", SW_SHOW) : 0;

  RemoveExtractedFiles();
  RemoveWorkFolder();
  return launched ? EXIT_LAUNCHED : EXIT_LAUNCH_FAILED;
}
