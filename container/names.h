// Member-name and directory checks shared by the launcher and the builder; portable, no OS headers.
#pragma once

#include "records.h"

// Tells whether a byte opens a double-byte character in the code page the names are written in.
typedef bool (*LeadBytePredicate)(unsigned char byte);

// A name field is plain when it holds a NUL within its 256 bytes and names one file directly:
// not empty, not "." or "..", and no '\', '/' or ':' as a character of its own (a trail byte of a
// double-byte character is not one). A lead byte cut off by the NUL makes the name damaged.
// isLeadByte may be null: then every byte is a character (UTF-8 and single-byte code pages).
bool IsPlainMemberName(const char* field, LeadBytePredicate isLeadByte);

// A name that Windows takes for a device in any folder, whatever its extension: CON, PRN, AUX,
// NUL, COM1 to COM9, LPT1 to LPT9, in any letter case, with spaces before the first full stop.
bool IsWindowsDeviceName(const char* name);

enum class DirectoryFault {
  None = 0,
  BadStoredName,
  BadExpandedName,
  BadLaunchName,
  DataOutsideFile,
};

// Checks entries 1..count-1 (and the last entry's expandedName, even when that is entry 0) against
// what the launcher relies on: plain names and member data inside [0, directoryPosition).
// With refuseDeviceNames, a name Windows takes for a device counts as not plain: Windows would open
// the device instead of a file in the work folder. *faultIndex receives the entry at fault.
DirectoryFault ValidateDirectory(const DirectoryEntry* entries, int32_t count, int64_t directoryPosition,
                                 LeadBytePredicate isLeadByte, int32_t* faultIndex,
                                 bool refuseDeviceNames = false);
