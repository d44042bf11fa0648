// Bounds-checked readers of PE and ELF files for the inspect tests; test-only, no OS headers.
#include "image_reader.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what); }

void Require(const Bytes& b, size_t at, size_t length, const char* what) {
  if (at > b.size() || length > b.size() - at) Fail(std::string(what) + " lies beyond the end of the file");
}

std::string ReadCString(const Bytes& b, size_t at, const char* what) {
  Require(b, at, 1, what);
  std::string text;
  while (at < b.size() && b[at] != 0) text.push_back((char)b[at++]);
  if (at == b.size()) Fail(std::string(what) + " has no terminating NUL");
  return text;
}

uint64_t Le64(const Bytes& b, size_t at) { return Le32(b, at) | (uint64_t)Le32(b, at + 4) << 32; }

struct PeSection {
  uint32_t virtualAddress, virtualSize, rawOffset, rawSize;
};

class PeLayout {
 public:
  explicit PeLayout(std::vector<PeSection> sections) : sections_(std::move(sections)) {}

  // File offset of an RVA whose `length` bytes must all come from the section's raw data.
  size_t OffsetOf(uint32_t rva, size_t length, const Bytes& file, const char* what) const {
    for (const PeSection& s : sections_) {
      if (rva >= s.virtualAddress && rva - s.virtualAddress < s.rawSize) {
        size_t inSection = rva - s.virtualAddress;
        if (length > s.rawSize - inSection) Fail(std::string(what) + " runs past its section's data");
        Require(file, (size_t)s.rawOffset + inSection, length, what);
        return (size_t)s.rawOffset + inSection;
      }
    }
    Fail(std::string(what) + " is not in any section's data");
  }

 private:
  std::vector<PeSection> sections_;
};

std::vector<std::string> ReadImportNames(const Bytes& file, const PeLayout& layout, uint32_t rva, uint32_t size,
                                         size_t descriptorSize, size_t nameField, const char* what) {
  std::vector<std::string> names;
  if (rva == 0 || size == 0) return names;
  for (uint32_t at = rva;; at += (uint32_t)descriptorSize) {
    size_t offset = layout.OffsetOf(at, descriptorSize, file, what);
    bool allZero = true;
    for (size_t i = 0; i < descriptorSize; ++i) allZero = allZero && file[offset + i] == 0;
    if (allZero) break;
    uint32_t nameRva = Le32(file, offset + nameField);
    names.push_back(ReadCString(file, layout.OffsetOf(nameRva, 1, file, what), what));
    if (names.size() > 4096) Fail(std::string(what) + " has no terminating descriptor");
  }
  return names;
}

constexpr uint32_t HIGH_BIT = 0x80000000u;
constexpr int RESOURCE_LEVELS = 3;  // type, id, language

void WalkResources(const Bytes& file, const PeLayout& layout, uint32_t rootRva, uint32_t rootSize, uint32_t dirOffset,
                   int level, PeResource path, std::vector<PeResource>& out) {
  if (level >= RESOURCE_LEVELS) Fail("resource tree deeper than type, id and language");
  if (dirOffset > rootSize || rootSize - dirOffset < 16) Fail("resource directory outside the resource area");
  size_t dir = layout.OffsetOf(rootRva + dirOffset, 16, file, "resource directory");
  size_t count = (size_t)Le16(file, dir + 12) + Le16(file, dir + 14);
  for (size_t i = 0; i < count; ++i) {
    size_t entry = layout.OffsetOf(rootRva + dirOffset + 16 + (uint32_t)(8 * i), 8, file, "resource entry");
    uint32_t name = Le32(file, entry), target = Le32(file, entry + 4);
    bool named = (name & HIGH_BIT) != 0;
    uint32_t number = named ? 0 : name;
    if (level == 0) { path.type = number; path.namedType = named; }
    if (level == 1) { path.id = number; path.namedId = named; }
    if (level == 2) {
      if (named) Fail("a resource language given as a string");
      path.language = number;
    }
    if (target & HIGH_BIT) {
      WalkResources(file, layout, rootRva, rootSize, target & ~HIGH_BIT, level + 1, path, out);
      continue;
    }
    if (level != RESOURCE_LEVELS - 1) Fail("resource data above the language level");
    if (target > rootSize || rootSize - target < 16) Fail("resource data entry outside the resource area");
    size_t leaf = layout.OffsetOf(rootRva + target, 16, file, "resource data entry");
    uint32_t dataRva = Le32(file, leaf), dataSize = Le32(file, leaf + 4);
    size_t data = layout.OffsetOf(dataRva, dataSize, file, "resource data");
    path.data.assign(file.begin() + (long)data, file.begin() + (long)(data + dataSize));
    out.push_back(path);
  }
}

}  // namespace

Bytes ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail("cannot open " + path);
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) Fail("cannot read " + path);
  return bytes;
}

uint16_t Le16(const Bytes& b, size_t at) {
  Require(b, at, 2, "a 16-bit field");
  return (uint16_t)(b[at] | b[at + 1] << 8);
}

uint32_t Le32(const Bytes& b, size_t at) {
  Require(b, at, 4, "a 32-bit field");
  return (uint32_t)b[at] | (uint32_t)b[at + 1] << 8 | (uint32_t)b[at + 2] << 16 | (uint32_t)b[at + 3] << 24;
}

PeImage ReadPeImage(const Bytes& file) {
  if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z') Fail("no MZ header");
  size_t pe = Le32(file, 0x3C);
  Require(file, pe, 24, "PE header");
  if (file[pe] != 'P' || file[pe + 1] != 'E' || file[pe + 2] != 0 || file[pe + 3] != 0) Fail("no PE signature");
  PeImage image;
  size_t coff = pe + 4;
  image.machine = Le16(file, coff);
  uint16_t sectionCount = Le16(file, coff + 2);
  uint16_t optionalSize = Le16(file, coff + 16);
  size_t optional = coff + 20;
  Require(file, optional, optionalSize, "optional header");
  image.magic = Le16(file, optional);
  if (image.magic != 0x10B && image.magic != 0x20B) Fail("optional header magic is neither PE32 nor PE32+");
  image.subsystem = Le16(file, optional + 68);
  size_t directoryCountAt = optional + (image.magic == 0x10B ? 92 : 108);
  uint32_t directoryCount = Le32(file, directoryCountAt);
  if (directoryCount > 16 || 4 + 8 * (size_t)directoryCount > optionalSize - (directoryCountAt - optional))
    Fail("data directories do not fit the optional header");
  auto directory = [&](uint32_t index, uint32_t& rva, uint32_t& size) {
    rva = size = 0;
    if (index < directoryCount) {
      rva = Le32(file, directoryCountAt + 4 + 8 * index);
      size = Le32(file, directoryCountAt + 8 + 8 * index);
    }
  };

  std::vector<PeSection> sections;
  size_t sectionTable = optional + optionalSize;
  Require(file, sectionTable, 40 * (size_t)sectionCount, "section table");
  for (size_t i = 0; i < sectionCount; ++i) {
    size_t s = sectionTable + 40 * i;
    sections.push_back({Le32(file, s + 12), Le32(file, s + 8), Le32(file, s + 20), Le32(file, s + 16)});
  }
  PeLayout layout(std::move(sections));

  uint32_t rva, size;
  directory(1, rva, size);
  image.importedDlls = ReadImportNames(file, layout, rva, size, 20, 12, "import descriptor");
  directory(13, rva, size);
  for (std::string& name : ReadImportNames(file, layout, rva, size, 32, 4, "delay-import descriptor"))
    image.importedDlls.push_back(name);
  directory(2, rva, size);
  if (rva != 0 && size != 0) WalkResources(file, layout, rva, size, 0, 0, PeResource{}, image.resources);
  return image;
}

ElfImage ReadElfImage(const Bytes& file) {
  if (file.size() < 16 || file[0] != 0x7F || file[1] != 'E' || file[2] != 'L' || file[3] != 'F') Fail("no ELF header");
  if (file[5] != 1) Fail("not a little-endian ELF file");
  ElfImage image;
  image.elfClass = file[4];
  if (image.elfClass != 1 && image.elfClass != 2) Fail("unknown ELF class");
  bool wide = image.elfClass == 2;
  auto word = [&](size_t at) -> uint64_t { return wide ? Le64(file, at) : Le32(file, at); };
  uint64_t phOffset = word(wide ? 32 : 28), shOffset = word(wide ? 40 : 32);
  size_t headerBase = wide ? 52 : 40;
  uint16_t phSize = Le16(file, headerBase + 2), phCount = Le16(file, headerBase + 4);
  uint16_t shSize = Le16(file, headerBase + 6), shCount = Le16(file, headerBase + 8);
  uint16_t shNames = Le16(file, headerBase + 10);

  struct Segment { uint32_t type; uint64_t offset, vaddr, fileSize; };
  std::vector<Segment> segments;
  for (size_t i = 0; i < phCount; ++i) {
    size_t p = (size_t)phOffset + (size_t)phSize * i;
    Require(file, p, phSize, "program header");
    if (wide) segments.push_back({Le32(file, p), Le64(file, p + 8), Le64(file, p + 16), Le64(file, p + 32)});
    else segments.push_back({Le32(file, p), Le32(file, p + 4), Le32(file, p + 8), Le32(file, p + 16)});
  }
  auto offsetOfAddress = [&](uint64_t vaddr) -> size_t {
    for (const Segment& s : segments)
      if (s.type == 1 && vaddr >= s.vaddr && vaddr - s.vaddr < s.fileSize) return (size_t)(s.offset + vaddr - s.vaddr);
    Fail("dynamic address outside every loaded segment");
  };

  for (const Segment& s : segments) {
    if (s.type == 3) image.interpreter = ReadCString(file, (size_t)s.offset, "interpreter");
    if (s.type != 2) continue;
    size_t entrySize = wide ? 16 : 8;
    std::vector<uint64_t> neededOffsets;
    uint64_t stringTable = 0;
    for (size_t at = (size_t)s.offset; at + entrySize <= s.offset + s.fileSize; at += entrySize) {
      uint64_t tag = word(at), value = word(at + entrySize / 2);
      if (tag == 0) break;
      if (tag == 1) neededOffsets.push_back(value);
      if (tag == 5) stringTable = value;
    }
    if (!neededOffsets.empty() && stringTable == 0) Fail("DT_NEEDED without a string table");
    for (uint64_t n : neededOffsets) image.needed.push_back(ReadCString(file, offsetOfAddress(stringTable) + n, "DT_NEEDED"));
  }

  if (shCount != 0 && shNames < shCount) {
    auto sectionField = [&](size_t index, size_t wideAt, size_t narrowAt) {
      size_t s = (size_t)shOffset + (size_t)shSize * index;
      Require(file, s, shSize, "section header");
      return wide ? Le64(file, s + wideAt) : Le32(file, s + narrowAt);
    };
    size_t names = (size_t)sectionField(shNames, 24, 16);
    for (size_t i = 0; i < shCount; ++i)
      image.sectionNames.push_back(ReadCString(file, names + Le32(file, (size_t)shOffset + (size_t)shSize * i), "section name"));
  }
  return image;
}

std::string Utf16ToUtf8(const uint16_t* units, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    uint32_t c = units[i];
    if (c >= 0xD800 && c < 0xDC00) {
      if (i + 1 == count || units[i + 1] < 0xDC00 || units[i + 1] >= 0xE000) Fail("unpaired high surrogate");
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if (c >= 0xDC00 && c < 0xE000) {
      Fail("unpaired low surrogate");
    }
    if (c < 0x80) {
      out.push_back((char)c);
    } else if (c < 0x800) {
      out.push_back((char)(0xC0 | c >> 6));
      out.push_back((char)(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back((char)(0xE0 | c >> 12));
      out.push_back((char)(0x80 | (c >> 6 & 0x3F)));
      out.push_back((char)(0x80 | (c & 0x3F)));
    } else {
      out.push_back((char)(0xF0 | c >> 18));
      out.push_back((char)(0x80 | (c >> 12 & 0x3F)));
      out.push_back((char)(0x80 | (c >> 6 & 0x3F)));
      out.push_back((char)(0x80 | (c & 0x3F)));
    }
  }
  return out;
}
