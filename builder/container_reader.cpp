// Reading a container as the launcher reads it, and the verdict on it; portable, no OS headers.
#include "builder/container_reader.h"

#include <string.h>

#include <map>
#include <memory>

#include "builder/member_names.h"
#include "lz/szdd.h"

namespace sfxbuilder {
namespace {

constexpr size_t CHUNK_SIZE = 65536;
constexpr uint64_t LAST_DISTANCE = SEARCH_LIMIT - 1;

std::string FieldText(const char* field) {
  size_t length = 0;
  while (length < NAME_FIELD_SIZE && field[length] != 0) ++length;
  return std::string(field, length);
}

std::string Quoted(const std::string& name) { return "'" + name + "'"; }

void Add(std::vector<Problem>* problems, int32_t entry, const std::string& text) {
  problems->push_back(Problem{entry, text});
}

std::string DecodedName(const ReadOptions& options, const std::string& bytes) {
  std::string utf8;
  if (options.decodeName != nullptr && options.decodeName(bytes, &utf8, options.decodeContext)) return utf8;
  return bytes;
}

class NullSink final : public ByteSink {
 public:
  bool Write(const uint8_t*, size_t) override { return true; }
};

}  // namespace

const char* SearchFaultText(SearchFault fault) {
  switch (fault) {
    case SearchFault::None: return "no fault";
    case SearchFault::Unreadable: return "the file is empty or cannot be read";
    case SearchFault::OnlyFill: return "the last 32751 bytes are all fill bytes (0x1A); the launcher does not search";
    case SearchFault::NoSignature: return "no container trailer within the last 32750 bytes";
    case SearchFault::TrailerCut: return "the trailer's signature lies too near the end to hold a whole trailer";
    case SearchFault::CountNegative: return "the trailer's entry count is negative";
    case SearchFault::CountTooLarge: return "the trailer's entry count is above 256";
    case SearchFault::DirectoryBeforeStart: return "the directory would begin before the start of the file";
  }
  return "unknown fault";
}

SearchFault LocateTrailer(ByteSource* source, LocatedContainer* located) {
  *located = LocatedContainer{};
  uint64_t size = source->Size();
  located->fileSize = size;
  if (size == 0) return SearchFault::Unreadable;
  size_t window = size < TAIL_WINDOW ? (size_t)size : TAIL_WINDOW;
  std::unique_ptr<uint8_t[]> tail(new uint8_t[window]);
  if (!source->ReadAt(size - window, tail.get(), window)) return SearchFault::Unreadable;

  size_t fill = 0;
  while (fill < window && tail[window - 1 - fill] == FILL_BYTE) ++fill;
  located->fillRun = fill;
  if (fill >= SEARCH_LIMIT) return SearchFault::OnlyFill;

  char signature[SIGNATURE_LENGTH];
  BuildSignatureText(signature);
  uint64_t distance = 0;
  uint64_t last = window < LAST_DISTANCE ? window : LAST_DISTANCE;
  for (uint64_t d = fill > SIGNATURE_LENGTH ? fill : SIGNATURE_LENGTH; d <= last; ++d) {
    if (memcmp(tail.get() + (window - d), signature, SIGNATURE_LENGTH) == 0) {
      distance = d;
      break;
    }
  }
  if (distance == 0) return SearchFault::NoSignature;
  located->trailerDistance = distance;
  if (distance < TRAILER_SIZE) return SearchFault::TrailerCut;

  const uint8_t* trailer = tail.get() + (window - distance);
  int32_t count = ReadInt32Le(trailer + offsetof(ContainerTrailer, entryCount));
  located->entryCount = count;
  if (count < 0) return SearchFault::CountNegative;
  if (count > MAX_ENTRIES) return SearchFault::CountTooLarge;
  uint64_t directoryDistance = distance + (uint64_t)count * ENTRY_SIZE;
  if (directoryDistance > size) return SearchFault::DirectoryBeforeStart;
  located->directoryPosition = size - directoryDistance;
  return SearchFault::None;
}

bool LoadDirectory(ByteSource* source, const LocatedContainer& located, std::vector<DirectoryEntry>* entries) {
  entries->assign((size_t)located.entryCount, DirectoryEntry{});
  if (located.entryCount == 0) return true;
  return source->ReadAt(located.directoryPosition, reinterpret_cast<uint8_t*>(entries->data()),
                        entries->size() * ENTRY_SIZE);
}

std::string EntryStoredName(const DirectoryEntry& entry) { return FieldText(entry.storedName); }
std::string EntryExpandedName(const DirectoryEntry& entry) { return FieldText(entry.expandedName); }

bool IsCompressedEntry(const DirectoryEntry& entry) {
  return EntryStoredName(entry) != EntryExpandedName(entry);
}

int64_t EntryExpandedSize(ByteSource* source, const DirectoryEntry& entry) {
  int32_t length = EntryDataLength(entry);
  if (!IsCompressedEntry(entry)) return length > 0 ? length : 0;
  uint8_t header[sfxlz::SZDD_HEADER_SIZE];
  sfxlz::SzddHeader parsed;
  if (length < (int32_t)sizeof header || !source->ReadAt((uint64_t)EntryDataOffset(entry), header, sizeof header) ||
      sfxlz::ParseSzddHeader(header, sizeof header, &parsed) != sfxlz::LzError::Ok) {
    return -1;
  }
  return parsed.expandedLength;
}

bool ExpandEntry(ByteSource* source, const DirectoryEntry& entry, ByteSink* sink, std::string* error) {
  int32_t offset = EntryDataOffset(entry);
  int32_t length = EntryDataLength(entry);
  uint64_t remaining = length > 0 ? (uint64_t)length : 0;
  uint64_t position = offset >= 0 ? (uint64_t)offset : 0;
  if (remaining > 0 && (offset < 0 || position + remaining > source->Size())) {
    *error = "its data lies outside the file";
    return false;
  }
  std::vector<uint8_t> chunk(CHUNK_SIZE);
  if (!IsCompressedEntry(entry)) {
    while (remaining > 0) {
      size_t request = remaining < CHUNK_SIZE ? (size_t)remaining : CHUNK_SIZE;
      if (!source->ReadAt(position, chunk.data(), request)) {
        *error = "its data cannot be read";
        return false;
      }
      if (!sink->Write(chunk.data(), request)) {
        *error = "its data cannot be written";
        return false;
      }
      position += request;
      remaining -= request;
    }
    return true;
  }

  uint8_t header[sfxlz::SZDD_HEADER_SIZE];
  sfxlz::SzddHeader parsed;
  if (remaining < sizeof header || !source->ReadAt(position, header, sizeof header)) {
    *error = "it is compressed but holds no whole SZDD header";
    return false;
  }
  sfxlz::LzError headerError = sfxlz::ParseSzddHeader(header, sizeof header, &parsed);
  if (headerError != sfxlz::LzError::Ok) {
    *error = std::string("it is compressed but its stream is not SZDD: ") + sfxlz::LzErrorText(headerError);
    return false;
  }
  position += sizeof header;
  remaining -= sizeof header;

  std::unique_ptr<sfxlz::SzddStreamDecoder> decoder(new sfxlz::SzddStreamDecoder);
  sfxlz::SzddStreamInit(decoder.get(), parsed.expandedLength);
  std::vector<uint8_t> out(CHUNK_SIZE);
  sfxlz::LzError status = sfxlz::LzError::Ok;
  while (status == sfxlz::LzError::Ok) {
    size_t request = remaining < CHUNK_SIZE ? (size_t)remaining : CHUNK_SIZE;
    if (request > 0 && !source->ReadAt(position, chunk.data(), request)) {
      *error = "its data cannot be read";
      return false;
    }
    position += request;
    remaining -= request;
    size_t used = 0;
    // Drains the chunk, then whatever a match still owes the output.
    for (;;) {
      size_t consumed = 0, produced = 0;
      status = sfxlz::SzddStreamDecode(decoder.get(), chunk.data() + used, request - used, &consumed, out.data(),
                                       out.size(), &produced);
      used += consumed;
      if (produced > 0 && !sink->Write(out.data(), produced)) {
        *error = "its data cannot be written";
        return false;
      }
      if (status != sfxlz::LzError::Ok || (consumed == 0 && produced == 0)) break;
    }
    if (status == sfxlz::LzError::Ok && used < request) status = sfxlz::LzError::LengthMismatch;
    if (remaining == 0) break;
  }
  if (status == sfxlz::LzError::Ok) status = sfxlz::SzddStreamFinish(decoder.get());
  if (status != sfxlz::LzError::Ok) {
    *error = std::string("its SZDD stream does not decode to its header's length: ") + sfxlz::LzErrorText(status);
    return false;
  }
  if (parsed.expandedLength == 0) {
    // The LZ service then reports 0 bytes written, which the launcher counts as a failed expansion.
    *error = "it is compressed but expands to an empty file, which the launcher treats as a failure";
    return false;
  }
  return true;
}

void CheckDirectory(const std::vector<DirectoryEntry>& entries, uint64_t directoryPosition,
                    const ReadOptions& options, std::vector<Problem>* problems) {
  int32_t count = (int32_t)entries.size();
  if (count == 0) {
    Add(problems, -1, "the directory has no entries; the launcher reports the container damaged");
    return;
  }
  if (count == 1) {
    Add(problems, -1, "the directory holds only the stub's entry; the launcher has no program to start");
  }
  // The folded names already in the work folder, and the member that put each there.
  std::map<std::string, int32_t> seen;
  for (int32_t i = 1; i < count; ++i) {
    const DirectoryEntry& e = entries[(size_t)i];
    bool namesPlain = true;
    const char* fields[2] = {e.storedName, e.expandedName};
    const char* labels[2] = {"stored name", "expanded name"};
    for (int k = 0; k < 2; ++k) {
      if (!IsPlainMemberName(fields[k], options.isLeadByte)) {
        Add(problems, i, std::string("its ") + labels[k] + " is not a plain file name");
        namesPlain = false;
      } else if (options.windowsTarget) {
        const char* why = WindowsNameProblem(FieldText(fields[k]), options.isLeadByte);
        if (why != nullptr) Add(problems, i, std::string("its ") + labels[k] + " " + why);
      }
    }
    int64_t offset = EntryDataOffset(e);
    int64_t length = EntryDataLength(e);
    if (length > 0 && (offset < 0 || (uint64_t)(offset + length) > directoryPosition)) {
      Add(problems, i, "its data does not lie inside the file before the directory");
    }
    if (!namesPlain) continue;
    std::string stored = EntryStoredName(e);
    std::string expanded = EntryExpandedName(e);
    std::string storedKey = CaseFoldKey(DecodedName(options, stored));
    std::string expandedKey = CaseFoldKey(DecodedName(options, expanded));
    if (stored != expanded && storedKey == expandedKey) {
      Add(problems, i, "its stored and expanded names differ only in letter case, so on Windows the expansion "
                       "would overwrite its own source");
    }
    for (const std::string* key : {&storedKey, &expandedKey}) {
      auto found = seen.find(*key);
      if (found != seen.end() && found->second != i) {
        Add(problems, i, "its name " + Quoted(key == &storedKey ? stored : expanded) +
                             " names the same file as a name of entry " + std::to_string(found->second) +
                             " when letter case is ignored");
      } else {
        seen.emplace(*key, i);
      }
    }
  }
  int32_t faultIndex = -1;
  // The launcher's own check, with its device-name rule when the stub is a Windows one: the
  // name checks above say why, this one makes sure nothing the launcher refuses slips through.
  if (ValidateDirectory(entries.data(), count, (int64_t)directoryPosition, options.isLeadByte, &faultIndex,
                        options.windowsTarget) != DirectoryFault::None &&
      problems->empty()) {
    Add(problems, faultIndex, "the launcher's directory check refuses this entry");
  }
}

bool VerifyContainer(ByteSource* source, const ReadOptions& options, std::vector<Problem>* problems) {
  problems->clear();
  LocatedContainer located;
  SearchFault fault = LocateTrailer(source, &located);
  if (fault != SearchFault::None) {
    Add(problems, -1, SearchFaultText(fault));
    return false;
  }
  std::vector<DirectoryEntry> entries;
  if (!LoadDirectory(source, located, &entries)) {
    Add(problems, -1, "the directory cannot be read");
    return false;
  }
  CheckDirectory(entries, located.directoryPosition, options, problems);
  for (size_t i = 1; i < entries.size(); ++i) {
    const DirectoryEntry& e = entries[i];
    if (!IsCompressedEntry(e)) continue;
    NullSink sink;
    std::string error;
    if (EntryDataLength(e) <= 0) {
      Add(problems, (int32_t)i, "it is compressed but stores no bytes, so its expansion fails");
    } else if (!ExpandEntry(source, e, &sink, &error)) {
      Add(problems, (int32_t)i, error);
    }
  }
  return problems->empty();
}

}  // namespace sfxbuilder
