// Unit tests of the container writer: layout, entry 0, compression choice, refusals, determinism.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include "builder/container_reader.h"
#include "builder/container_writer.h"
#include "builder_test_support.h"
#include "lz/szdd.h"

using namespace sfxbuilder;
using namespace sfxbuilder_test;

namespace {

PackOptions Posix() { return PackOptions{}; }

PackOptions Windows(int codePage = 0) {
  PackOptions options;
  options.windowsTarget = true;
  options.codePage = codePage != 0 ? FindCodePage(codePage) : nullptr;
  return options;
}

std::string Refusal(const std::vector<Member>& members, const PackOptions& options = Posix()) {
  Bytes out;
  std::string error;
  EXPECT_FALSE(Pack(StubBytes(), members, options, &out, &error));
  return error;
}

}  // namespace

TEST(BuilderWriter, LayoutPutsMembersAfterStubThenDirectoryThenTrailer) {
  Bytes stub = StubBytes(5000);
  Bytes stored = Noise(300);
  Bytes text = Compressible(4000);
  Bytes out;
  std::string error;
  ASSERT_TRUE(Pack(stub, {{"noise.bin", stored, 1234}, {"Readme.txt", text, 5678}, {"prog", Text("#!/bin/sh\n"), 42}},
                   Posix(), &out, &error))
      << error;

  ASSERT_EQ(0, memcmp(out.data(), stub.data(), stub.size()));
  const uint8_t* trailer = out.data() + out.size() - TRAILER_SIZE;
  char signature[SIGNATURE_LENGTH];
  BuildSignatureText(signature);
  EXPECT_EQ(0, memcmp(trailer, signature, SIGNATURE_LENGTH));
  for (size_t i = SIGNATURE_LENGTH; i < SIGNATURE_FIELD_SIZE; ++i) ASSERT_EQ(0, trailer[i]) << i;
  EXPECT_EQ(4, ReadInt32Le(trailer + 256));
  EXPECT_EQ(0, ReadInt32Le(trailer + 260));

  const DirectoryEntry* head = EntryAt(out, 4, 0);
  EXPECT_STREQ("stub.bin", head->storedName);
  EXPECT_STREQ("stub.bin", head->expandedName);
  EXPECT_EQ(0, EntryDataOffset(*head));
  EXPECT_EQ(5000, EntryDataLength(*head));
  EXPECT_EQ(999999999, EntryModifiedSeconds(*head));

  const DirectoryEntry* first = EntryAt(out, 4, 1);
  EXPECT_STREQ("noise.bin", first->storedName);  // noise does not shrink: stored
  EXPECT_EQ(5000, EntryDataOffset(*first));
  EXPECT_EQ(300, EntryDataLength(*first));
  EXPECT_EQ(0, memcmp(out.data() + 5000, stored.data(), stored.size()));

  const DirectoryEntry* second = EntryAt(out, 4, 2);
  EXPECT_STREQ("readme.tx_", second->storedName);
  EXPECT_STREQ("Readme.txt", second->expandedName);
  EXPECT_EQ(5300, EntryDataOffset(*second));
  const uint8_t* stream = out.data() + 5300;
  sfxlz::SzddHeader header;
  ASSERT_EQ(sfxlz::LzError::Ok, sfxlz::ParseSzddHeader(stream, (size_t)EntryDataLength(*second), &header));
  EXPECT_EQ('t', header.missingChar);
  EXPECT_EQ(4000u, header.expandedLength);
  Bytes decoded(4000);
  size_t decodedSize = 0;
  ASSERT_EQ(sfxlz::LzError::Ok, sfxlz::SzddDecode(stream, (size_t)EntryDataLength(*second), decoded.data(),
                                                  decoded.size(), &decodedSize));
  EXPECT_EQ(text, decoded);

  const DirectoryEntry* last = EntryAt(out, 4, 3);
  EXPECT_STREQ("prog", last->expandedName);
  EXPECT_EQ(EntryDataOffset(*second) + EntryDataLength(*second), EntryDataOffset(*last));
  EXPECT_EQ(out.size() - TRAILER_SIZE - 4 * ENTRY_SIZE, (size_t)(EntryDataOffset(*last) + EntryDataLength(*last)));

  // Name and reserved fields are zero after their content, so identical inputs give identical bytes.
  for (int i = 0; i < 4; ++i) {
    const DirectoryEntry* e = EntryAt(out, 4, i);
    for (size_t k = strlen(e->storedName); k < NAME_FIELD_SIZE; ++k) ASSERT_EQ(0, e->storedName[k]);
    for (size_t k = strlen(e->expandedName); k < NAME_FIELD_SIZE; ++k) ASSERT_EQ(0, e->expandedName[k]);
    for (uint8_t b : e->reserved) ASSERT_EQ(0, b);
  }
}

TEST(BuilderWriter, StampIsWrittenAsSignExtendedSixtyFourBits) {
  struct Case {
    int64_t seconds;
    uint8_t bytes[8];
  } cases[] = {
      {0, {0, 0, 0, 0, 0, 0, 0, 0}},
      {-1, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {INT32_MIN, {0x00, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0xFF}},
      {INT32_MAX, {0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    Bytes out;
    std::string error;
    ASSERT_TRUE(Pack(StubBytes(), {{"p", Text("x"), c.seconds}}, Posix(), &out, &error)) << error;
    EXPECT_EQ(0, memcmp(EntryAt(out, 2, 1)->modifiedTime, c.bytes, 8)) << c.seconds;
  }
}

TEST(BuilderWriter, StampsOutsideTheLaunchersRangeAreRefused) {
  for (int64_t seconds : {(int64_t)INT32_MAX + 1, (int64_t)INT32_MIN - 1, (int64_t)1 << 40}) {
    EXPECT_NE(std::string::npos, Refusal({{"p", Text("x"), seconds}}).find("time stamp")) << seconds;
  }
  Bytes out;
  std::string error;
  EXPECT_FALSE(Pack(StubBytes(), {{"p", Text("x")}}, Posix(), &out, &error, (int64_t)INT32_MAX + 1));
}

TEST(BuilderWriter, StoresWhatCompressionCannotHelpOrTheNameForbids) {
  struct Case {
    const char* why;
    Member member;
    bool store;
    const char* storedName;
  } cases[] = {
      {"compressible text", {"Notes.TXT", Compressible(2000)}, false, "notes.tx_"},
      {"--store", {"Notes.TXT", Compressible(2000)}, true, "Notes.TXT"},
      {"empty file", {"empty.txt", {}}, false, "empty.txt"},
      {"noise grows", {"noise.txt", Noise(5000)}, false, "noise.txt"},
      {"compressed name is the same file", {"data_", Compressible(2000)}, false, "data_"},
      {"same file ignoring case", {"DATA_", Compressible(2000)}, false, "DATA_"},
      {"one-character name", {"A", Compressible(2000)}, false, "_"},
  };
  for (const Case& c : cases) {
    PackOptions options;
    options.store = c.store;
    Bytes out;
    std::string error;
    ASSERT_TRUE(Pack(StubBytes(), {c.member}, options, &out, &error)) << c.why << ": " << error;
    const DirectoryEntry* e = EntryAt(out, 2, 1);
    EXPECT_STREQ(c.storedName, e->storedName) << c.why;
    EXPECT_STREQ(c.member.name.c_str(), e->expandedName) << c.why;
    if (strcmp(e->storedName, e->expandedName) == 0) {
      EXPECT_EQ(c.member.data.size(), (size_t)EntryDataLength(*e)) << c.why;
    } else {
      EXPECT_LT((size_t)EntryDataLength(*e), c.member.data.size()) << c.why;
    }
  }
}

TEST(BuilderWriter, RefusesNamesTheLauncherWouldRefuse) {
  const char* names[] = {"", ".", "..", "a\\b", "a:b", "dir/x"};
  for (const char* name : names) {
    EXPECT_NE(std::string::npos, Refusal({{name, Text("x")}}).find("plain file name")) << name;
  }
  EXPECT_NE(std::string::npos, Refusal({{std::string(256, 'n'), Text("x")}}).find("at most 255"));
  Bytes out;
  std::string error;
  EXPECT_TRUE(Pack(StubBytes(), {{std::string(255, 'n'), Text("x")}}, Posix(), &out, &error)) << error;
}

TEST(BuilderWriter, RefusesNamesThatCollideIgnoringCase) {
  struct Case {
    const char* first;
    const char* second;
    bool store;
  } refused[] = {
      {"a.txt", "A.TXT", false},       // expanded with expanded
      {"a.txt", "a.tx_", false},       // stored name of one, expanded name of the other
      {"Readme.txt", "README.TXZ", false},  // both stored as readme.tx_
      {"café.txt", "CAFÉ.TXT", false},  // case-blind beyond ASCII, as NTFS is
      {"a.txt", "A.TXT", true},
  };
  for (const Case& c : refused) {
    PackOptions options;
    options.store = c.store;
    EXPECT_NE(std::string::npos, Refusal({{c.first, Compressible(500)}, {c.second, Compressible(500)}}, options)
                                     .find("letter case is ignored"))
        << c.first << " " << c.second;
  }
  // Stored as they are, the two names stay apart.
  PackOptions store;
  store.store = true;
  Bytes out;
  std::string error;
  EXPECT_TRUE(Pack(StubBytes(), {{"a.txt", Compressible(500)}, {"a.tx_", Compressible(500)}}, store, &out, &error))
      << error;
}

TEST(BuilderWriter, MemberCountLimits) {
  std::vector<Member> members;
  for (int i = 0; i < 255; ++i) members.push_back({"m" + std::to_string(i), Text("x")});
  Bytes out;
  std::string error;
  ASSERT_TRUE(Pack(StubBytes(), members, Posix(), &out, &error)) << error;
  EXPECT_EQ(256, ReadInt32Le(out.data() + out.size() - 8));
  members.push_back({"one-too-many", Text("x")});
  EXPECT_NE(std::string::npos, Refusal(members).find("at most 255"));
  EXPECT_NE(std::string::npos, Refusal({}).find("no program"));
}

TEST(BuilderWriter, IdenticalInputsGiveIdenticalBytes) {
  std::vector<Member> members = {{"a.txt", Compressible(10000), 5}, {"b.bin", Noise(700), 6}, {"p", Text("x"), 7}};
  Bytes first, second;
  std::string error;
  ASSERT_TRUE(Pack(StubBytes(), members, Posix(), &first, &error));
  ASSERT_TRUE(Pack(StubBytes(), members, Posix(), &second, &error));
  EXPECT_EQ(first, second);
  members[1].seconds = 8;
  ASSERT_TRUE(Pack(StubBytes(), members, Posix(), &second, &error));
  EXPECT_NE(first, second);
}

TEST(BuilderWriter, RefusesAStubThatIsAlreadyAContainer) {
  Bytes container;
  std::string error;
  ASSERT_TRUE(Pack(StubBytes(), {{"p", Text("x")}}, Posix(), &container, &error));
  Bytes out;
  EXPECT_FALSE(Pack(container, {{"q", Text("y")}}, Posix(), &out, &error));
  EXPECT_NE(std::string::npos, error.find("already carries"));
  EXPECT_FALSE(Pack(Bytes(), {{"q", Text("y")}}, Posix(), &out, &error));
}

// A sink that keeps nothing, so members beyond 2 GiB cost no memory.
class CountingSink final : public ByteSink {
 public:
  bool Write(const uint8_t*, size_t count) override {
    written += count;
    return true;
  }
  uint64_t written = 0;
};

TEST(BuilderWriter, RefusesMemberDataBeginningAtTwoGibibytes) {
  const size_t stubSize = (size_t)INT32_MAX - 99;  // members may begin up to byte 2^31 - 1
  void* mapping = mmap(nullptr, (size_t)INT32_MAX + 1, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(MAP_FAILED, mapping);
  const uint8_t* zeros = static_cast<const uint8_t*>(mapping);
  StubInput stub{"big-stub", zeros, stubSize, 0};
  PackOptions options;
  options.store = true;
  std::vector<MemberInput> members = {{"a", 99, 0}, {"b", 1, 0}, {"c", 1, 0}};
  ContainerPlan plan;
  std::string error;
  ASSERT_TRUE(PlanContainer(stub, members, options, &plan, &error)) << error;
  CountingSink sink;
  ContainerWriter writer(plan, &sink);
  ASSERT_TRUE(writer.Begin(&error));
  EXPECT_TRUE(writer.WriteMember(1, zeros, 99, &error)) << error;   // begins at 2^31 - 100
  EXPECT_TRUE(writer.WriteMember(2, zeros, 1, &error)) << error;    // begins at 2^31 - 1
  EXPECT_FALSE(writer.WriteMember(3, zeros, 1, &error));            // would begin at 2^31
  EXPECT_NE(std::string::npos, error.find("2 GiB"));

  StubInput huge{"huge-stub", zeros, (size_t)INT32_MAX + 1, 0};
  EXPECT_FALSE(PlanContainer(huge, members, options, &plan, &error));
  munmap(mapping, (size_t)INT32_MAX + 1);
}

TEST(BuilderWriter, WindowsNamesNeedACodePageAndAFileWindowsCanCreate) {
  std::string error = Refusal({{"表示.txt", Text("x")}}, Windows());
  EXPECT_NE(std::string::npos, error.find("--codepage")) << error;
  EXPECT_NE(std::string::npos, Refusal({{"😀.txt", Text("x")}}, Windows(1252)).find("code page 1252"));
  for (const char* name : {"CON", "nul.txt", "com1.log", "a?b", "trailing.", "trailing ", "tab\there"}) {
    EXPECT_FALSE(Refusal({{name, Text("x")}}, Windows()).empty()) << name;
  }
  // The same names are plain files to the POSIX stub.
  Bytes out;
  EXPECT_TRUE(Pack(StubBytes(), {{"CON", Text("x")}, {"表示.txt", Text("y")}}, Posix(), &out, &error)) << error;
}

TEST(BuilderWriter, CodePage932NamesPassTheLaunchersCheck) {
  std::vector<Member> members = {{"表示.txt", Compressible(3000)}, {"ソフト.dll", Compressible(3000)},
                                 {"予定.dat", Noise(100)}, {"能", Compressible(3000)}, {"起動.exe", Text("MZ")}};
  Bytes out;
  std::string error;
  ASSERT_TRUE(Pack(StubBytes(), members, Windows(932), &out, &error)) << error;
  int count = ReadInt32Le(out.data() + out.size() - 8);
  ASSERT_EQ(6, count);
  const DirectoryEntry* first = EntryAt(out, count, 1);
  EXPECT_STREQ("\x95\x5C\x8E\xA6.txt", first->expandedName);
  EXPECT_STREQ("\x95\x5C\x8E\xA6.tx_", first->storedName);
  // 能 (94 5C) is a double-byte last character: replaced whole, and the header cannot carry it.
  const DirectoryEntry* fourth = EntryAt(out, count, 4);
  EXPECT_STREQ("_", fourth->storedName);
  sfxlz::SzddHeader header;
  ASSERT_EQ(sfxlz::LzError::Ok, sfxlz::ParseSzddHeader(out.data() + EntryDataOffset(*fourth), 14, &header));
  EXPECT_EQ(0, header.missingChar);

  int32_t faultIndex = 0;
  EXPECT_EQ(DirectoryFault::None, ValidateDirectory(EntryAt(out, count, 0), count,
                                                    (int64_t)(out.size() - TRAILER_SIZE - count * ENTRY_SIZE),
                                                    IsShiftJisLeadByte, &faultIndex));
  // Read byte by byte, as a single-byte system would, the 0x5C trail byte is a separator.
  EXPECT_NE(DirectoryFault::None, ValidateDirectory(EntryAt(out, count, 0), count,
                                                    (int64_t)(out.size() - TRAILER_SIZE - count * ENTRY_SIZE),
                                                    nullptr, &faultIndex));
}

// Whatever the builder accepts, the launcher's directory check accepts too, in every code page.
TEST(BuilderWriter, EveryAcceptedCodePageGivesNamesTheLauncherAccepts) {
  const char* candidates[] = {"表示.txt", "ソフト.dll", "予定.dat", "能力", "中文名.txt", "한국어.txt", "Café.TXT",
                              "Ёжик.doc", "Ωmega.txt", "ĄĘŁ.txt", "şeker.txt", "שלום.txt", "مرحبا.txt",
                              "ภาษาไทย.txt", "Việt.txt", "Ærø.txt", "plain.txt"};
  for (int number : {874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258}) {
    const CodePage* page = FindCodePage(number);
    ASSERT_NE(nullptr, page) << number;
    std::vector<Member> members;
    for (const char* name : candidates) {
      std::string bytes;
      if (ConvertFromUtf8(*page, name, &bytes)) members.push_back({name, Compressible(200 + members.size())});
    }
    ASSERT_GT(members.size(), 1u) << number;  // plain.txt and at least one name of that code page
    members.push_back({"run.exe", Text("MZ")});
    Bytes out;
    std::string error;
    ASSERT_TRUE(Pack(StubBytes(), members, Windows(number), &out, &error)) << number << ": " << error;
    int count = ReadInt32Le(out.data() + out.size() - 8);
    int32_t faultIndex = 0;
    EXPECT_EQ(DirectoryFault::None,
              ValidateDirectory(EntryAt(out, count, 0), count, (int64_t)(out.size() - TRAILER_SIZE - count * ENTRY_SIZE),
                                page->isLeadByte, &faultIndex))
        << number << " entry " << faultIndex;
    MemorySource source(out);
    ReadOptions options;
    options.isLeadByte = page->isLeadByte;
    options.windowsTarget = true;
    std::vector<Problem> problems;
    EXPECT_TRUE(VerifyContainer(&source, options, &problems)) << number << ": " << problems[0].text;
  }
}
