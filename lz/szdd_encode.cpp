// SZDD encoder with an exact minimum-cost parse: portable; no OS headers (uses the C++ library).
#include <string.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <memory>
#include <vector>

#if defined(SFXLZ_THREADS)
#include <condition_variable>
#include <mutex>
#include <thread>
#endif

#include "lz/szdd.h"

namespace sfxlz {
namespace {

constexpr size_t WINDOW = SZDD_WINDOW_SIZE;
constexpr unsigned MATCH_MIN = 3;
constexpr unsigned MATCH_MAX = 18;
constexpr uint32_t LITERAL_BITS = 9;
constexpr uint32_t MATCH_BITS = 17;
constexpr unsigned HASH_BITS = 16;
// One tree node per window position: the node 4096 back shares its slot with the position being
// inserted, so the walk stops short of it and that one candidate is compared on its own.
constexpr size_t TREE_SLOTS = WINDOW;
// The three-byte chain is walked up to and including the position 4096 back, so it keeps twice as
// many entries and none is overwritten while still in reach.
constexpr size_t CHAIN_SLOTS = 2 * WINDOW;
constexpr uint32_t NO_NODE = 0xFFFFFFFFu;
// Numbering starts a window in, so that NO_NODE always reads as out of reach (pos - NO_NODE is
// pos + 1): the walks need no separate test for it.
constexpr uint32_t FIRST_BASE = WINDOW;
constexpr uint64_t MAX_INPUT = NO_NODE - FIRST_BASE - 2 * WINDOW - 1;

inline uint32_t Hash3(const uint8_t* p) {
  uint32_t key = static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
  return (key * 2654435761u) >> (32 - HASH_BITS);
}

inline uint32_t Hash4(const uint8_t* p) {
  uint32_t key;
  memcpy(&key, p, sizeof key);
  return (key * 2246822519u) >> (32 - HASH_BITS);
}

// Input positions searched per refill of the text buffer, and the bytes the buffer keeps beyond
// them: the eight-byte comparisons read up to 25 bytes from a position. Those bytes are never part
// of a result; past the input they are zeros.
constexpr uint32_t BLOCK = 1u << 16;
constexpr size_t TEXT_SLACK = 32;
constexpr size_t TEXT_BUFFER = WINDOW + BLOCK + TEXT_SLACK;

inline uint64_t Load64(const uint8_t* p) {
  uint64_t value;
  memcpy(&value, p, sizeof value);
  return value;
}

// Length of the common prefix of a and b, at most limit (limit <= 18); reads 18 bytes of each.
// Without a data-dependent branch: the tree walk's cost is dominated by mispredicted exits.
inline unsigned CommonLength(const uint8_t* a, const uint8_t* b, unsigned limit) {
#if defined(__SSE2__)
  __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
  __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
  uint32_t equal = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y)));
  equal |= static_cast<uint32_t>(a[16] == b[16]) << 16;
  equal |= static_cast<uint32_t>(a[17] == b[17]) << 17;
  return static_cast<unsigned>(__builtin_ctz(~equal | 1u << limit));
#else
  unsigned length = 0;
  while (length < limit) {
    uint64_t difference = Load64(a + length) ^ Load64(b + length);
    if (difference != 0) {
      // The first differing byte is the lowest-addressed one: the low end of a little-endian load.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
      length += static_cast<unsigned>(__builtin_clzll(difference)) / 8;
#else
      length += static_cast<unsigned>(__builtin_ctzll(difference)) / 8;
#endif
      return length < limit ? length : limit;
    }
    length += 8;
  }
  return limit;
#endif
}

// Binary trees of the positions whose first four bytes share a hash, ordered by their next 18
// bytes. Every position's nearest neighbours in that order lie on the search path, so one descent
// finds the true longest match of four bytes or more, and the same descent inserts the position as
// the new root. A node's subtrees are always older than the node, so the walk stops at the first
// one out of reach. Matches of exactly three bytes come from a hash chain on three bytes, looked at
// only when the tree has nothing longer; keying the trees on four bytes keeps them shallow.
//
// Links hold full positions, never a shortened form: when a position takes an equal node's place
// it inherits the node's links unchanged, so along a long run of equal strings a link can point
// arbitrarily far back and only the full distance tells that it is out of reach.
//
// The tables are kept from call to call (one set per thread): freshly allocated, their pages would
// be faulted in anew by every call, which on small members costs more than the parse itself.
// Clearing them would cost nearly as much, so each run of the finder numbers its positions on from
// where the last one stopped, plus a window's gap: whatever an earlier run left behind then reads
// as out of reach.
struct MatchTables {
  std::vector<uint32_t> heads;       // full positions: a bucket may sit unused for any length of input
  std::vector<uint32_t> children;
  std::vector<uint32_t> chainHeads;
  std::vector<uint32_t> chain;       // the previous position with the same three-byte hash
  std::vector<uint8_t> text;         // the window and the block being searched (TEXT_BUFFER bytes)
  std::vector<uint8_t> step;         // the parse's open stretch: the item that ends at a position
  std::vector<uint16_t> distance;    // ... and the longest match's distance at a position
  std::vector<uint8_t> path;         // a settled stretch's item lengths, last first
  uint32_t nextBase = 0;
  bool ready = false;
};

MatchTables& ReusedTables() {
  thread_local MatchTables tables;
  return tables;
}

class MatchTree {
 public:
  // Numbers text positions first .. end - 1 (the initial window counts as text positions 0 to
  // 4095); the text itself is handed over a block at a time.
  MatchTree(uint32_t first, uint32_t end, MatchTables* tables) {
    uint64_t span = uint64_t{end - first} + WINDOW + 1;
    if (!tables->ready || tables->nextBase > NO_NODE - span) {
      tables->heads.assign(size_t{1} << HASH_BITS, NO_NODE);
      tables->children.assign(2 * TREE_SLOTS, NO_NODE);
      tables->chainHeads.assign(size_t{1} << HASH_BITS, NO_NODE);
      tables->chain.assign(CHAIN_SLOTS, NO_NODE);
      tables->nextBase = FIRST_BASE;
      tables->ready = true;
    }
    heads_ = tables->heads.data();
    children_ = tables->children.data();
    chainHeads_ = tables->chainHeads.data();
    chain_ = tables->chain.data();
    base_ = tables->nextBase - first;   // modulo 2^32: only differences of positions are used
    tables->nextBase = static_cast<uint32_t>(tables->nextBase + span);
  }

  // buffer[0] is text position first; it must hold the 4096 positions before every position then
  // searched, and TEXT_SLACK bytes beyond the last.
  void SetText(const uint8_t* buffer, uint32_t first) {
    buffer_ = buffer;
    bufferBase_ = base_ + first;
  }

  // Longest match (up to limit bytes, limit >= 3) for the string at pos among the 4096 before it.
  unsigned FindAndInsert(uint32_t at, unsigned limit, uint32_t* distance) {
    const uint32_t pos = base_ + at;
    const uint8_t* current = Text(pos);
    // The next position's buckets are fetched while this one's trees are walked.
    __builtin_prefetch(&chainHeads_[Hash3(current + 1)], 1);
    __builtin_prefetch(&heads_[Hash4(current + 1)], 1);
    uint32_t& chainHead = chainHeads_[Hash3(current)];
    uint32_t sameThree = chainHead;
    chainHead = pos;
    chain_[pos % CHAIN_SLOTS] = sameThree;
    unsigned best = SearchTree(pos, at >= WINDOW, current, limit, distance);
    if (best >= MATCH_MIN) return best;
    for (; pos - sameThree <= WINDOW; sameThree = chain_[sameThree % CHAIN_SLOTS]) {
      const uint8_t* other = Text(sameThree);
      if (other[0] == current[0] && other[1] == current[1] && other[2] == current[2]) {
        *distance = pos - sameThree;
        return MATCH_MIN;
      }
    }
    return best;
  }

 private:
  unsigned SearchTree(uint32_t pos, bool fullWindowBack, const uint8_t* current, unsigned limit,
                      uint32_t* distance) {
    uint32_t& head = heads_[Hash4(current)];
    uint32_t candidate = head;
    head = pos;
    uint32_t* greaterLink = &children_[2 * (pos % TREE_SLOTS) + 1];
    uint32_t* lesserLink = &children_[2 * (pos % TREE_SLOTS)];
    unsigned best = 0;
    uint32_t bestDistance = 0;
    if (fullWindowBack) {
      best = CommonLength(current - WINDOW, current, limit);
      bestDistance = WINDOW;
    }
    while (pos - candidate < WINDOW) {
      uint32_t* pair = &children_[2 * (candidate % TREE_SLOTS)];
      const uint8_t* other = Text(candidate);
      unsigned length = CommonLength(other, current, limit);
      bool longer = length > best;
      best = longer ? length : best;
      bestDistance = longer ? pos - candidate : bestDistance;
      if (length == limit) {
        // Equal as far as any later search can look: the newer position takes the node's place.
        *lesserLink = pair[0];
        *greaterLink = pair[1];
        *distance = bestDistance;
        return best;
      }
      if (other[length] < current[length]) {
        *lesserLink = candidate;
        lesserLink = &pair[1];
        candidate = *lesserLink;
      } else {
        *greaterLink = candidate;
        greaterLink = &pair[0];
        candidate = *greaterLink;
      }
    }
    *lesserLink = NO_NODE;
    *greaterLink = NO_NODE;
    if (best != 0) *distance = bestDistance;
    return best;
  }


  const uint8_t* Text(uint32_t tablePosition) const { return buffer_ + (tablePosition - bufferBase_); }

  const uint8_t* buffer_ = nullptr;
  uint32_t bufferBase_ = 0;   // the table position of buffer_[0]
  uint32_t base_;             // the table position of text position 0
  uint32_t* heads_;
  uint32_t* children_;
  uint32_t* chainHeads_;
  uint32_t* chain_;
};


// Items go out as they are settled, a group at a time: a control byte (least significant bit
// first, a set bit a literal) and its eight items.
class ItemWriter {
 public:
  ItemWriter(const uint8_t* in, std::vector<uint8_t>* out) : in_(in), out_(out) {}

  void Literal(uint32_t k) {
    group_[0] |= static_cast<uint8_t>(1u << items_);
    group_[used_++] = in_[k];
    Next();
  }

  void Match(uint32_t k, unsigned length, uint32_t distance) {
    // The window position of the source byte: positions are absolute in the ring, and the source
    // may lie in the initial spaces (k < distance) or overlap the bytes being written.
    uint32_t position = (k - distance + SZDD_FIRST_POSITION) & (WINDOW - 1);
    group_[used_++] = static_cast<uint8_t>(position);
    group_[used_++] = static_cast<uint8_t>(((position >> 4) & 0xF0) | (length - MATCH_MIN));
    Next();
  }

  // The last group, however many items it has.
  void Flush() {
    if (items_ != 0) out_->insert(out_->end(), group_, group_ + used_);
    items_ = 0;
    used_ = 1;
    group_[0] = 0;
  }

 private:
  void Next() {
    if (++items_ == 8) Flush();
  }

  const uint8_t* in_;
  std::vector<uint8_t>* out_;
  uint8_t group_[1 + 8 * 2] = {};
  unsigned used_ = 1;
  unsigned items_ = 0;
};

// The cheapest parse, worked out front to back while the match finder runs, so that nothing the
// size of the input is kept: cost[m] is the fewest bits that encode the first m input bytes, and
// step[m] the length of the last item of such an encoding. A stream's size is its bit count
// rounded up to whole bytes, so the fewest bits give the fewest bytes.
//
// The matches that can end at m start at the j in [m-18, m-3] whose longest match reaches m, and
// every match costs the same 17 bits, so the best one comes from the cheapest such cost[j]. The
// sixteen candidates are compared at once as 16-bit keys: cost[j] - cost[m-1] fits easily (one
// literal more or less per byte bounds it to -153 .. 17), so the costs are kept modulo 2^16.
//
// Ties go to the latest start. Then the backward chains of step from neighbouring positions meet
// soon, and once every chain from the last 18 positions has passed one position, the parse up to
// it is settled (the final encoding's chain passes through one of them) and is written out.
class ForwardParse {
 public:
  ForwardParse(MatchTables* tables, ItemWriter* writer) : tables_(tables), writer_(writer) {
    if (tables_->step.size() < REGION) {
      tables_->step.assign(REGION, 0);
      tables_->distance.assign(REGION, 0);
    }
    step_ = tables_->step.data();
    distance_ = tables_->distance.data();
    capacity_ = static_cast<uint32_t>(tables_->step.size());
    // Positions before the input have no match, so whatever cost they show is never chosen.
    for (int16_t& length : longest_) length = 0;
    for (uint16_t& cost : cost_) cost = 0;
#if defined(__SSE2__)
    lengths_[0] = lengths_[1] = costs_[0] = costs_[1] = _mm_setzero_si128();
#endif
  }

  // The longest match at input position j, once the finder has it: needed before Advance(j + 3).
  void AddMatch(uint32_t j, unsigned length, uint32_t distance) {
    int16_t reach = static_cast<int16_t>(length >= MATCH_MIN ? length : 0);
    longest_[j % RING] = reach;
    distance_[j - settled_] = static_cast<uint16_t>(distance);
  }

  // Computes cost[m] and step[m]; every match starting at or before m - 3 must be known.
  void Advance(uint32_t m) {
    if (m - settled_ + 1 >= capacity_) Grow();
    int key = m >= MATCH_MIN ? CheapestMatchStart(m) : NO_CANDIDATE;
    // key / 32 is cost[j] - cost[m-1]; the match wins when it undercuts a literal (9 bits) after
    // its own 17. No candidate reads as +1023.
    int difference = key >> 5;
    unsigned chosen = 1;
    uint32_t cost = last_ + LITERAL_BITS;
    if (difference + static_cast<int>(MATCH_BITS) < static_cast<int>(LITERAL_BITS)) {
      chosen = static_cast<unsigned>(key & 31) + 1;
      cost = last_ + static_cast<uint32_t>(difference + static_cast<int>(MATCH_BITS));
    }
    last_ = cost;
    cost_[m % RING] = static_cast<uint16_t>(cost);
    step_[m - settled_] = static_cast<uint8_t>(chosen);
    if (m - settled_ >= nextCheck_) TrySettle(m);
  }

  // After the last position: writes what is still open.
  void Finish(uint32_t n) {
    if (n > settled_) WriteUpTo(n, n + 1);
    // An input whose chains did not meet for long grew the arrays; the next call starts small.
    if (capacity_ > 4 * REGION) {
      std::vector<uint8_t>().swap(tables_->step);
      std::vector<uint16_t>().swap(tables_->distance);
    }
  }

 private:
  static constexpr uint32_t RING = 32;
  static constexpr uint32_t REGION = 1u << 15;
  static constexpr int NO_CANDIDATE = 0x7FFF;

  // The least key (cost[j] - cost[m-1]) * 32 + (m-1-j) over the j in [m-18, m-3] whose match
  // reaches m: the cheapest start, the latest among equals; NO_CANDIDATE when there is none.
  // Called once for every m from 3 on, in order.
  int CheapestMatchStart(uint32_t m) {
    const uint32_t j = m - MATCH_MIN;
#if defined(__SSE2__)
    // The sixteen candidates stay in registers, lane t holding j = m-18+t, and move one lane down
    // per position: rebuilt from memory they would wait on the stores of the last few positions.
    __m128i length = _mm_cvtsi32_si128(static_cast<uint16_t>(longest_[j % RING]));
    __m128i cost = _mm_cvtsi32_si128(cost_[j % RING]);
    lengths_[0] = _mm_or_si128(_mm_srli_si128(lengths_[0], 2), _mm_slli_si128(lengths_[1], 14));
    lengths_[1] = _mm_or_si128(_mm_srli_si128(lengths_[1], 2), _mm_slli_si128(length, 14));
    costs_[0] = _mm_or_si128(_mm_srli_si128(costs_[0], 2), _mm_slli_si128(costs_[1], 14));
    costs_[1] = _mm_or_si128(_mm_srli_si128(costs_[1], 2), _mm_slli_si128(cost, 14));
    // Lane t needs a match of at least 18 - t bytes, and carries m-1-j = 17 - t as its tie break.
    const __m128i need0 = _mm_setr_epi16(18, 17, 16, 15, 14, 13, 12, 11);
    const __m128i need1 = _mm_setr_epi16(10, 9, 8, 7, 6, 5, 4, 3);
    const __m128i tie0 = _mm_setr_epi16(17, 16, 15, 14, 13, 12, 11, 10);
    const __m128i tie1 = _mm_setr_epi16(9, 8, 7, 6, 5, 4, 3, 2);
    const __m128i none = _mm_set1_epi16(NO_CANDIDATE);
    const __m128i reference = _mm_set1_epi16(static_cast<int16_t>(last_));
    __m128i short0 = _mm_cmplt_epi16(lengths_[0], need0);
    __m128i short1 = _mm_cmplt_epi16(lengths_[1], need1);
    __m128i key0 = _mm_or_si128(_mm_slli_epi16(_mm_sub_epi16(costs_[0], reference), 5), tie0);
    __m128i key1 = _mm_or_si128(_mm_slli_epi16(_mm_sub_epi16(costs_[1], reference), 5), tie1);
    key0 = _mm_or_si128(_mm_andnot_si128(short0, key0), _mm_and_si128(short0, none));
    key1 = _mm_or_si128(_mm_andnot_si128(short1, key1), _mm_and_si128(short1, none));
    __m128i least = _mm_min_epi16(key0, key1);
    least = _mm_min_epi16(least, _mm_shuffle_epi32(least, 0x4E));
    least = _mm_min_epi16(least, _mm_shuffle_epi32(least, 0xB1));
    least = _mm_min_epi16(least, _mm_srli_epi32(least, 16));
    return static_cast<int16_t>(_mm_cvtsi128_si32(least) & 0xFFFF);
#else
    int least = NO_CANDIDATE;
    for (unsigned t = 0; t < 16; ++t) {
      uint32_t at = (j - 15 + t) % RING;   // j = m-18+t
      if (longest_[at] < static_cast<int>(MATCH_MAX - t)) continue;
      int difference = static_cast<int16_t>(static_cast<uint16_t>(cost_[at] - static_cast<uint16_t>(last_)));
      int key = difference * 32 + static_cast<int>(MATCH_MAX - 1 - t);
      least = key < least ? key : least;
    }
    return least;
#endif
  }

  void TrySettle(uint32_t m) {
    // Walk the chains from m-17 ... m back, always moving the furthest one, until they coincide.
    uint32_t node[MATCH_MAX];
    for (uint32_t i = 0; i < MATCH_MAX; ++i) node[i] = m - i;
    for (;;) {
      uint32_t highest = node[0];
      uint32_t lowest = node[0];
      for (uint32_t i = 1; i < MATCH_MAX; ++i) {
        highest = node[i] > highest ? node[i] : highest;
        lowest = node[i] < lowest ? node[i] : lowest;
      }
      if (highest == lowest || highest <= settled_) break;
      for (uint32_t& at : node) {
        if (at == highest) at -= step_[at - settled_];
      }
    }
    uint32_t meet = node[0];
    if (meet > settled_) WriteUpTo(meet, m + 1);
    // Chains that do not meet (long runs parse into parallel chains of equal cost) would make
    // every check walk the whole open stretch; checking at twice the distance keeps that linear.
    uint32_t left = m - settled_;
    nextCheck_ = left * 2 > CHECK ? left * 2 : CHECK;
  }

  // Writes the items from the settled position to `to` and makes `to` the settled position;
  // positions before `end` are the ones known so far.
  void WriteUpTo(uint32_t to, uint32_t end) {
    std::vector<uint8_t>& path = tables_->path;
    path.clear();
    for (uint32_t at = to; at > settled_; at -= step_[at - settled_]) path.push_back(step_[at - settled_]);
    uint32_t k = settled_;
    for (size_t i = path.size(); i-- > 0;) {
      unsigned length = path[i];
      if (length == 1) {
        writer_->Literal(k);
      } else {
        writer_->Match(k, length, distance_[k - settled_]);
      }
      k += length;
    }
    // Keep the open part: steps of positions after `to`, distances of positions from `to` on.
    uint32_t shift = to - settled_;
    uint32_t keep = end - to;
    memmove(step_, step_ + shift, keep);
    memmove(distance_, distance_ + shift, keep * sizeof *distance_);
    settled_ = to;
  }

  void Grow() {
    size_t size = 2 * static_cast<size_t>(capacity_);
    tables_->step.resize(size);
    tables_->distance.resize(size);
    step_ = tables_->step.data();
    distance_ = tables_->distance.data();
    capacity_ = static_cast<uint32_t>(size);
  }

  static constexpr uint32_t CHECK = 1u << 12;

  MatchTables* tables_;
  ItemWriter* writer_;
  uint8_t* step_;
  uint16_t* distance_;
  uint32_t capacity_;
  uint32_t settled_ = 0;     // the parse up to here is written; the open arrays start here
  uint32_t nextCheck_ = CHECK;
  uint32_t last_ = 0;                 // cost[m-1], modulo 2^32
  uint16_t cost_[RING];               // cost[j] modulo 2^16
  int16_t longest_[RING];             // the longest match at j, 0 for none
#if defined(__SSE2__)
  __m128i lengths_[2];                // longest_ and cost_ of j = m-18 .. m-3, lane t: j = m-18+t
  __m128i costs_[2];
#endif
};

// Fills buffer with text positions first .. first + TEXT_BUFFER - 1: the initial spaces, the
// input, zeros past its end.
void FillText(uint8_t* buffer, uint32_t first, const uint8_t* in, uint32_t n) {
  size_t at = 0;
  if (first < WINDOW) {
    at = WINDOW - first;
    memset(buffer, 0x20, at);
  }
  size_t from = first + at - WINDOW;   // input index of buffer[at]
  size_t take = from < n ? n - from : 0;
  if (take > TEXT_BUFFER - at) take = TEXT_BUFFER - at;
  memcpy(buffer + at, in + from, take);
  memset(buffer + at + take, 0, TEXT_BUFFER - at - take);
}

// The finder works through the input in segments. Each segment but the first starts from empty
// tables, filled first with the 4096 positions before it, so what a segment finds depends on the
// input alone and not on whether it ran on its own thread: the output is the same either way.
// Each segment still sees the whole window, so every longest match is the true one.
constexpr uint32_t SEGMENT = 1u << 18;

// Segment s covers input positions [s * SEGMENT, SegmentEnd(s, positions)).
uint32_t SegmentEnd(uint32_t s, uint32_t positions) {
  uint64_t end = uint64_t{s + 1} * SEGMENT;
  return end < positions ? static_cast<uint32_t>(end) : positions;
}

// The longest match at every input position j in [first, end) (each with at least three bytes
// left), handed on in order as sink(j, length, distance).
template <typename Sink>
void FindMatches(const uint8_t* in, uint32_t n, uint32_t first, uint32_t end, MatchTables* tables, Sink&& sink) {
  const uint32_t warm = first == 0 ? 0 : first - static_cast<uint32_t>(WINDOW);
  tables->text.resize(TEXT_BUFFER);
  uint8_t* text = tables->text.data();
  // Text positions in use: from the window before `warm` to the last one searched.
  MatchTree tree(warm, static_cast<uint32_t>(WINDOW) + end, tables);
  FillText(text, warm, in, n);
  tree.SetText(text, warm);
  uint32_t found = 0;
  if (first == 0) {
    // The initial spaces as candidates. Every position up to 18 before the input holds the same
    // 18 spaces, and the last of them stays in reach longest, so it alone stands for all of them.
    for (uint32_t pos = WINDOW - MATCH_MAX; pos < WINDOW; ++pos) {
      uint32_t room = static_cast<uint32_t>(WINDOW) + n - pos;
      if (room >= MATCH_MIN) tree.FindAndInsert(pos, room < MATCH_MAX ? room : MATCH_MAX, &found);
    }
  }
  uint32_t blockEnd = warm + BLOCK;
  for (uint32_t j = warm; j < end; ++j) {
    if (j == blockEnd) {
      FillText(text, j, in, n);
      tree.SetText(text, j);
      blockEnd = j + BLOCK;
    }
    uint32_t room = n - j;
    found = 0;
    unsigned length = tree.FindAndInsert(static_cast<uint32_t>(WINDOW) + j, room < MATCH_MAX ? room : MATCH_MAX, &found);
    if (j >= first) sink(j, length, found);
  }
}

#if defined(SFXLZ_THREADS)
// The odd segments' finder results, made on a second thread while this one parses: two slots, so
// the helper can work one segment ahead. A result is distance | length << 16 (length 0: none).
class SegmentHelper {
 public:
  SegmentHelper(const uint8_t* in, uint32_t n, uint32_t segments) : in_(in), n_(n), segments_(segments) {
    // Left uninitialised: the helper writes every entry before it is read, and its pages are
    // then faulted in on the helper's thread rather than cleared on the calling one.
    for (auto& slot : slots_) slot.results.reset(new uint32_t[SEGMENT]);
  }

  ~SegmentHelper() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      stop_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  // False when no thread could be started; the caller then finds every segment itself.
  bool Start() {
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (...) {
      return false;
    }
    return true;
  }

  // Waits for segment s (odd), hands its results to use(results), then frees its slot.
  template <typename Use>
  void Take(uint32_t s, Use&& use) {
    Slot& slot = slots_[(s / 2) % 2];
    {
      std::unique_lock<std::mutex> hold(lock_);
      changed_.wait(hold, [&] { return slot.segment == s; });
    }
    use(static_cast<const uint32_t*>(slot.results.get()));
    {
      std::lock_guard<std::mutex> hold(lock_);
      slot.segment = EMPTY;
    }
    changed_.notify_all();
  }

 private:
  static constexpr uint32_t EMPTY = 0;   // segment 0 is never the helper's

  struct Slot {
    std::unique_ptr<uint32_t[]> results;
    uint32_t segment = EMPTY;
  };

  void Run() {
    MatchTables& tables = ReusedTables();
    for (uint32_t s = 1; s < segments_; s += 2) {
      Slot& slot = slots_[(s / 2) % 2];
      {
        std::unique_lock<std::mutex> hold(lock_);
        changed_.wait(hold, [&] { return stop_ || slot.segment == EMPTY; });
        if (stop_) return;
      }
      uint32_t first = s * SEGMENT;
      uint32_t* results = slot.results.get();
      FindMatches(in_, n_, first, SegmentEnd(s, n_ - 2), &tables, [&](uint32_t j, unsigned length, uint32_t distance) {
        results[j - first] = distance | static_cast<uint32_t>(length) << 16;
      });
      {
        std::lock_guard<std::mutex> hold(lock_);
        slot.segment = s;
      }
      changed_.notify_all();
    }
  }

  const uint8_t* in_;
  uint32_t n_;
  uint32_t segments_;
  Slot slots_[2];
  std::mutex lock_;
  std::condition_variable changed_;
  bool stop_ = false;
  std::thread thread_;
};
#endif

}  // namespace

LzError SzddEncode(const uint8_t* in, size_t inSize, uint8_t missingChar, std::vector<uint8_t>* out,
                   bool secondThread) {
  // Positions of the window and the input together must fit the finder's 32-bit numbering.
  if (static_cast<uint64_t>(inSize) > MAX_INPUT) return LzError::InputTooLarge;
  const uint32_t n = static_cast<uint32_t>(inSize);
  size_t start = out->size();
  out->resize(start + SZDD_HEADER_SIZE);
  WriteSzddHeader(out->data() + start, missingChar, n);
  if (n == 0) return LzError::Ok;
  out->reserve(start + SZDD_HEADER_SIZE + n + n / 8 + 1);

  MatchTables& tables = ReusedTables();
  ItemWriter writer(in, out);
  ForwardParse parse(&tables, &writer);
  // cost[1] and cost[2] need no match; cost[j + 3] needs the matches up to j.
  for (uint32_t m = 1; m <= n && m < MATCH_MIN; ++m) parse.Advance(m);
  auto take = [&](uint32_t j, unsigned length, uint32_t distance) {
    parse.AddMatch(j, length, distance);
    parse.Advance(j + MATCH_MIN);
  };
  if (n >= MATCH_MIN) {
    const uint32_t positions = n - 2;   // those with at least three bytes left
    const uint32_t segments = static_cast<uint32_t>((uint64_t{positions} + SEGMENT - 1) / SEGMENT);
#if defined(SFXLZ_THREADS)
    std::unique_ptr<SegmentHelper> helper;
    if (secondThread && segments >= 2 && std::thread::hardware_concurrency() >= 2) {
      helper.reset(new SegmentHelper(in, n, segments));
      if (!helper->Start()) helper.reset();
    }
#else
    (void)secondThread;
#endif
    for (uint32_t s = 0; s < segments; ++s) {
      uint32_t first = s * SEGMENT;
      uint32_t end = SegmentEnd(s, positions);
#if defined(SFXLZ_THREADS)
      if (helper && s % 2 == 1) {
        helper->Take(s, [&](const uint32_t* results) {
          for (uint32_t j = first; j < end; ++j) {
            uint32_t result = results[j - first];
            take(j, result >> 16, result & 0xFFFF);
          }
        });
        continue;
      }
#endif
      FindMatches(in, n, first, end, &tables, take);
    }
  }
  parse.Finish(n);
  writer.Flush();
  return LzError::Ok;
}

}  // namespace sfxlz
