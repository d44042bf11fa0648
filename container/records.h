// Payload records as they lie in the file, and the constants of the layout; portable, no OS headers.
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr int MAX_ENTRIES = 256;
constexpr size_t NAME_FIELD_SIZE = 256;
constexpr size_t SIGNATURE_FIELD_SIZE = 256;
constexpr size_t TRAILER_SIZE = 264;
constexpr size_t ENTRY_SIZE = 536;
constexpr size_t TAIL_WINDOW = 32768;
constexpr size_t SEARCH_LIMIT = 32751;      // first distance from the end no longer examined
constexpr size_t SIGNATURE_LENGTH = 17;     // the text and its NUL
constexpr size_t CONFIRMATION_LENGTH = 8;
constexpr uint8_t FILL_BYTE = 0x1A;
constexpr size_t MAX_TAIL_AFTER_TRAILER = (SEARCH_LIMIT - 1) - TRAILER_SIZE;  // 32486
constexpr int64_t SECONDS_1601_TO_1970 = 11644473600LL;

// All integers little-endian; records follow one another without alignment.
struct DirectoryEntry {
  char storedName[NAME_FIELD_SIZE];
  char expandedName[NAME_FIELD_SIZE];
  uint8_t modifiedTime[8];   // seconds since 1970 UTC; the reader takes the low 4 bytes as signed
  uint8_t dataOffset[4];     // signed 32-bit
  uint8_t dataLength[4];     // signed 32-bit; 0 or below: nothing stored
  uint8_t reserved[8];
};

struct ContainerTrailer {
  char signature[SIGNATURE_FIELD_SIZE];
  uint8_t entryCount[4];     // signed 32-bit, entry 0 included
  uint8_t reserved[4];
};

static_assert(sizeof(DirectoryEntry) == ENTRY_SIZE, "DirectoryEntry is 536 bytes");
static_assert(offsetof(DirectoryEntry, expandedName) == 256, "expandedName at 256");
static_assert(offsetof(DirectoryEntry, modifiedTime) == 512, "modifiedTime at 512");
static_assert(offsetof(DirectoryEntry, dataOffset) == 520, "dataOffset at 520");
static_assert(offsetof(DirectoryEntry, dataLength) == 524, "dataLength at 524");
static_assert(offsetof(DirectoryEntry, reserved) == 528, "reserved at 528");
static_assert(sizeof(ContainerTrailer) == TRAILER_SIZE, "ContainerTrailer is 264 bytes");
static_assert(offsetof(ContainerTrailer, entryCount) == 256, "entryCount at 256");
static_assert(offsetof(ContainerTrailer, reserved) == 260, "reserved at 260");

inline int32_t ReadInt32Le(const uint8_t* p) {
  return (int32_t)((uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24));
}
inline void WriteInt32Le(uint8_t* p, int32_t value) {
  uint32_t v = (uint32_t)value;
  p[0] = (uint8_t)v; p[1] = (uint8_t)(v >> 8); p[2] = (uint8_t)(v >> 16); p[3] = (uint8_t)(v >> 24);
}
inline void WriteInt64Le(uint8_t* p, int64_t value) {
  uint64_t v = (uint64_t)value;
  for (int i = 0; i < 8; ++i) p[i] = (uint8_t)(v >> (8 * i));
}

inline int32_t EntryDataOffset(const DirectoryEntry& e) { return ReadInt32Le(e.dataOffset); }
inline int32_t EntryDataLength(const DirectoryEntry& e) { return ReadInt32Le(e.dataLength); }
inline int32_t EntryModifiedSeconds(const DirectoryEntry& e) { return ReadInt32Le(e.modifiedTime); }
inline int32_t TrailerEntryCount(const ContainerTrailer& t) { return ReadInt32Le(t.entryCount); }

// The signature text is assembled at run time from two halves so that no image built from this
// source holds the 17 bytes contiguously; otherwise a stub without payload would find itself.
void BuildSignatureText(char out[SIGNATURE_LENGTH]);
