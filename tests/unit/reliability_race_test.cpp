// Two launchers of one container racing for the same work folder name, replayed deterministically
// through the fault table: the rival's folder appears between the name test and the creation.
#include <sys/stat.h>

#include "launcher_fixture.h"

using namespace testsupport;

namespace {

PosixServices g_base;
std::string g_rivalFolder;  // created by "the other launcher" right after our name test
bool g_rivalDone = false;

// The other launcher has just created its (still empty) folder under the name we found free.
DWORD RivalCreatesFolderAfterTest(LPCSTR path) {
  DWORD attributes = g_base.GetFileAttributesA(path);
  DWORD error = GetLastError();
  if (!g_rivalDone && attributes == INVALID_FILE_ATTRIBUTES) {
    g_rivalDone = true;
    g_rivalFolder = path;
    mkdir(path, 0700);
  }
  SetLastError(error);
  return attributes;
}

Member Plain(const std::string& name, const std::string& data) {
  Member m;
  m.storedName = m.expandedName = name;
  m.data = Bytes(data);
  return m;
}

class WorkFolderRaceTest : public LauncherTest {};

TEST_F(WorkFolderRaceTest, EmptyFolderOfARivalIsNeitherRemovedNorShared) {
  ContainerLayout layout;
  layout.members = {Plain("data.bin", "mine"), Plain("probe.sh", "#!/bin/sh\nexit 0\n")};
  UseContainer(BuildContainer(layout));
  g_base = g_posixServices;
  g_rivalDone = false;
  g_posixServices.GetFileAttributesA = RivalCreatesFolderAfterTest;

  ASSERT_EQ(LocateContainer(), 1);
  ASSERT_EQ(PrepareWorkFolder(), 1);
  EXPECT_TRUE(messages.empty());
  ASSERT_TRUE(g_rivalDone);
  EXPECT_EQ(g_rivalFolder, tempFolder + "probe");
  // Ours is a folder of its own; the rival's stays where it made it, still empty, never filled by us.
  EXPECT_EQ(std::string(g_launcherState.workFolder), tempFolder + "probe(1)");
  struct stat info;
  EXPECT_EQ(lstat(g_rivalFolder.c_str(), &info), 0) << "the rival's folder was removed";
  EXPECT_TRUE(ListFolder(g_rivalFolder).empty());
  EXPECT_EQ(ListFolder(tempFolder + "probe(1)"), (std::vector<std::string>{"data.bin", "probe.sh"}));
}

}  // namespace
