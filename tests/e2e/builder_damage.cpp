// Test helper: damages a container in one named way, in place, for the CLI tests of sfxrun-pack.
// Usage: builder_damage FILE ACTION [ARG]
//   cut N            drop the last N bytes
//   count N          set the trailer's entry count
//   length I DELTA   add DELTA to entry I's dataLength
//   offset I VALUE   set entry I's dataOffset
//   byte POS VALUE   set the byte at POS (negative: from the end)
//   name I TEXT      set both names of entry I
//   fill N           append N fill bytes (0x1A)
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "container/records.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: builder_damage FILE ACTION [ARG...]\n");
    return 2;
  }
  FILE* f = fopen(argv[1], "rb");
  if (f == nullptr) return perror(argv[1]), 1;
  std::vector<uint8_t> bytes;
  int c;
  while ((c = fgetc(f)) != EOF) bytes.push_back((uint8_t)c);
  fclose(f);
  if (bytes.size() < TRAILER_SIZE) return fprintf(stderr, "too short\n"), 1;
  uint8_t* trailer = bytes.data() + bytes.size() - TRAILER_SIZE;
  int32_t count = ReadInt32Le(trailer + 256);
  auto entry = [&](int index) {
    return reinterpret_cast<DirectoryEntry*>(trailer - (size_t)(count - index) * ENTRY_SIZE);
  };
  const char* action = argv[2];
  long a = argc > 3 ? strtol(argv[3], nullptr, 0) : 0;
  long b = argc > 4 ? strtol(argv[4], nullptr, 0) : 0;
  if (strcmp(action, "cut") == 0) {
    bytes.resize(bytes.size() - (size_t)a);
  } else if (strcmp(action, "count") == 0) {
    WriteInt32Le(trailer + 256, (int32_t)a);
  } else if (strcmp(action, "length") == 0) {
    WriteInt32Le(entry((int)a)->dataLength, EntryDataLength(*entry((int)a)) + (int32_t)b);
  } else if (strcmp(action, "offset") == 0) {
    WriteInt32Le(entry((int)a)->dataOffset, (int32_t)b);
  } else if (strcmp(action, "byte") == 0) {
    bytes[a >= 0 ? (size_t)a : bytes.size() - (size_t)(-a)] = (uint8_t)b;
  } else if (strcmp(action, "name") == 0 && argc > 4) {
    DirectoryEntry* e = entry((int)a);
    memset(e->storedName, 0, NAME_FIELD_SIZE);
    memset(e->expandedName, 0, NAME_FIELD_SIZE);
    strncpy(e->storedName, argv[4], NAME_FIELD_SIZE - 1);
    strncpy(e->expandedName, argv[4], NAME_FIELD_SIZE - 1);
  } else if (strcmp(action, "fill") == 0) {
    bytes.insert(bytes.end(), (size_t)a, FILL_BYTE);
  } else {
    fprintf(stderr, "unknown action %s\n", action);
    return 2;
  }
  f = fopen(argv[1], "wb");
  if (f == nullptr || fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || fclose(f) != 0) {
    return perror(argv[1]), 1;
  }
  return 0;
}
