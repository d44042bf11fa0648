// The SZDD header and error texts: portable; no OS headers, no heap, no C++ runtime.
// Keeps <vector> out: these objects link into the stub, which has no C++ runtime.
#ifndef SFXLZ_NO_ENCODER
#define SFXLZ_NO_ENCODER
#endif
#include "lz/szdd.h"

namespace sfxlz {

const uint8_t SZDD_MAGIC[8] = {0x53, 0x5A, 0x44, 0x44, 0x88, 0xF0, 0x27, 0x33};

const char* LzErrorText(LzError error) {
  switch (error) {
    case LzError::Ok: return "no error";
    case LzError::TruncatedHeader: return "the SZDD header is incomplete";
    case LzError::BadMagic: return "not an SZDD stream";
    case LzError::BadMode: return "unknown SZDD compression mode";
    case LzError::TruncatedData: return "the SZDD stream ends before its expanded length";
    case LzError::LengthMismatch: return "the SZDD stream holds more data than its expanded length";
    case LzError::OutputTooSmall: return "the output buffer is smaller than the expanded length";
    case LzError::InputTooLarge: return "input too large for an SZDD stream";
  }
  return "unknown error";
}

LzError ParseSzddHeader(const uint8_t* data, size_t size, SzddHeader* header) {
  // The magic is checked before the size, so a short file that is plainly not SZDD says so.
  size_t magicBytes = size < sizeof SZDD_MAGIC ? size : sizeof SZDD_MAGIC;
  for (size_t i = 0; i < magicBytes; ++i) {
    if (data[i] != SZDD_MAGIC[i]) return LzError::BadMagic;
  }
  if (size < SZDD_HEADER_SIZE) return LzError::TruncatedHeader;
  if (data[8] != SZDD_MODE_A) return LzError::BadMode;
  header->mode = data[8];
  header->missingChar = data[9];
  header->expandedLength = static_cast<uint32_t>(data[10]) | static_cast<uint32_t>(data[11]) << 8 |
                           static_cast<uint32_t>(data[12]) << 16 | static_cast<uint32_t>(data[13]) << 24;
  return LzError::Ok;
}

void WriteSzddHeader(uint8_t out[SZDD_HEADER_SIZE], uint8_t missingChar, uint32_t expandedLength) {
  for (size_t i = 0; i < sizeof SZDD_MAGIC; ++i) out[i] = SZDD_MAGIC[i];
  out[8] = SZDD_MODE_A;
  out[9] = missingChar;
  out[10] = static_cast<uint8_t>(expandedLength);
  out[11] = static_cast<uint8_t>(expandedLength >> 8);
  out[12] = static_cast<uint8_t>(expandedLength >> 16);
  out[13] = static_cast<uint8_t>(expandedLength >> 24);
}

}  // namespace sfxlz
