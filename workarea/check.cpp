// CheckWorkArea: refuses to run when the temporary folder's volume is nearly full; core code.
#include "launcher/launcher.h"

void CutRootText(char* path) {
  // Byte by byte: the root ends at the first backslash from index 2 on, so "C:\..." gives "C:" and
  // "\\server\share\..." gives "\\server".
  size_t length = 0;
  while (path[length] != 0) ++length;
  if (length <= 2) return;
  for (size_t i = 2; i < length; ++i) {
    if (path[i] == '\\') {
      path[i] = 0;
      return;
    }
  }
}

int CheckWorkArea() {
  char tempPath[MAX_PATH];
  DWORD length = GetTempPathA((DWORD)sizeof tempPath, tempPath);
  // A path that does not fit the buffer is as unusable as none.
  if (length == 0 || length >= sizeof tempPath) {
    ReportMessage(IDS_CANNOT_CREATE, MESSAGE_STYLE);
    return 0;
  }
  // Where '\' is no separator, the whole path names the file system that will hold the work folder.
  if (PATH_SEPARATOR == '\\') CutRootText(tempPath);

  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
  if (!GetDiskFreeSpaceA(tempPath, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters)) {
    return 1;  // a volume that cannot be measured is given the benefit of the doubt
  }
  double freeBytes = (double)sectorsPerCluster * (double)bytesPerSector * (double)freeClusters;
  if (freeBytes < MIN_FREE_BYTES) {
    ReportMessage(IDS_NO_SPACE, MESSAGE_STYLE);
    return 0;
  }
  return 1;
}
