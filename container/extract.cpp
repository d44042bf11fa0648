// ExtractMember and SecondsToFileTime: copy one member's stored bytes out; core code, OS via platform.h.
#include "launcher/launcher.h"

FILETIME SecondsToFileTime(const uint8_t modifiedTime[8]) {
  int64_t seconds = ReadInt32Le(modifiedTime);  // the high half is ignored by design
  uint64_t ticks = (uint64_t)((seconds + SECONDS_1601_TO_1970) * 10000000LL);
  FILETIME result;
  result.dwLowDateTime = (DWORD)ticks;
  result.dwHighDateTime = (DWORD)(ticks >> 32);
  return result;
}

int ExtractMember(const char* destinationPath, int32_t index) {
  const DirectoryEntry& entry = g_launcherState.entries[index];
  HANDLE archive = g_launcherState.archiveFile;
  SetFilePointer(archive, EntryDataOffset(entry), nullptr, FILE_BEGIN);

  HANDLE destination = CreateFileA(destinationPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (destination == INVALID_HANDLE_VALUE) {
    ReportMessage(IDS_CANNOT_CREATE, MESSAGE_STYLE);
    return 0;
  }

  unsigned char buffer[COPY_CHUNK];
  int32_t remaining = EntryDataLength(entry);
  while (remaining > 0) {
    DWORD request = remaining <= (int32_t)COPY_CHUNK ? (DWORD)remaining : (DWORD)COPY_CHUNK;
    DWORD got = 0;
    // The directory was checked to keep every member inside the file, so a read that comes short
    // means the file changed or the medium failed: a short member must never reach the program.
    if (!ReadFile(archive, buffer, request, &got, nullptr) || got != request) {
      ReportMessage(IDS_DAMAGED, MESSAGE_STYLE);
      CloseHandle(destination);
      return 0;
    }
    DWORD written = 0;
    // Likewise a write that stores fewer bytes than it was given is a failed write.
    if (!WriteFile(destination, buffer, got, &written, nullptr) || written != got) {
      ReportMessage(IDS_CANNOT_CREATE, MESSAGE_STYLE);
      CloseHandle(destination);
      return 0;
    }
    remaining -= (int32_t)request;
  }

  FILETIME stamp = SecondsToFileTime(entry.modifiedTime);
  SetFileTime(destination, &stamp, &stamp, &stamp);
  CloseHandle(destination);
  return 1;
}
