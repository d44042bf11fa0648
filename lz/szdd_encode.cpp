// SZDD encoder with an exact minimum-cost parse: portable; no OS headers (uses the C++ library).
#include <string.h>

#include <memory>
#include <vector>

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
constexpr uint64_t MAX_INPUT = NO_NODE - 2 * WINDOW - 1;

inline uint32_t Hash3(const uint8_t* p) {
  uint32_t key = static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
  return (key * 2654435761u) >> (32 - HASH_BITS);
}

inline uint32_t Hash4(const uint8_t* p) {
  uint32_t key;
  memcpy(&key, p, sizeof key);
  return (key * 2246822519u) >> (32 - HASH_BITS);
}

// Bytes read past the end of the text by the eight-byte comparisons; never part of a result.
constexpr size_t TEXT_SLACK = 8;

inline uint64_t Load64(const uint8_t* p) {
  uint64_t value;
  memcpy(&value, p, sizeof value);
  return value;
}

// Length of the common prefix of a and b, known to be at least from, at most limit (limit <= 24).
// Eight bytes at a time: the tree walk's cost is dominated by mispredicted byte-compare exits.
inline unsigned CommonLength(const uint8_t* a, const uint8_t* b, unsigned from, unsigned limit) {
  unsigned length = from;
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
// The tables are kept from call to call: freshly allocated, their pages would be faulted in anew
// by every call, which on small members costs more than the parse itself. Clearing them would cost
// nearly as much, so each call numbers its positions on from where the last one stopped, plus a
// window's gap: whatever an earlier call left behind then reads as out of reach.
struct MatchTables {
  std::vector<uint32_t> heads;       // full positions: a bucket may sit unused for any length of input
  std::vector<uint32_t> children;
  std::vector<uint32_t> chainHeads;
  std::vector<uint32_t> chain;       // the previous position with the same three-byte hash
  uint32_t nextBase = 0;
  bool ready = false;
};

MatchTables& ReusedTables() {
  thread_local MatchTables tables;
  return tables;
}

class MatchTree {
 public:
  MatchTree(const uint8_t* text, uint32_t textSize, MatchTables* tables)
      : text_(text) {
    uint64_t span = uint64_t{textSize} + WINDOW + 1;
    if (!tables->ready || tables->nextBase > NO_NODE - span) {
      tables->heads.assign(size_t{1} << HASH_BITS, NO_NODE);
      tables->children.assign(2 * TREE_SLOTS, NO_NODE);
      tables->chainHeads.assign(size_t{1} << HASH_BITS, NO_NODE);
      tables->chain.assign(CHAIN_SLOTS, NO_NODE);
      tables->nextBase = 0;
      tables->ready = true;
    }
    heads_ = tables->heads.data();
    children_ = tables->children.data();
    chainHeads_ = tables->chainHeads.data();
    chain_ = tables->chain.data();
    base_ = tables->nextBase;
    tables->nextBase = static_cast<uint32_t>(base_ + span);
  }

  // Longest match (up to limit bytes, limit >= 3) for the string at pos among the 4096 before it.
  unsigned FindAndInsert(uint32_t at, unsigned limit, uint32_t* distance) {
    const uint8_t* current = text_ + at;
    const uint32_t pos = base_ + at;
    // The next position's buckets are fetched while this one's trees are walked.
    __builtin_prefetch(&chainHeads_[Hash3(current + 1)], 1);
    __builtin_prefetch(&heads_[Hash4(current + 1)], 1);
    uint32_t& chainHead = chainHeads_[Hash3(current)];
    uint32_t sameThree = chainHead;
    chainHead = pos;
    chain_[pos % CHAIN_SLOTS] = sameThree;
    unsigned best = SearchTree(pos, at >= WINDOW, current, limit, distance);
    if (best >= MATCH_MIN) return best;
    for (; sameThree != NO_NODE && pos - sameThree <= WINDOW; sameThree = chain_[sameThree % CHAIN_SLOTS]) {
      const uint8_t* other = text_ + (sameThree - base_);
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
    unsigned lesserLength = 0;   // bytes every node under lesserLink shares with current
    unsigned greaterLength = 0;
    unsigned best = 0;
    uint32_t bestDistance = 0;
    if (fullWindowBack) {
      best = CommonLength(current - WINDOW, current, 0, limit);
      bestDistance = WINDOW;
    }
    while (candidate != NO_NODE && pos - candidate < WINDOW) {
      uint32_t* pair = &children_[2 * (candidate % TREE_SLOTS)];
      const uint8_t* other = text_ + (candidate - base_);
      unsigned length = CommonLength(other, current,
                                     lesserLength < greaterLength ? lesserLength : greaterLength, limit);
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
        lesserLength = length;
      } else {
        *greaterLink = candidate;
        greaterLink = &pair[0];
        candidate = *greaterLink;
        greaterLength = length;
      }
    }
    *lesserLink = NO_NODE;
    *greaterLink = NO_NODE;
    if (best != 0) *distance = bestDistance;
    return best;
  }


  const uint8_t* text_;
  uint32_t base_;   // the table position of text position 0
  uint32_t* heads_;
  uint32_t* children_;
  uint32_t* chainHeads_;
  uint32_t* chain_;
};

}  // namespace

LzError SzddEncode(const uint8_t* in, size_t inSize, uint8_t missingChar, std::vector<uint8_t>* out) {
  // Positions of the window and the input together must fit the finder's 32-bit numbering.
  if (static_cast<uint64_t>(inSize) > MAX_INPUT) return LzError::InputTooLarge;
  const uint32_t n = static_cast<uint32_t>(inSize);

  // The initial window content as real bytes in front of the input, so matches into it need no
  // special case: text[WINDOW + k] is input byte k. The work arrays are left uninitialised where
  // every entry is written before it is read: filling them first costs as much as the parse.
  std::unique_ptr<uint8_t[]> text(new uint8_t[WINDOW + n + TEXT_SLACK]);
  memset(text.get(), 0x20, WINDOW);
  if (n != 0) memcpy(text.get() + WINDOW, in, n);
  memset(text.get() + WINDOW + n, 0, TEXT_SLACK);
  const uint32_t textSize = static_cast<uint32_t>(WINDOW) + n;

  // Pass 1: the longest match at every input position. Every prefix of a match of 3 or more bytes
  // is a match too, so this is all the parse needs to know.
  std::unique_ptr<uint8_t[]> longest(new uint8_t[n + 1]);
  std::unique_ptr<uint16_t[]> distance(new uint16_t[n + 1]);
  {
    MatchTree tree(text.get(), textSize, &ReusedTables());
    uint32_t unused;
    // The initial spaces as candidates. Every position up to 18 before the input holds the same 18
    // spaces, and the last of them stays in reach longest, so it alone stands for all of them.
    for (uint32_t pos = WINDOW - MATCH_MAX; pos < WINDOW; ++pos) {
      uint32_t room = textSize - pos;
      if (room >= MATCH_MIN) tree.FindAndInsert(pos, room < MATCH_MAX ? room : MATCH_MAX, &unused);
    }
    for (uint32_t k = 0; k < n; ++k) {
      uint32_t room = n - k;
      uint32_t found = 0;
      unsigned length = 0;
      if (room >= MATCH_MIN) {
        length = tree.FindAndInsert(static_cast<uint32_t>(WINDOW) + k, room < MATCH_MAX ? room : MATCH_MAX,
                                    &found);
      }
      longest[k] = static_cast<uint8_t>(length >= MATCH_MIN ? length : 0);
      distance[k] = static_cast<uint16_t>(found);
    }
  }

  // Pass 2: the cheapest encoding of every suffix, last position first. A stream's size is its bit
  // count rounded up to whole bytes, so the fewest bits give the fewest bytes. Only the next 18
  // suffixes' costs are ever looked at, so they live in a small ring, and modulo 2^32: only
  // differences between nearby suffixes are compared, and those are small.
  // The inner loop always runs over all sixteen lengths, with the lengths beyond the match priced
  // as a literal, so it has no data-dependent exit to mispredict.
  constexpr uint32_t RING = 32;
  uint32_t cost[RING] = {};
  for (uint32_t k = n; k-- > 0;) {
    const uint32_t literal = cost[(k + 1) % RING] + LITERAL_BITS;
    uint32_t bestCost = literal;
    unsigned bestLength = 1;
    const unsigned reach = longest[k];
    if (reach >= MATCH_MIN) {
#pragma GCC unroll 16
      for (unsigned length = MATCH_MIN; length <= MATCH_MAX; ++length) {
        // A mask rather than a condition, so the compiler cannot turn it back into an early exit.
        uint32_t inReach = 0u - static_cast<uint32_t>(length <= reach);
        uint32_t candidate = ((cost[(k + length) % RING] + MATCH_BITS) & inReach) | (literal & ~inReach);
        bool cheaper = static_cast<int32_t>(candidate - bestCost) < 0;
        bestCost = cheaper ? candidate : bestCost;
        bestLength = cheaper ? length : bestLength;
      }
    }
    cost[k % RING] = bestCost;
    longest[k] = static_cast<uint8_t>(bestLength);  // from here on: the length chosen at k
  }

  // Pass 3: emit. Control bits are least significant first; a set bit is a literal.
  size_t start = out->size();
  out->resize(start + SZDD_HEADER_SIZE);
  WriteSzddHeader(out->data() + start, missingChar, n);
  out->reserve(start + SZDD_HEADER_SIZE + n + n / 8 + 1);
  size_t controlAt = 0;
  unsigned items = 0;
  for (uint32_t k = 0; k < n;) {
    if (items % 8 == 0) {
      controlAt = out->size();
      out->push_back(0);
    }
    unsigned length = longest[k];
    if (length == 1) {
      (*out)[controlAt] |= static_cast<uint8_t>(1u << (items % 8));
      out->push_back(in[k]);
    } else {
      // The window position of the source byte: positions are absolute in the ring, and the source
      // may lie in the initial spaces (k < distance) or overlap the bytes being written.
      uint32_t position = (k - distance[k] + SZDD_FIRST_POSITION) & (WINDOW - 1);
      out->push_back(static_cast<uint8_t>(position));
      out->push_back(static_cast<uint8_t>(((position >> 4) & 0xF0) | (length - MATCH_MIN)));
    }
    k += length;
    ++items;
  }
  return LzError::Ok;
}

}  // namespace sfxlz
