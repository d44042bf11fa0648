// Streaming SZDD decoder over a fixed 4096-byte ring: portable; no OS headers, no heap, no C++ runtime.
#include <string.h>

// Keeps <vector> out: these objects link into the stub, which has no C++ runtime.
#ifndef SFXLZ_NO_ENCODER
#define SFXLZ_NO_ENCODER
#endif
#include "lz/szdd.h"

namespace sfxlz {
namespace {
constexpr uint32_t WINDOW_MASK = SZDD_WINDOW_SIZE - 1;
}

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
  size_t ip = 0;
  size_t op = 0;
  while (d.error == LzError::Ok) {
    // A match may outlast the caller's output buffer; it resumes here on the next call.
    while (d.copyLeft != 0 && op < outCapacity) {
      uint8_t byte = d.window[d.copyPos];
      d.copyPos = (d.copyPos + 1) & WINDOW_MASK;
      d.window[d.windowPos] = byte;
      d.windowPos = (d.windowPos + 1) & WINDOW_MASK;
      out[op++] = byte;
      --d.copyLeft;
      ++d.produced;
    }
    if (d.copyLeft != 0) break;
    if (d.produced == d.expectedLength) {
      // Everything the header promised is out: any further byte is data the stream must not hold.
      if (ip < inSize || d.hasPending) d.error = LzError::LengthMismatch;
      break;
    }
    if (op == outCapacity || ip == inSize) break;
    if (d.controlLeft == 0) {
      d.control = in[ip++];
      d.controlLeft = 8;
      continue;
    }
    if (d.control & 1) {
      uint8_t byte = in[ip++];
      d.window[d.windowPos] = byte;
      d.windowPos = (d.windowPos + 1) & WINDOW_MASK;
      out[op++] = byte;
      ++d.produced;
    } else {
      uint8_t first = d.pendingByte;
      if (!d.hasPending) first = in[ip++];
      if (ip == inSize) {
        // The match's second byte is in the next chunk.
        d.pendingByte = first;
        d.hasPending = 1;
        break;
      }
      uint8_t second = in[ip++];
      d.hasPending = 0;
      uint32_t length = (second & 0x0Fu) + 3u;
      if (length > d.expectedLength - d.produced) {
        d.error = LzError::LengthMismatch;
        break;
      }
      d.copyPos = first | (static_cast<uint32_t>(second & 0xF0) << 4);
      d.copyLeft = length;
    }
    d.control >>= 1;
    --d.controlLeft;
  }
  *consumed = ip;
  *produced = op;
  return d.error;
}

LzError SzddStreamFinish(const SzddStreamDecoder* decoder) {
  if (decoder->error != LzError::Ok) return decoder->error;
  if (decoder->produced != decoder->expectedLength || decoder->copyLeft != 0) return LzError::TruncatedData;
  return LzError::Ok;
}

}  // namespace sfxlz
