// The fault sweep: whole runs of one small container over the POSIX layer, failing the 1st, 2nd, ...
// platform call (then delivering short reads, then short writes) until a run no longer meets the fault.
#include <sys/wait.h>
#include <unistd.h>

#include <iostream>
#include <map>
#include <sstream>

#include "launcher_fixture.h"
#include "lz/szdd.h"

using namespace testsupport;

namespace {

// Every service that can fail. IsDBCSLeadByte (a query without failure) and LZClose (no result)
// pass through uncounted.
enum Service {
  S_GetModuleFileNameA, S_LoadStringA, S_MessageBoxA, S_CreateFileA, S_ReadFile, S_WriteFile,
  S_SetFilePointer, S_GetFileSize, S_SetFileTime, S_CloseHandle, S_GetTempPathA, S_GetDiskFreeSpaceA,
  S_GetFileAttributesA, S_CreateDirectoryA, S_RemoveDirectoryA, S_DeleteFileA, S_ShellExecuteExA,
  S_WaitForSingleObject, S_LZOpenFileA, S_LZCopy, SERVICE_COUNT
};
const char* const kServiceNames[SERVICE_COUNT] = {
    "GetModuleFileNameA", "LoadStringA", "MessageBoxA", "CreateFileA", "ReadFile", "WriteFile",
    "SetFilePointer", "GetFileSize", "SetFileTime", "CloseHandle", "GetTempPathA", "GetDiskFreeSpaceA",
    "GetFileAttributesA", "CreateDirectoryA", "RemoveDirectoryA", "DeleteFileA", "ShellExecuteExA",
    "WaitForSingleObject", "LZOpenFileA", "LZCopy"};

enum class Mode { Fail, ShortRead, ShortWrite };
const char* ModeName(Mode mode) {
  return mode == Mode::Fail ? "FailingCalls" : mode == Mode::ShortRead ? "ShortReads" : "ShortWrites";
}
void PrintTo(Mode mode, std::ostream* out) { *out << ModeName(mode); }

struct Sweep {
  Mode mode = Mode::Fail;
  int faultAt = 0;  // 1-based among the counted calls; 0: none
  int calls = 0;
  int ordinal[SERVICE_COUNT] = {};
  bool hit = false;
  Service hitService = SERVICE_COUNT;
  int hitOrdinal = 0;
  std::string workFolder;                           // as the launch saw it
  std::map<std::string, std::vector<uint8_t>> launched;  // the work folder at the launch
  bool sawLaunch = false;
  std::vector<pid_t> children;
  // Calls disturbed by name and ordinal, besides the faultAt-th: a second fault in the same run.
  std::vector<std::pair<Service, int>> named;
};
Sweep g_sweep;
PosixServices g_base;  // the fixture's table: records messages, reports the container's path

bool Counts(Service s) {
  if (g_sweep.mode == Mode::ShortRead) return s == S_ReadFile;
  if (g_sweep.mode == Mode::ShortWrite) return s == S_WriteFile;
  return true;
}

// True when this call is the one to disturb.
bool Intercept(Service s) {
  if (!Counts(s)) return false;
  ++g_sweep.ordinal[s];
  for (const auto& fault : g_sweep.named) {
    if (fault.first == s && fault.second == g_sweep.ordinal[s]) return true;
  }
  if (++g_sweep.calls != g_sweep.faultAt) return false;
  g_sweep.hit = true;
  g_sweep.hitService = s;
  g_sweep.hitOrdinal = g_sweep.ordinal[s];
  return true;
}

DWORD W_GetModuleFileNameA(HMODULE m, LPSTR b, DWORD n) { return Intercept(S_GetModuleFileNameA) ? 0 : g_base.GetModuleFileNameA(m, b, n); }
int W_LoadStringA(HINSTANCE i, UINT id, LPSTR b, int n) { return Intercept(S_LoadStringA) ? 0 : g_base.LoadStringA(i, id, b, n); }
int W_MessageBoxA(HWND o, LPCSTR t, LPCSTR c, UINT s) {
  g_base.MessageBoxA(o, t, c, s);  // recorded either way: the launcher showed it
  return Intercept(S_MessageBoxA) ? 0 : IDOK;
}
HANDLE W_CreateFileA(LPCSTR p, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD d, DWORD f, HANDLE t) {
  if (Intercept(S_CreateFileA)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return g_base.CreateFileA(p, a, s, sa, d, f, t);
}
BOOL W_ReadFile(HANDLE h, LPVOID b, DWORD n, LPDWORD r, LPOVERLAPPED o) {
  if (!Intercept(S_ReadFile)) return g_base.ReadFile(h, b, n, r, o);
  if (g_sweep.mode == Mode::Fail) {
    if (r != nullptr) *r = 0;
    SetLastError(ERROR_READ_FAULT);
    return FALSE;
  }
  return g_base.ReadFile(h, b, n / 2, r, o);  // success with half the bytes, as from a file cut short
}
BOOL W_WriteFile(HANDLE h, LPCVOID b, DWORD n, LPDWORD w, LPOVERLAPPED o) {
  if (!Intercept(S_WriteFile)) return g_base.WriteFile(h, b, n, w, o);
  if (g_sweep.mode == Mode::Fail) {
    if (w != nullptr) *w = 0;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
  }
  return g_base.WriteFile(h, b, n / 2, w, o);  // success, but only half stored, as on a full disk
}
DWORD W_SetFilePointer(HANDLE h, LONG d, PLONG hi, DWORD m) {
  if (Intercept(S_SetFilePointer)) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;  // and the position stays where it was
  }
  return g_base.SetFilePointer(h, d, hi, m);
}
DWORD W_GetFileSize(HANDLE h, LPDWORD hi) {
  if (Intercept(S_GetFileSize)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0xFFFFFFFFu;
  }
  return g_base.GetFileSize(h, hi);
}
BOOL W_SetFileTime(HANDLE h, const FILETIME* c, const FILETIME* a, const FILETIME* w) {
  return Intercept(S_SetFileTime) ? FALSE : g_base.SetFileTime(h, c, a, w);
}
BOOL W_CloseHandle(HANDLE h) {
  // Like close() on Linux, a failing close still releases the descriptor.
  BOOL closed = g_base.CloseHandle(h);
  return Intercept(S_CloseHandle) ? FALSE : closed;
}
DWORD W_GetTempPathA(DWORD n, LPSTR b) { return Intercept(S_GetTempPathA) ? 0 : g_base.GetTempPathA(n, b); }
BOOL W_GetDiskFreeSpaceA(LPCSTR r, LPDWORD a, LPDWORD b, LPDWORD c, LPDWORD d) {
  return Intercept(S_GetDiskFreeSpaceA) ? FALSE : g_base.GetDiskFreeSpaceA(r, a, b, c, d);
}
DWORD W_GetFileAttributesA(LPCSTR p) {
  if (Intercept(S_GetFileAttributesA)) {
    SetLastError(ERROR_ACCESS_DENIED);  // a failure that does not say the name is absent
    return INVALID_FILE_ATTRIBUTES;
  }
  return g_base.GetFileAttributesA(p);
}
BOOL W_CreateDirectoryA(LPCSTR p, LPSECURITY_ATTRIBUTES s) {
  if (Intercept(S_CreateDirectoryA)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return g_base.CreateDirectoryA(p, s);
}
BOOL W_RemoveDirectoryA(LPCSTR p) { return Intercept(S_RemoveDirectoryA) ? FALSE : g_base.RemoveDirectoryA(p); }
BOOL W_DeleteFileA(LPCSTR p) { return Intercept(S_DeleteFileA) ? FALSE : g_base.DeleteFileA(p); }

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

BOOL W_ShellExecuteExA(SHELLEXECUTEINFOA* info) {
  if (Intercept(S_ShellExecuteExA)) {
    info->hInstApp = (HINSTANCE)(intptr_t)SE_ERR_FNF;
    info->hProcess = nullptr;
    return FALSE;
  }
  // What the program would find beside itself, byte for byte.
  g_sweep.sawLaunch = true;
  g_sweep.workFolder = FolderOf(info->lpFile);
  for (const std::string& name : ListFolder(g_sweep.workFolder)) {
    g_sweep.launched[name] = ReadFileBytes(g_sweep.workFolder + "/" + name);
  }
  BOOL started = g_base.ShellExecuteExA(info);
  if (started && info->hProcess != nullptr) g_sweep.children.push_back(PosixHandlePid(info->hProcess));
  return started;
}
DWORD W_WaitForSingleObject(HANDLE h, DWORD ms) {
  if (Intercept(S_WaitForSingleObject)) return WAIT_FAILED;  // at once; the test reaps the probe
  return g_base.WaitForSingleObject(h, ms);
}
INT W_LZOpenFileA(LPSTR p, LPOFSTRUCT o, WORD s) { return Intercept(S_LZOpenFileA) ? LZERROR_BADINHANDLE : g_base.LZOpenFileA(p, o, s); }
LONG W_LZCopy(INT s, INT d) { return Intercept(S_LZCopy) ? LZERROR_READ : g_base.LZCopy(s, d); }

// The container: a stored member over two copy chunks, a compressed one, and the probe.
constexpr size_t kDataSize = 20000;
const char kProbe[] = "#!/bin/sh\nexit 0\n";
const char kReadme[] = "A small text, expanded by the LZ service: readme readme readme readme.\n";

struct Layout {
  std::vector<uint8_t> data;
  std::vector<uint8_t> readme;
  std::vector<uint8_t> readmeStored;
  std::vector<uint8_t> probe;
  std::vector<uint8_t> container;
};

Layout MakeLayout() {
  Layout l;
  for (size_t i = 0; i < kDataSize; ++i) l.data.push_back((uint8_t)(i * 7 + (i >> 8)));
  l.readme = Bytes(kReadme);
  EXPECT_EQ(sfxlz::SzddEncode(l.readme.data(), l.readme.size(), 't', &l.readmeStored), sfxlz::LzError::Ok);
  l.probe = Bytes(kProbe);
  ContainerLayout layout;  // its 40000-byte image makes the tail window seek matter
  Member data;
  data.storedName = data.expandedName = "data.bin";
  data.data = l.data;
  Member readme;
  readme.storedName = "readme.tx_";
  readme.expandedName = "readme.txt";
  readme.data = l.readmeStored;
  Member probe;
  probe.storedName = probe.expandedName = "probe.sh";
  probe.data = l.probe;
  layout.members = {data, readme, probe};
  l.container = BuildContainer(layout);
  return l;
}

// A documented outcome: the exit status, the one message (0: none) and what stays in the temporary
// folder, as "name:size" under the work folder "probe".
struct Outcome {
  int exitStatus;
  UINT message;
  std::vector<std::string> left;
};

std::string Sized(const std::string& name, size_t size) { return "probe/" + name + ":" + std::to_string(size); }

// What each disturbed call must lead to, keyed by the call and its ordinal within its service.
std::map<std::string, Outcome> ExpectedOutcomes(Mode mode, const Layout& l) {
  const std::string data = Sized("data.bin", kDataSize);
  const std::string readme = Sized("readme.txt", l.readme.size());
  const std::string stored = Sized("readme.tx_", l.readmeStored.size());
  const Outcome launched{0, 0, {}};
  const Outcome damaged5{5, IDS_DAMAGED, {}};
  std::map<std::string, Outcome> m;
  if (mode == Mode::ShortRead) {
    for (const char* k : {"ReadFile#1", "ReadFile#2", "ReadFile#3"}) m[k] = damaged5;
    // A short read is refused before its bytes are written.
    m["ReadFile#4"] = {6, IDS_DAMAGED, {"probe/", Sized("data.bin", 0)}};
    m["ReadFile#5"] = {6, IDS_DAMAGED, {"probe/", Sized("data.bin", 16384)}};
    m["ReadFile#6"] = {6, IDS_DAMAGED, {"probe/", data, Sized("readme.tx_", 0)}};
    m["ReadFile#7"] = {6, IDS_DAMAGED, {"probe/", data, Sized("probe.sh", 0), readme}};
    return m;
  }
  if (mode == Mode::ShortWrite) {
    // The half that was stored stays; the member is never handed on.
    m["WriteFile#1"] = {6, IDS_CANNOT_CREATE, {"probe/", Sized("data.bin", 8192)}};
    m["WriteFile#2"] = {6, IDS_CANNOT_CREATE, {"probe/", Sized("data.bin", 16384 + (kDataSize - 16384) / 2)}};
    m["WriteFile#3"] = {6, IDS_CANNOT_CREATE, {"probe/", data, Sized("readme.tx_", l.readmeStored.size() / 2)}};
    m["WriteFile#4"] = {6, IDS_CANNOT_CREATE, {"probe/", data, Sized("probe.sh", l.probe.size() / 2), readme}};
    return m;
  }
  m["GetTempPathA#1"] = {3, IDS_CANNOT_CREATE, {}};
  m["GetDiskFreeSpaceA#1"] = launched;  // a volume that cannot be measured is not refused
  m["GetModuleFileNameA#1"] = damaged5;
  m["CreateFileA#1"] = damaged5;
  m["GetFileSize#1"] = damaged5;
  // A seek that fails leaves the position at the start, or at the end after the window read.
  for (const char* k : {"SetFilePointer#1", "SetFilePointer#2", "SetFilePointer#3"}) m[k] = damaged5;
  for (const char* k : {"ReadFile#1", "ReadFile#2", "ReadFile#3"}) m[k] = damaged5;
  m["GetTempPathA#2"] = {6, IDS_CANNOT_CREATE, {}};
  // The name counts as free, is cleared first (there was nothing to clear) and used.
  m["GetFileAttributesA#1"] = launched;
  m["CreateDirectoryA#1"] = {6, IDS_CANNOT_CREATE, {}};
  // Member 1: its seek failing leaves the position at the trailer, so the read comes short.
  m["SetFilePointer#4"] = {6, IDS_DAMAGED, {"probe/", Sized("data.bin", 0)}};
  m["CreateFileA#2"] = {6, IDS_CANNOT_CREATE, {"probe/"}};
  m["ReadFile#4"] = {6, IDS_DAMAGED, {"probe/", Sized("data.bin", 0)}};
  m["WriteFile#1"] = {6, IDS_CANNOT_CREATE, {"probe/", Sized("data.bin", 0)}};
  m["ReadFile#5"] = {6, IDS_DAMAGED, {"probe/", Sized("data.bin", 16384)}};
  m["WriteFile#2"] = {6, IDS_CANNOT_CREATE, {"probe/", Sized("data.bin", 16384)}};
  m["SetFileTime#1"] = launched;
  m["CloseHandle#1"] = launched;
  // Member 2 follows member 1 directly: a failed seek leaves the position where it must be.
  m["SetFilePointer#5"] = launched;
  m["CreateFileA#3"] = {6, IDS_CANNOT_CREATE, {"probe/", data}};
  m["ReadFile#6"] = {6, IDS_DAMAGED, {"probe/", data, Sized("readme.tx_", 0)}};
  m["WriteFile#3"] = {6, IDS_CANNOT_CREATE, {"probe/", data, Sized("readme.tx_", 0)}};
  m["SetFileTime#2"] = launched;
  m["CloseHandle#2"] = launched;
  // The destination is created whatever the source's open gave.
  m["LZOpenFileA#1"] = {6, IDS_CANNOT_CREATE, {"probe/", data, stored, Sized("readme.txt", 0)}};
  m["LZOpenFileA#2"] = {6, IDS_CANNOT_CREATE, {"probe/", data, stored}};
  m["LZCopy#1"] = {6, IDS_CANNOT_CREATE, {"probe/", data, stored, Sized("readme.txt", 0)}};
  m["DeleteFileA#1"] = {0, 0, {"probe/", stored}};  // the compressed copy stays, so the folder does
  m["SetFilePointer#6"] = launched;
  m["CreateFileA#4"] = {6, IDS_CANNOT_CREATE, {"probe/", data, readme}};
  m["ReadFile#7"] = {6, IDS_DAMAGED, {"probe/", data, Sized("probe.sh", 0), readme}};
  m["WriteFile#4"] = {6, IDS_CANNOT_CREATE, {"probe/", data, Sized("probe.sh", 0), readme}};
  m["SetFileTime#3"] = launched;
  m["CloseHandle#3"] = launched;
  m["CloseHandle#4"] = launched;  // the container's own handle; released all the same
  m["ShellExecuteExA#1"] = {-1, 0, {}};
  m["WaitForSingleObject#1"] = launched;
  m["DeleteFileA#2"] = {0, 0, {"probe/", data}};
  m["DeleteFileA#3"] = {0, 0, {"probe/", readme}};
  m["DeleteFileA#4"] = {0, 0, {"probe/", Sized("probe.sh", l.probe.size())}};
  m["RemoveDirectoryA#1"] = {0, 0, {"probe/"}};
  return m;
}

// Everything under a folder, as "rel/" for folders and "rel:size" for files, sorted.
void ListTree(const std::string& root, const std::string& prefix, std::vector<std::string>* out) {
  for (const std::string& name : ListFolder(root)) {
    std::string path = root + "/" + name;
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      out->push_back(prefix + name + "/");
      ListTree(path, prefix + name + "/", out);
    } else {
      out->push_back(prefix + name + ":" + std::to_string((long long)info.st_size));
    }
  }
}

int OpenDescriptorCount() { return (int)ListFolder("/proc/self/fd").size(); }

std::string Joined(const std::vector<std::string>& items) {
  if (items.empty()) return "nothing";
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

class FaultSweepTest : public LauncherTest, public ::testing::WithParamInterface<Mode> {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    g_base = g_posixServices;
    PosixServices& t = g_posixServices;
    t.GetModuleFileNameA = W_GetModuleFileNameA;
    t.LoadStringA = W_LoadStringA;
    t.MessageBoxA = W_MessageBoxA;
    t.CreateFileA = W_CreateFileA;
    t.ReadFile = W_ReadFile;
    t.WriteFile = W_WriteFile;
    t.SetFilePointer = W_SetFilePointer;
    t.GetFileSize = W_GetFileSize;
    t.SetFileTime = W_SetFileTime;
    t.CloseHandle = W_CloseHandle;
    t.GetTempPathA = W_GetTempPathA;
    t.GetDiskFreeSpaceA = W_GetDiskFreeSpaceA;
    t.GetFileAttributesA = W_GetFileAttributesA;
    t.CreateDirectoryA = W_CreateDirectoryA;
    t.RemoveDirectoryA = W_RemoveDirectoryA;
    t.DeleteFileA = W_DeleteFileA;
    t.ShellExecuteExA = W_ShellExecuteExA;
    t.WaitForSingleObject = W_WaitForSingleObject;
    t.LZOpenFileA = W_LZOpenFileA;
    t.LZCopy = W_LZCopy;
  }

  // One whole run with the faultAt-th counted call disturbed; the temporary folder starts empty.
  int RunWithFault(Mode mode, int faultAt) {
    std::string command = "rm -rf '" + tempFolder + "' && mkdir '" + tempFolder + "'";
    EXPECT_EQ(system(command.c_str()), 0);
    ResetLauncherState();
    g_launcherState.instance = POSIX_MODULE_TOKEN;
    messages.clear();
    g_sweep = Sweep();
    g_sweep.mode = mode;
    g_sweep.faultAt = faultAt;
    int status = RunLauncher();
    for (pid_t pid : g_sweep.children) waitpid(pid, nullptr, 0);  // no-op unless the wait was failed
    return status;
  }
};

TEST_P(FaultSweepTest, EveryDisturbedCallEndsInItsDocumentedOutcome) {
  const Mode mode = GetParam();
  const Layout layout = MakeLayout();
  UseContainer(layout.container);
  const std::map<std::string, Outcome> expected = ExpectedOutcomes(mode, layout);
  const int descriptorsBefore = OpenDescriptorCount();
  std::set<std::string> seen;
  std::ostringstream table;

  int faultAt = 1;
  for (;; ++faultAt) {
    ASSERT_LT(faultAt, 500) << "the sweep does not end";
    int status = RunWithFault(mode, faultAt);
    if (!g_sweep.hit) {
      // The undisturbed run: every member arrives intact, nothing stays.
      EXPECT_EQ(status, 0);
      EXPECT_TRUE(messages.empty());
      break;
    }
    const std::string call = std::string(kServiceNames[g_sweep.hitService]) + "#" + std::to_string(g_sweep.hitOrdinal);
    SCOPED_TRACE("call " + std::to_string(faultAt) + ": " + call);
    seen.insert(call);

    std::vector<std::string> left;
    ListTree(scratch + "/tmp", "", &left);
    // Nothing anywhere but the container and the temporary folder, and the container untouched.
    EXPECT_EQ(ListFolder(scratch), (std::vector<std::string>{"container.bin", "tmp"}));
    EXPECT_EQ(ReadFileBytes(containerPath), layout.container);
    EXPECT_EQ(CountOpenDescriptorsOn(containerPath), 0);
    EXPECT_EQ(OpenDescriptorCount(), descriptorsBefore);
    EXPECT_EQ(g_launcherState.archiveFile, INVALID_HANDLE_VALUE);
    for (const std::string& item : left) EXPECT_EQ(item.rfind("probe", 0), 0u) << item;

    auto it = expected.find(call);
    if (it == expected.end()) {
      ADD_FAILURE() << "no documented outcome for " << call << ": status " << status << ", left " << Joined(left);
    } else {
      const Outcome& want = it->second;
      EXPECT_EQ(status, want.exitStatus);
      if (want.message == 0) {
        EXPECT_TRUE(messages.empty());
      } else {
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text, MessageText(want.message));
        EXPECT_EQ(messages[0].caption, containerPath);
      }
      std::vector<std::string> wantLeft = want.left;
      std::sort(wantLeft.begin(), wantLeft.end());
      EXPECT_EQ(left, wantLeft);
    }
    // A program that was started found every member whole.
    if (g_sweep.sawLaunch) {
      EXPECT_EQ(g_sweep.launched["data.bin"], layout.data);
      EXPECT_EQ(g_sweep.launched["readme.txt"], layout.readme);
      EXPECT_EQ(g_sweep.launched["probe.sh"], layout.probe);
    }
    const char* message = messages.empty() ? "none" : messages[0].text == DamagedText() ? "IDS_DAMAGED"
                          : messages[0].text == CannotCreateText()                    ? "IDS_CANNOT_CREATE"
                                                                                      : "other";
    table << "| " << faultAt << " | " << call << " | " << status << " | " << message << " | " << Joined(left)
          << " |\n";
  }
  // Every documented row was reached: the run's call sequence is the one the table describes.
  for (const auto& row : expected) EXPECT_TRUE(seen.count(row.first)) << row.first << " never happened";
  std::cout << "fault sweep (" << ModeName(mode) << "): " << faultAt - 1 << " disturbed runs\n"
            << table.str();
}

// A failure whose message cannot be put together as usual: the box still comes, once, and the exit
// status stays that of the failing stage.
class MessagePathFaultTest : public FaultSweepTest {};

TEST_F(MessagePathFaultTest, AFailingMessageLookupChangesNeitherTheBoxCountNorTheStatus) {
  struct Row {
    Service first;
    int firstOrdinal;
    Service second;
    int secondOrdinal;
    int exitStatus;
    UINT message;         // 0: the text comes out empty
    bool ownCaption;      // false: the fallback caption
  };
  const Row rows[] = {
      {S_GetTempPathA, 1, S_LoadStringA, 1, 3, 0, true},
      {S_GetTempPathA, 1, S_GetModuleFileNameA, 1, 3, IDS_CANNOT_CREATE, false},
      {S_GetTempPathA, 1, S_MessageBoxA, 1, 3, IDS_CANNOT_CREATE, true},
      {S_CreateFileA, 1, S_GetModuleFileNameA, 2, 5, IDS_DAMAGED, false},
      {S_CreateFileA, 1, S_LoadStringA, 1, 5, 0, true},
      {S_WriteFile, 1, S_LoadStringA, 1, 6, 0, true},
      {S_WriteFile, 1, S_GetModuleFileNameA, 2, 6, IDS_CANNOT_CREATE, false},
  };
  const Layout layout = MakeLayout();
  UseContainer(layout.container);
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(kServiceNames[row.first]) + " then " + kServiceNames[row.second]);
    std::string command = "rm -rf '" + tempFolder + "' && mkdir '" + tempFolder + "'";
    ASSERT_EQ(system(command.c_str()), 0);
    ResetLauncherState();
    g_launcherState.instance = POSIX_MODULE_TOKEN;
    messages.clear();
    g_sweep = Sweep();
    g_sweep.named = {{row.first, row.firstOrdinal}, {row.second, row.secondOrdinal}};
    EXPECT_EQ(RunLauncher(), row.exitStatus);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, row.message == 0 ? std::string() : MessageText(row.message));
    EXPECT_EQ(messages[0].caption, row.ownCaption ? containerPath : std::string("sfxrun"));
    EXPECT_EQ(messages[0].style, 0x30u);
    EXPECT_EQ(CountOpenDescriptorsOn(containerPath), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Reliability, FaultSweepTest, ::testing::Values(Mode::Fail, Mode::ShortRead, Mode::ShortWrite),
                         [](const ::testing::TestParamInfo<Mode>& info) { return std::string(ModeName(info.param)); });

}  // namespace
