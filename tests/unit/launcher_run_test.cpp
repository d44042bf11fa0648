// The whole run in-process over the POSIX layer: extraction, the work folder, expansion, launch, clean-up.
#include "launcher_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;

namespace {

Member Plain(const std::string& name, const std::vector<uint8_t>& data, int64_t stamp = 1700000000) {
  Member m;
  m.storedName = m.expandedName = name;
  m.data = data;
  m.modifiedTime = stamp;
  return m;
}

const std::string kProbe = "#!/bin/sh\nexit 7\n";

ContainerLayout WithProbe(std::vector<Member> members, const std::string& probeName = "probe.sh") {
  ContainerLayout layout;
  layout.members = std::move(members);
  layout.members.push_back(Plain(probeName, Bytes(kProbe)));
  return layout;
}

std::vector<uint8_t> Pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = (uint8_t)(i * 131 + (i >> 8));
  return v;
}

// ---- SecondsToFileTime ----

TEST(SecondsToFileTimeTest, TakesTheLowHalfAsSigned) {
  struct Case {
    int64_t field;
    uint64_t ticks;
  };
  const Case cases[] = {
      {0, 116444736000000000ull},
      {-1, 116444735990000000ull},                                     // 1969-12-31 23:59:59
      {(int64_t)0xFFFFFFFF80000000ll, 94969899520000000ull},           // 1901-12-13 20:45:52
      {0x7FFFFFFF, 137919572470000000ull},                             // 2038-01-19 03:14:07
      {(int64_t)0x1234567800000000ll | 5, 116444736050000000ull},      // high half ignored
  };
  for (const Case& c : cases) {
    uint8_t field[8];
    WriteInt64Le(field, c.field);
    FILETIME t = SecondsToFileTime(field);
    EXPECT_EQ(((uint64_t)t.dwHighDateTime << 32) | t.dwLowDateTime, c.ticks) << c.field;
  }
}

// ---- counting wrappers around the real services ----

int g_readCalls, g_seekCalls, g_readFailAt, g_shortReadAt, g_setTimeCalls;
HANDLE g_archive;
std::string g_raceName;

BOOL CountingRead(HANDLE h, LPVOID b, DWORD n, LPDWORD r, LPOVERLAPPED o) {
  if (h == g_launcherState.archiveFile) {
    ++g_readCalls;
    if (g_readCalls == g_readFailAt) return FALSE;
    if (g_readCalls == g_shortReadAt && n > 1) return kPosixRealServices.ReadFile(h, b, n - 1, r, o);
  }
  return kPosixRealServices.ReadFile(h, b, n, r, o);
}

DWORD CountingSeek(HANDLE h, LONG d, PLONG hi, DWORD m) {
  if (h == g_launcherState.archiveFile) ++g_seekCalls;
  return kPosixRealServices.SetFilePointer(h, d, hi, m);
}

BOOL FailingSetFileTime(HANDLE, const FILETIME*, const FILETIME*, const FILETIME*) {
  ++g_setTimeCalls;
  return FALSE;
}

// Another process takes the chosen name between the test for it and the creation.
BOOL RacingCreateDirectory(LPCSTR path, LPSECURITY_ATTRIBUTES s) {
  if (g_raceName.empty()) {
    g_raceName = path;
    kPosixRealServices.CreateDirectoryA(path, s);
    WriteFileBytes(std::string(path) + "/planted", Bytes("not ours"));
  }
  return kPosixRealServices.CreateDirectoryA(path, s);
}

class RunTest : public LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    g_readCalls = g_seekCalls = g_readFailAt = g_shortReadAt = g_setTimeCalls = 0;
    g_raceName.clear();
    g_posixServices.ReadFile = CountingRead;
    g_posixServices.SetFilePointer = CountingSeek;
  }
  int Run(const ContainerLayout& layout) {
    UseContainer(BuildContainer(layout));
    return RunLauncher();
  }
};

TEST_F(RunTest, MainRoadLeavesNothingAndIgnoresTheProgramsStatus) {
  ContainerLayout layout = WithProbe({Plain("a.bin", Pattern(100)), Plain("empty.bin", {})});
  EXPECT_EQ(Run(layout), EXIT_LAUNCHED);
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(ListFolder(tempFolder).empty());
  EXPECT_EQ(g_launcherState.archiveFile, INVALID_HANDLE_VALUE);
}

TEST_F(RunTest, ReadsItsOwnFileOnlyAsMuchAsNeeded) {
  struct Case {
    size_t size;
    int reads;
  };
  const Case cases[] = {{0, 0}, {1, 1}, {16384, 1}, {16385, 2}, {40000, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    ResetLauncherState();
    g_launcherState.instance = POSIX_MODULE_TOKEN;
    g_readCalls = g_seekCalls = 0;
    UseContainer(BuildContainer(WithProbe({Plain("m.bin", Pattern(c.size))})));
    ASSERT_EQ(LocateContainer(), 1);
    EXPECT_EQ(g_readCalls, 3);
    EXPECT_EQ(g_seekCalls, 3);
    ASSERT_EQ(PrepareWorkFolder(), 1);
    // one seek per member, ceil(length / 16384) reads each; the probe is 17 bytes: one read
    EXPECT_EQ(g_seekCalls, 3 + 2);
    EXPECT_EQ(g_readCalls, 3 + c.reads + 1);
    std::string folder = g_launcherState.workFolder;
    EXPECT_EQ(ReadFileBytes(folder + "/m.bin"), Pattern(c.size));
    struct stat info;
    ASSERT_EQ(stat((folder + "/m.bin").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, 1700000000);
    RemoveExtractedFiles();
    RemoveWorkFolder();
  }
}

TEST_F(RunTest, ReadFailingMidMemberLeavesThePartialFile) {
  g_readFailAt = 5;  // three locating reads, the first chunk, then the second chunk fails
  ContainerLayout layout = WithProbe({Plain("big.bin", Pattern(40000))});
  EXPECT_EQ(Run(layout), EXIT_WORK_FOLDER_FAILED);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, DamagedText());
  std::vector<std::string> folders = ListFolder(tempFolder);
  ASSERT_EQ(folders, std::vector<std::string>{"probe"});
  EXPECT_EQ(ReadFileBytes(tempFolder + "probe/big.bin").size(), 16384u);
  EXPECT_EQ(CountOpenDescriptorsOn(containerPath), 0);
}

TEST_F(RunTest, ShortReadIsDamageNotATruncatedMember) {
  g_shortReadAt = 4;
  ContainerLayout layout = WithProbe({Plain("big.bin", Pattern(40000))});
  EXPECT_EQ(Run(layout), EXIT_WORK_FOLDER_FAILED);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, DamagedText());
}

TEST_F(RunTest, FailingSetFileTimeChangesNothingElse) {
  g_posixServices.SetFileTime = FailingSetFileTime;
  ContainerLayout layout = WithProbe({Plain("a.bin", Pattern(10))});
  EXPECT_EQ(Run(layout), EXIT_LAUNCHED);
  EXPECT_EQ(g_setTimeCalls, 2);
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(ListFolder(tempFolder).empty());
}

TEST_F(RunTest, FolderTakenBeforeCreationIsNotUsed) {
  g_posixServices.CreateDirectoryA = RacingCreateDirectory;
  ContainerLayout layout = WithProbe({Plain("a.bin", Pattern(10))});
  UseContainer(BuildContainer(layout));
  ASSERT_EQ(LocateContainer(), 1);
  ASSERT_EQ(PrepareWorkFolder(), 1);
  EXPECT_EQ(g_raceName, tempFolder + "probe");
  EXPECT_EQ(std::string(g_launcherState.workFolder), tempFolder + "probe(1)");
  EXPECT_EQ(ListFolder(tempFolder + "probe"), std::vector<std::string>{"planted"});
}

TEST_F(RunTest, FolderThatCannotBeCreatedShowsCannotCreate) {
  g_posixServices.CreateDirectoryA = [](LPCSTR, LPSECURITY_ATTRIBUTES) -> BOOL {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  };
  EXPECT_EQ(Run(WithProbe({})), EXIT_WORK_FOLDER_FAILED);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, CannotCreateText());
  EXPECT_EQ(CountOpenDescriptorsOn(containerPath), 0);
}

TEST_F(RunTest, UnwritableMemberKeepsTheEarlierOnes) {
  ContainerLayout layout = WithProbe({Plain("first.bin", Pattern(5)), Plain("second.bin", Pattern(5))});
  UseContainer(BuildContainer(layout));
  ASSERT_EQ(LocateContainer(), 1);
  // A folder under the second member's name makes its creation fail.
  g_posixServices.CreateFileA = [](LPCSTR p, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD d, DWORD f,
                                   HANDLE t) -> HANDLE {
    if (std::string(p).find("second.bin") != std::string::npos) return INVALID_HANDLE_VALUE;
    return kPosixRealServices.CreateFileA(p, a, s, sa, d, f, t);
  };
  EXPECT_EQ(PrepareWorkFolder(), 0);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, CannotCreateText());
  EXPECT_EQ(ListFolder(tempFolder + "probe"), std::vector<std::string>{"first.bin"});
  EXPECT_EQ(g_launcherState.archiveFile, INVALID_HANDLE_VALUE);
}

LONG g_copyResult;
LONG ScriptedCopy(INT, INT) { return g_copyResult; }

TEST_F(RunTest, ExpansionResultsZeroOrBelowFail) {
  for (LONG result : {0, -1, -3}) {
    SCOPED_TRACE(result);
    ResetLauncherState();
    g_launcherState.instance = POSIX_MODULE_TOKEN;
    messages.clear();
    system(("rm -rf '" + tempFolder + "'*").c_str());
    g_copyResult = result;
    g_posixServices.LZCopy = ScriptedCopy;
    Member compressed = Plain("readme.tx_", Bytes("SZDD-ish"));
    compressed.expandedName = "readme.txt";
    EXPECT_EQ(Run(WithProbe({compressed})), EXIT_WORK_FOLDER_FAILED);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, CannotCreateText());
    // the stored copy stays for inspection
    EXPECT_EQ(ReadFileBytes(tempFolder + "probe/readme.tx_"), Bytes("SZDD-ish"));
  }
}

TEST_F(RunTest, OneEntryCreatesAndRemovesTheFolder) {
  ContainerLayout layout;
  EXPECT_EQ(Run(layout), EXIT_LAUNCH_FAILED);
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(ListFolder(tempFolder).empty());
}

TEST_F(RunTest, CountZeroIsDamagedAtTheWorkFolder) {
  ContainerLayout layout = WithProbe({});
  layout.overrideCount = true;
  layout.entryCount = 0;
  EXPECT_EQ(Run(layout), EXIT_WORK_FOLDER_FAILED);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, DamagedText());
  EXPECT_TRUE(ListFolder(tempFolder).empty());
}

TEST_F(RunTest, StartThatFailsStillCleansUp) {
  ContainerLayout layout;
  layout.members = {Plain("a.bin", Pattern(3)), Plain("notes.txt", Bytes("not a program"))};
  EXPECT_EQ(Run(layout), EXIT_LAUNCH_FAILED);
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(ListFolder(tempFolder).empty());
}

struct NameCase {
  const char* name;
  const char* launchName;
  std::vector<std::string> planted;  // names made in the temporary folder first
  const char* folder;
};

class FolderNameTest : public RunTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(FolderNameTest, PicksTheFirstFreeName) {
  const NameCase& c = GetParam();
  for (const std::string& p : c.planted) {
    if (p[0] == 'F') WriteFileBytes(tempFolder + p.substr(1), Bytes("x"));
    else mkdir((tempFolder + p.substr(1)).c_str(), 0700);
  }
  UseContainer(BuildContainer(WithProbe({}, c.launchName)));
  ASSERT_EQ(LocateContainer(), 1);
  ASSERT_EQ(PrepareWorkFolder(), 1);
  EXPECT_EQ(std::string(g_launcherState.workFolder), tempFolder + c.folder);
}

INSTANTIATE_TEST_SUITE_P(
    Names, FolderNameTest,
    ::testing::Values(NameCase{"CutAtFirstFullStop", "viewer.main.exe", {}, "viewer"},
                      NameCase{"NoFullStop", "viewer", {}, "viewer"},
                      NameCase{"LeadingFullStop", ".hidden", {}, "(1)"},
                      NameCase{"PlainFileTakesTheName", "app.sh", {"Fapp"}, "app(1)"},
                      NameCase{"TenthNumber", "app.sh",
                               {"Dapp", "Dapp(1)", "Dapp(2)", "Dapp(3)", "Dapp(4)", "Dapp(5)", "Dapp(6)", "Dapp(7)",
                                "Dapp(8)", "Dapp(9)"},
                               "app(10)"}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.name); });

TEST_F(RunTest, TemporaryPathWithoutTrailingSeparatorGetsOne) {
  std::string bare = tempFolder.substr(0, tempFolder.size() - 1);
  g_posixServices.GetTempPathA = [](DWORD size, LPSTR buffer) -> DWORD {
    std::string path = std::string(getenv("SFXRUN_TEST_BARE"));
    if (path.size() + 1 > size) return (DWORD)path.size() + 1;
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return (DWORD)path.size();
  };
  setenv("SFXRUN_TEST_BARE", bare.c_str(), 1);
  UseContainer(BuildContainer(WithProbe({})));
  ASSERT_EQ(LocateContainer(), 1);
  ASSERT_EQ(PrepareWorkFolder(), 1);
  EXPECT_EQ(std::string(g_launcherState.workFolder), tempFolder + "probe");
}

TEST_F(RunTest, NumberedCandidateBeyondMaxPathShowsCannotCreate) {
  // A base name that is taken and so long that "(1)" would pass 259 characters.
  std::string launchName(258 - tempFolder.size(), 'n');
  mkdir((tempFolder + launchName).c_str(), 0700);
  UseContainer(BuildContainer(WithProbe({}, launchName + ".sh")));
  ASSERT_EQ(LocateContainer(), 1);
  EXPECT_EQ(PrepareWorkFolder(), 0);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, CannotCreateText());
  EXPECT_EQ(g_launcherState.archiveFile, INVALID_HANDLE_VALUE);
}

TEST_F(RunTest, LaunchPathBeyondMaxPathIsAFailedStartWithCleanUp) {
  // The folder name fits, but folder + "/" + a 255-byte program name does not fit 259 characters.
  std::string program = "p." + std::string(253, 'x');
  EXPECT_EQ(Run(WithProbe({Plain("a.bin", Pattern(3))}, program)), EXIT_LAUNCH_FAILED);
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(ListFolder(tempFolder).empty());
}

TEST_F(RunTest, MemberPathBeyondTheBufferShowsCannotCreate) {
  std::string deep = tempFolder;
  while (deep.size() < 16300) deep += std::string(200, 'd') + "/";
  g_posixServices.GetTempPathA = [](DWORD size, LPSTR buffer) -> DWORD {
    const char* path = getenv("SFXRUN_TEST_DEEP");
    size_t n = std::strlen(path);
    if (n + 1 > size) return (DWORD)n + 1;
    std::memcpy(buffer, path, n + 1);
    return (DWORD)n;
  };
  g_posixServices.GetFileAttributesA = [](LPCSTR) -> DWORD { return INVALID_FILE_ATTRIBUTES; };
  g_posixServices.CreateDirectoryA = [](LPCSTR, LPSECURITY_ATTRIBUTES) -> BOOL { return TRUE; };
  setenv("SFXRUN_TEST_DEEP", deep.c_str(), 1);
  UseContainer(BuildContainer(WithProbe({Plain(std::string(200, 'm'), Pattern(3))})));
  ASSERT_EQ(LocateContainer(), 1);
  EXPECT_EQ(PrepareWorkFolder(), 0);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, CannotCreateText());
}

}  // namespace
