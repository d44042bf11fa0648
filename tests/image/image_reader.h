// Readers of built executables for the inspect tests: PE headers, imports and resources, ELF dynamic needs; test-only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Throws std::runtime_error naming the file when it cannot be read.
Bytes ReadWholeFile(const std::string& path);

uint16_t Le16(const Bytes& b, size_t at);  // throw when the field lies beyond the end
uint32_t Le32(const Bytes& b, size_t at);

struct PeResource {
  uint32_t type, id, language;
  bool namedType, namedId;  // a string instead of a number at that level; the ids are then 0
  Bytes data;
};

struct PeImage {
  uint16_t machine = 0;
  uint16_t magic = 0;  // 0x10B PE32, 0x20B PE32+
  uint16_t subsystem = 0;
  std::vector<std::string> importedDlls;  // in directory order, the delay-loaded ones after the others
  std::vector<PeResource> resources;      // in the directory's order: type, then id, then language
};

// Parses the headers, the import and delay-import directories and the whole resource tree. Every
// offset is bounds-checked: a malformed file throws std::runtime_error instead of reading past the end.
PeImage ReadPeImage(const Bytes& file);

struct ElfImage {
  int elfClass = 0;  // 1: 32-bit, 2: 64-bit
  std::string interpreter;
  std::vector<std::string> needed;
  std::vector<std::string> sectionNames;
};

ElfImage ReadElfImage(const Bytes& file);

// UTF-16LE code units to UTF-8; throws on an unpaired surrogate.
std::string Utf16ToUtf8(const uint16_t* units, size_t count);
