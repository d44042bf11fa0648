// Unit tests of the POSIX LZ service over real files in a scratch folder.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "launcher/platform/posix/services.h"
#include "lz/szdd.h"
#include "tests/unit/lz_corpus.h"

namespace {

using lzcorpus::Bytes;

Bytes Encode(const Bytes& input) {
  Bytes out;
  EXPECT_EQ(sfxlz::SzddEncode(input.data(), input.size(), 0, &out), sfxlz::LzError::Ok);
  return out;
}

int CountOpenDescriptors() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

class LzServiceFiles : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/sfxrun-lz-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    descriptorsBefore_ = CountOpenDescriptors();
  }
  void TearDown() override {
    // Every test closes what it opened: a leaked descriptor is a fault of the service.
    EXPECT_EQ(CountOpenDescriptors(), descriptorsBefore_);
    std::string command = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(system(command.c_str()), 0);
  }

  std::string PathOf(const char* name) const { return dir_ + "/" + name; }

  std::string Write(const char* name, const Bytes& bytes) const {
    std::string path = PathOf(name);
    FILE* file = fopen(path.c_str(), "wb");
    EXPECT_NE(file, nullptr);
    if (!bytes.empty()) {
      EXPECT_EQ(fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    }
    fclose(file);
    return path;
  }

  static Bytes Read(const std::string& path) {
    Bytes bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) return bytes;
    uint8_t buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) != 0) bytes.insert(bytes.end(), buffer, buffer + got);
    fclose(file);
    return bytes;
  }

  // The launcher's expansion: both opens whatever happens, copy, close both.
  static LONG Expand(std::string source, std::string destination) {
    OFSTRUCT sourceOfs;
    OFSTRUCT destinationOfs;
    INT in = PosixLZOpenFileA(&source[0], &sourceOfs, OF_READ);
    INT out = PosixLZOpenFileA(&destination[0], &destinationOfs, OF_CREATE);
    LONG result = PosixLZCopy(in, out);
    PosixLZClose(in);
    PosixLZClose(out);
    return result;
  }

  std::string dir_;
  int descriptorsBefore_ = 0;
};

TEST_F(LzServiceFiles, SzddFilesAreExpanded) {
  Bytes reference = {0x53, 0x5A, 0x44, 0x44, 0x88, 0xF0, 0x27, 0x33, 0x41, 0x74, 0x14, 0x00,
                     0x00, 0x00, 0xDF, 0x54, 0x68, 0x69, 0x73, 0x20, 0xF2, 0xF0, 0x61, 0x20,
                     0xFF, 0x74, 0x65, 0x73, 0x74, 0x20, 0x66, 0x69, 0x6C, 0x03, 0x65, 0x2E};
  struct Case {
    const char* name;
    Bytes stream;
    Bytes expanded;
  } cases[] = {
      {"reference", reference, lzcorpus::FromText("This is a test file.")},
      {"text over many buffers", Encode(lzcorpus::MakeText(300000, 1)), lzcorpus::MakeText(300000, 1)},
      {"one byte repeated: tiny input, large output", Encode(Bytes(1000000, 'q')), Bytes(1000000, 'q')},
      {"random", Encode(lzcorpus::MakeRandom(70000, 2)), lzcorpus::MakeRandom(70000, 2)},
  };
  for (const Case& c : cases) {
    std::string source = Write("member.tx_", c.stream);
    std::string destination = PathOf("member.txt");
    EXPECT_EQ(Expand(source, destination), static_cast<LONG>(c.expanded.size())) << c.name;
    EXPECT_TRUE(Read(destination) == c.expanded) << c.name;
    EXPECT_TRUE(Read(source) == c.stream) << c.name;
  }
}

TEST_F(LzServiceFiles, OtherFilesPassThroughUnchanged) {
  Bytes partialMagic = {0x53, 0x5A, 0x44, 0x44, 0x88};
  Bytes thirteen = lzcorpus::FromText("thirteen byte");
  struct Case {
    const char* name;
    Bytes bytes;
  } cases[] = {
      {"empty", {}},
      {"shorter than the magic, though a prefix of it", partialMagic},
      {"shorter than a header", thirteen},
      {"large", lzcorpus::MakeRandom(100000, 3)},
      {"KWAJ magic", lzcorpus::FromText("KWAJ\x88\xF0\x27\xD1 some more bytes")},
  };
  for (const Case& c : cases) {
    std::string source = Write("plain.bin", c.bytes);
    std::string destination = PathOf("copy.bin");
    EXPECT_EQ(Expand(source, destination), static_cast<LONG>(c.bytes.size())) << c.name;
    EXPECT_TRUE(Read(destination) == c.bytes) << c.name;
  }
}

// The launcher sets no time on an expanded member, so the copy must hand the stored file's on.
TEST_F(LzServiceFiles, ExpandedFileKeepsTheSourceTimeStamp) {
  struct Case {
    const char* name;
    Bytes source;
  } cases[] = {
      {"compressed", Encode(lzcorpus::MakeText(20000, 7))},
      {"plain", lzcorpus::MakeRandom(3000, 8)},
  };
  for (const Case& c : cases) {
    std::string source = Write("stamped.tx_", c.source);
    struct timespec times[2] = {{1000000000, 0}, {1234567890, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
    EXPECT_GE(Expand(source, PathOf("stamped.txt")), 0) << c.name;
    struct stat info;
    ASSERT_EQ(stat(PathOf("stamped.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, 1234567890) << c.name;
  }
}

TEST_F(LzServiceFiles, HeaderOnlyEmptyStreamGivesAnEmptyFile) {
  Bytes stream = Encode({});
  EXPECT_EQ(Expand(Write("empty.tx_", stream), PathOf("empty.txt")), 0);
  struct stat info;
  ASSERT_EQ(stat(PathOf("empty.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_size, 0);
}

// Damaged compressed files fail with a negative result: the launcher must never start a program
// beside a short or padded file that the copy called good.
TEST_F(LzServiceFiles, DamagedStreamsAreErrors) {
  Bytes good = Encode(lzcorpus::MakeText(50000, 4));
  Bytes truncated(good.begin(), good.begin() + good.size() / 2);
  Bytes lastByteMissing(good.begin(), good.end() - 1);
  Bytes surplus = good;
  surplus.push_back(0x00);
  Bytes lengthTooSmall = good;
  lengthTooSmall[10] ^= 0x01;
  lengthTooSmall[11] ^= 0x02;
  Bytes modeB = good;
  modeB[8] = 'B';
  Bytes cutHeader(good.begin(), good.begin() + 11);
  struct Case {
    const char* name;
    Bytes stream;
    LONG expected;
  } cases[] = {
      {"cut in the middle", truncated, LZERROR_READ},
      {"last byte missing", lastByteMissing, LZERROR_READ},
      {"a byte past the end", surplus, LZERROR_READ},
      {"header length differs", lengthTooSmall, LZERROR_READ},
      {"unknown compression mode", modeB, LZERROR_BADINHANDLE},
      {"magic with a cut header", cutHeader, LZERROR_BADINHANDLE},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Expand(Write("damaged.tx_", c.stream), PathOf("damaged.txt")), c.expected) << c.name;
  }
}

TEST_F(LzServiceFiles, OpenReportsWhyACompressedFileCannotBeRead) {
  Bytes modeB = Encode(lzcorpus::FromText("some text for mode B"));
  modeB[8] = 'B';
  std::string modeBPath = Write("modeb.tx_", modeB);
  EXPECT_EQ(PosixLZOpenFileA(&modeBPath[0], nullptr, OF_READ), LZERROR_UNKNOWNALG);
  std::string cutPath = Write("cut.tx_", Bytes(modeB.begin(), modeB.begin() + 10));
  EXPECT_EQ(PosixLZOpenFileA(&cutPath[0], nullptr, OF_READ), LZERROR_READ);
}

TEST_F(LzServiceFiles, ExistingDestinationIsReplaced) {
  std::string destination = Write("target.txt", lzcorpus::MakeRandom(5000, 5));
  Bytes small = lzcorpus::FromText("short and sweet, and compressed as such");
  EXPECT_EQ(Expand(Write("target.tx_", Encode(small)), destination), static_cast<LONG>(small.size()));
  EXPECT_TRUE(Read(destination) == small);
}

TEST_F(LzServiceFiles, CreatedFileHonoursUmaskAndIsCloseOnExec) {
  mode_t previous = umask(027);
  std::string destination = PathOf("created.txt");
  INT out = PosixLZOpenFileA(&destination[0], nullptr, OF_CREATE);
  umask(previous);
  ASSERT_GE(out, 0);
  struct stat info;
  ASSERT_EQ(stat(destination.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  // Find our descriptor for the file and check it would not leak into a started program.
  bool found = false;
  for (int fd = 0; fd < 1024; ++fd) {
    char link[64];
    char target[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t length = readlink(link, target, sizeof target - 1);
    if (length <= 0) continue;
    target[length] = '\0';
    if (destination != target) continue;
    found = true;
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
  }
  EXPECT_TRUE(found);
  PosixLZClose(out);
}

TEST_F(LzServiceFiles, MissingSourceLeavesAnEmptyDestination) {
  std::string destination = PathOf("left.txt");
  EXPECT_EQ(Expand(PathOf("missing.tx_"), destination), LZERROR_BADINHANDLE);
  struct stat info;
  ASSERT_EQ(stat(destination.c_str(), &info), 0);
  EXPECT_EQ(info.st_size, 0);
}

TEST_F(LzServiceFiles, UncreatableDestinationIsAnError) {
  std::string source = Write("ok.tx_", Encode(lzcorpus::FromText("fine content here")));
  EXPECT_EQ(Expand(source, PathOf("no-such-folder/out.txt")), LZERROR_BADOUTHANDLE);
}

TEST_F(LzServiceFiles, WriteFailureIsAnError) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  std::string source = Write("big.tx_", Encode(lzcorpus::MakeText(100000, 6)));
  EXPECT_EQ(Expand(source, "/dev/full"), LZERROR_WRITE);
}

TEST_F(LzServiceFiles, HandlesAreCheckedBeforeUse) {
  std::string sourcePath = Write("a.tx_", Encode(lzcorpus::FromText("handle checks, handle checks")));
  std::string destinationPath = PathOf("a.txt");
  INT in = PosixLZOpenFileA(&sourcePath[0], nullptr, OF_READ);
  INT out = PosixLZOpenFileA(&destinationPath[0], nullptr, OF_CREATE);
  ASSERT_GE(in, 0);
  ASSERT_GE(out, 0);
  struct Case {
    const char* name;
    INT source;
    INT destination;
    LONG expected;
  } cases[] = {
      {"negative source", LZERROR_BADINHANDLE, out, LZERROR_BADINHANDLE},
      {"negative destination", in, LZERROR_BADOUTHANDLE, LZERROR_BADOUTHANDLE},
      {"both negative", -5, -7, LZERROR_BADINHANDLE},
      {"a raw descriptor as source", 0, out, LZERROR_BADINHANDLE},
      {"a handle never issued", in + 100, out, LZERROR_BADINHANDLE},
      {"reading handle as destination", in, in, LZERROR_BADOUTHANDLE},
      {"writing handle as source", out, out, LZERROR_BADINHANDLE},
  };
  for (const Case& c : cases) EXPECT_EQ(PosixLZCopy(c.source, c.destination), c.expected) << c.name;
  PosixLZClose(in);
  PosixLZClose(out);
  // Closing again, or closing what was never a handle, changes nothing.
  PosixLZClose(in);
  PosixLZClose(-1);
  PosixLZClose(LZERROR_UNKNOWNALG);
  PosixLZClose(12345);
  EXPECT_EQ(PosixLZCopy(in, out), LZERROR_BADINHANDLE);
}

TEST_F(LzServiceFiles, StylesOtherThanReadAndCreateAreRefused) {
  std::string path = Write("style.txt", lzcorpus::FromText("x"));
  EXPECT_EQ(PosixLZOpenFileA(&path[0], nullptr, 0x0001), LZERROR_BADVALUE);  // write only
  EXPECT_EQ(PosixLZOpenFileA(&path[0], nullptr, 0x0002), LZERROR_BADVALUE);  // read and write
  EXPECT_EQ(PosixLZOpenFileA(nullptr, nullptr, OF_READ), LZERROR_BADINHANDLE);
}

TEST_F(LzServiceFiles, FullHandleTableIsAnErrorAndRecovers) {
  std::string path = Write("many.txt", lzcorpus::FromText("many opens"));
  std::vector<INT> handles;
  INT handle;
  while ((handle = PosixLZOpenFileA(&path[0], nullptr, OF_READ)) >= 0 && handles.size() < 1000) {
    handles.push_back(handle);
  }
  EXPECT_EQ(handle, LZERROR_GLOBALLOC);
  EXPECT_GE(handles.size(), 2u);
  PosixLZClose(handles.back());
  handles.pop_back();
  handle = PosixLZOpenFileA(&path[0], nullptr, OF_READ);
  EXPECT_GE(handle, 0);
  handles.push_back(handle);
  for (INT h : handles) PosixLZClose(h);
}

TEST_F(LzServiceFiles, OfStructNamesTheFile) {
  std::string path = Write("named.txt", lzcorpus::FromText("named"));
  OFSTRUCT ofs;
  memset(&ofs, 0x5A, sizeof ofs);
  INT handle = PosixLZOpenFileA(&path[0], &ofs, OF_READ);
  ASSERT_GE(handle, 0);
  EXPECT_EQ(ofs.cBytes, sizeof ofs);
  EXPECT_EQ(ofs.nErrCode, 0);
  EXPECT_STREQ(ofs.szPathName, path.c_str());
  PosixLZClose(handle);
}

}  // namespace
