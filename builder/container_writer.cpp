// Writing a container: plan, then stub, members, directory and trailer; portable, no OS headers.
#include "builder/container_writer.h"

#include <string.h>

#include <map>

#include "builder/container_reader.h"
#include "builder/member_names.h"
#include "lz/szdd.h"

namespace sfxbuilder {
namespace {

std::string Quoted(const std::string& name) { return "'" + name + "'"; }

// The name in the bytes the target's launcher reads, or an error naming the member.
bool TargetName(const std::string& name, const PackOptions& options, std::string* out, std::string* error) {
  if (!options.windowsTarget) {
    *out = name;
    return true;
  }
  if (options.codePage == nullptr) {
    if (!IsAsciiOnly(name)) {
      *error = "name " + Quoted(name) +
               " is not ASCII; a Windows stub reads names in an 8-bit code page: give --codepage N "
               "(for example 932 or 1252)";
      return false;
    }
    *out = name;
    return true;
  }
  if (!ConvertFromUtf8(*options.codePage, name, out)) {
    *error = "name " + Quoted(name) + " cannot be written in code page " + std::to_string(options.codePage->number);
    return false;
  }
  return true;
}

bool CheckName(const std::string& display, const std::string& bytes, const PackOptions& options,
               std::string* error) {
  LeadBytePredicate isLeadByte = options.codePage != nullptr ? options.codePage->isLeadByte : nullptr;
  if (bytes.size() > MAX_NAME_LENGTH) {
    *error = "name " + Quoted(display) + " is " + std::to_string(bytes.size()) + " bytes long; at most " +
             std::to_string(MAX_NAME_LENGTH) + " fit";
    return false;
  }
  char field[NAME_FIELD_SIZE] = {};
  memcpy(field, bytes.data(), bytes.size());
  if (bytes.find('\0') != std::string::npos || !IsPlainMemberName(field, isLeadByte)) {
    *error = "name " + Quoted(display) +
             " is not a plain file name (empty, \".\", \"..\", or holding '\\', '/' or ':')";
    return false;
  }
  if (options.windowsTarget) {
    const char* why = WindowsNameProblem(bytes, isLeadByte);
    if (why != nullptr) {
      *error = "name " + Quoted(display) + " " + why;
      return false;
    }
  }
  return true;
}

bool CheckStamp(const std::string& display, int64_t seconds, std::string* error) {
  if (seconds >= EARLIEST_STAMP && seconds <= LATEST_STAMP) return true;
  *error = Quoted(display) + ": time stamp " + std::to_string(seconds) +
           " lies outside 1901-12-13 20:45:52 .. 2038-01-19 03:14:07 UTC, which the launcher cannot set";
  return false;
}

std::string Utf8Of(const std::string& bytes, const PackOptions& options) {
  std::string utf8;
  if (options.codePage != nullptr && ConvertToUtf8(*options.codePage, bytes, &utf8)) return utf8;
  return bytes;
}

void FillName(char* field, const std::string& name) {
  memset(field, 0, NAME_FIELD_SIZE);
  memcpy(field, name.data(), name.size());
}

}  // namespace

bool LooksLikeWindowsImage(const uint8_t* bytes, size_t size) {
  return size >= 2 && bytes[0] == 'M' && bytes[1] == 'Z';
}

bool PlanContainer(const StubInput& stub, const std::vector<MemberInput>& members, const PackOptions& options,
                   ContainerPlan* plan, std::string* error) {
  *plan = ContainerPlan{};
  plan->options = options;
  if (members.empty()) {
    *error = "no program to pack";
    return false;
  }
  if (members.size() > (size_t)MAX_MEMBERS) {
    *error = std::to_string(members.size()) + " members given; a container holds at most " +
             std::to_string(MAX_MEMBERS);
    return false;
  }
  if (stub.size == 0) {
    *error = "stub " + Quoted(stub.name) + " is empty";
    return false;
  }
  if (stub.size > MAX_DATA_OFFSET) {
    *error = "stub " + Quoted(stub.name) + " is 2 GiB or larger; the members would lie beyond the launcher's reach";
    return false;
  }
  // A stub that already passes the launcher's search is a container, not a bare stub: its old
  // payload would ride along unseen inside entry 0.
  MemorySource stubSource(stub.bytes, stub.size);
  LocatedContainer located;
  SearchFault fault = LocateTrailer(&stubSource, &located);
  if (located.trailerDistance != 0) {
    (void)fault;
    *error = "stub " + Quoted(stub.name) +
             " already carries a container trailer near its end; give the bare stub, not a packed container";
    return false;
  }

  PlannedEntry head;
  head.displayName = stub.name;
  if (!TargetName(stub.name, options, &head.expandedName, error)) return false;
  if (head.expandedName.size() > MAX_NAME_LENGTH || head.expandedName.empty()) {
    *error = "stub name " + Quoted(stub.name) + " does not fit a name field of 255 bytes";
    return false;
  }
  if (!CheckStamp(stub.name, stub.modifiedSeconds, error)) return false;
  head.modifiedTime = (int32_t)stub.modifiedSeconds;
  plan->entries.push_back(head);

  LeadBytePredicate isLeadByte = options.codePage != nullptr ? options.codePage->isLeadByte : nullptr;
  for (const MemberInput& member : members) {
    PlannedEntry entry;
    entry.displayName = member.name;
    if (!TargetName(member.name, options, &entry.expandedName, error)) return false;
    if (!CheckName(member.name, entry.expandedName, options, error)) return false;
    if (!CheckStamp(member.name, member.modifiedSeconds, error)) return false;
    entry.modifiedTime = (int32_t)member.modifiedSeconds;
    if (!options.store && member.size > 0) {
      std::string compressed = CompressedNameOf(entry.expandedName, isLeadByte, &entry.missingChar);
      // Expanding data_ into DATA_ would, on a case-blind file system, overwrite its own source.
      if (!NamesEqualIgnoringAsciiCase(compressed, entry.expandedName, isLeadByte) &&
          CaseFoldKey(Utf8Of(compressed, options)) != CaseFoldKey(Utf8Of(entry.expandedName, options))) {
        entry.compressedName = compressed;
      }
    }
    std::string key = CaseFoldKey(entry.displayName);
    auto found = plan->expandedKeys.find(key);
    if (found != plan->expandedKeys.end()) {
      *error = "members " + Quoted(found->second) + " and " + Quoted(member.name) +
               " name the same file when letter case is ignored";
      return false;
    }
    plan->expandedKeys.emplace(key, member.name);
    if (!entry.compressedName.empty()) entry.compressedKey = CaseFoldKey(Utf8Of(entry.compressedName, options));
    plan->entries.push_back(entry);
  }
  plan->stubBytes = stub.bytes;
  plan->stubSize = stub.size;
  return true;
}

bool ContainerWriter::Emit(const uint8_t* data, size_t size, std::string* error) {
  if (size > 0 && !sink_->Write(data, size)) {
    *error = "cannot write the container";
    return false;
  }
  position_ += size;
  return true;
}

bool ContainerWriter::Begin(std::string* error) {
  const PlannedEntry& head = plan_.entries[0];
  DirectoryEntry entry = {};
  FillName(entry.storedName, head.expandedName);
  FillName(entry.expandedName, head.expandedName);
  WriteInt64Le(entry.modifiedTime, head.modifiedTime);
  WriteInt32Le(entry.dataOffset, 0);
  WriteInt32Le(entry.dataLength, (int32_t)plan_.stubSize);
  directory_.assign(1, entry);
  return Emit(plan_.stubBytes, plan_.stubSize, error);
}

bool ContainerWriter::WriteMember(size_t index, const uint8_t* data, size_t size, std::string* error) {
  const PlannedEntry& planned = plan_.entries[index];
  if (position_ > MAX_DATA_OFFSET) {
    *error = "member " + Quoted(planned.displayName) + " would begin at byte " + std::to_string(position_) +
             ", beyond the 2 GiB the launcher can reach";
    return false;
  }
  std::vector<uint8_t> encoded;
  bool compress = !planned.compressedName.empty() && size > 0 && size <= UINT32_MAX;
  if (compress) {
    if (sfxlz::SzddEncode(data, size, planned.missingChar, &encoded) != sfxlz::LzError::Ok) {
      *error = "member " + Quoted(planned.displayName) + " cannot be compressed";
      return false;
    }
    // The header alone costs 14 bytes; a member that does not shrink is stored as it is.
    compress = encoded.size() < size;
  }
  if (compress) {
    // The launcher writes the stored file into the same folder as every expanded one: it must not
    // replace a member's file, nor share its name with another's stored file.
    auto expanded = plan_.expandedKeys.find(planned.compressedKey);
    auto stored = storedKeys_.find(planned.compressedKey);
    if (expanded != plan_.expandedKeys.end() || stored != storedKeys_.end()) {
      *error = "member " + Quoted(planned.displayName) + " would be stored as " +
               Quoted(Utf8Of(planned.compressedName, plan_.options)) + ", which names the same file as " +
               (expanded != plan_.expandedKeys.end() ? "member " + Quoted(expanded->second)
                                                     : "the stored name of " + Quoted(stored->second)) +
               " when letter case is ignored; rename one of them or give --store";
      return false;
    }
    storedKeys_.emplace(planned.compressedKey, planned.displayName);
  }
  const uint8_t* stored = compress ? encoded.data() : data;
  size_t storedSize = compress ? encoded.size() : size;
  if (storedSize > (size_t)INT32_MAX) {
    *error = "member " + Quoted(planned.displayName) + " takes 2 GiB or more in the container";
    return false;
  }
  DirectoryEntry entry = {};
  FillName(entry.storedName, compress ? planned.compressedName : planned.expandedName);
  FillName(entry.expandedName, planned.expandedName);
  WriteInt64Le(entry.modifiedTime, planned.modifiedTime);
  WriteInt32Le(entry.dataOffset, (int32_t)position_);
  WriteInt32Le(entry.dataLength, (int32_t)storedSize);
  directory_.push_back(entry);
  totals_.bytesIn += size;
  totals_.bytesOut += storedSize;
  if (compress) ++totals_.compressedMembers;
  return Emit(stored, storedSize, error);
}

bool ContainerWriter::Finish(std::string* error) {
  if (directory_.size() != plan_.entries.size()) {
    *error = "not every member was written";
    return false;
  }
  if (!Emit(reinterpret_cast<const uint8_t*>(directory_.data()), directory_.size() * ENTRY_SIZE, error)) {
    return false;
  }
  ContainerTrailer trailer = {};
  BuildSignatureText(trailer.signature);
  WriteInt32Le(trailer.entryCount, (int32_t)directory_.size());
  if (!Emit(reinterpret_cast<const uint8_t*>(&trailer), TRAILER_SIZE, error)) return false;
  totals_.containerSize = position_;
  return true;
}

bool BuildContainer(const StubInput& stub, const std::vector<MemberInput>& members,
                    const std::vector<std::vector<uint8_t>>& data, const PackOptions& options, ByteSink* sink,
                    std::string* error) {
  ContainerPlan plan;
  if (!PlanContainer(stub, members, options, &plan, error)) return false;
  ContainerWriter writer(plan, sink);
  if (!writer.Begin(error)) return false;
  for (size_t i = 0; i < members.size(); ++i) {
    if (!writer.WriteMember(i + 1, data[i].data(), data[i].size(), error)) return false;
  }
  return writer.Finish(error);
}

}  // namespace sfxbuilder
