// Member-name and directory checks shared by the launcher and the builder; portable, no OS headers.
#include "container/names.h"

bool IsPlainMemberName(const char* field, LeadBytePredicate isLeadByte) {
  size_t length = 0;
  while (length < NAME_FIELD_SIZE && field[length] != 0) ++length;
  if (length == NAME_FIELD_SIZE || length == 0) return false;
  if (field[0] == '.' && (length == 1 || (length == 2 && field[1] == '.'))) return false;
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = (unsigned char)field[i];
    if (isLeadByte != nullptr && c >= 0x80 && isLeadByte(c)) {
      if (i + 1 >= length) return false;  // a double-byte character cut by the NUL
      ++i;                                // its trail byte may be 0x5C and is no separator
      continue;
    }
    if (c == '\\' || c == '/' || c == ':') return false;
  }
  return true;
}

bool IsWindowsDeviceName(const char* name) {
  size_t length = 0;
  while (name[length] != 0 && name[length] != '.') ++length;
  while (length > 0 && name[length - 1] == ' ') --length;
  if (length != 3 && length != 4) return false;
  char upper[4];
  for (size_t i = 0; i < length; ++i) {
    char c = name[i];
    upper[i] = (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
  }
  if (length == 4) {
    bool numbered = (upper[0] == 'C' && upper[1] == 'O' && upper[2] == 'M') ||
                    (upper[0] == 'L' && upper[1] == 'P' && upper[2] == 'T');
    return numbered && upper[3] >= '1' && upper[3] <= '9';
  }
  static const char DEVICES[4][4] = {"CON", "PRN", "AUX", "NUL"};
  for (const char* device : DEVICES) {
    if (upper[0] == device[0] && upper[1] == device[1] && upper[2] == device[2]) return true;
  }
  return false;
}

DirectoryFault ValidateDirectory(const DirectoryEntry* entries, int32_t count, int64_t directoryPosition,
                                 LeadBytePredicate isLeadByte, int32_t* faultIndex, bool refuseDeviceNames) {
  auto isUsable = [&](const char* name) {
    return IsPlainMemberName(name, isLeadByte) && !(refuseDeviceNames && IsWindowsDeviceName(name));
  };
  *faultIndex = -1;
  for (int32_t i = 1; i < count; ++i) {
    const DirectoryEntry& e = entries[i];
    *faultIndex = i;
    if (!isUsable(e.storedName)) return DirectoryFault::BadStoredName;
    if (!isUsable(e.expandedName)) return DirectoryFault::BadExpandedName;
    int64_t offset = EntryDataOffset(e);
    int64_t length = EntryDataLength(e);
    if (length > 0 && (offset < 0 || offset + length > directoryPosition)) return DirectoryFault::DataOutsideFile;
  }
  if (count >= 1) {
    *faultIndex = count - 1;
    if (!isUsable(entries[count - 1].expandedName)) return DirectoryFault::BadLaunchName;
  }
  *faultIndex = -1;
  return DirectoryFault::None;
}
