// Deterministic inputs for the codec's tests and benchmark: generated, so every run sees the same bytes.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace lzcorpus {

using Bytes = std::vector<uint8_t>;

class Random {
 public:
  explicit Random(uint32_t seed) : state_(seed * 2654435761u + 0x9E3779B9u) {}
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return static_cast<uint32_t>(state_ >> 32);
  }
  uint32_t Below(uint32_t bound) { return Next() % bound; }

 private:
  uint64_t state_;
};

inline Bytes MakeRandom(size_t size, uint32_t seed, uint32_t alphabet = 256) {
  Random random(seed);
  Bytes out(size);
  for (auto& byte : out) byte = static_cast<uint8_t>(random.Below(alphabet));
  return out;
}

// Words with a skewed frequency, punctuation and line breaks: compresses roughly as prose does.
inline Bytes MakeText(size_t size, uint32_t seed) {
  static const char* const WORDS[] = {
      "the", "of", "and", "to", "in", "a", "is", "that", "for", "it", "as", "was", "with", "be", "by",
      "on", "not", "he", "this", "are", "or", "his", "from", "at", "which", "but", "have", "an", "had",
      "they", "you", "were", "their", "one", "all", "we", "can", "her", "has", "there", "been", "if",
      "more", "when", "will", "would", "who", "so", "no", "launcher", "container", "member", "window",
      "folder", "expanded", "compressed", "temporary", "program", "directory", "trailer", "signature"};
  constexpr uint32_t WORD_COUNT = sizeof WORDS / sizeof WORDS[0];
  Random random(seed);
  std::string text;
  text.reserve(size + 16);
  size_t lineStart = 0;
  while (text.size() < size) {
    uint32_t pick = random.Below(WORD_COUNT);
    pick = pick * random.Below(WORD_COUNT) / WORD_COUNT;  // favours the common words
    if (text.size() != lineStart) text += ' ';
    text += WORDS[pick];
    uint32_t mark = random.Below(20);
    if (mark == 0) text += '.';
    if (mark == 1) text += ',';
    if (text.size() - lineStart > 72) {
      text += "\r\n";
      lineStart = text.size();
    }
  }
  text.resize(size);
  return Bytes(text.begin(), text.end());
}

// Records of little-endian fields, small counters and repeated opcodes, in the way executables and
// data files mix structure with noise.
inline Bytes MakeBinaryLike(size_t size, uint32_t seed) {
  Random random(seed);
  Bytes out;
  out.reserve(size + 32);
  uint32_t counter = 0x401000;
  while (out.size() < size) {
    switch (random.Below(4)) {
      case 0:  // an instruction-like run: opcode, address
        out.push_back(static_cast<uint8_t>(0xE8 + random.Below(3)));
        counter += random.Below(64);
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(counter >> (8 * i)));
        break;
      case 1:  // a zero-padded field
        for (uint32_t i = random.Below(12); i-- > 0;) out.push_back(0);
        break;
      case 2:  // noise
        for (uint32_t i = random.Below(8); i-- > 0;) out.push_back(static_cast<uint8_t>(random.Next()));
        break;
      default: {  // a repeat of something recent
        if (out.size() < 64) break;
        size_t reach = out.size() < 3000 ? out.size() - 1 : 3000;
        size_t from = out.size() - 1 - random.Below(static_cast<uint32_t>(reach));
        for (uint32_t i = random.Below(24); i-- > 0 && from < out.size();) out.push_back(out[from++]);
        break;
      }
    }
  }
  out.resize(size);
  return out;
}

// A random block of the given period, repeated up to size bytes.
inline Bytes MakePeriodic(size_t period, size_t size, uint32_t seed) {
  Bytes block = MakeRandom(period, seed);
  Bytes out(size);
  for (size_t i = 0; i < size; ++i) out[i] = block[i % period];
  return out;
}

inline Bytes FromText(const std::string& text) { return Bytes(text.begin(), text.end()); }

struct CorpusItem {
  std::string name;
  Bytes bytes;
};

// The round-trip table: sizes around the first control group, the window's edges, and the shapes
// that stress the match rules (the initial spaces, self-overlap, distance exactly 4096).
inline std::vector<CorpusItem> MakeRoundTripCorpus() {
  std::vector<CorpusItem> items;
  items.push_back({"empty", {}});
  items.push_back({"one_byte", FromText("x")});
  items.push_back({"fifteen_bytes", FromText("fifteen bytes!!")});
  items.push_back({"sixteen_bytes", FromText("sixteen bytes!!!")});
  items.push_back({"seventeen_bytes", FromText("seventeen bytes!!")});
  items.push_back({"repeated_byte", Bytes(100000, 'x')});
  Bytes allValues;
  for (int round = 0; round < 3; ++round) {
    for (int value = 0; value < 256; ++value) allValues.push_back(static_cast<uint8_t>(value));
  }
  items.push_back({"all_byte_values", allValues});
  items.push_back({"random", MakeRandom(65536, 1)});
  items.push_back({"random_small_alphabet", MakeRandom(65536, 2, 4)});
  items.push_back({"text", MakeText(100000, 3)});
  items.push_back({"binary_like", MakeBinaryLike(100000, 4)});
  for (size_t period : {4095, 4096, 4097}) {
    items.push_back({"period_" + std::to_string(period), MakePeriodic(period, 3 * period + 100, 5)});
  }
  Bytes spaces(5000, ' ');
  Bytes tail = MakeText(2000, 6);
  spaces.insert(spaces.end(), tail.begin(), tail.end());
  items.push_back({"leading_spaces", spaces});
  items.push_back({"only_spaces", Bytes(4200, ' ')});
  items.push_back({"spaces_then_byte", FromText("                 !                   ")});
  std::string overlap;
  for (int i = 0; i < 700; ++i) overlap += "ab";
  overlap += 'c';
  for (int i = 0; i < 700; ++i) overlap += "xyz";
  items.push_back({"self_overlap", FromText(overlap)});
  return items;
}

}  // namespace lzcorpus
