// Test support for the launcher's stages: scratch folders, hand-made containers, the recording table.
#include "launcher_fixture.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "container/records.h"

namespace testsupport {

LauncherTest* g_currentTest = nullptr;
std::string g_modulePath;

std::string SignatureText() {
  char text[SIGNATURE_LENGTH];
  BuildSignatureText(text);
  return std::string(text, SIGNATURE_LENGTH);
}

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

std::vector<uint8_t> BuildContainer(const ContainerLayout& layout) {
  std::vector<uint8_t> out = layout.image;
  std::vector<DirectoryEntry> entries(layout.members.size() + 1);
  std::memset(entries.data(), 0, entries.size() * sizeof(DirectoryEntry));
  std::strcpy(entries[0].storedName, "sfxrun-stub");
  std::strcpy(entries[0].expandedName, "sfxrun-stub");
  WriteInt32Le(entries[0].dataOffset, 0);
  WriteInt32Le(entries[0].dataLength, (int32_t)layout.image.size());
  for (size_t i = 0; i < layout.members.size(); ++i) {
    const Member& m = layout.members[i];
    DirectoryEntry& e = entries[i + 1];
    std::memcpy(e.storedName, m.storedName.data(), std::min(m.storedName.size(), sizeof e.storedName));
    std::memcpy(e.expandedName, m.expandedName.data(), std::min(m.expandedName.size(), sizeof e.expandedName));
    WriteInt64Le(e.modifiedTime, m.modifiedTime);
    WriteInt32Le(e.dataOffset, m.overrideLayout ? m.dataOffset : (int32_t)out.size());
    WriteInt32Le(e.dataLength, m.overrideLayout ? m.dataLength : (int32_t)m.data.size());
    out.insert(out.end(), m.data.begin(), m.data.end());
  }
  out.insert(out.end(), layout.gap.begin(), layout.gap.end());
  const uint8_t* dir = reinterpret_cast<const uint8_t*>(entries.data());
  out.insert(out.end(), dir, dir + entries.size() * sizeof(DirectoryEntry));
  ContainerTrailer trailer;
  std::memset(&trailer, 0, sizeof trailer);
  std::string sig = SignatureText();
  std::memcpy(trailer.signature, sig.data(), sig.size());
  WriteInt32Le(trailer.entryCount, layout.overrideCount ? layout.entryCount : (int32_t)entries.size());
  const uint8_t* t = reinterpret_cast<const uint8_t*>(&trailer);
  out.insert(out.end(), t, t + sizeof trailer);
  out.insert(out.end(), layout.tail.begin(), layout.tail.end());
  return out;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), (std::streamsize)bytes.size());
}

std::vector<std::string> ListFolder(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return names;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

int CountOpenDescriptorsOn(const std::string& path) {
  char real[PATH_MAX];
  if (realpath(path.c_str(), real) == nullptr) return 0;
  int count = 0;
  for (const std::string& fd : ListFolder("/proc/self/fd")) {
    char target[PATH_MAX];
    ssize_t n = readlink(("/proc/self/fd/" + fd).c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = 0;
    if (std::string(target) == real) ++count;
  }
  return count;
}

namespace {

int RecordMessageBox(HWND, LPCSTR text, LPCSTR caption, UINT style) {
  if (g_currentTest != nullptr) g_currentTest->messages.push_back({text ? text : "", caption ? caption : "", style});
  return IDOK;
}

DWORD ReportContainerPath(HMODULE, LPSTR buffer, DWORD size) {
  if (g_modulePath.size() + 1 > size) return 0;
  std::memcpy(buffer, g_modulePath.c_str(), g_modulePath.size() + 1);
  return (DWORD)g_modulePath.size();
}

}  // namespace

void LauncherTest::SetUp() {
  g_currentTest = this;
  ResetLauncherState();
  g_launcherState.instance = POSIX_MODULE_TOKEN;
  char pattern[] = "/tmp/sfxrun-unit-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  scratch = pattern;
  tempFolder = scratch + "/tmp/";
  ASSERT_EQ(mkdir(tempFolder.c_str(), 0700), 0);
  setenv("TMPDIR", tempFolder.c_str(), 1);
  containerPath = scratch + "/container.bin";
  g_modulePath = containerPath;
  g_posixServices = kPosixRealServices;
  g_posixServices.MessageBoxA = RecordMessageBox;
  g_posixServices.GetModuleFileNameA = ReportContainerPath;
}

void LauncherTest::TearDown() {
  g_posixServices = kPosixRealServices;
  if (g_launcherState.archiveFile != INVALID_HANDLE_VALUE) CloseHandle(g_launcherState.archiveFile);
  ResetLauncherState();
  g_currentTest = nullptr;
  std::string command = "rm -rf '" + scratch + "'";
  if (system(command.c_str()) != 0) ADD_FAILURE() << "could not remove " << scratch;
}

void LauncherTest::UseContainer(const std::vector<uint8_t>& bytes) { WriteFileBytes(containerPath, bytes); }

std::string LauncherTest::MessageText(UINT id) {
  char text[MESSAGE_BUFFER_SIZE];
  kPosixRealServices.LoadStringA(POSIX_MODULE_TOKEN, id, text, (int)sizeof text);
  return text;
}
std::string LauncherTest::DamagedText() { return MessageText(IDS_DAMAGED); }
std::string LauncherTest::CannotCreateText() { return MessageText(IDS_CANNOT_CREATE); }
std::string LauncherTest::NoSpaceText() { return MessageText(IDS_NO_SPACE); }

}  // namespace testsupport
