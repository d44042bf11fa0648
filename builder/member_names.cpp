// The builder's rules for member names; portable, no OS headers.
#include "builder/member_names.h"

#include <string.h>

namespace sfxbuilder {
namespace {

bool IsLead(LeadBytePredicate isLeadByte, unsigned char c) {
  return isLeadByte != nullptr && c >= 0x80 && isLeadByte(c);
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c; }

// Decodes one UTF-8 sequence at text[*pos]; false for a byte that does not begin a valid one.
bool DecodeUtf8(const std::string& text, size_t* pos, uint32_t* code) {
  unsigned char c = (unsigned char)text[*pos];
  size_t extra;
  uint32_t value;
  if (c < 0x80) {
    *code = c;
    ++*pos;
    return true;
  } else if (c >= 0xC2 && c <= 0xDF) {
    extra = 1, value = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    extra = 2, value = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    extra = 3, value = c & 0x07;
  } else {
    return false;
  }
  if (*pos + extra >= text.size()) return false;
  for (size_t k = 1; k <= extra; ++k) {
    unsigned char t = (unsigned char)text[*pos + k];
    if ((t & 0xC0) != 0x80) return false;
    value = (value << 6) | (t & 0x3F);
  }
  if ((extra == 2 && value < 0x800) || (extra == 3 && (value < 0x10000 || value > 0x10FFFF)) ||
      (value >= 0xD800 && value <= 0xDFFF)) {
    return false;
  }
  *code = value;
  *pos += extra + 1;
  return true;
}

uint32_t FoldCase(uint32_t c) {
  if (c >= 'a' && c <= 'z') return c - 0x20;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
  if (c == 0xFF) return 0x178;
  // Latin Extended-A pairs upper/lower as even/odd, with the shift at the three odd runs.
  if (c >= 0x100 && c <= 0x137) return c & ~1u;
  if (c >= 0x139 && c <= 0x148) return (c & 1u) ? c : c - 1;
  if (c >= 0x14A && c <= 0x177) return c & ~1u;
  if (c >= 0x179 && c <= 0x17E) return (c & 1u) ? c : c - 1;
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 0x20;
  if (c == 0x3C2) return 0x3A3;
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  if (c >= 0xFF41 && c <= 0xFF5A) return c - 0x20;
  return c;
}

void AppendCode(std::string* out, uint32_t c) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back((char)(c >> shift));
}

}  // namespace

size_t LastCharacterStart(const std::string& name, LeadBytePredicate isLeadByte) {
  size_t last = 0;
  for (size_t i = 0; i < name.size();) {
    last = i;
    i += (IsLead(isLeadByte, (unsigned char)name[i]) && i + 1 < name.size()) ? 2 : 1;
  }
  return last;
}

std::string CompressedNameOf(const std::string& name, LeadBytePredicate isLeadByte, uint8_t* missingChar) {
  size_t last = LastCharacterStart(name, isLeadByte);
  std::string out;
  for (size_t i = 0; i < last;) {
    if (IsLead(isLeadByte, (unsigned char)name[i]) && i + 1 < name.size()) {
      out.append(name, i, 2);
      i += 2;
    } else {
      out.push_back(LowerAscii(name[i]));
      ++i;
    }
  }
  *missingChar = (name.size() - last == 1) ? (uint8_t)name[last] : 0;
  out.push_back('_');
  return out;
}

bool NamesEqualIgnoringAsciiCase(const std::string& a, const std::string& b, LeadBytePredicate isLeadByte) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size();) {
    bool leadA = IsLead(isLeadByte, (unsigned char)a[i]) && i + 1 < a.size();
    bool leadB = IsLead(isLeadByte, (unsigned char)b[i]) && i + 1 < b.size();
    if (leadA != leadB) return false;
    if (leadA) {
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
      i += 2;
    } else {
      if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
      ++i;
    }
  }
  return true;
}

std::string CaseFoldKey(const std::string& utf8Name) {
  std::string key;
  for (size_t i = 0; i < utf8Name.size();) {
    uint32_t code;
    if (DecodeUtf8(utf8Name, &i, &code)) {
      AppendCode(&key, FoldCase(code));
    } else {
      // Outside the Unicode range, so an undecodable byte never equals a decoded character.
      AppendCode(&key, 0x80000000u | (unsigned char)utf8Name[i]);
      ++i;
    }
  }
  return key;
}

const char* WindowsNameProblem(const std::string& name, LeadBytePredicate isLeadByte) {
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = (unsigned char)name[i];
    if (IsLead(isLeadByte, c)) {
      ++i;
      continue;
    }
    if (c < 0x20 || strchr("<>\"|?*", (char)c) != nullptr) return "holds a character that Windows file names may not hold";
  }
  if (!name.empty()) {
    size_t last = LastCharacterStart(name, isLeadByte);
    if (name.size() - last == 1 && (name[last] == '.' || name[last] == ' ')) {
      return "ends in a dot or a space, which Windows drops from file names";
    }
  }
  // Windows opens the device, not a file, for these names with any extension.
  std::string base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  std::string upper;
  for (char c : base) upper.push_back((c >= 'a' && c <= 'z') ? (char)(c - 0x20) : c);
  static const char* const DEVICES[] = {"CON", "PRN", "AUX", "NUL"};
  for (const char* device : DEVICES) {
    if (upper == device) return "is a Windows device name";
  }
  if (upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
      upper[3] >= '1' && upper[3] <= '9') {
    return "is a Windows device name";
  }
  return nullptr;
}

}  // namespace sfxbuilder
