// LocateContainer: finds the trailer in the launcher's own file and loads the directory; core code.
#include "container/names.h"
#include "launcher/launcher.h"

bool IsAnsiLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != 0; }

namespace {

int FailWithoutFile() {
  ReportMessage(IDS_DAMAGED, MESSAGE_STYLE);
  g_launcherState.archiveFile = INVALID_HANDLE_VALUE;
  return 0;
}

int FailWithFile() {
  ReportMessage(IDS_DAMAGED, MESSAGE_STYLE);
  if (g_launcherState.archiveFile != INVALID_HANDLE_VALUE) CloseHandle(g_launcherState.archiveFile);
  g_launcherState.archiveFile = INVALID_HANDLE_VALUE;
  return 0;
}

// Reads exactly count bytes ending distance bytes before the end of the file. A short read counts
// as a failure: a byte that no read delivered is never used.
bool ReadFromEnd(HANDLE file, LONG distance, void* buffer, DWORD count) {
  SetFilePointer(file, -distance, nullptr, FILE_END);
  DWORD got = 0;
  if (!ReadFile(file, buffer, count, &got, nullptr)) return false;
  return got == count;
}

}  // namespace

int LocateContainer() {
  char modulePath[PATH_BUFFER_SIZE];
  DWORD pathLength = GetModuleFileNameA(g_launcherState.instance, modulePath, (DWORD)sizeof modulePath);
  // A cut path could name another file; treat it like no path at all.
  if (pathLength == 0 || pathLength >= sizeof modulePath) return FailWithoutFile();

  g_launcherState.archiveFile =
      CreateFileA(modulePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (g_launcherState.archiveFile == INVALID_HANDLE_VALUE) return FailWithoutFile();
  HANDLE file = g_launcherState.archiveFile;

  DWORD sizeHigh = 0;
  SetLastError(ERROR_SUCCESS);  // a size whose low half is all ones is told from a failure this way
  DWORD sizeLow = GetFileSize(file, &sizeHigh);
  if (sizeLow == 0xFFFFFFFFu && GetLastError() != ERROR_SUCCESS) return FailWithFile();
  int64_t fileSize = (int64_t)(((uint64_t)sizeHigh << 32) | sizeLow);
  if (fileSize == 0) return FailWithFile();

  // A file shorter than the window is searched over the bytes it has.
  unsigned char tail[TAIL_WINDOW];
  size_t window = fileSize < (int64_t)TAIL_WINDOW ? (size_t)fileSize : TAIL_WINDOW;
  if (!ReadFromEnd(file, (LONG)window, tail, (DWORD)window)) return FailWithFile();

  size_t fillRun = 0;
  while (fillRun < window && tail[window - 1 - fillRun] == FILL_BYTE) ++fillRun;
  if (fillRun >= SEARCH_LIMIT) return FailWithFile();

  char signature[SIGNATURE_LENGTH];
  BuildSignatureText(signature);
  size_t distance = 0;
  size_t lastDistance = window < SEARCH_LIMIT - 1 ? window : SEARCH_LIMIT - 1;
  for (size_t d = fillRun > SIGNATURE_LENGTH ? fillRun : SIGNATURE_LENGTH; d <= lastDistance; ++d) {
    const unsigned char* candidate = tail + (window - d);
    size_t k = 0;
    while (k < SIGNATURE_LENGTH && candidate[k] == (unsigned char)signature[k]) ++k;
    if (k == SIGNATURE_LENGTH) {
      distance = d;
      break;
    }
  }
  // No signature, or one too near the end to hold a whole trailer.
  if (distance < TRAILER_SIZE) return FailWithFile();

  ContainerTrailer trailer;
  if (!ReadFromEnd(file, (LONG)distance, &trailer, (DWORD)TRAILER_SIZE)) return FailWithFile();
  for (size_t k = 0; k < CONFIRMATION_LENGTH; ++k) {
    if (trailer.signature[k] != signature[k]) return FailWithFile();
  }

  int32_t count = TrailerEntryCount(trailer);
  g_launcherState.entryCount = count;
  // The table holds MAX_ENTRIES records and the directory must lie inside the file.
  if (count < 0 || count > MAX_ENTRIES) return FailWithFile();
  int64_t directoryDistance = (int64_t)distance + (int64_t)count * (int64_t)ENTRY_SIZE;
  if (directoryDistance > fileSize) return FailWithFile();
  if (count > 0 && !ReadFromEnd(file, (LONG)directoryDistance, g_launcherState.entries,
                                (DWORD)(count * (int32_t)ENTRY_SIZE))) {
    return FailWithFile();
  }

  // Unchecked names could write outside the work folder; unchecked offsets would hand the started
  // program truncated or foreign bytes. Both are refused before anything is created.
  // Where '\\' is the separator the names are Windows names, and a device name such as NUL or
  // COM1.txt would send the member's bytes to the device while the run still counts as a success.
  int32_t faultIndex = -1;
  if (ValidateDirectory(g_launcherState.entries, count, fileSize - directoryDistance, IsAnsiLeadByte,
                        &faultIndex, PATH_SEPARATOR == '\\') != DirectoryFault::None) {
    return FailWithFile();
  }
  return 1;
}
