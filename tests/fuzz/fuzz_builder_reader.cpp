// Fuzz target: the builder's container reader (what list and verify do), and its verdict against
// the launcher's own loader: a container that verify passes must load in the launcher.
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "builder/container_reader.h"
#include "launcher/launcher.h"
#include "launcher/platform/posix/services.h"

using namespace sfxbuilder;

namespace {

// What ResetLauncherState does, by memset: its byte loop, instrumented for coverage, cost more than
// the search itself.
void FreshState() {
  memset(&g_launcherState, 0, sizeof g_launcherState);
  g_launcherState.archiveFile = INVALID_HANDLE_VALUE;
  g_launcherState.instance = POSIX_MODULE_TOKEN;
}

std::string g_path;

DWORD ReportFuzzPath(HMODULE, LPSTR buffer, DWORD size) {
  if (g_path.size() + 1 > size) return 0;
  memcpy(buffer, g_path.c_str(), g_path.size() + 1);
  return (DWORD)g_path.size();
}

int Silence(HWND, LPCSTR, LPCSTR, UINT) { return IDOK; }

// Caps what a member may expand to here, so a claimed 4 GiB member costs no memory.
class BoundedSink final : public ByteSink {
 public:
  bool Write(const uint8_t*, size_t count) override {
    total_ += count;
    return total_ <= (64u << 20);
  }

 private:
  uint64_t total_ = 0;
};

void List(ByteSource* source) {
  LocatedContainer located;
  if (LocateTrailer(source, &located) != SearchFault::None) return;
  if (located.directoryPosition + (uint64_t)located.entryCount * ENTRY_SIZE > source->Size()) abort();
  std::vector<DirectoryEntry> entries;
  if (!LoadDirectory(source, located, &entries)) return;
  if (entries.size() != (size_t)located.entryCount) abort();
  for (const DirectoryEntry& entry : entries) {
    (void)EntryStoredName(entry);
    (void)EntryExpandedName(entry);
    (void)EntryExpandedSize(source, entry);
    BoundedSink sink;
    std::string error;
    (void)ExpandEntry(source, entry, &sink, &error);
  }
}

bool LauncherLoads(const uint8_t* data, size_t size) {
  int fd = open(g_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) abort();
  if (size != 0 && write(fd, data, size) != (ssize_t)size) abort();
  close(fd);
  FreshState();
  int loaded = LocateContainer();
  if (g_launcherState.archiveFile != INVALID_HANDLE_VALUE) CloseHandle(g_launcherState.archiveFile);
  g_launcherState.archiveFile = INVALID_HANDLE_VALUE;
  return loaded == 1;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* base = getenv("TMPDIR");
  std::string folder = base != nullptr && base[0] != 0 ? base : "/tmp";
  g_path = folder + "/sfxrun-fuzz-reader-" + std::to_string(getpid()) + ".bin";
  g_posixServices = kPosixRealServices;
  g_posixServices.GetModuleFileNameA = ReportFuzzPath;
  g_posixServices.MessageBoxA = Silence;
  atexit([] { unlink(g_path.c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemorySource source(data, size);
  List(&source);
  ReadOptions options;  // the POSIX launcher's reading: UTF-8 names, no lead bytes
  std::vector<Problem> problems;
  bool verified = VerifyContainer(&source, options, &problems);
  if (verified != problems.empty()) abort();
  if (verified && !LauncherLoads(data, size)) abort();
  return 0;
}
