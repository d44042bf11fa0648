// Reading a container as the launcher reads it: the trailer search, the directory, the members,
// and a verdict on whether the launcher will run it; portable, no OS headers.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "builder/byte_io.h"
#include "container/names.h"

namespace sfxbuilder {

enum class SearchFault {
  None = 0,
  Unreadable,            // the file is empty or its last bytes cannot be read
  OnlyFill,              // the last 32751 bytes or more are all fill bytes
  NoSignature,           // no signature text within 32750 bytes of the end
  TrailerCut,            // the signature lies too near the end to hold a whole trailer
  CountNegative,
  CountTooLarge,         // above 256 entries
  DirectoryBeforeStart,  // n entries do not fit in front of the trailer
};

const char* SearchFaultText(SearchFault fault);

struct LocatedContainer {
  uint64_t fileSize = 0;
  uint64_t trailerDistance = 0;    // from the trailer's first byte to the end of the file
  uint64_t fillRun = 0;
  int32_t entryCount = 0;
  uint64_t directoryPosition = 0;  // valid when the search succeeded
};

// The launcher's search: the last 32768 bytes (or the whole of a shorter file), the run of fill
// bytes at the very end, then the signature nearest the end within 32750 bytes, the confirmation
// and the count.
SearchFault LocateTrailer(ByteSource* source, LocatedContainer* located);

// Reads the n directory records in front of the trailer.
bool LoadDirectory(ByteSource* source, const LocatedContainer& located, std::vector<DirectoryEntry>* entries);

std::string EntryStoredName(const DirectoryEntry& entry);
std::string EntryExpandedName(const DirectoryEntry& entry);
// The two names differ byte for byte: the launcher expands the member.
bool IsCompressedEntry(const DirectoryEntry& entry);

struct ReadOptions {
  LeadBytePredicate isLeadByte = nullptr;
  bool windowsTarget = false;   // names must also be ones Windows can create
  // Turns a name from the container's bytes into UTF-8 for case-blind comparison and display;
  // null: the bytes are taken as UTF-8.
  bool (*decodeName)(const std::string& bytes, std::string* utf8, const void* context) = nullptr;
  const void* decodeContext = nullptr;
};

// Streams one member's stored bytes, expanded when the entry is compressed, into sink. A
// compressed member must be a whole SZDD stream that decodes to its header's length.
bool ExpandEntry(ByteSource* source, const DirectoryEntry& entry, ByteSink* sink, std::string* error);

// What list shows: the expanded size comes from the SZDD header; -1 when it cannot be read.
int64_t EntryExpandedSize(ByteSource* source, const DirectoryEntry& entry);

struct Problem {
  int32_t entry;   // -1: the container as a whole
  std::string text;
};

// Everything the launcher relies on, each fault named. True only when there is none, that is
// when the launcher will run the container and hand its program every member intact.
bool VerifyContainer(ByteSource* source, const ReadOptions& options, std::vector<Problem>* problems);

// The checks of one directory that need no member bytes; used by VerifyContainer and by extract.
void CheckDirectory(const std::vector<DirectoryEntry>& entries, uint64_t directoryPosition,
                    const ReadOptions& options, std::vector<Problem>* problems);

}  // namespace sfxbuilder
