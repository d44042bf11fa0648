// The builder's rules for member names: compressed-name form, case-blind comparison, names Windows
// cannot create; portable, no OS headers.
#pragma once

#include <stdint.h>

#include <string>

#include "container/names.h"

namespace sfxbuilder {

constexpr size_t MAX_NAME_LENGTH = NAME_FIELD_SIZE - 1;

// Byte position where the last character of name begins, walking by characters of the code page
// (isLeadByte may be null: every byte is a character). name must not be empty.
size_t LastCharacterStart(const std::string& name, LeadBytePredicate isLeadByte);

// The stored name of a compressed member: the last character replaced by '_', ASCII letters
// lower-cased, the bytes of double-byte characters untouched (their trail bytes may look like
// letters). *missingChar receives the replaced character, or 0 when it was a double-byte one: the
// SZDD header has room for a single byte only.
std::string CompressedNameOf(const std::string& name, LeadBytePredicate isLeadByte, uint8_t* missingChar);

// Equality ignoring the case of single-byte ASCII letters, by characters of the code page.
bool NamesEqualIgnoringAsciiCase(const std::string& a, const std::string& b, LeadBytePredicate isLeadByte);

// A key under which two names that a case-blind file system takes for one file are equal. The
// name is UTF-8 text; letters of the Latin, Greek and Cyrillic alphabets and full-width Latin
// letters are folded (NTFS folds them too). Bytes that are not UTF-8 fold as ASCII only.
std::string CaseFoldKey(const std::string& utf8Name);

// Why Windows cannot create a file of this name (in the code page's bytes), or null when it can:
// control characters, < > " | ? *, a trailing dot or space, a device name such as CON or COM1.
const char* WindowsNameProblem(const std::string& name, LeadBytePredicate isLeadByte);

}  // namespace sfxbuilder
