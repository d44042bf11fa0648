// Streaming SZDD decoder over a fixed 4096-byte ring: portable; no OS headers, no heap, no C++ runtime.
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

// Output room that lets a whole group run with word-wise copies: its last match starts at most
// GROUP_MAX_OUTPUT - MATCH_MAX bytes in and may write COPY_SLACK bytes from there.
constexpr size_t GROUP_ROOM = GROUP_MAX_OUTPUT - MATCH_MAX + COPY_SLACK;

// Bytes are decoded straight into the caller's buffer; the ring is brought up to date only when a
// call returns. So within a call, a match source at distance up to `written` lies in this call's
// output, and one further back lies in the ring, which still holds what earlier calls left there
// (the bytes written so far are fewer than the distance, so none of them has reached those
// positions yet).
struct History {
  const uint8_t* ring;
  uint8_t* out;
  uint32_t startPos;  // the ring position of out[0]
};

inline void CopyRing(uint8_t* dst, const uint8_t* ring, uint32_t position, size_t length) {
  size_t first = SZDD_WINDOW_SIZE - position;
  if (first >= length) {
    memcpy(dst, ring + position, length);
  } else {
    memcpy(dst, ring + position, first);
    memcpy(dst + first, ring, length - first);
  }
}

// Copies length bytes of the match at ring position `position` to out + written. With slack (at
// least COPY_SLACK writable bytes there) whole words are copied, scribbling past length; the items
// that follow overwrite those bytes, and none of them is reported as produced.
inline void CopyMatch(const History& h, size_t written, uint32_t position, size_t length, bool slack) {
  uint32_t current = (h.startPos + static_cast<uint32_t>(written)) & WINDOW_MASK;
  size_t distance = ((current - position - 1) & WINDOW_MASK) + 1;
  uint8_t* dst = h.out + written;
  if (distance <= written) {
    CopyWithinOutput(dst, distance, length, slack);
    return;
  }
  size_t inRing = distance - written;  // source bytes that precede this call's output
  if (length <= inRing) {
    if (slack && position + MATCH_MAX <= SZDD_WINDOW_SIZE) {
      memcpy(dst, h.ring + position, MATCH_MAX);
    } else {
      CopyRing(dst, h.ring, position, length);
    }
    return;
  }
  CopyRing(dst, h.ring, position, inRing);
  for (size_t k = inRing; k < length; ++k) dst[k] = h.out[k - inRing];
}

// The ring must end up holding the last 4096 bytes ever produced at their ring positions.
void UpdateRing(uint8_t* ring, uint32_t startPos, const uint8_t* out, size_t written) {
  if (written == 0) return;
  size_t keep = written < SZDD_WINDOW_SIZE ? written : SZDD_WINDOW_SIZE;
  const uint8_t* src = out + written - keep;
  uint32_t position = (startPos + static_cast<uint32_t>(written - keep)) & WINDOW_MASK;
  size_t first = SZDD_WINDOW_SIZE - position;
  if (first >= keep) {
    memcpy(ring + position, src, keep);
  } else {
    memcpy(ring + position, src, first);
    memcpy(ring, src + first, keep - first);
  }
}

}  // namespace

void SzddStreamInit(SzddStreamDecoder* decoder, uint32_t expandedLength) {
  memset(decoder->window, 0x20, sizeof decoder->window);
  decoder->windowPos = SZDD_FIRST_POSITION;
  decoder->expectedLength = expandedLength;
  decoder->produced = 0;
  decoder->control = 0;
  decoder->controlLeft = 0;
  decoder->pendingByte = 0;
  decoder->hasPending = 0;
  decoder->copyPos = 0;
  decoder->copyLeft = 0;
  decoder->error = LzError::Ok;
}

LzError SzddStreamDecode(SzddStreamDecoder* decoder, const uint8_t* in, size_t inSize, size_t* consumed,
                         uint8_t* out, size_t outCapacity, size_t* produced) {
  SzddStreamDecoder& d = *decoder;
  if (d.error != LzError::Ok) {
    *consumed = 0;
    *produced = 0;
    return d.error;
  }
  // The state lives in locals for the call: stores through out would otherwise force the compiler
  // to write back and reload every field of *decoder per byte.
  const History h{d.window, out, d.windowPos};
  const uint8_t* ip = in;
  const uint8_t* const iend = in + inSize;
  size_t written = 0;
  size_t left = static_cast<size_t>(d.expectedLength - d.produced);  // bytes the header still owes
  unsigned control = d.control;
  unsigned controlLeft = d.controlLeft;
  uint32_t copyPos = d.copyPos;
  size_t copyLeft = d.copyLeft;
  uint8_t pendingByte = d.pendingByte;
  bool hasPending = d.hasPending != 0;
  LzError error = LzError::Ok;

  for (;;) {
    // A match may outlast the caller's output buffer; it resumes here on the next call.
    if (copyLeft != 0) {
      size_t room = outCapacity - written;
      size_t n = copyLeft < room ? copyLeft : room;
      CopyMatch(h, written, copyPos, n, false);
      written += n;
      left -= n;
      copyPos = (copyPos + static_cast<uint32_t>(n)) & WINDOW_MASK;
      copyLeft -= n;
      if (copyLeft != 0) break;
    }
    if (left == 0) {
      // Everything the header promised is out: any further byte is data the stream must not hold.
      if (ip < iend || hasPending) error = LzError::LengthMismatch;
      break;
    }
    // Whole groups while enough input, room and promised length remain for any group: no checks
    // inside them.
    while (controlLeft == 0 && static_cast<size_t>(iend - ip) >= GROUP_MAX_INPUT &&
           outCapacity - written >= GROUP_ROOM && left >= GROUP_MAX_OUTPUT) {
      unsigned bits = *ip++;
      size_t groupStart = written;
      for (int item = 0; item < 8; ++item, bits >>= 1) {
        if (bits & 1) {
          out[written++] = *ip++;
        } else {
          uint32_t position = ip[0] | (static_cast<uint32_t>(ip[1] & 0xF0) << 4);
          size_t length = (ip[1] & 0x0Fu) + 3u;
          ip += 2;
          CopyMatch(h, written, position, length, true);
          written += length;
        }
      }
      left -= written - groupStart;
    }
    if (left == 0) continue;
    if (written == outCapacity || ip == iend) break;
    if (controlLeft == 0) {
      control = *ip++;
      controlLeft = 8;
      continue;
    }
    if (control & 1) {
      out[written++] = *ip++;
      --left;
    } else {
      uint8_t first = pendingByte;
      if (!hasPending) first = *ip++;
      if (ip == iend) {
        // The match's second byte is in the next chunk.
        pendingByte = first;
        hasPending = true;
        break;
      }
      uint8_t second = *ip++;
      hasPending = false;
      size_t length = (second & 0x0Fu) + 3u;
      if (length > left) {
        error = LzError::LengthMismatch;
        break;
      }
      copyPos = first | (static_cast<uint32_t>(second & 0xF0) << 4);
      copyLeft = length;
    }
    control >>= 1;
    --controlLeft;
  }

  UpdateRing(d.window, h.startPos, out, written);
  d.windowPos = (h.startPos + static_cast<uint32_t>(written)) & WINDOW_MASK;
  d.produced += written;
  d.control = static_cast<uint8_t>(control);
  d.controlLeft = static_cast<uint8_t>(controlLeft);
  d.pendingByte = pendingByte;
  d.hasPending = hasPending ? 1 : 0;
  d.copyPos = copyPos;
  d.copyLeft = static_cast<uint32_t>(copyLeft);
  d.error = error;
  *consumed = static_cast<size_t>(ip - in);
  *produced = written;
  return error;
}

LzError SzddStreamFinish(const SzddStreamDecoder* decoder) {
  if (decoder->error != LzError::Ok) return decoder->error;
  if (decoder->produced != decoder->expectedLength || decoder->copyLeft != 0) return LzError::TruncatedData;
  return LzError::Ok;
}

}  // namespace sfxlz
