// Fuzz target: the launcher's trailer search and directory load over a file written from the input.
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "container/names.h"
#include "launcher/launcher.h"
#include "launcher/platform/posix/services.h"

namespace {

// What ResetLauncherState does, by memset: its byte loop, instrumented for coverage, cost more than
// the search itself.
void FreshState() {
  memset(&g_launcherState, 0, sizeof g_launcherState);
  g_launcherState.archiveFile = INVALID_HANDLE_VALUE;
  g_launcherState.instance = POSIX_MODULE_TOKEN;
}

std::string g_path;
int g_messages = 0;

DWORD ReportFuzzPath(HMODULE, LPSTR buffer, DWORD size) {
  if (g_path.size() + 1 > size) return 0;
  memcpy(buffer, g_path.c_str(), g_path.size() + 1);
  return (DWORD)g_path.size();
}

int CountMessage(HWND, LPCSTR, LPCSTR, UINT) {
  ++g_messages;
  return IDOK;
}

void WriteWhole(const uint8_t* data, size_t size, size_t zeroPrefix) {
  int fd = open(g_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) abort();
  static const uint8_t zeros[4096] = {0};
  while (zeroPrefix > 0) {
    size_t n = zeroPrefix < sizeof zeros ? zeroPrefix : sizeof zeros;
    if (write(fd, zeros, n) != (ssize_t)n) abort();
    zeroPrefix -= n;
  }
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n <= 0) abort();
    data += n;
    size -= (size_t)n;
  }
  close(fd);
}

// The lowest free descriptor: if it moves up between runs, a run left one open.
int LowestFreeDescriptor() {
  int fd = dup(0);
  if (fd < 0) abort();
  close(fd);
  return fd;
}

bool IsSeparatorOrDrive(char c) { return c == '/' || c == '\\' || c == ':'; }

// What a loaded directory must give the later stages, checked here independently of the code under
// test: every name a plain file name inside its field, every member's bytes inside the file.
void CheckAccepted(int64_t fileSize) {
  int32_t n = g_launcherState.entryCount;
  if (n < 0 || n > MAX_ENTRIES) abort();
  // The directory and the trailer lie at least this far before the end of the file.
  int64_t dataLimit = fileSize - (int64_t)TRAILER_SIZE - (int64_t)n * (int64_t)ENTRY_SIZE;
  for (int32_t i = 1; i < n; ++i) {
    const DirectoryEntry& e = g_launcherState.entries[i];
    for (const char* field : {e.storedName, e.expandedName}) {
      const char* nul = (const char*)memchr(field, 0, NAME_FIELD_SIZE);
      if (nul == nullptr || nul == field) abort();
      std::string name(field, nul);
      if (name == "." || name == "..") abort();
      for (char c : name) {
        if (IsSeparatorOrDrive(c)) abort();
      }
    }
    int64_t offset = EntryDataOffset(e);
    int64_t length = EntryDataLength(e);
    if (length > 0 && (offset < 0 || offset + length > dataLimit)) abort();
  }
}

void RunOnce(const uint8_t* data, size_t size, size_t zeroPrefix) {
  WriteWhole(data, size, zeroPrefix);
  FreshState();
  g_messages = 0;
  int before = LowestFreeDescriptor();
  int result = LocateContainer();
  if (result == 1) {
    if (g_messages != 0 || g_launcherState.archiveFile == INVALID_HANDLE_VALUE) abort();
    CheckAccepted((int64_t)(size + zeroPrefix));
    CloseHandle(g_launcherState.archiveFile);
    g_launcherState.archiveFile = INVALID_HANDLE_VALUE;
  } else {
    // Every refusal shows exactly one message and leaves nothing open.
    if (result != 0 || g_messages != 1 || g_launcherState.archiveFile != INVALID_HANDLE_VALUE) abort();
  }
  if (LowestFreeDescriptor() != before) abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* base = getenv("TMPDIR");
  std::string folder = base != nullptr && base[0] != 0 ? base : "/tmp";
  g_path = folder + "/sfxrun-fuzz-locate-" + std::to_string(getpid()) + ".bin";
  g_posixServices = kPosixRealServices;
  g_posixServices.GetModuleFileNameA = ReportFuzzPath;
  g_posixServices.MessageBoxA = CountMessage;
  atexit([] { unlink(g_path.c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // As it is (a short file is searched over the bytes it has), and behind a launcher-sized image,
  // which puts the whole tail window and the 32750-byte bound in play.
  RunOnce(data, size, 0);
  RunOnce(data, size, TAIL_WINDOW);
  return 0;
}
