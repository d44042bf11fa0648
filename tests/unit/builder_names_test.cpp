// Unit tests of the builder's name rules and code-page conversion.
#include <gtest/gtest.h>

#include "builder/codepage.h"
#include "builder/member_names.h"

using namespace sfxbuilder;

TEST(BuilderNames, CompressedNameReplacesTheLastCharacterAndLowersAsciiOnly) {
  struct Case {
    const char* name;
    LeadBytePredicate lead;
    const char* compressed;
    uint8_t missing;
  } cases[] = {
      {"Readme.txt", nullptr, "readme.tx_", 't'},
      {"SETUP.EXE", nullptr, "setup.ex_", 'E'},
      {"x", nullptr, "_", 'x'},
      {"noext", nullptr, "noex_", 't'},
      {"Caf\xC9.TXT", nullptr, "caf\xC9.tx_", 'T'},            // 1252 É is not an ASCII letter
      {"\x95\x5C\x8E\xA6.txt", IsShiftJisLeadByte, "\x95\x5C\x8E\xA6.tx_", 't'},  // 表示.txt
      {"\x83\x41Z", IsShiftJisLeadByte, "\x83\x41_", 'Z'},     // trail byte 0x41 ('A') stays
      {"A\x83\x41", IsShiftJisLeadByte, "a_", 0},              // a double-byte last character goes whole
      {"A\x83\x41", nullptr, "a\x83_", 'A'},                   // read byte by byte it would not
  };
  for (const Case& c : cases) {
    uint8_t missing = 0xEE;
    EXPECT_EQ(std::string(c.compressed), CompressedNameOf(c.name, c.lead, &missing)) << c.name;
    EXPECT_EQ(c.missing, missing) << c.name;
  }
}

TEST(BuilderNames, CaseBlindComparisonWalksByCharacters) {
  EXPECT_TRUE(NamesEqualIgnoringAsciiCase("data_", "DATA_", nullptr));
  EXPECT_FALSE(NamesEqualIgnoringAsciiCase("data_", "data", nullptr));
  // ア (83 41) and ャ (83 61) differ only in a trail byte that looks like a letter.
  EXPECT_FALSE(NamesEqualIgnoringAsciiCase("\x83\x41", "\x83\x61", IsShiftJisLeadByte));
  EXPECT_TRUE(NamesEqualIgnoringAsciiCase("\x83\x41", "\x83\x61", nullptr));

  EXPECT_EQ(CaseFoldKey("Straße.TXT"), CaseFoldKey("STRAßE.txt"));
  EXPECT_EQ(CaseFoldKey("Ωмега"), CaseFoldKey("ωМЕГА"));
  EXPECT_EQ(CaseFoldKey("ＡＢ"), CaseFoldKey("ａｂ"));
  EXPECT_NE(CaseFoldKey("a"), CaseFoldKey("b"));
  // Bytes that are not UTF-8 never fold into a real character.
  EXPECT_NE(CaseFoldKey("\xC9"), CaseFoldKey("\xC3\x89"));
}

TEST(BuilderNames, WindowsNameProblems) {
  for (const char* bad : {"CON", "con.txt", "Aux", "LPT9.log", "COM1", "a<b", "a|b", "a\"b", "dot.", "space "}) {
    EXPECT_NE(nullptr, WindowsNameProblem(bad, nullptr)) << bad;
  }
  for (const char* good : {"console", "COM10", "readme.txt", "a b", "\x95\x5C\x8E\xA6.txt", "con_"}) {
    EXPECT_EQ(nullptr, WindowsNameProblem(good, IsShiftJisLeadByte)) << good;
  }
  // A trail byte equal to '|' (0x7C) belongs to its character.
  EXPECT_EQ(nullptr, WindowsNameProblem("\x81\x7C", IsShiftJisLeadByte));
}

TEST(BuilderNames, CodePageConversion) {
  const CodePage* sjis = FindCodePage(932);
  const CodePage* latin = FindCodePage(1252);
  ASSERT_NE(nullptr, sjis);
  ASSERT_NE(nullptr, latin);
  EXPECT_EQ(nullptr, FindCodePage(65001));
  struct Case {
    const CodePage* page;
    const char* utf8;
    const char* bytes;
  } cases[] = {
      {sjis, "表示.txt", "\x95\x5C\x8E\xA6.txt"}, {sjis, "ソフト.dll", "\x83\x5C\x83\x74\x83\x67.dll"},
      {sjis, "予定.dat", "\x97\x5C\x92\xE8.dat"}, {latin, "Café.txt", "Caf\xE9.txt"},
      {latin, "plain", "plain"},
  };
  for (const Case& c : cases) {
    std::string bytes, back;
    ASSERT_TRUE(ConvertFromUtf8(*c.page, c.utf8, &bytes)) << c.utf8;
    EXPECT_EQ(std::string(c.bytes), bytes) << c.utf8;
    ASSERT_TRUE(ConvertToUtf8(*c.page, bytes, &back));
    EXPECT_EQ(std::string(c.utf8), back);
  }
  std::string out;
  EXPECT_FALSE(ConvertFromUtf8(*latin, "表示", &out));
  EXPECT_FALSE(ConvertFromUtf8(*sjis, "😀", &out));
  EXPECT_FALSE(ConvertFromUtf8(*latin, "\xFF\xFE", &out));  // not UTF-8 at all
  for (int lead : {0x81, 0x9F, 0xE0, 0xFC}) EXPECT_TRUE(IsShiftJisLeadByte((unsigned char)lead)) << lead;
  for (int other : {0x5C, 0x80, 0xA0, 0xDF, 0xFD}) EXPECT_FALSE(IsShiftJisLeadByte((unsigned char)other)) << other;
}
