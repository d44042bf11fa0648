// Whole-stream SZDD decoder: portable; no OS headers, no heap, no C++ runtime (the stub links it).
#include <string.h>

// Keeps <vector> out: these objects link into the stub, which has no C++ runtime.
#ifndef SFXLZ_NO_ENCODER
#define SFXLZ_NO_ENCODER
#endif
#include "lz/szdd.h"
#include "lz/szdd_copy.h"

namespace sfxlz {
namespace {

using namespace decodedetail;

constexpr uint8_t WINDOW_FILL = 0x20;

// The window never exists here: its byte at ring position p is the output byte written most recently
// at p, or a space from the initial fill. So a match is a copy from 1 to 4096 bytes back, with the
// bytes before the output's start reading as spaces.
inline size_t MatchDistance(size_t written, unsigned position) {
  unsigned current = static_cast<unsigned>(written + SZDD_FIRST_POSITION) & WINDOW_MASK;
  return ((current - position - 1) & WINDOW_MASK) + 1;
}

// A match inside the output is copied there; one reaching before the output's start reads spaces.
inline void CopyMatch(uint8_t* out, size_t written, unsigned position, size_t length, bool slack) {
  size_t distance = MatchDistance(written, position);
  uint8_t* dst = out + written;
  if (distance <= written) {
    CopyWithinOutput(dst, distance, length, slack);
    return;
  }
  size_t spaces = distance - written;  // source bytes that lie in the initial fill
  size_t k = 0;
  for (; k < length && k < spaces; ++k) dst[k] = WINDOW_FILL;
  for (; k < length; ++k) dst[k] = out[k - spaces];
}

}  // namespace

LzError SzddDecode(const uint8_t* in, size_t inSize, uint8_t* out, size_t outCapacity, size_t* outSize) {
  if (outSize) *outSize = 0;
  SzddHeader header;
  LzError error = ParseSzddHeader(in, inSize, &header);
  if (error != LzError::Ok) return error;
  const size_t total = header.expandedLength;
  if (total > outCapacity) return LzError::OutputTooSmall;

  const uint8_t* ip = in + SZDD_HEADER_SIZE;
  const uint8_t* const iend = in + inSize;
  size_t written = 0;
  while (written < total) {
    if (static_cast<size_t>(iend - ip) >= GROUP_MAX_INPUT &&
        total - written >= GROUP_MAX_OUTPUT - MATCH_MAX + COPY_SLACK) {
      // Enough input and output left for any group: no bound checks inside it.
      unsigned control = *ip++;
      for (int item = 0; item < 8; ++item, control >>= 1) {
        if (control & 1) {
          out[written++] = *ip++;
        } else {
          unsigned position = ip[0] | (static_cast<unsigned>(ip[1] & 0xF0) << 4);
          size_t length = (ip[1] & 0x0F) + 3u;
          ip += 2;
          CopyMatch(out, written, position, length, true);
          written += length;
        }
      }
      continue;
    }
    if (ip == iend) return LzError::TruncatedData;
    unsigned control = *ip++;
    for (int item = 0; item < 8 && written < total; ++item, control >>= 1) {
      if (control & 1) {
        if (ip == iend) return LzError::TruncatedData;
        out[written++] = *ip++;
      } else {
        if (iend - ip < 2) return LzError::TruncatedData;
        unsigned position = ip[0] | (static_cast<unsigned>(ip[1] & 0xF0) << 4);
        size_t length = (ip[1] & 0x0F) + 3u;
        ip += 2;
        if (length > total - written) return LzError::LengthMismatch;
        CopyMatch(out, written, position, length, total - written >= COPY_SLACK);
        written += length;
      }
    }
  }
  if (ip != iend) return LzError::LengthMismatch;
  if (outSize) *outSize = total;
  return LzError::Ok;
}

}  // namespace sfxlz
