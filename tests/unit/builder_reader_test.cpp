// Unit tests of the container reader: the launcher's trailer search, the directory, expansion and
// the verdict of verify on damaged containers.
#include <gtest/gtest.h>

#include "builder/container_reader.h"
#include "builder_test_support.h"

using namespace sfxbuilder;
using namespace sfxbuilder_test;

namespace {

Bytes SmallContainer() {
  Bytes out;
  std::string error;
  EXPECT_TRUE(Pack(StubBytes(40000), {{"Readme.txt", Compressible(100000)}, {"run", Text("#!/bin/sh\n")}},
                   PackOptions{}, &out, &error))
      << error;
  return out;
}

SearchFault Search(const Bytes& file, LocatedContainer* located) {
  MemorySource source(file);
  return LocateTrailer(&source, located);
}

std::vector<Problem> Verify(const Bytes& file, const ReadOptions& options = ReadOptions{}) {
  MemorySource source(file);
  std::vector<Problem> problems;
  bool ok = VerifyContainer(&source, options, &problems);
  EXPECT_EQ(ok, problems.empty());
  return problems;
}

bool Mentions(const std::vector<Problem>& problems, const std::string& text) {
  for (const Problem& p : problems) {
    if (p.text.find(text) != std::string::npos) return true;
  }
  return false;
}

DirectoryEntry* MutableEntry(Bytes* container, int count, int index) {
  return const_cast<DirectoryEntry*>(EntryAt(*container, count, index));
}

}  // namespace

TEST(BuilderReader, SearchPassesOverTailsWithinTheBound) {
  struct Case {
    const char* what;
    Bytes tail;
    SearchFault expected;
  } cases[] = {
      {"no tail", {}, SearchFault::None},
      {"certificate table: one zero byte and 10656 bytes", [] {
         Bytes t(1, 0);
         Bytes table = Noise(10656);
         t.insert(t.end(), table.begin(), table.end());
         return t;
       }(), SearchFault::None},
      {"trailer exactly 32750 bytes before the end", Bytes(32486, 0), SearchFault::None},
      {"trailer 32751 bytes before the end", Bytes(32487, 0), SearchFault::NoSignature},
      {"fill run up to the bound", Bytes(32486, FILL_BYTE), SearchFault::None},
      {"fill run one past the bound", Bytes(32487, FILL_BYTE), SearchFault::NoSignature},
      {"last 32751 bytes all fill", Bytes(40000, FILL_BYTE), SearchFault::OnlyFill},
  };
  for (const Case& c : cases) {
    Bytes file = SmallContainer();
    size_t payloadEnd = file.size();
    file.insert(file.end(), c.tail.begin(), c.tail.end());
    LocatedContainer located;
    EXPECT_EQ(c.expected, Search(file, &located)) << c.what;
    if (c.expected == SearchFault::None) {
      EXPECT_EQ(c.tail.size() + TRAILER_SIZE, located.trailerDistance) << c.what;
      EXPECT_EQ(3, located.entryCount) << c.what;
      EXPECT_EQ(payloadEnd - TRAILER_SIZE - 3 * ENTRY_SIZE, located.directoryPosition) << c.what;
      EXPECT_TRUE(Verify(file).empty()) << c.what;
    }
  }
  Bytes signedLike = SmallContainer();
  signedLike.push_back(0);
  Bytes table = Noise(10656);
  signedLike.insert(signedLike.end(), table.begin(), table.end());
  LocatedContainer located;
  ASSERT_EQ(SearchFault::None, Search(signedLike, &located));
  EXPECT_EQ(10921u, located.trailerDistance);
}

TEST(BuilderReader, SearchTakesTheOccurrenceNearestTheEndAndNeedsTheNul) {
  Bytes inner = SmallContainer();
  Bytes file = inner;
  // A second signature text after the trailer, followed by a count of 0.
  Bytes decoy(TRAILER_SIZE, 0);
  BuildSignatureText(reinterpret_cast<char*>(decoy.data()));
  file.insert(file.end(), decoy.begin(), decoy.end());
  LocatedContainer located;
  ASSERT_EQ(SearchFault::None, Search(file, &located));
  EXPECT_EQ(TRAILER_SIZE, located.trailerDistance);
  EXPECT_EQ(0, located.entryCount);
  EXPECT_TRUE(Mentions(Verify(file), "no entries"));

  // Without its NUL the text is no match: the real trailer is found.
  decoy[16] = 'X';
  file = inner;
  file.insert(file.end(), decoy.begin(), decoy.end());
  ASSERT_EQ(SearchFault::None, Search(file, &located));
  EXPECT_EQ(2 * TRAILER_SIZE, located.trailerDistance);
  EXPECT_EQ(3, located.entryCount);
}

TEST(BuilderReader, DamagedTrailersAreNamed) {
  Bytes good = SmallContainer();
  struct Case {
    const char* what;
    void (*damage)(Bytes*);
    SearchFault expected;
  } cases[] = {
      {"count -1", [](Bytes* f) { WriteInt32Le(f->data() + f->size() - 8, -1); }, SearchFault::CountNegative},
      {"count 257", [](Bytes* f) { WriteInt32Le(f->data() + f->size() - 8, 257); }, SearchFault::CountTooLarge},
      {"trailer cut", [](Bytes* f) { f->resize(f->size() - 100); }, SearchFault::TrailerCut},
      {"no trailer", [](Bytes* f) { f->resize(f->size() - TRAILER_SIZE); }, SearchFault::NoSignature},
      {"empty file", [](Bytes* f) { f->clear(); }, SearchFault::Unreadable},
      {"directory before the start", [](Bytes* f) {
         Bytes tail(f->end() - TRAILER_SIZE, f->end());
         WriteInt32Le(tail.data() + 256, 200);
         *f = tail;
       }, SearchFault::DirectoryBeforeStart},
  };
  for (const Case& c : cases) {
    Bytes file = good;
    c.damage(&file);
    LocatedContainer located;
    EXPECT_EQ(c.expected, Search(file, &located)) << c.what;
    EXPECT_FALSE(Verify(file).empty()) << c.what;
  }
}

TEST(BuilderReader, ShortFilesAreSearchedOverTheBytesTheyHave) {
  Bytes file;
  std::string error;
  ASSERT_TRUE(Pack(StubBytes(10), {{"p", Text("x")}}, PackOptions{}, &file, &error));
  ASSERT_LT(file.size(), TAIL_WINDOW);
  LocatedContainer located;
  EXPECT_EQ(SearchFault::None, Search(file, &located));
  EXPECT_TRUE(Verify(file).empty());
}

TEST(BuilderReader, VerifyNamesDamagedMembers) {
  struct Case {
    const char* what;
    void (*damage)(Bytes*);
    const char* mentioned;
  } cases[] = {
      {"stream cut short", [](Bytes* f) {
         DirectoryEntry* e = MutableEntry(f, 3, 1);
         WriteInt32Le(e->dataLength, EntryDataLength(*e) - 5);
       }, "does not decode"},
      {"stream one byte longer", [](Bytes* f) {
         DirectoryEntry* e = MutableEntry(f, 3, 1);
         WriteInt32Le(e->dataLength, EntryDataLength(*e) + 1);
       }, "does not decode"},
      {"wrong magic", [](Bytes* f) { (*f)[40000] = 'X'; }, "not SZDD"},
      {"header length too long", [](Bytes* f) { WriteInt32Le(f->data() + 40010, 100001); }, "does not decode"},
      {"expands to nothing", [](Bytes* f) {
         WriteInt32Le(f->data() + 40010, 0);
         DirectoryEntry* e = MutableEntry(f, 3, 1);
         WriteInt32Le(e->dataLength, 14);
       }, "empty file"},
      {"data past the directory", [](Bytes* f) {
         DirectoryEntry* e = MutableEntry(f, 3, 2);
         WriteInt32Le(e->dataLength, 100000);
       }, "inside the file"},
      {"negative offset", [](Bytes* f) { WriteInt32Le(MutableEntry(f, 3, 2)->dataOffset, -1); }, "inside the file"},
      {"separator in a name", [](Bytes* f) { strcpy(MutableEntry(f, 3, 2)->expandedName, "../run"); }, "plain"},
      {"name without NUL", [](Bytes* f) { memset(MutableEntry(f, 3, 2)->storedName, 'a', NAME_FIELD_SIZE); }, "plain"},
      {"names collide", [](Bytes* f) {
         strcpy(MutableEntry(f, 3, 2)->storedName, "README.TXT");
         strcpy(MutableEntry(f, 3, 2)->expandedName, "README.TXT");
       }, "same file"},
      {"compressed names differ only in case", [](Bytes* f) {
         strcpy(MutableEntry(f, 3, 1)->storedName, "README.TXT");
       }, "letter case"},
      {"only the stub", [](Bytes* f) {
         Bytes head(f->begin(), f->begin() + 40000);
         Bytes entry(f->end() - TRAILER_SIZE - 3 * ENTRY_SIZE, f->end() - TRAILER_SIZE - 2 * ENTRY_SIZE);
         Bytes trailer(f->end() - TRAILER_SIZE, f->end());
         WriteInt32Le(trailer.data() + 256, 1);
         *f = head;
         f->insert(f->end(), entry.begin(), entry.end());
         f->insert(f->end(), trailer.begin(), trailer.end());
       }, "no program"},
  };
  for (const Case& c : cases) {
    Bytes file = SmallContainer();
    c.damage(&file);
    std::vector<Problem> problems = Verify(file);
    EXPECT_TRUE(Mentions(problems, c.mentioned)) << c.what << ": " << (problems.empty() ? "" : problems[0].text);
  }
}

TEST(BuilderReader, WindowsContainersAreCheckedForNamesWindowsCannotCreate) {
  Bytes file = SmallContainer();
  strcpy(MutableEntry(&file, 3, 2)->storedName, "aux");
  strcpy(MutableEntry(&file, 3, 2)->expandedName, "aux");
  EXPECT_TRUE(Verify(file).empty());
  ReadOptions windows;
  windows.windowsTarget = true;
  EXPECT_TRUE(Mentions(Verify(file, windows), "device name"));
}

class SplitSource final : public ByteSource {
 public:
  explicit SplitSource(const Bytes& bytes) : bytes_(bytes) {}
  uint64_t Size() const override { return bytes_.size(); }
  bool ReadAt(uint64_t position, uint8_t* buffer, size_t count) override {
    MemorySource inner(bytes_);
    return inner.ReadAt(position, buffer, count);
  }

 private:
  const Bytes& bytes_;
};

TEST(BuilderReader, ExpandEntryStreamsLargeMembersIntact) {
  // Several chunks of input and output, so items and matches are split at chunk edges.
  Bytes text = Compressible(300000);
  for (size_t i = 0; i < text.size(); i += 997) text[i] = (uint8_t)(i >> 3);
  Bytes file;
  std::string error;
  ASSERT_TRUE(Pack(StubBytes(), {{"big.txt", text}, {"p", Text("x")}}, PackOptions{}, &file, &error));
  SplitSource source(file);
  MemorySink sink;
  const DirectoryEntry* e = EntryAt(file, 3, 1);
  ASSERT_TRUE(IsCompressedEntry(*e));
  ASSERT_TRUE(ExpandEntry(&source, *e, &sink, &error)) << error;
  EXPECT_EQ(text, sink.bytes);
  EXPECT_EQ(300000, EntryExpandedSize(&source, *e));
}
