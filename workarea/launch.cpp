// LaunchAndWait, RemoveExtractedFiles, RemoveWorkFolder: start the program and tidy up; core code.
#include "launcher/launcher.h"
#include "launcher/text.h"

// The shell checks cbSize against the record's own size: 60 bytes for 32-bit programs, 112 for 64-bit.
static_assert(sizeof(void*) != 4 || sizeof(SHELLEXECUTEINFOA) == 60, "SHELLEXECUTEINFOA is 60 bytes on 32-bit");

int LaunchAndWait(const char* path, const char* parameters, int showState) {
  SHELLEXECUTEINFOA info;
  char* bytes = (char*)&info;
  for (size_t i = 0; i < sizeof info; ++i) bytes[i] = 0;
  info.cbSize = (DWORD)sizeof info;
  // Only NOCLOSEPROCESS: the shell's own error reporting stays on.
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = "open";
  info.lpFile = path;
  info.lpParameters = parameters;
  info.nShow = showState;
  if (!ShellExecuteExA(&info) || (intptr_t)info.hInstApp <= 32) return 0;
  WaitForSingleObject(info.hProcess, INFINITE);
  return 1;
}

bool ComposeMemberPath(char* buffer, size_t capacity, const char* name) {
  if (!TextCopy(buffer, capacity, g_launcherState.workFolder)) return false;
  // Only a drive root ("C:\") already ends in its separator. Testing the last byte alone would be
  // wrong for longer paths, whose last byte may be the trail byte 0x5C of a double-byte character,
  // and testing the length alone would glue a name onto a short folder such as "\a".
  size_t length = TextLength(buffer);
  bool isRoot = length > 0 && length <= 3 && buffer[length - 1] == PATH_SEPARATOR;
  if (!isRoot && !TextAppendChar(buffer, capacity, PATH_SEPARATOR)) return false;
  return TextAppend(buffer, capacity, name);
}

void RemoveExtractedFiles() {
  char path[PATH_BUFFER_SIZE];
  for (int32_t i = 1; i < g_launcherState.entryCount; ++i) {
    if (ComposeMemberPath(path, sizeof path, g_launcherState.entries[i].expandedName)) DeleteFileA(path);
  }
}

void RemoveWorkFolder() { RemoveDirectoryA(g_launcherState.workFolder); }
