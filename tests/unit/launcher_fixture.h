// Test support for the launcher's stages over the POSIX layer: scratch folders, hand-made containers,
// and a fault table that records message boxes and fails or scripts chosen calls.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "launcher/launcher.h"
#include "launcher/platform/posix/services.h"

namespace testsupport {

struct Member {
  std::string storedName;
  std::string expandedName;
  std::vector<uint8_t> data;
  int64_t modifiedTime = 0;
  // When set, these replace the offset and length the writer would compute.
  bool overrideLayout = false;
  int32_t dataOffset = 0;
  int32_t dataLength = 0;
};

struct ContainerLayout {
  std::vector<uint8_t> image = std::vector<uint8_t>(40000, 0x90);  // stands in for the stub
  std::vector<Member> members;
  std::vector<uint8_t> gap;     // bytes between the last member and the directory
  std::vector<uint8_t> tail;    // bytes after the trailer
  bool overrideCount = false;
  int32_t entryCount = 0;
};

std::vector<uint8_t> BuildContainer(const ContainerLayout& layout);
std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> Bytes(const std::string& text);
std::string SignatureText();  // the 17 bytes, NUL included
std::vector<std::string> ListFolder(const std::string& path);  // sorted names, "." and ".." left out
int CountOpenDescriptorsOn(const std::string& path);

struct MessageRecord {
  std::string text;
  std::string caption;
  UINT style;
};

// Every test gets a fresh LauncherState, a scratch TMPDIR, and a table that records message boxes
// and reports the container as the launcher's own file. The real table comes back afterwards.
class LauncherTest : public ::testing::Test {
 public:
  void SetUp() override;
  void TearDown() override;

  std::string scratch;      // a private folder; the temporary folder is scratch + "/tmp"
  std::string tempFolder;   // with its trailing '/'
  std::string containerPath;
  std::vector<MessageRecord> messages;

  void UseContainer(const std::vector<uint8_t>& bytes);
  std::string DamagedText();
  std::string CannotCreateText();
  std::string NoSpaceText();
  std::string MessageText(UINT id);
};

extern LauncherTest* g_currentTest;
extern std::string g_modulePath;

// Fails the nth call (1-based) of one service through a wrapper; 0 disables.
struct CallCounter {
  int calls = 0;
  int failAt = 0;
  bool Hit() { return ++calls == failAt; }
};

}  // namespace testsupport
