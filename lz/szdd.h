// The SZDD codec: pure; spans in, bytes out, an error enum. No files, no OS headers.
// The decoder half uses no heap and no C++ runtime, so the stub's POSIX LZ service can link it.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace sfxlz {

constexpr size_t SZDD_HEADER_SIZE = 14;
constexpr size_t SZDD_WINDOW_SIZE = 4096;
constexpr size_t SZDD_FIRST_POSITION = SZDD_WINDOW_SIZE - 16;
constexpr uint8_t SZDD_MODE_A = 0x41;
extern const uint8_t SZDD_MAGIC[8];

enum class LzError : int {
  Ok = 0,
  TruncatedHeader,   // fewer than 14 bytes, all of them a prefix of the magic and what follows it
  BadMagic,          // not an SZDD stream
  BadMode,           // mode byte other than 'A'
  TruncatedData,     // the stream ends (inside an item or between items) before the header's length
  LengthMismatch,    // the stream holds more data than the header's length, or a match runs past it
  OutputTooSmall,    // the caller's buffer cannot take the header's length
  InputTooLarge,     // more than 2^32 - 12289 bytes to encode
};

const char* LzErrorText(LzError error);

struct SzddHeader {
  uint8_t mode;
  uint8_t missingChar;       // the character the compressed name replaced with '_'
  uint32_t expandedLength;
};

// Checks magic and mode; fills *header.
LzError ParseSzddHeader(const uint8_t* data, size_t size, SzddHeader* header);
void WriteSzddHeader(uint8_t out[SZDD_HEADER_SIZE], uint8_t missingChar, uint32_t expandedLength);

// Whole-stream decode: out must hold at least the header's expandedLength bytes. Ok only when the
// data yields exactly that many bytes and ends with the last item; *outSize is 0 on any error.
LzError SzddDecode(const uint8_t* in, size_t inSize, uint8_t* out, size_t outCapacity, size_t* outSize);

// Streaming decode with a fixed 4096-byte window, for callers that work through fixed buffers.
struct SzddStreamDecoder {
  uint8_t window[SZDD_WINDOW_SIZE];
  uint32_t windowPos;
  uint32_t expectedLength;   // from the header
  uint64_t produced;
  uint8_t control;           // remaining control bits, shifted
  uint8_t controlLeft;       // items left under the current control byte
  uint8_t pendingByte;       // first byte of a match split across input chunks
  uint8_t hasPending;
  uint32_t copyPos;          // a match split across output chunks
  uint32_t copyLeft;
  LzError error;             // sticky: once a stream is found faulty, every later call reports it
};

// Call after the 14-byte header was parsed.
void SzddStreamInit(SzddStreamDecoder* decoder, uint32_t expandedLength);
// Consumes input and produces output until either runs out; *consumed and *produced report how much.
// Input left over once the header's length is reached is reported as LengthMismatch at once.
// Bytes of out past *produced may be overwritten (whole-word match copies); they mean nothing.
LzError SzddStreamDecode(SzddStreamDecoder* decoder, const uint8_t* in, size_t inSize, size_t* consumed,
                         uint8_t* out, size_t outCapacity, size_t* produced);
// After the last input: Ok only when exactly the header's length was produced and no item was cut.
LzError SzddStreamFinish(const SzddStreamDecoder* decoder);

}  // namespace sfxlz

#if !defined(SFXLZ_NO_ENCODER)
#include <vector>
namespace sfxlz {
// Smallest stream the format allows (exact minimum-cost parse). Appends header and data to *out.
// Inputs over 256 KiB are searched partly on a second thread when the machine has two cores or
// more and secondThread is true; the output is the same either way.
LzError SzddEncode(const uint8_t* in, size_t inSize, uint8_t missingChar, std::vector<uint8_t>* out,
                   bool secondThread = true);
}  // namespace sfxlz
#endif
