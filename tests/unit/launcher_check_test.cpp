// CheckWorkArea with scripted temporary paths and free-space counts, and the root-text rule.
#include "launcher_fixture.h"

using namespace testsupport;

namespace {

struct RootCase {
  const char* path;
  const char* root;
};

class CutRootTextTest : public ::testing::TestWithParam<RootCase> {};

TEST_P(CutRootTextTest, CutsAtFirstBackslashFromIndexTwo) {
  char buffer[MAX_PATH];
  std::strcpy(buffer, GetParam().path);
  CutRootText(buffer);
  EXPECT_STREQ(buffer, GetParam().root);
}

INSTANTIATE_TEST_SUITE_P(Paths, CutRootTextTest,
                         ::testing::Values(RootCase{"C:\\Users\\me\\Temp\\", "C:"},
                                           RootCase{"\\\\server\\share\\temp\\", "\\\\server"},
                                           RootCase{"C:", "C:"}, RootCase{"C", "C"}, RootCase{"", ""},
                                           RootCase{"\\\\", "\\\\"}, RootCase{"D:\\", "D:"},
                                           RootCase{"/tmp/", "/tmp/"}));

// Scripted answers of the two services the check calls.
DWORD g_tempAnswer;
const char* g_tempPath;
BOOL g_queryResult;
DWORD g_counts[3];
std::string g_queriedRoot;

DWORD ScriptedTempPath(DWORD size, LPSTR buffer) {
  if (g_tempAnswer != 0xFFFFFFFFu) return g_tempAnswer;
  size_t n = std::strlen(g_tempPath);
  if (n + 1 > size) return (DWORD)(n + 1);
  std::memcpy(buffer, g_tempPath, n + 1);
  return (DWORD)n;
}

BOOL ScriptedFreeSpace(LPCSTR root, LPDWORD a, LPDWORD b, LPDWORD c, LPDWORD d) {
  g_queriedRoot = root;
  *a = g_counts[0];
  *b = g_counts[1];
  *c = g_counts[2];
  *d = 0;
  return g_queryResult;
}

struct SpaceCase {
  const char* name;
  DWORD sectors, bytes, clusters;
  BOOL queryResult;
  int result;
  bool noSpaceShown;
};

class CheckWorkAreaTest : public LauncherTest, public ::testing::WithParamInterface<SpaceCase> {};

TEST_P(CheckWorkAreaTest, ComparesTheProduct) {
  const SpaceCase& c = GetParam();
  g_tempAnswer = 0xFFFFFFFFu;
  g_tempPath = "/var/tmp/";
  g_queryResult = c.queryResult;
  g_counts[0] = c.sectors;
  g_counts[1] = c.bytes;
  g_counts[2] = c.clusters;
  g_posixServices.GetTempPathA = ScriptedTempPath;
  g_posixServices.GetDiskFreeSpaceA = ScriptedFreeSpace;
  EXPECT_EQ(CheckWorkArea(), c.result);
  EXPECT_EQ(g_queriedRoot, "/var/tmp/");  // the whole folder: the file system that holds the work folder
  if (c.noSpaceShown) {
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, NoSpaceText());
    EXPECT_EQ(messages[0].style, 0x30u);
  } else {
    EXPECT_TRUE(messages.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Counts, CheckWorkAreaTest,
    ::testing::Values(SpaceCase{"Exactly10MiB", 8, 512, 2560, TRUE, 1, false},
                      SpaceCase{"OneByteShort", 1, 1, 10485759, TRUE, 0, true},
                      SpaceCase{"FourGiBNotCutTo32Bits", 8, 512, 1048576, TRUE, 1, false},
                      SpaceCase{"HighBitIsLargeNotNegative", 1, 0x80000000u, 1, TRUE, 1, false},
                      SpaceCase{"HighBitClusters", 1, 1, 0x80000000u, TRUE, 1, false},
                      SpaceCase{"Empty", 8, 512, 0, TRUE, 0, true},
                      SpaceCase{"FailingQueryPasses", 0, 0, 0, FALSE, 1, false}),
    [](const ::testing::TestParamInfo<SpaceCase>& info) { return std::string(info.param.name); });

TEST_F(LauncherTest, NoTemporaryPathShowsCannotCreate) {
  g_tempAnswer = 0;
  g_posixServices.GetTempPathA = ScriptedTempPath;
  EXPECT_EQ(CheckWorkArea(), 0);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, CannotCreateText());
}

TEST_F(LauncherTest, TemporaryPathLongerThanMaxPathShowsCannotCreate) {
  std::string longPath = "/" + std::string(300, 'd') + "/";
  g_tempAnswer = 0xFFFFFFFFu;
  g_tempPath = longPath.c_str();
  g_posixServices.GetTempPathA = ScriptedTempPath;
  EXPECT_EQ(CheckWorkArea(), 0);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, CannotCreateText());
}

TEST_F(LauncherTest, RealQueryMeasuresTheTemporaryFolder) {
  EXPECT_EQ(CheckWorkArea(), 1);  // the scratch folder's file system has room
  EXPECT_TRUE(messages.empty());
}

}  // namespace
