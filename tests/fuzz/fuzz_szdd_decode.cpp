// Fuzz target: the SZDD decoders, whole-stream against streaming with random chunking, and the
// encoder's round trip.
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "lz/szdd.h"

using namespace sfxlz;

namespace {

// No stream expands by more than 144 bytes per 17 (a control byte and eight 18-byte matches), so a
// buffer of this size takes anything the input can hold; a bigger claim is answered with
// OutputTooSmall, and is still checked through the streaming decoder, which needs no such buffer.
size_t MostOutputOf(size_t inputSize) { return inputSize / 17 * 144 + 144; }

struct Rng {
  uint64_t state;
  size_t Next(size_t bound) {  // 1..bound
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return (size_t)((state >> 33) % bound) + 1;
  }
};

LzError StreamDecode(const uint8_t* in, size_t size, uint64_t seed, std::vector<uint8_t>* out) {
  SzddHeader header;
  LzError error = ParseSzddHeader(in, size, &header);
  if (error != LzError::Ok) return error;
  SzddStreamDecoder decoder;
  SzddStreamInit(&decoder, header.expandedLength);
  Rng rng{seed};
  const uint8_t* ip = in + SZDD_HEADER_SIZE;
  size_t left = size - SZDD_HEADER_SIZE;
  uint8_t chunk[SZDD_WINDOW_SIZE + 64];
  for (;;) {
    size_t inChunk = left == 0 ? 0 : rng.Next(left < 40 ? left : 40);
    size_t outChunk = rng.Next(sizeof chunk);
    size_t consumed = 0, produced = 0;
    error = SzddStreamDecode(&decoder, ip, inChunk, &consumed, chunk, outChunk, &produced);
    if (consumed > inChunk || produced > outChunk) abort();
    out->insert(out->end(), chunk, chunk + produced);
    if (out->size() > header.expandedLength) abort();  // never more than the header promised
    ip += consumed;
    left -= consumed;
    if (error != LzError::Ok) return error;
    // A call that is offered input and room and takes neither would hang its caller.
    if (inChunk != 0 && consumed == 0 && produced == 0) abort();
    if (left == 0 && produced == 0) break;
  }
  return SzddStreamFinish(&decoder);
}

void CompareDecoders(const uint8_t* data, size_t size, uint64_t seed) {
  SzddHeader header;
  bool parsed = ParseSzddHeader(data, size, &header) == LzError::Ok;
  size_t most = MostOutputOf(size);
  size_t capacity = !parsed ? 0 : header.expandedLength <= most ? header.expandedLength : most;
  // An exact-size buffer on the heap lets ASan see a write one byte past the end.
  uint8_t* whole = (uint8_t*)malloc(capacity == 0 ? 1 : capacity);
  size_t wholeSize = 0;
  LzError wholeError = SzddDecode(data, size, whole, capacity, &wholeSize);
  std::vector<uint8_t> streamed;
  LzError streamError = StreamDecode(data, size, seed, &streamed);
  if (wholeError == LzError::OutputTooSmall) {
    // A claim beyond what the input can expand to: the stream cannot be whole.
    if (!parsed || header.expandedLength <= capacity || streamError == LzError::Ok) abort();
    free(whole);
    return;
  }
  if ((wholeError == LzError::Ok) != (streamError == LzError::Ok)) abort();
  if (wholeError == LzError::Ok) {
    if (wholeSize != header.expandedLength || streamed.size() != wholeSize) abort();
    if (wholeSize != 0 && memcmp(whole, streamed.data(), wholeSize) != 0) abort();
  }
  free(whole);
}

void RoundTrip(const uint8_t* data, size_t size) {
  std::vector<uint8_t> encoded;
  if (SzddEncode(data, size, 'x', &encoded) != LzError::Ok) abort();
  std::vector<uint8_t> decoded(size + 1);
  size_t decodedSize = 0;
  if (SzddDecode(encoded.data(), encoded.size(), decoded.data(), size, &decodedSize) != LzError::Ok) abort();
  if (decodedSize != size || (size != 0 && memcmp(decoded.data(), data, size) != 0)) abort();
  std::vector<uint8_t> streamed;
  if (StreamDecode(encoded.data(), encoded.size(), size, &streamed) != LzError::Ok) abort();
  if (streamed.size() != size || (size != 0 && memcmp(streamed.data(), data, size) != 0)) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint64_t seed = 0x9E3779B97F4A7C15ULL;
  for (size_t i = 0; i < size && i < 32; ++i) seed = (seed ^ data[i]) * 0x100000001B3ULL;
  CompareDecoders(data, size, seed);
  // The encoder's set-up (its match tables) costs as much as hundreds of decodes, so its round trip
  // runs on one input in 64 (chosen by the first byte, so a reproduced input takes the same path)
  // and on the smaller ones only.
  if (size <= 8192 && (size == 0 || data[0] % 64 == 0)) RoundTrip(data, size);
  return 0;
}
