// Windows code pages for member names: conversion from and to UTF-8 and the lead-byte tables;
// portable C library only (iconv), no file I/O.
#pragma once

#include <string>

#include "container/names.h"

namespace sfxbuilder {

struct CodePage {
  int number;
  const char* iconvName;
  LeadBytePredicate isLeadByte;  // null for single-byte code pages
};

// Null for a code page we do not know; only these are accepted by the builder.
const CodePage* FindCodePage(int number);
// The numbers FindCodePage knows, for messages: "874, 932, ...".
std::string KnownCodePageList();

// Both directions refuse (return false) anything that does not convert and convert back unchanged,
// so a name written in the code page always reads back as the name that was given.
bool ConvertFromUtf8(const CodePage& codePage, const std::string& utf8, std::string* out);
bool ConvertToUtf8(const CodePage& codePage, const std::string& bytes, std::string* out);

bool IsShiftJisLeadByte(unsigned char byte);
bool IsAsciiOnly(const std::string& text);

}  // namespace sfxbuilder
