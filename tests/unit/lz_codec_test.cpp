// Unit tests of the SZDD codec: round trips, hand-made streams, damaged streams, parse optimality.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <memory>
#include <ostream>
#include <string>
#include <unordered_map>
#include <vector>

#include <gtest/gtest.h>

#include "lz/szdd.h"
#include "tests/unit/lz_corpus.h"

namespace sfxlz {
// Failures name the error instead of dumping its bytes.
void PrintTo(LzError error, std::ostream* os) { *os << LzErrorText(error); }
}  // namespace sfxlz

namespace {

using lzcorpus::Bytes;
using sfxlz::LzError;

// The stream the original Windows tool writes for "This is a test file.".
const Bytes REFERENCE_STREAM = {0x53, 0x5A, 0x44, 0x44, 0x88, 0xF0, 0x27, 0x33, 0x41, 0x74, 0x14, 0x00,
                                0x00, 0x00, 0xDF, 0x54, 0x68, 0x69, 0x73, 0x20, 0xF2, 0xF0, 0x61, 0x20,
                                0xFF, 0x74, 0x65, 0x73, 0x74, 0x20, 0x66, 0x69, 0x6C, 0x03, 0x65, 0x2E};
const char REFERENCE_TEXT[] = "This is a test file.";

struct Decoded {
  LzError error;
  Bytes bytes;
};

Bytes Encode(const Bytes& input, uint8_t missingChar = 0) {
  Bytes out;
  EXPECT_EQ(sfxlz::SzddEncode(input.data(), input.size(), missingChar, &out), LzError::Ok);
  return out;
}

// Input and output live in heap blocks of exactly their size, so AddressSanitizer sees any step
// past either end.
Decoded DecodeWhole(const Bytes& stream, size_t capacity) {
  std::unique_ptr<uint8_t[]> in(new uint8_t[stream.size() + 1]);
  if (!stream.empty()) memcpy(in.get(), stream.data(), stream.size());
  std::unique_ptr<uint8_t[]> out(new uint8_t[capacity + 1]);
  size_t outSize = 12345;
  LzError error = sfxlz::SzddDecode(stream.empty() ? nullptr : in.get(), stream.size(),
                                    capacity == 0 ? nullptr : out.get(), capacity, &outSize);
  Decoded result{error, {}};
  if (error == LzError::Ok) result.bytes.assign(out.get(), out.get() + outSize);
  else EXPECT_EQ(outSize, 0u);
  return result;
}

size_t HeaderLength(const Bytes& stream) {
  sfxlz::SzddHeader header{};
  if (sfxlz::ParseSzddHeader(stream.data(), stream.size(), &header) != LzError::Ok) return 0;
  return header.expandedLength;
}

Decoded DecodeWhole(const Bytes& stream) { return DecodeWhole(stream, HeaderLength(stream)); }

// Feeds the data after the header in chunks of inChunk bytes and drains it outChunk bytes at a time.
Decoded DecodeStream(const Bytes& stream, size_t inChunk, size_t outChunk) {
  sfxlz::SzddHeader header{};
  LzError error = sfxlz::ParseSzddHeader(stream.data(), stream.size(), &header);
  if (error != LzError::Ok) return {error, {}};
  auto decoder = std::make_unique<sfxlz::SzddStreamDecoder>();
  sfxlz::SzddStreamInit(decoder.get(), header.expandedLength);
  Decoded result{LzError::Ok, {}};
  size_t offset = sfxlz::SZDD_HEADER_SIZE;
  std::unique_ptr<uint8_t[]> out(new uint8_t[outChunk]);
  for (;;) {
    size_t take = stream.size() - offset < inChunk ? stream.size() - offset : inChunk;
    std::unique_ptr<uint8_t[]> in(new uint8_t[take + 1]);
    if (take != 0) memcpy(in.get(), stream.data() + offset, take);
    size_t consumed = 0;
    size_t produced = 0;
    error = sfxlz::SzddStreamDecode(decoder.get(), in.get(), take, &consumed, out.get(), outChunk, &produced);
    EXPECT_LE(consumed, take);
    EXPECT_LE(produced, outChunk);
    result.bytes.insert(result.bytes.end(), out.get(), out.get() + produced);
    offset += consumed;
    if (error != LzError::Ok) return {error, {}};
    if (take == 0 && produced == 0) break;
  }
  result.error = sfxlz::SzddStreamFinish(decoder.get());
  if (result.error != LzError::Ok) result.bytes.clear();
  return result;
}

Bytes MakeStream(uint32_t length, const Bytes& data) {
  Bytes stream(sfxlz::SZDD_HEADER_SIZE);
  sfxlz::WriteSzddHeader(stream.data(), 0, length);
  stream.insert(stream.end(), data.begin(), data.end());
  return stream;
}

TEST(SzddReference, OriginalToolStreamDecodes) {
  Bytes expected = lzcorpus::FromText(REFERENCE_TEXT);
  Decoded whole = DecodeWhole(REFERENCE_STREAM);
  ASSERT_EQ(whole.error, LzError::Ok);
  EXPECT_EQ(whole.bytes, expected);
  Decoded streamed = DecodeStream(REFERENCE_STREAM, 1, 1);
  ASSERT_EQ(streamed.error, LzError::Ok);
  EXPECT_EQ(streamed.bytes, expected);
}

TEST(SzddReference, OurStreamDecodesAndIsNoLarger) {
  Bytes text = lzcorpus::FromText(REFERENCE_TEXT);
  Bytes ours = Encode(text, 't');
  EXPECT_LE(ours.size(), REFERENCE_STREAM.size());
  EXPECT_EQ(ours[9], 't');
  Decoded decoded = DecodeWhole(ours);
  ASSERT_EQ(decoded.error, LzError::Ok);
  EXPECT_EQ(decoded.bytes, text);
}

class SzddRoundTrip : public testing::TestWithParam<lzcorpus::CorpusItem> {};

TEST_P(SzddRoundTrip, BothDecodersGiveTheInputBack) {
  const Bytes& input = GetParam().bytes;
  Bytes stream = Encode(input);
  // No parse can be worse than all literals.
  EXPECT_LE(stream.size(), sfxlz::SZDD_HEADER_SIZE + input.size() + (input.size() + 7) / 8);
  EXPECT_EQ(HeaderLength(stream), input.size());

  Decoded whole = DecodeWhole(stream);
  ASSERT_EQ(whole.error, LzError::Ok);
  EXPECT_TRUE(whole.bytes == input);
  // Odd chunk sizes split matches across both the input and the output side.
  for (auto chunks : {std::pair<size_t, size_t>{1, 1}, {3, 7}, {4096, 5}, {65536, 65536}}) {
    if (input.size() > 20000 && chunks.first == 1) continue;
    Decoded streamed = DecodeStream(stream, chunks.first, chunks.second);
    ASSERT_EQ(streamed.error, LzError::Ok) << chunks.first << "/" << chunks.second;
    EXPECT_TRUE(streamed.bytes == input) << chunks.first << "/" << chunks.second;
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, SzddRoundTrip, testing::ValuesIn(lzcorpus::MakeRoundTripCorpus()),
                         [](const testing::TestParamInfo<lzcorpus::CorpusItem>& info) { return info.param.name; });

TEST(SzddRoundTripFile, SystemBinary) {
  FILE* file = fopen("/bin/ls", "rb");
  if (file == nullptr) GTEST_SKIP() << "no /bin/ls";
  Bytes input;
  uint8_t buffer[65536];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, file)) != 0) input.insert(input.end(), buffer, buffer + got);
  fclose(file);
  Bytes stream = Encode(input);
  EXPECT_LT(stream.size(), input.size());
  Decoded whole = DecodeWhole(stream);
  ASSERT_EQ(whole.error, LzError::Ok);
  EXPECT_TRUE(whole.bytes == input);
  Decoded streamed = DecodeStream(stream, 1000, 333);
  ASSERT_EQ(streamed.error, LzError::Ok);
  EXPECT_TRUE(streamed.bytes == input);
}

// Sizes that only come out when the encoder uses the format's edges: the initial spaces as a source,
// a match overlapping its own output, and the full 4096-byte reach (but not one byte more).
TEST(SzddEncoderEdges, UsesEveryMatchTheFormatAllows) {
  struct Case {
    const char* name;
    Bytes input;
    size_t atMost;
    size_t atLeast;
  } cases[] = {
      {"18 spaces: one match into the initial window", Bytes(18, ' '), 14 + 3, 0},
      {"19 equal bytes: a literal and one overlapping match", Bytes(19, 'a'), 14 + 4, 0},
      {"period 4096: the repeat copies from distance 4096", lzcorpus::MakePeriodic(4096, 8192, 7),
       14 + 4096 + 512 + 228 * 2 + 29, 0},
      {"period 4097: out of reach, stays literal", lzcorpus::MakePeriodic(4097, 8194, 7), 100000,
       14 + 8194 + 1024 - 200},
  };
  for (const Case& c : cases) {
    Bytes stream = Encode(c.input);
    EXPECT_LE(stream.size(), c.atMost) << c.name;
    EXPECT_GE(stream.size(), c.atLeast) << c.name;
    Decoded decoded = DecodeWhole(stream);
    ASSERT_EQ(decoded.error, LzError::Ok) << c.name;
    EXPECT_TRUE(decoded.bytes == c.input) << c.name;
  }
}

// The match finder keeps its tables from call to call; what an earlier call left in them must not
// change a later call's output, or identical members would pack to different bytes.
TEST(SzddEncoderEdges, OutputDoesNotDependOnEarlierCalls) {
  Bytes small = lzcorpus::FromText("abcabcabcabc   abcabc  and then some more abc");
  Bytes text = lzcorpus::MakeText(50000, 22);
  Bytes smallFirst = Encode(small);
  Bytes textFirst = Encode(text);
  Encode(lzcorpus::MakePeriodic(300, 70000, 23));
  EXPECT_TRUE(Encode(text) == textFirst);
  EXPECT_TRUE(Encode(small) == smallFirst);
  // A call that ends in spaces, then one that starts with them: the later call's initial window
  // must not find the earlier call's last positions.
  Bytes spaces(40, ' ');
  spaces.push_back('x');
  Bytes spacesFirst = Encode(spaces);
  Bytes endsInSpaces = lzcorpus::MakeText(3000, 24);
  endsInSpaces.insert(endsInSpaces.end(), 200, ' ');
  for (int round = 0; round < 3; ++round) {
    Encode(endsInSpaces);
    EXPECT_TRUE(Encode(spaces) == spacesFirst);
  }
}

TEST(SzddEncoderEdges, OutputSurvivesTheFinderNumberingStartingOver) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "600000 calls take too long under the sanitizers; the release run covers this";
#endif
  Bytes small = lzcorpus::FromText("abcabcabcabc   abcabc  and then some more abc");
  Bytes text = lzcorpus::MakeText(50000, 22);
  Bytes smallFirst = Encode(small);
  Bytes textFirst = Encode(text);
  // Each call numbers its positions on from the last; this many calls run past 2^32.
  for (int call = 0; call < 600000; ++call) {
    Bytes again;
    sfxlz::SzddEncode(small.data(), small.size(), 0, &again);
    if (again != smallFirst) {
      ADD_FAILURE() << "call " << call << " differs";
      break;
    }
  }
  EXPECT_TRUE(Encode(text) == textFirst);
}

// Streams written by hand, so the decoder is checked against the ring's rules rather than against
// our own encoder: positions are absolute, writing starts at 4080, unwritten positions hold spaces.
TEST(SzddDecoderRules, HandMadeStreams) {
  struct Case {
    const char* name;
    uint32_t length;
    Bytes data;
    const char* expected;
  } cases[] = {
      {"match from position 0 reads the initial spaces", 3, {0x00, 0x00, 0x00}, "   "},
      {"match from the write position itself (distance 4096)", 4, {0x00, 0xF0, 0xF1}, "    "},
      {"match ahead of the write position reads spaces", 3, {0x00, 0xF1, 0xF0}, "   "},
      {"match overlapping its own output repeats it", 6, {0x01, 'a', 0xF0, 0xF2}, "aaaaaa"},
      {"match starting in the spaces running into the output", 7, {0x03, 'a', 'b', 0xEE, 0xF2},
       "ab  ab "},
      {"longest match, 18 bytes", 20, {0x03, 'x', 'y', 0xF0, 0xFF}, "xyxyxyxyxyxyxyxyxyxy"},
      {"unused control bits after the last item are ignored", 1, {0xFF, 'z'}, "z"},
  };
  for (const Case& c : cases) {
    Bytes stream = MakeStream(c.length, c.data);
    Bytes expected = lzcorpus::FromText(c.expected);
    Decoded whole = DecodeWhole(stream);
    ASSERT_EQ(whole.error, LzError::Ok) << c.name;
    EXPECT_EQ(whole.bytes, expected) << c.name;
    Decoded streamed = DecodeStream(stream, 1, 1);
    ASSERT_EQ(streamed.error, LzError::Ok) << c.name;
    EXPECT_EQ(streamed.bytes, expected) << c.name;
  }
}

TEST(SzddDecoderRules, MatchesReachBackAcrossTheWholeRing) {
  // 5000 literals, then a match from every tenth ring position: each must name the byte last
  // written there, which for a ring of 4096 is the one 4096 back or fewer.
  Bytes literals = lzcorpus::MakeRandom(5000, 11);
  Bytes data;
  Bytes expected = literals;
  for (size_t i = 0; i < literals.size(); i += 8) {
    data.push_back(0xFF);
    for (size_t k = i; k < i + 8 && k < literals.size(); ++k) data.push_back(literals[k]);
  }
  std::vector<uint8_t> ring(4096, ' ');
  for (size_t k = 0; k < literals.size(); ++k) ring[(k + 4080) % 4096] = literals[k];
  size_t items = 0;
  for (unsigned position = 0; position < 4096; position += 10) {
    if (items % 8 == 0) data.push_back(0x00);
    data.push_back(static_cast<uint8_t>(position));
    data.push_back(static_cast<uint8_t>((position >> 4) & 0xF0));  // length 3
    for (unsigned k = 0; k < 3; ++k) {
      uint8_t byte = ring[(position + k) % 4096];
      ring[(expected.size() + 4080) % 4096] = byte;
      expected.push_back(byte);
    }
    ++items;
  }
  Bytes stream = MakeStream(static_cast<uint32_t>(expected.size()), data);
  Decoded whole = DecodeWhole(stream);
  ASSERT_EQ(whole.error, LzError::Ok);
  EXPECT_TRUE(whole.bytes == expected);
  Decoded streamed = DecodeStream(stream, 5, 9);
  ASSERT_EQ(streamed.error, LzError::Ok);
  EXPECT_TRUE(streamed.bytes == expected);
}

// The streaming decoder writes into the caller's buffer and brings its ring up to date only as a
// call returns, so a match whose source lies partly before the call and partly in the call's own
// output, or wraps around the ring's end, takes a different path from one inside the output.
// Random items with every position and length, cut at call boundaries of every kind (just above
// and below a whole group's room, around the ring's size), must decode as the whole decoder does.
TEST(SzddDecoderRules, MatchSourcesSplitBetweenRingAndCallOutput) {
  lzcorpus::Random random(29);
  for (int round = 0; round < 12; ++round) {
    Bytes data;
    uint32_t length = 0;
    uint32_t target = 5000 + random.Below(40000);
    while (length < target) {
      unsigned control = random.Below(256);
      data.push_back(static_cast<uint8_t>(control));
      for (int item = 0; item < 8; ++item, control >>= 1) {
        if (control & 1) {
          data.push_back(static_cast<uint8_t>(random.Below(256)));
          length += 1;
        } else {
          unsigned position = random.Below(4096);
          unsigned extra = random.Below(16);
          data.push_back(static_cast<uint8_t>(position));
          data.push_back(static_cast<uint8_t>(((position >> 4) & 0xF0) | extra));
          length += extra + 3;
        }
      }
    }
    Bytes stream = MakeStream(length, data);
    Decoded whole = DecodeWhole(stream);
    ASSERT_EQ(whole.error, LzError::Ok) << "round " << round;
    size_t randomIn = 1 + random.Below(5000);
    size_t randomOut = 1 + random.Below(9000);
    for (auto chunks : {std::pair<size_t, size_t>{17, 149}, {17, 150}, {18, 151}, {1000, 4095},
                        {1 << 20, 4096}, {1 << 20, 4097}, {64, 1 << 20}, {randomIn, randomOut}}) {
      Decoded streamed = DecodeStream(stream, chunks.first, chunks.second);
      ASSERT_EQ(streamed.error, LzError::Ok) << "round " << round << ", " << chunks.first << "/" << chunks.second;
      ASSERT_TRUE(streamed.bytes == whole.bytes) << "round " << round << ", " << chunks.first << "/"
                                                 << chunks.second;
    }
  }
}

TEST(SzddDamagedStreams, EveryTruncationIsAnError) {
  Bytes overlap;
  for (int i = 0; i < 60; ++i) overlap.push_back("ab"[i % 2]);
  std::vector<Bytes> streams = {REFERENCE_STREAM, Encode(lzcorpus::MakeText(300, 8)),
                                Encode(lzcorpus::MakeRandom(50, 9)), Encode(overlap)};
  for (const Bytes& stream : streams) {
    for (size_t cut = 0; cut < stream.size(); ++cut) {
      Bytes prefix(stream.begin(), stream.begin() + cut);
      LzError expected = cut < sfxlz::SZDD_HEADER_SIZE ? LzError::TruncatedHeader : LzError::TruncatedData;
      // The caller sizes the output from the header, which the cut stream still carries.
      size_t capacity = HeaderLength(stream);
      EXPECT_EQ(DecodeWhole(prefix, capacity).error, expected) << "cut at " << cut;
      EXPECT_EQ(DecodeStream(prefix, 1, 1).error, expected) << "cut at " << cut;
      EXPECT_EQ(DecodeStream(prefix, 4096, 4096).error, expected) << "cut at " << cut;
    }
  }
}

TEST(SzddDamagedStreams, CorruptHeadersAndLengths) {
  const Bytes good = REFERENCE_STREAM;
  auto with = [&](size_t index, uint8_t value) {
    Bytes copy = good;
    copy[index] = value;
    return copy;
  };
  Bytes extraByte = good;
  extraByte.push_back(0x00);
  Bytes extraControl = Encode(lzcorpus::MakeRandom(16, 10));  // ends exactly after two groups
  extraControl.push_back(0xFF);
  struct Case {
    const char* name;
    Bytes stream;
    LzError expected;
  } cases[] = {
      {"first magic byte wrong", with(0, 'K'), LzError::BadMagic},
      {"last magic byte wrong", with(7, 0x34), LzError::BadMagic},
      {"KWAJ-like magic", with(1, 'W'), LzError::BadMagic},
      {"mode B", with(8, 'B'), LzError::BadMode},
      {"mode 0", with(8, 0x00), LzError::BadMode},
      {"length one too large", with(10, 0x15), LzError::TruncatedData},
      {"length far too large", with(13, 0x01), LzError::TruncatedData},
      {"length one too small", with(10, 0x13), LzError::LengthMismatch},
      {"length zero with data", with(10, 0x00), LzError::LengthMismatch},
      {"a byte after the last item", extraByte, LzError::LengthMismatch},
      {"a control byte after the last item", extraControl, LzError::LengthMismatch},
      {"match running past the length", MakeStream(3, {0x01, 'a', 0xF0, 0xF0}), LzError::LengthMismatch},
      {"header only, length 5", MakeStream(5, {}), LzError::TruncatedData},
      {"control byte only", MakeStream(1, {0x01}), LzError::TruncatedData},
      {"match cut after its first byte", MakeStream(3, {0x00, 0x00}), LzError::TruncatedData},
      {"eight bytes of magic only", Bytes(good.begin(), good.begin() + 8), LzError::TruncatedHeader},
      {"empty input", {}, LzError::TruncatedHeader},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecodeWhole(c.stream).error, c.expected) << c.name;
    EXPECT_EQ(DecodeStream(c.stream, 1, 1).error, c.expected) << c.name;
    EXPECT_EQ(DecodeStream(c.stream, 1000, 1000).error, c.expected) << c.name;
  }
}

TEST(SzddDamagedStreams, HeaderOnlyEmptyStreamDecodesToNothing) {
  Bytes stream = MakeStream(0, {});
  Decoded whole = DecodeWhole(stream, 0);
  EXPECT_EQ(whole.error, LzError::Ok);
  EXPECT_TRUE(whole.bytes.empty());
  EXPECT_EQ(DecodeStream(stream, 1, 1).error, LzError::Ok);
  EXPECT_EQ(Encode({}), stream);
}

TEST(SzddDamagedStreams, OutputBufferOneByteShortIsRefused) {
  Bytes input = lzcorpus::MakeText(1000, 12);
  Bytes stream = Encode(input);
  EXPECT_EQ(DecodeWhole(stream, input.size() - 1).error, LzError::OutputTooSmall);
  Decoded roomy = DecodeWhole(stream, input.size() + 100);
  ASSERT_EQ(roomy.error, LzError::Ok);
  EXPECT_TRUE(roomy.bytes == input);
}

TEST(SzddDamagedStreams, StreamDecoderReportsSurplusInputAtOnce) {
  Bytes stream = REFERENCE_STREAM;
  stream.push_back(0x42);
  auto decoder = std::make_unique<sfxlz::SzddStreamDecoder>();
  sfxlz::SzddStreamInit(decoder.get(), 20);
  uint8_t out[64];
  size_t consumed = 0;
  size_t produced = 0;
  EXPECT_EQ(sfxlz::SzddStreamDecode(decoder.get(), stream.data() + 14, stream.size() - 14, &consumed, out,
                                    sizeof out, &produced),
            LzError::LengthMismatch);
  EXPECT_EQ(produced, 20u);
  // The fault sticks: a later call, or the finish, cannot turn it into success.
  EXPECT_EQ(sfxlz::SzddStreamDecode(decoder.get(), nullptr, 0, &consumed, out, sizeof out, &produced),
            LzError::LengthMismatch);
  EXPECT_EQ(sfxlz::SzddStreamFinish(decoder.get()), LzError::LengthMismatch);
}

// Random bytes after a valid header: both decoders must agree on every outcome and never step out
// of their buffers (AddressSanitizer watches the exact-size blocks).
TEST(SzddDamagedStreams, GarbageDecodesAlikeInBothDecoders) {
  lzcorpus::Random random(13);
  for (int round = 0; round < 3000; ++round) {
    uint32_t length = random.Below(400);
    Bytes data = lzcorpus::MakeRandom(random.Below(160), round);
    Bytes stream = MakeStream(length, data);
    Decoded whole = DecodeWhole(stream);
    Decoded streamed = DecodeStream(stream, 1 + random.Below(20), 1 + random.Below(40));
    ASSERT_EQ(whole.error, streamed.error) << "round " << round;
    ASSERT_TRUE(whole.bytes == streamed.bytes) << "round " << round;
  }
}

// Reference parse: the longest match at each position by looking at every earlier position with
// the same first three bytes (the initial spaces included) within 4096, then the cheapest parse.
size_t OptimalStreamSize(const Bytes& input) {
  Bytes text(4096, ' ');
  text.insert(text.end(), input.begin(), input.end());
  size_t n = input.size();
  // Earlier text positions with the same three bytes, newest first: a head per key, a link per position.
  std::unordered_map<uint32_t, size_t> newest;
  std::vector<size_t> older(text.size(), SIZE_MAX);
  auto key = [&](size_t at) { return uint32_t{text[at]} << 16 | uint32_t{text[at + 1]} << 8 | text[at + 2]; };
  auto add = [&](size_t at) {
    auto [slot, fresh] = newest.try_emplace(key(at), at);
    if (!fresh) {
      older[at] = slot->second;
      slot->second = at;
    }
  };
  for (size_t at = 0; at < 4096 && at + 3 <= text.size(); ++at) add(at);
  std::vector<unsigned> longest(n, 0);
  for (size_t k = 0; k + 3 <= n; ++k) {
    size_t at = 4096 + k;
    size_t limit = n - k < 18 ? n - k : 18;
    auto found = newest.find(key(at));
    for (size_t earlier = found == newest.end() ? SIZE_MAX : found->second;
         earlier != SIZE_MAX && earlier + 4096 >= at; earlier = older[earlier]) {
      size_t length = 0;
      while (length < limit && text[at + length] == text[earlier + length]) ++length;
      if (length > longest[k]) longest[k] = static_cast<unsigned>(length);
      if (length == limit) break;
    }
    add(at);
  }
  std::vector<size_t> bits(n + 1, 0);
  for (size_t k = n; k-- > 0;) {
    bits[k] = bits[k + 1] + 9;
    for (unsigned length = 3; length <= longest[k]; ++length) {
      if (bits[k + length] + 17 < bits[k]) bits[k] = bits[k + length] + 17;
    }
  }
  return 14 + (bits[0] + 7) / 8;
}

TEST(SzddEncoderOptimality, SizeEqualsTheReferenceParse) {
  std::vector<Bytes> inputs = {lzcorpus::FromText(REFERENCE_TEXT)};
  for (uint32_t alphabet : {2u, 3u, 5u, 16u}) {
    for (size_t size : {40u, 700u, 2500u}) {
      inputs.push_back(lzcorpus::MakeRandom(size, static_cast<uint32_t>(alphabet * 31 + size), alphabet));
    }
  }
  inputs.push_back(lzcorpus::MakeText(3000, 14));
  inputs.push_back(lzcorpus::MakeBinaryLike(3000, 15));
  Bytes spaced(30, ' ');
  Bytes tail = lzcorpus::MakeRandom(200, 16, 3);
  for (uint8_t& byte : tail) byte = byte == 0 ? ' ' : byte;
  spaced.insert(spaced.end(), tail.begin(), tail.end());
  inputs.push_back(spaced);
  inputs.push_back(lzcorpus::MakePeriodic(4096, 4200, 17));
  // Long enough that positions wrap any narrow bookkeeping of the match finder.
  inputs.push_back(lzcorpus::MakeText(150000, 18));
  inputs.push_back(lzcorpus::MakeBinaryLike(150000, 19));
  inputs.push_back(lzcorpus::MakeRandom(140000, 20, 8));
  inputs.push_back(lzcorpus::MakePeriodic(4096, 140000, 21));
  for (const Bytes& input : inputs) {
    EXPECT_EQ(Encode(input).size(), OptimalStreamSize(input)) << "input of " << input.size() << " bytes";
  }
}

// Inputs longer than one finder segment (256 KiB): each later segment starts from empty tables
// filled with the 4096 positions before it, and odd segments are searched on a second thread.
// Matches that reach back across a segment start must still be found, and the thread must not
// change a byte.
TEST(SzddEncoderSegments, AcrossSegmentStartsTheSizeIsTheReferenceParses) {
  constexpr size_t SEGMENT = 1 << 18;
  struct Case {
    const char* name;
    Bytes input;
  } cases[] = {
      // A period of 4096 puts every match's source at the far end of the window, also just
      // before each segment start.
      {"period 4096 over three segments", lzcorpus::MakePeriodic(4096, 2 * SEGMENT + 5000, 31)},
      // Random bytes except for copies placed to straddle each segment start.
      {"copies across the starts", [] {
         Bytes input = lzcorpus::MakeRandom(3 * SEGMENT + 100, 32);
         for (size_t start : {SEGMENT, 2 * SEGMENT, 3 * SEGMENT}) {
           for (size_t i = 0; i < 40; ++i) input[start - 20 + i] = input[start - 3000 + i];
           for (size_t i = 0; i < 18; ++i) input[start + i] = input[start - 4096 + i];
         }
         return input;
       }()},
      {"binary-like over two segments", lzcorpus::MakeBinaryLike(SEGMENT + 70000, 33)},
  };
  for (const Case& c : cases) {
    Bytes stream = Encode(c.input);
    EXPECT_EQ(stream.size(), OptimalStreamSize(c.input)) << c.name;
    Bytes alone;
    ASSERT_EQ(sfxlz::SzddEncode(c.input.data(), c.input.size(), 0, &alone, false), LzError::Ok);
    EXPECT_TRUE(alone == stream) << c.name << ": one thread and two give different bytes";
    Decoded decoded = DecodeWhole(stream);
    ASSERT_EQ(decoded.error, LzError::Ok) << c.name;
    EXPECT_TRUE(decoded.bytes == c.input) << c.name;
  }
}

// A run of equal strings longer than 65536 bytes between two islands of noise: along the run each
// position takes over its equal predecessor's tree links, which then point ever further back. A
// finder that kept links in 16 bits took them for near ones and walked in circles.
TEST(SzddEncoderEdges, ZeroRunLongerThan65536BetweenIslands) {
  for (size_t run : {68287u, 65537u, 131073u}) {
    Bytes input(200, 0);
    Bytes first = lzcorpus::MakeRandom(512, 1);
    Bytes last = lzcorpus::MakeRandom(586, 2);
    input.insert(input.end(), first.begin(), first.end());
    input.insert(input.end(), run, 0);
    input.insert(input.end(), last.begin(), last.end());
    Bytes stream = Encode(input);
    EXPECT_EQ(stream.size(), OptimalStreamSize(input)) << "run of " << run;
    Decoded decoded = DecodeWhole(stream);
    ASSERT_EQ(decoded.error, LzError::Ok) << "run of " << run;
    EXPECT_TRUE(decoded.bytes == input) << "run of " << run;
  }
}

}  // namespace
