// Constants and the in-output match copy shared by both SZDD decoders; portable, no heap, no OS headers.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "lz/szdd.h"

namespace sfxlz {
namespace decodedetail {

constexpr uint32_t WINDOW_MASK = SZDD_WINDOW_SIZE - 1;
constexpr size_t MATCH_MAX = 18;
// One control byte with eight matches: the most input and output a group can take.
constexpr size_t GROUP_MAX_INPUT = 1 + 8 * 2;
constexpr size_t GROUP_MAX_OUTPUT = 8 * MATCH_MAX;
// The most a word-wise match copy writes (three eight-byte words).
constexpr size_t COPY_SLACK = 24;

// Copies a match whose source lies distance bytes back in the output already written at dst.
// With slack (at least COPY_SLACK writable bytes at dst) whole words are copied, and bytes past
// length are scribbled on; the items that follow overwrite them.
inline void CopyWithinOutput(uint8_t* dst, size_t distance, size_t length, bool slack) {
  const uint8_t* src = dst - distance;
  if (slack && distance >= MATCH_MAX) {
    memcpy(dst, src, MATCH_MAX);
  } else if (slack && distance >= 8) {
    // Each eight-byte step reads only bytes written before it.
    memcpy(dst, src, 8);
    memcpy(dst + 8, src + 8, 8);
    memcpy(dst + 16, src + 16, 8);
  } else if (distance == 1) {
    memset(dst, *src, length);
  } else if (distance >= length) {
    memcpy(dst, src, length);
  } else {
    // An overlapping match repeats its own output, so each byte must be written before it is read.
    for (size_t k = 0; k < length; ++k) dst[k] = src[k];
  }
}

}  // namespace decodedetail
}  // namespace sfxlz
