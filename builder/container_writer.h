// Writing a container: the plan (names, stamps, limits, checked before a byte is written) and the
// writer that appends members, directory and trailer to the stub; portable, no OS headers.
#pragma once

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "builder/byte_io.h"
#include "builder/codepage.h"
#include "container/records.h"

namespace sfxbuilder {

constexpr int MAX_MEMBERS = MAX_ENTRIES - 1;
constexpr int64_t EARLIEST_STAMP = INT32_MIN;  // 1901-12-13 20:45:52 UTC
constexpr int64_t LATEST_STAMP = INT32_MAX;    // 2038-01-19 03:14:07 UTC
constexpr uint64_t MAX_DATA_OFFSET = INT32_MAX;

// What the plan needs of one input file; its bytes are handed to the writer later.
struct MemberInput {
  std::string name;          // the file's own name, UTF-8 as given
  uint64_t size = 0;
  int64_t modifiedSeconds = 0;
};

struct StubInput {
  std::string name;          // the stub's file name
  const uint8_t* bytes = nullptr;
  size_t size = 0;
  int64_t modifiedSeconds = 0;
};

struct PackOptions {
  bool store = false;              // never compress
  bool windowsTarget = false;      // names must be ones Windows creates, in an 8-bit code page
  const CodePage* codePage = nullptr;  // Windows stubs: the code page the names are written in
};

struct PlannedEntry {
  std::string displayName;     // UTF-8, for messages
  std::string expandedName;    // in the target's bytes
  std::string compressedName;  // the stored name should the member be compressed; empty: never
  std::string compressedKey;   // its case-folded form
  uint8_t missingChar = 0;
  int32_t modifiedTime = 0;
};

struct ContainerPlan {
  PackOptions options;
  std::vector<PlannedEntry> entries;  // entry 0 is the stub
  // Folded expanded names of the members, and the member that claimed each.
  std::map<std::string, std::string> expandedKeys;
  const uint8_t* stubBytes = nullptr;  // the caller's, kept alive until the writer is done
  size_t stubSize = 0;
};

// Checks all that can be checked before writing: counts, names (plain by the launcher's rules,
// convertible, no two expanded names naming one file when case is ignored), stamps, the stub. On
// failure *error says why and names the file. Stored names are checked as members are written,
// since only compression tells whether a member takes its stored name.
bool PlanContainer(const StubInput& stub, const std::vector<MemberInput>& members, const PackOptions& options,
                   ContainerPlan* plan, std::string* error);

struct PackTotals {
  uint64_t bytesIn = 0;        // the members' own sizes
  uint64_t bytesOut = 0;       // what the members take in the container
  uint64_t containerSize = 0;
  int compressedMembers = 0;
};

class ContainerWriter {
 public:
  ContainerWriter(const ContainerPlan& plan, ByteSink* sink) : plan_(plan), sink_(sink) {}
  // Writes the stub; then WriteMember for members 1..n-1 in order; then Finish.
  bool Begin(std::string* error);
  bool WriteMember(size_t index, const uint8_t* data, size_t size, std::string* error);
  bool Finish(std::string* error);
  const PackTotals& totals() const { return totals_; }

 private:
  bool Emit(const uint8_t* data, size_t size, std::string* error);
  const ContainerPlan& plan_;
  ByteSink* sink_;
  std::vector<DirectoryEntry> directory_;
  std::map<std::string, std::string> storedKeys_;  // stored names of the members compressed so far
  uint64_t position_ = 0;
  PackTotals totals_;
};

// Plans and writes in one go, every member in memory: for tests and small tools.
bool BuildContainer(const StubInput& stub, const std::vector<MemberInput>& members,
                    const std::vector<std::vector<uint8_t>>& data, const PackOptions& options, ByteSink* sink,
                    std::string* error);

// Whether the bytes begin like a Windows executable (the MZ header).
bool LooksLikeWindowsImage(const uint8_t* bytes, size_t size);

}  // namespace sfxbuilder
