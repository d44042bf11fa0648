// Windows code pages for member names over the C library's iconv; no file I/O.
#include "builder/codepage.h"

#include <errno.h>
#include <iconv.h>

namespace sfxbuilder {
namespace {

bool IsEastAsianLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

const CodePage CODE_PAGES[] = {
    {874, "CP874", nullptr},           {932, "CP932", IsShiftJisLeadByte},
    {936, "CP936", IsEastAsianLeadByte}, {949, "CP949", IsEastAsianLeadByte},
    {950, "CP950", IsEastAsianLeadByte}, {1250, "CP1250", nullptr},
    {1251, "CP1251", nullptr},         {1252, "CP1252", nullptr},
    {1253, "CP1253", nullptr},         {1254, "CP1254", nullptr},
    {1255, "CP1255", nullptr},         {1256, "CP1256", nullptr},
    {1257, "CP1257", nullptr},         {1258, "CP1258", nullptr},
};

bool Convert(const char* to, const char* from, const std::string& in, std::string* out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == (iconv_t)-1) return false;
  std::string result;  // out may alias in
  char* inPtr = const_cast<char*>(in.data());
  size_t inLeft = in.size();
  char buffer[256];
  bool ok = true;
  while (inLeft > 0) {
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    size_t count = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    result.append(buffer, (size_t)(outPtr - buffer));
    if (count == (size_t)-1 && errno != E2BIG) {
      ok = false;
      break;
    }
    // iconv counts characters it replaced by a substitute; a name must convert exactly.
    if (count != (size_t)-1 && count > 0) {
      ok = false;
      break;
    }
  }
  if (ok) {
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    if (iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == (size_t)-1) ok = false;
    result.append(buffer, (size_t)(outPtr - buffer));
  }
  iconv_close(cd);
  *out = result;
  return ok;
}

}  // namespace

bool IsShiftJisLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool IsAsciiOnly(const std::string& text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

const CodePage* FindCodePage(int number) {
  for (const CodePage& page : CODE_PAGES) {
    if (page.number == number) return &page;
  }
  return nullptr;
}

std::string KnownCodePageList() {
  std::string list;
  for (const CodePage& page : CODE_PAGES) {
    if (!list.empty()) list += ", ";
    list += std::to_string(page.number);
  }
  return list;
}

bool ConvertFromUtf8(const CodePage& codePage, const std::string& utf8, std::string* out) {
  std::string back;
  // Several Unicode characters map to one byte sequence in some code pages (932 has duplicates);
  // the round trip refuses those, so no two given names can silently become one.
  return Convert(codePage.iconvName, "UTF-8", utf8, out) && Convert("UTF-8", codePage.iconvName, *out, &back) &&
         back == utf8;
}

bool ConvertToUtf8(const CodePage& codePage, const std::string& bytes, std::string* out) {
  return Convert("UTF-8", codePage.iconvName, bytes, out);
}

}  // namespace sfxbuilder
