// Interop of our SZDD codec with real peers: libmspack (in process), msexpand and mscompress.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <mspack.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lz/szdd.h"
#include "tests/unit/lz_corpus.h"

namespace {

using lzcorpus::Bytes;

Bytes Encode(const Bytes& input) {
  Bytes out;
  EXPECT_EQ(sfxlz::SzddEncode(input.data(), input.size(), 0, &out), sfxlz::LzError::Ok);
  return out;
}

// mscompress corrupts inputs shorter than 16 bytes, so the peer's direction starts there.
constexpr size_t MSCOMPRESS_SMALLEST = 16;

class SzddPeers : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/sfxrun-interop-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    corpus_ = lzcorpus::MakeRoundTripCorpus();
  }
  void TearDown() override {
    std::string command = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(system(command.c_str()), 0);
  }

  std::string PathOf(const std::string& name) const { return dir_ + "/" + name; }

  static bool Write(const std::string& path, const Bytes& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && ok;
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

  static int Run(const std::string& command) { return system(command.c_str()); }

  // mscompress writes NAME_ beside NAME.
  Bytes Mscompress(const std::string& name, const Bytes& input) const {
    std::string path = PathOf(name);
    EXPECT_TRUE(Write(path, input));
    EXPECT_EQ(Run(std::string(SFXRUN_MSCOMPRESS) + " '" + path + "' >/dev/null 2>&1"), 0) << name;
    return Read(path + "_");
  }

  std::string dir_;
  std::vector<lzcorpus::CorpusItem> corpus_;
};

TEST_F(SzddPeers, OurStreamsExpandThroughLibmspack) {
  msszdd_decompressor* decompressor = mspack_create_szdd_decompressor(nullptr);
  ASSERT_NE(decompressor, nullptr);
  for (const auto& item : corpus_) {
    std::string stream = PathOf(item.name + ".sz_");
    std::string expanded = PathOf(item.name + ".out");
    ASSERT_TRUE(Write(stream, Encode(item.bytes)));
    EXPECT_EQ(decompressor->decompress(decompressor, stream.c_str(), expanded.c_str()), MSPACK_ERR_OK)
        << item.name;
    EXPECT_TRUE(Read(expanded) == item.bytes) << item.name;
  }
  mspack_destroy_szdd_decompressor(decompressor);
}

TEST_F(SzddPeers, OurStreamsExpandThroughMsexpand) {
  for (const auto& item : corpus_) {
    std::string stream = PathOf(item.name + ".sz_");
    std::string expanded = PathOf(item.name + ".out");
    ASSERT_TRUE(Write(stream, Encode(item.bytes)));
    EXPECT_EQ(Run(std::string(SFXRUN_MSEXPAND) + " <'" + stream + "' >'" + expanded + "'"), 0) << item.name;
    EXPECT_TRUE(Read(expanded) == item.bytes) << item.name;
  }
}

TEST_F(SzddPeers, MscompressStreamsExpandThroughOurs) {
  for (const auto& item : corpus_) {
    if (item.bytes.size() < MSCOMPRESS_SMALLEST) continue;
    Bytes stream = Mscompress(item.name, item.bytes);
    ASSERT_GE(stream.size(), sfxlz::SZDD_HEADER_SIZE) << item.name;

    std::vector<uint8_t> whole(item.bytes.size() + 1);
    size_t size = 0;
    ASSERT_EQ(sfxlz::SzddDecode(stream.data(), stream.size(), whole.data(), item.bytes.size(), &size),
              sfxlz::LzError::Ok)
        << item.name;
    whole.resize(size);
    EXPECT_TRUE(whole == item.bytes) << item.name;

    auto decoder = std::make_unique<sfxlz::SzddStreamDecoder>();
    sfxlz::SzddStreamInit(decoder.get(), static_cast<uint32_t>(item.bytes.size()));
    Bytes streamed(item.bytes.size() + 64);
    size_t consumed = 0;
    size_t produced = 0;
    ASSERT_EQ(sfxlz::SzddStreamDecode(decoder.get(), stream.data() + sfxlz::SZDD_HEADER_SIZE,
                                      stream.size() - sfxlz::SZDD_HEADER_SIZE, &consumed, streamed.data(),
                                      streamed.size(), &produced),
              sfxlz::LzError::Ok)
        << item.name;
    EXPECT_EQ(sfxlz::SzddStreamFinish(decoder.get()), sfxlz::LzError::Ok) << item.name;
    streamed.resize(produced);
    EXPECT_TRUE(streamed == item.bytes) << item.name;
  }
}

// Our parse is the cheapest the format allows, so on no file may the peer's encoder do better.
TEST_F(SzddPeers, OurStreamsAreNeverLargerThanMscompress) {
  size_t oursTotal = 0;
  size_t theirsTotal = 0;
  for (const auto& item : corpus_) {
    if (item.bytes.size() < MSCOMPRESS_SMALLEST) continue;
    size_t ours = Encode(item.bytes).size();
    size_t theirs = Mscompress(item.name, item.bytes).size();
    EXPECT_LE(ours, theirs) << item.name;
    printf("  %-24s %8zu bytes: ours %8zu, mscompress %8zu\n", item.name.c_str(), item.bytes.size(), ours, theirs);
    oursTotal += ours;
    theirsTotal += theirs;
  }
  printf("  %-24s          ours %8zu, mscompress %8zu\n", "total", oursTotal, theirsTotal);
}

}  // namespace
