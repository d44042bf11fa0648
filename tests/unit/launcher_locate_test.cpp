// LocateContainer over real files: the trailer search, its bounds, the count and the directory checks.
#include "launcher_fixture.h"

using namespace testsupport;

namespace {

Member Plain(const std::string& name, const std::string& data) {
  Member m;
  m.storedName = m.expandedName = name;
  m.data = Bytes(data);
  return m;
}

ContainerLayout TwoMembers() {
  ContainerLayout layout;
  layout.members = {Plain("data.bin", "hello"), Plain("probe.sh", "#!/bin/sh\nexit 0\n")};
  return layout;
}

std::vector<uint8_t> Filled(size_t n, uint8_t value) { return std::vector<uint8_t>(n, value); }

struct LocateCase {
  const char* name;
  std::function<std::vector<uint8_t>()> build;
  bool found;
  int32_t entryCount;  // checked when found
};

class LocateContainerTest : public LauncherTest, public ::testing::WithParamInterface<LocateCase> {};

TEST_P(LocateContainerTest, FindsOrRefuses) {
  const LocateCase& c = GetParam();
  UseContainer(c.build());
  int result = LocateContainer();
  if (c.found) {
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(g_launcherState.entryCount, c.entryCount);
    EXPECT_NE(g_launcherState.archiveFile, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CountOpenDescriptorsOn(containerPath), 1);
  } else {
    EXPECT_EQ(result, 0);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, DamagedText());
    EXPECT_EQ(messages[0].caption, containerPath);
    EXPECT_EQ(messages[0].style, 0x30u);
    EXPECT_EQ(g_launcherState.archiveFile, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CountOpenDescriptorsOn(containerPath), 0);
  }
  EXPECT_TRUE(ListFolder(tempFolder).empty());
}

std::vector<uint8_t> WithTail(std::vector<uint8_t> tail) {
  ContainerLayout layout = TwoMembers();
  layout.tail = std::move(tail);
  return BuildContainer(layout);
}

std::vector<uint8_t> WithCount(int32_t count) {
  ContainerLayout layout = TwoMembers();
  layout.overrideCount = true;
  layout.entryCount = count;
  return BuildContainer(layout);
}

std::vector<uint8_t> WithMember(Member m) {
  ContainerLayout layout = TwoMembers();
  layout.members.insert(layout.members.begin(), std::move(m));
  return BuildContainer(layout);
}

Member Named(const std::string& stored, const std::string& expanded) {
  Member m = Plain(stored, "x");
  m.expandedName = expanded;
  return m;
}

Member Layout(int32_t offset, int32_t length) {
  Member m = Plain("odd.bin", "");
  m.overrideLayout = true;
  m.dataOffset = offset;
  m.dataLength = length;
  return m;
}

std::vector<uint8_t> SecondTrailerNearerTheEnd() {
  // The tail carries a one-entry directory and trailer of its own: the later one wins.
  ContainerLayout inner;
  inner.image.clear();
  std::vector<uint8_t> innerBytes = BuildContainer(inner);  // entry 0 + trailer, count 1
  return WithTail(innerBytes);
}

std::vector<uint8_t> SignatureWithoutNul() {
  std::vector<uint8_t> bytes = BuildContainer(TwoMembers());
  bytes[bytes.size() - TRAILER_SIZE + 16] = 'X';
  return bytes;
}

std::vector<uint8_t> SignatureTooNearTheEnd() {
  std::vector<uint8_t> bytes = Filled(40000, 0);
  std::string sig = SignatureText();
  std::copy(sig.begin(), sig.end(), bytes.end() - 100);
  return bytes;
}

std::vector<uint8_t> DirectoryBeforeTheFile() {
  ContainerLayout layout = TwoMembers();
  layout.image = Filled(100, 0x90);
  layout.overrideCount = true;
  layout.entryCount = 200;  // 200 entries would start before the first byte
  return BuildContainer(layout);
}

std::vector<uint8_t> NameWithoutNul(bool stored) {
  Member m = Plain("x", "x");
  std::string full(256, 'n');
  (stored ? m.storedName : m.expandedName) = full;
  return WithMember(m);
}

std::vector<uint8_t> LaunchNameOfEntryZero(const std::string& name) {
  ContainerLayout layout;
  std::vector<uint8_t> bytes = BuildContainer(layout);
  // entry 0's expandedName is the launch name when the directory has one entry
  size_t entry0 = bytes.size() - TRAILER_SIZE - ENTRY_SIZE;
  std::fill(bytes.begin() + entry0 + 256, bytes.begin() + entry0 + 512, 0);
  std::copy(name.begin(), name.end(), bytes.begin() + entry0 + 256);
  return bytes;
}

const LocateCase kCases[] = {
    {"TwoMembers", [] { return BuildContainer(TwoMembers()); }, true, 3},
    {"TrailerAt32750", [] { return WithTail(Filled(32750 - TRAILER_SIZE, 0)); }, true, 3},
    {"TrailerAt32751", [] { return WithTail(Filled(32751 - TRAILER_SIZE, 0)); }, false, 0},
    {"FillRunAfterTrailer", [] { return WithTail(Filled(5000, 0x1A)); }, true, 3},
    {"FillRunToTheBound", [] { return WithTail(Filled(32750 - TRAILER_SIZE, 0x1A)); }, true, 3},
    {"FillRunOf32751", [] { return WithTail(Filled(32751, 0x1A)); }, false, 0},
    {"CertificateTableTail", [] {
       std::vector<uint8_t> tail(1 + 10656);
       for (size_t i = 0; i < tail.size(); ++i) tail[i] = (uint8_t)(i * 7 + 3);
       return WithTail(tail);
     }, true, 3},
    {"SecondTrailerNearerTheEnd", SecondTrailerNearerTheEnd, true, 1},
    {"SignatureWithoutNul", SignatureWithoutNul, false, 0},
    {"CountZeroPasses", [] { return WithCount(0); }, true, 0},
    {"CountMinusOne", [] { return WithCount(-1); }, false, 0},
    {"Count257", [] { return WithCount(257); }, false, 0},
    {"CountIntMax", [] { return WithCount(0x7FFFFFFF); }, false, 0},
    {"ImageAlone", [] { return Filled(40000, 0x90); }, false, 0},
    {"EmptyFile", [] { return std::vector<uint8_t>(); }, false, 0},
    {"ShortFileWithContainer", [] {
       ContainerLayout layout = TwoMembers();
       layout.image = Filled(100, 0x90);
       return BuildContainer(layout);
     }, true, 3},
    {"ShortFileWithoutContainer", [] { return Filled(10, 0x41); }, false, 0},
    {"SignatureTooNearTheEnd", SignatureTooNearTheEnd, false, 0},
    {"DirectoryBeforeTheFile", DirectoryBeforeTheFile, false, 0},
    {"StoredNameDotDotBackslash", [] { return WithMember(Named("..\\x", "..\\x")); }, false, 0},
    {"StoredNameDotDotSlash", [] { return WithMember(Named("../x", "../x")); }, false, 0},
    {"NameWithSlash", [] { return WithMember(Named("a/b", "a/b")); }, false, 0},
    {"NameWithBackslash", [] { return WithMember(Named("a\\b", "a\\b")); }, false, 0},
    {"NameWithDrive", [] { return WithMember(Named("C:x", "C:x")); }, false, 0},
    {"NameWithStream", [] { return WithMember(Named("x:stream", "x:stream")); }, false, 0},
    {"NameDot", [] { return WithMember(Named(".", ".")); }, false, 0},
    {"NameDotDot", [] { return WithMember(Named("..", "..")); }, false, 0},
    {"NameEmpty", [] { return WithMember(Named("", "")); }, false, 0},
    {"ExpandedNameOnlyBad", [] { return WithMember(Named("ok.tx_", "../ok.txt")); }, false, 0},
    {"StoredNameWithoutNul", [] { return NameWithoutNul(true); }, false, 0},
    {"ExpandedNameWithoutNul", [] { return NameWithoutNul(false); }, false, 0},
    {"LaunchNameOfEntryZeroBad", [] { return LaunchNameOfEntryZero("a/b"); }, false, 0},
    {"LaunchNameOfEntryZeroPlain", [] { return LaunchNameOfEntryZero("stub.exe"); }, true, 1},
    {"NameWithDotsInside", [] { return WithMember(Named("..x", "a..b")); }, true, 4},
    {"OffsetBeforeTheFile", [] { return WithMember(Layout(-1, 5)); }, false, 0},
    {"OffsetPastTheFile", [] { return WithMember(Layout(0x7FFFFF00, 5)); }, false, 0},
    // The members' 22 bytes start at 40000, so the directory starts at 40022.
    {"MemberOverlapsDirectory", [] { return WithMember(Layout(40000, 23)); }, false, 0},
    {"MemberEndsAtDirectory", [] { return WithMember(Layout(40000, 22)); }, true, 4},
    {"MemberPastTheFile", [] { return WithMember(Layout(40000, 100000)); }, false, 0},
    {"LengthIntMax", [] { return WithMember(Layout(0, 0x7FFFFFFF)); }, false, 0},
    {"LengthZeroAnyOffset", [] { return WithMember(Layout(-5, 0)); }, true, 4},
    {"LengthNegativeAnyOffset", [] { return WithMember(Layout(0x7FFFFFFF, -3)); }, true, 4},
};

INSTANTIATE_TEST_SUITE_P(Cases, LocateContainerTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<LocateCase>& info) { return std::string(info.param.name); });

TEST_F(LauncherTest, LocateLoadsTheDirectoryByteForByte) {
  std::vector<uint8_t> bytes = BuildContainer(TwoMembers());
  UseContainer(bytes);
  ASSERT_EQ(LocateContainer(), 1);
  size_t directory = bytes.size() - TRAILER_SIZE - 3 * ENTRY_SIZE;
  EXPECT_EQ(std::memcmp(g_launcherState.entries, bytes.data() + directory, 3 * ENTRY_SIZE), 0);
  const uint8_t zero[ENTRY_SIZE] = {};
  EXPECT_EQ(std::memcmp(&g_launcherState.entries[3], zero, ENTRY_SIZE), 0);
}

// Every platform call of the stage failed in turn: one message, and no handle left open.
#define FAILING_WRAPPER(name, ret, failValue, params, args)   \
  CallCounter g_##name##Counter;                              \
  ret Failing##name params {                                  \
    if (g_##name##Counter.Hit()) return failValue;            \
    return kPosixRealServices.name args;                      \
  }

FAILING_WRAPPER(CreateFileA, HANDLE, INVALID_HANDLE_VALUE,
                (LPCSTR p, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD d, DWORD f, HANDLE t),
                (p, a, s, sa, d, f, t))
FAILING_WRAPPER(GetFileSize, DWORD, 0, (HANDLE h, LPDWORD hi), (h, hi))
FAILING_WRAPPER(ReadFile, BOOL, FALSE, (HANDLE h, LPVOID b, DWORD n, LPDWORD r, LPOVERLAPPED o), (h, b, n, r, o))

TEST_F(LauncherTest, EachFailedCallLeavesNoHandle) {
  UseContainer(BuildContainer(TwoMembers()));
  DWORD (*modulePath)(HMODULE, LPSTR, DWORD) = g_posixServices.GetModuleFileNameA;
  struct Step {
    const char* call;
    int nth;
  };
  const Step steps[] = {{"GetModuleFileNameA", 1}, {"CreateFileA", 1}, {"GetFileSize", 1},
                        {"ReadFile", 1},           {"ReadFile", 2},    {"ReadFile", 3}};
  for (const Step& step : steps) {
    SCOPED_TRACE(std::string(step.call) + " #" + std::to_string(step.nth));
    ResetLauncherState();
    g_launcherState.instance = POSIX_MODULE_TOKEN;
    messages.clear();
    g_CreateFileACounter = {0, 0};
    g_GetFileSizeCounter = {0, 0};
    g_ReadFileCounter = {0, 0};
    std::string call = step.call;
    // The module path wrapper must still answer with the container when it does not fail.
    g_posixServices.GetModuleFileNameA = modulePath;
    if (call == "GetModuleFileNameA") {
      g_posixServices.GetModuleFileNameA = [](HMODULE, LPSTR, DWORD) -> DWORD { return 0; };
    }
    g_posixServices.CreateFileA = FailingCreateFileA;
    g_posixServices.GetFileSize = FailingGetFileSize;
    g_posixServices.ReadFile = FailingReadFile;
    if (call == "CreateFileA") g_CreateFileACounter.failAt = step.nth;
    if (call == "GetFileSize") g_GetFileSizeCounter.failAt = step.nth;
    if (call == "ReadFile") g_ReadFileCounter.failAt = step.nth;
    EXPECT_EQ(LocateContainer(), 0);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, DamagedText());
    // Without its own path the box still says who speaks.
    EXPECT_EQ(messages[0].caption, call == "GetModuleFileNameA" ? "sfxrun" : containerPath);
    EXPECT_EQ(g_launcherState.archiveFile, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CountOpenDescriptorsOn(containerPath), 0);
  }
}

}  // namespace
