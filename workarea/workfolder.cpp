// PrepareWorkFolder: a fresh work folder in the temporary folder, and the extraction pass; core code.
#include "launcher/launcher.h"
#include "launcher/text.h"

namespace {

void CloseArchive() {
  if (g_launcherState.archiveFile != INVALID_HANDLE_VALUE) CloseHandle(g_launcherState.archiveFile);
  g_launcherState.archiveFile = INVALID_HANDLE_VALUE;
}

int FailBeforeFolder(UINT messageId) {
  CloseArchive();
  ReportMessage(messageId, MESSAGE_STYLE);
  return 0;
}

int FailAfterFolder(UINT messageId) {
  if (messageId != 0) ReportMessage(messageId, MESSAGE_STYLE);
  CloseArchive();
  return 0;
}

enum CreateOutcome { CREATED, NAME_TAKEN, CREATE_FAILED };

// The folder must be one this run made: a name that another process took between the test and the
// creation counts as taken, so the launcher never fills and starts from a folder it did not create.
// What may stand under the name is cleared first only when the test could not tell that nothing
// does: clearing a name known to be free could remove the empty folder that another launcher of
// the same container has just created there, and both would then fill and clean up one folder.
CreateOutcome CreateWorkFolder(const char* name, bool clearFirst) {
  if (clearFirst) {
    RemoveDirectoryA(name);
    DeleteFileA(name);
  }
  if (CreateDirectoryA(name, nullptr)) return CREATED;
  return GetLastError() == ERROR_ALREADY_EXISTS ? NAME_TAKEN : CREATE_FAILED;
}

// Any failure of the test makes the name free; *clearFirst tells whether it failed for another
// reason than the name's absence.
bool IsNameFree(const char* name, bool* clearFirst) {
  if (GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES) return false;
  DWORD error = GetLastError();
  *clearFirst = error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
  return true;
}

// Creates the folder under name when the name is free. True when the search is over: *message is
// then 0 (workFolder names the new folder) or the message to show.
bool TryName(const char* name, UINT* message) {
  bool clearFirst = false;
  if (!IsNameFree(name, &clearFirst)) return false;
  switch (CreateWorkFolder(name, clearFirst)) {
    case NAME_TAKEN:
      return false;
    case CREATE_FAILED:
      *message = IDS_CANNOT_CREATE;
      return true;
    case CREATED:
      *message = TextCopy(g_launcherState.workFolder, PATH_BUFFER_SIZE, name) ? 0 : IDS_CANNOT_CREATE;
      return true;
  }
  return false;
}

// Finds a free name, the first candidate or "<first>(n)", and creates the folder under it.
// Returns 0 when the folder stands in workFolder, else the message to show.
UINT ChooseAndCreate(const char* firstCandidate) {
  UINT message = 0;
  if (TryName(firstCandidate, &message)) return message;
  char digits[MAX_PATH];
  char candidate[MAX_PATH];
  for (int64_t n = 1; n <= 0x7FFFFFFF; ++n) {  // the counter is a signed 32-bit number
    FormatDecimal(digits, (unsigned long)n);
    if (!TextCopy(candidate, sizeof candidate, firstCandidate) || !TextAppendChar(candidate, sizeof candidate, '(') ||
        !TextAppend(candidate, sizeof candidate, digits) || !TextAppendChar(candidate, sizeof candidate, ')')) {
      return IDS_CANNOT_CREATE;
    }
    if (TryName(candidate, &message)) return message;
  }
  return IDS_CANNOT_CREATE;
}

}  // namespace

int PrepareWorkFolder() {
  char tempPath[PATH_BUFFER_SIZE];
  DWORD tempLength = GetTempPathA((DWORD)sizeof tempPath, tempPath);
  if (tempLength == 0 || tempLength >= sizeof tempPath) return FailBeforeFolder(IDS_CANNOT_CREATE);
  int32_t count = g_launcherState.entryCount;
  if (count <= 0) return FailBeforeFolder(IDS_DAMAGED);

  // The folder is named after the launched program, cut before its first full stop.
  char firstCandidate[PATH_BUFFER_SIZE];
  TextCopy(firstCandidate, sizeof firstCandidate, tempPath);
  size_t length = TextLength(firstCandidate);
  if (length == 0 || firstCandidate[length - 1] != PATH_SEPARATOR) {
    if (!TextAppendChar(firstCandidate, sizeof firstCandidate, PATH_SEPARATOR)) return FailAfterFolder(IDS_CANNOT_CREATE);
  }
  const char* launchName = g_launcherState.entries[count - 1].expandedName;
  length = TextLength(firstCandidate);
  for (size_t i = 0; i < NAME_FIELD_SIZE && launchName[i] != 0 && launchName[i] != '.'; ++i) {
    if (length + 1 >= sizeof firstCandidate) return FailAfterFolder(IDS_CANNOT_CREATE);
    firstCandidate[length++] = launchName[i];
  }
  firstCandidate[length] = 0;

  UINT failure = ChooseAndCreate(firstCandidate);
  if (failure != 0) return FailAfterFolder(failure);

  char storedPath[PATH_BUFFER_SIZE];
  char expandedPath[PATH_BUFFER_SIZE];
  for (int32_t i = 1; i < count; ++i) {
    const DirectoryEntry& entry = g_launcherState.entries[i];
    if (!ComposeMemberPath(storedPath, sizeof storedPath, entry.storedName) ||
        !ComposeMemberPath(expandedPath, sizeof expandedPath, entry.expandedName)) {
      return FailAfterFolder(IDS_CANNOT_CREATE);
    }
    if (!ExtractMember(storedPath, i)) return FailAfterFolder(0);
    if (TextEqual(storedPath, expandedPath)) continue;
    if (ExpandMember(storedPath, expandedPath) <= 0) return FailAfterFolder(IDS_CANNOT_CREATE);
    DeleteFileA(storedPath);
  }
  CloseArchive();
  return 1;
}
