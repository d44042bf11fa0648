// The POSIX platform layer: the behaviour the core relies on, over real files and processes.
#include "launcher_fixture.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;

namespace {

class ServicesTest : public LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    g_posixServices = kPosixRealServices;  // nothing recorded: the real layer throughout
  }
  std::string Path(const std::string& name) { return scratch + "/" + name; }
};

TEST_F(ServicesTest, TempPathHasOneTrailingSlash) {
  struct Case {
    const char* tmpdir;
    const char* expected;
  };
  const Case cases[] = {{"/var/tmp", "/var/tmp/"}, {"/var/tmp/", "/var/tmp/"}, {"", "/tmp/"}, {nullptr, "/tmp/"}};
  for (const Case& c : cases) {
    if (c.tmpdir != nullptr) setenv("TMPDIR", c.tmpdir, 1); else unsetenv("TMPDIR");
    char buffer[MAX_PATH];
    DWORD n = GetTempPathA(sizeof buffer, buffer);
    EXPECT_STREQ(buffer, c.expected);
    EXPECT_EQ(n, std::strlen(c.expected));
  }
  setenv("TMPDIR", "/var/tmp", 1);
  char small[4];
  EXPECT_EQ(GetTempPathA(sizeof small, small), 10u);  // the size it needs, NUL included
}

TEST_F(ServicesTest, SeekBeforeTheStartFailsAndStays) {
  WriteFileBytes(Path("f"), Bytes("0123456789"));
  HANDLE h = CreateFileA(Path("f").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(SetFilePointer(h, 4, nullptr, FILE_BEGIN), 4u);
  EXPECT_EQ(SetFilePointer(h, -20, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
  char c = 0;
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(h, &c, 1, &got, nullptr));
  EXPECT_EQ(c, '4');
  EXPECT_EQ(SetFilePointer(h, -3, nullptr, FILE_END), 7u);
  EXPECT_EQ(GetFileSize(h, nullptr), 10u);
  CloseHandle(h);
}

TEST_F(ServicesTest, ReadAtTheEndComesShortWithoutFailing) {
  WriteFileBytes(Path("f"), Bytes("abcdef"));
  HANDLE h = CreateFileA(Path("f").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  SetFilePointer(h, 4, nullptr, FILE_BEGIN);
  char buffer[16];
  DWORD got = 99;
  EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(got, 2u);
  EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(got, 0u);
  CloseHandle(h);
}

TEST_F(ServicesTest, CreateAlwaysEmptiesAndOpenExistingNeedsAFile) {
  WriteFileBytes(Path("f"), Bytes("old contents"));
  HANDLE h = CreateFileA(Path("f").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(h, "new", 3, &written, nullptr));
  EXPECT_EQ(written, 3u);
  CloseHandle(h);
  EXPECT_EQ(ReadFileBytes(Path("f")), Bytes("new"));
  EXPECT_EQ(CreateFileA(Path("missing").c_str(), GENERIC_READ, 1, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateFileA(scratch.c_str(), GENERIC_READ, 1, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateFileA(Path("no/such/f").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
            INVALID_HANDLE_VALUE);
}

TEST_F(ServicesTest, HandlesAreCloseOnExec) {
  WriteFileBytes(Path("f"), Bytes("x"));
  HANDLE h = CreateFileA(Path("f").c_str(), GENERIC_READ, 1, nullptr, OPEN_EXISTING, 0, nullptr);
  int fd = PosixHandleFd(h);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
  EXPECT_EQ(PosixHandlePid(h), -1);
  CloseHandle(h);
}

TEST_F(ServicesTest, SetFileTimeStampsAccessAndModification) {
  WriteFileBytes(Path("f"), Bytes("x"));
  HANDLE h = CreateFileA(Path("f").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  uint8_t seconds[8] = {};
  WriteInt64Le(seconds, -1);  // 1969-12-31 23:59:59
  FILETIME t = SecondsToFileTime(seconds);
  EXPECT_TRUE(SetFileTime(h, &t, &t, &t));
  CloseHandle(h);
  struct stat info;
  ASSERT_EQ(stat(Path("f").c_str(), &info), 0);
  EXPECT_EQ(info.st_mtime, -1);
  EXPECT_EQ(info.st_atime, -1);
}

TEST_F(ServicesTest, AttributesSeeAnythingUnderTheName) {
  WriteFileBytes(Path("file"), Bytes("x"));
  ASSERT_EQ(symlink(Path("nowhere").c_str(), Path("dangling").c_str()), 0);
  EXPECT_EQ(GetFileAttributesA(scratch.c_str()), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_NE(GetFileAttributesA(Path("file").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesA(Path("dangling").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA(Path("free").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(ServicesTest, CreateDirectoryIsPrivateAndTellsExisting) {
  ASSERT_TRUE(CreateDirectoryA(Path("d").c_str(), nullptr));
  struct stat info;
  ASSERT_EQ(stat(Path("d").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0077, 0u);
  EXPECT_FALSE(CreateDirectoryA(Path("d").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(CreateDirectoryA(Path("x/y").c_str(), nullptr));
  EXPECT_NE(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(RemoveDirectoryA(Path("d").c_str()));
  EXPECT_FALSE(DeleteFileA(Path("d").c_str()));
}

TEST_F(ServicesTest, DiskFreeSpaceMeasuresTheFolder) {
  DWORD a = 0, b = 0, c = 0, d = 0;
  EXPECT_TRUE(GetDiskFreeSpaceA(scratch.c_str(), &a, &b, &c, &d));
  EXPECT_EQ(a, 1u);
  EXPECT_GT(b, 0u);
  EXPECT_FALSE(GetDiskFreeSpaceA(Path("missing").c_str(), &a, &b, &c, &d));
}

struct StartCase {
  const char* name;
  const char* content;  // nullptr: no file
  bool started;
  int hInstApp;         // expected when not started
};

// The request the launcher makes: "open", no parameters, keep the process handle.
SHELLEXECUTEINFOA OpenRequest(const std::string& file) {
  SHELLEXECUTEINFOA info;
  std::memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = "open";
  info.lpFile = file.c_str();
  info.lpParameters = "";
  info.nShow = SW_SHOW;
  return info;
}

class ShellExecuteTest : public ServicesTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(ShellExecuteTest, StartsOnlyPrograms) {
  const StartCase& c = GetParam();
  std::string file = Path("program");
  if (c.content != nullptr) WriteFileBytes(file, Bytes(c.content));
  SHELLEXECUTEINFOA info = OpenRequest(file);
  BOOL ok = ShellExecuteExA(&info);
  if (c.started) {
    ASSERT_TRUE(ok);
    EXPECT_GT((intptr_t)info.hInstApp, 32);
    ASSERT_NE(info.hProcess, nullptr);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(ReadFileBytes(Path("ran")), Bytes("yes\n"));
    struct stat st;
    stat(file.c_str(), &st);
    EXPECT_TRUE(st.st_mode & S_IXUSR);
  } else {
    EXPECT_FALSE(ok);
    EXPECT_EQ((intptr_t)info.hInstApp, c.hInstApp);
    EXPECT_EQ(info.hProcess, nullptr);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_FAILED);
  }
}

const std::string kScript = "#!/bin/sh\necho yes > \"$(dirname \"$0\")/ran\"\n";

INSTANTIATE_TEST_SUITE_P(Files, ShellExecuteTest,
                         ::testing::Values(StartCase{"Script", kScript.c_str(), true, 0},
                                           StartCase{"Missing", nullptr, false, SE_ERR_FNF},
                                           StartCase{"PlainText", "just text\n", false, SE_ERR_NOASSOC},
                                           StartCase{"Empty", "", false, SE_ERR_NOASSOC}),
                         [](const ::testing::TestParamInfo<StartCase>& info) { return std::string(info.param.name); });

TEST_F(ServicesTest, SpawnedProgramGetsNoArgumentsAndOurFolder) {
  std::string file = Path("probe");
  WriteFileBytes(file, Bytes("#!/bin/sh\necho \"$#:$(pwd)\" > \"$(dirname \"$0\")/seen\"\n"));
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  SHELLEXECUTEINFOA info = OpenRequest(file);
  ASSERT_TRUE(ShellExecuteExA(&info));
  WaitForSingleObject(info.hProcess, INFINITE);
  EXPECT_EQ(ReadFileBytes(Path("seen")), Bytes("0:" + std::string(cwd) + "\n"));
}

TEST_F(ServicesTest, MessageBoxWritesCaptionAndTextToStandardError) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", MB_OK | MB_ICONEXCLAMATION), IDOK);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "caption: text\n");
}

TEST_F(ServicesTest, StringTableHoldsTheFourTexts) {
  struct Case {
    UINT id;
    const char* text;
  };
  const Case cases[] = {
      {1000, "作業領域にファイルが作成できませんでした。"},
      {1001, "ファイルが破壊されているため、ファイルを作業領域にコピーできませんでした。"},
      {1002, "作業領域の容量が不足しています。"},
      {1003, "このプログラムを同時に2つ以上起動することはできません。\n処理を中断します。"},
      {992, ""},
      {1007, ""},
  };
  for (const Case& c : cases) {
    char buffer[MESSAGE_BUFFER_SIZE] = "stale";
    int n = LoadStringA(POSIX_MODULE_TOKEN, c.id, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, c.text) << c.id;
    EXPECT_EQ((size_t)n, std::strlen(c.text));
  }
  char small[5];
  EXPECT_EQ(LoadStringA(POSIX_MODULE_TOKEN, 1000, small, sizeof small), 4);
  EXPECT_EQ(std::strlen(small), 4u);
}

TEST_F(ServicesTest, ModuleFileNameIsOurExecutable) {
  char path[PATH_BUFFER_SIZE];
  DWORD n = GetModuleFileNameA(POSIX_MODULE_TOKEN, path, sizeof path);
  ASSERT_GT(n, 0u);
  char real[4096];
  ssize_t m = readlink("/proc/self/exe", real, sizeof real - 1);
  real[m] = 0;
  EXPECT_STREQ(path, real);
}

}  // namespace
